import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parent))

SAMPLES = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "opus-samples"


def sample_files():
    """Every real instrument file beside the checkout (none when shared/ is absent)."""
    if not SAMPLES.is_dir():
        return []
    return sorted(p for p in SAMPLES.rglob("*") if p.is_file() and p.name != "SOURCES.md")


@pytest.fixture
def write(tmp_path):
    """Writes bytes to a fresh file and returns its path as str."""
    counter = iter(range(10**6))

    def _write(data, name=None):
        path = tmp_path / (name or f"f{next(counter)}.0")
        path.write_bytes(data)
        return str(path)

    return _write
