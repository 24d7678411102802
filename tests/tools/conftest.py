"""Fixtures the kestrel_tools tests share."""

import pytest

from kind_files import BUILDERS


@pytest.fixture
def kind_file(write):
    """Writes a small file with one kind of block: kind_file("image_map", npy=8) -> (path, block)."""
    def _make(kind, **kw):
        data, block = BUILDERS[kind](**kw)
        return write(data), block
    return _make
