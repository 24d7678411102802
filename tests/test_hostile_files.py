"""Every seed-corpus scenario, every minimized fuzz finding in fuzz/regressions
and every real file goes through every public function that takes a path: each
call returns or raises an ordinary exception (never SystemError, the sign of a
result and an error set at once), and gives the same outcome when repeated."""

import pytest

import api_calls
from conftest import sample_files

# Broken annotation tables warn by design; the warning is not what these tests look at.
pytestmark = pytest.mark.filterwarnings("ignore:Unknown annotation data type:RuntimeWarning")

REGRESSIONS = sorted(p for p in (api_calls.FUZZ_DIR / "regressions").rglob("*")
                     if p.is_file() and p.suffix != ".md")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    return api_calls.scenario_files(tmp_path_factory.mktemp("corpus"))


def check_file(path):
    for label, fn, args in api_calls.file_calls(str(path)):
        first = api_calls.outcome(fn, *args)
        assert first[:2] != ("raise", "SystemError"), (label, args, first)
        assert api_calls.outcome(fn, *args) == first, (label, args)


def test_corpus_scenarios(corpus):
    """Good and broken files of the test writer."""
    for path in corpus.values():
        check_file(path)


@pytest.mark.parametrize("path", REGRESSIONS, ids=lambda p: str(p.relative_to(api_calls.FUZZ_DIR / "regressions")))
def test_fuzz_regressions(path):
    """Inputs that once failed a fuzz harness."""
    check_file(path)


@pytest.mark.parametrize("path", sample_files(), ids=lambda p: p.name)
def test_real_files(path):
    """Instrument files read the same way twice."""
    check_file(path)
