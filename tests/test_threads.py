"""Eight threads calling every public function, on one shared file and on
files of their own, see exactly what single-threaded calls see."""

import random
import threading

import pytest

import api_calls

# Broken annotation tables warn by design; the warning is not what these tests look at.
pytestmark = pytest.mark.filterwarnings("ignore:Unknown annotation data type:RuntimeWarning")

THREADS = 8


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return api_calls.scenario_files(tmp_path_factory.mktemp("threads"), api_calls.VALID + api_calls.INVALID)


def calls_on(paths):
    return [c for p in paths for c in api_calls.file_calls(p)] + api_calls.other_calls()


def expected_outcomes(calls):
    return [api_calls.outcome(fn, *args) for _label, fn, args in calls]


def run_threads(work):
    """Runs work(i) in THREADS threads started together; returns their results by index."""
    barrier = threading.Barrier(THREADS)
    results = [None] * THREADS
    errors = []

    def body(i):
        try:
            barrier.wait()
            results[i] = work(i)
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads), "a thread hung"
    assert errors == []
    return results


def shuffled_outcomes(calls, seed, rounds):
    """Outcomes of calls made in a random order, put back in the original order."""
    order = list(range(len(calls))) * rounds
    random.Random(seed).shuffle(order)
    seen = [[] for _ in calls]
    for k in order:
        _label, fn, args = calls[k]
        seen[k].append(api_calls.outcome(fn, *args))
    return seen


@pytest.mark.parametrize("name", ["2d_AB", "2d_many_blocks", "map_per_position", "map_trc", "series_trc", "regions",
                                  "images", "store_huge_run", "params_type_5"])
def test_threads_on_one_file(files, name):
    """All threads read the same file at once."""
    calls = calls_on([files[name]])
    expected = expected_outcomes(calls)
    for seen in run_threads(lambda i: shuffled_outcomes(calls, i, 3)):
        for k, outcomes in enumerate(seen):
            assert all(o == expected[k] for o in outcomes), calls[k][:1] + calls[k][2:]


def test_threads_on_their_own_files(files):
    """Each thread works through its own share of the files, all at once."""
    paths = list(files.values())
    shares = [paths[i::THREADS] for i in range(THREADS)]
    expected = [expected_outcomes(calls_on(share)) for share in shares]
    results = run_threads(lambda i: shuffled_outcomes(calls_on(shares[i]), 100 + i, 2))
    for i, seen in enumerate(results):
        for k, outcomes in enumerate(seen):
            assert all(o == expected[i][k] for o in outcomes)
