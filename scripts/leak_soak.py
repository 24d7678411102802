"""The long run of the leak check: every public function on valid and broken
files, over and over, with the process's memory printed as it goes.

    python scripts/leak_soak.py [--minutes 10] [--limit-mb 4]

Exits non-zero when the resident memory grew by more than --limit-mb between
the end of the warm-up (the first tenth of the run) and the end.
"""

import argparse
import contextlib
import gc
import os
import pathlib
import sys
import tempfile
import time
import warnings

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))

import api_calls  # noqa: E402


def rss_mb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--limit-mb", type=float, default=4.0)
    args = ap.parse_args()
    warnings.simplefilter("ignore")  # broken annotation tables warn on every call
    with tempfile.TemporaryDirectory() as tmp:
        files = api_calls.scenario_files(tmp)  # every scenario, not only the test's share
        calls = [c for p in files.values() for c in api_calls.file_calls(p)] + api_calls.other_calls()
        calls.append(("help", api_calls.help_quietly, ()))
        total = args.minutes * 60
        start = time.monotonic()
        baseline = None
        next_report = 0.0
        done = 0
        while (elapsed := time.monotonic() - start) < total:
            with open(os.devnull, "w") as devnull, contextlib.redirect_stdout(devnull):
                for _label, fn, fargs in calls:
                    try:
                        fn(*fargs)
                    except Exception:  # noqa: BLE001
                        pass
            done += len(calls)
            if baseline is None and elapsed >= total / 10:
                gc.collect()
                baseline = rss_mb()
            if elapsed >= next_report:
                print(f"{elapsed:7.1f}s  {done:>10} calls  rss {rss_mb():8.2f} MiB", flush=True)
                next_report += max(5.0, total / 20)
        gc.collect()
        end = rss_mb()
    grown = end - (baseline if baseline is not None else end)
    print(f"{done} calls in {total:.0f}s; rss after warm-up {baseline:.2f} MiB, at the end {end:.2f} MiB "
          f"(+{grown:.2f})")
    if grown > args.limit_mb:
        print(f"leak_soak: memory grew by {grown:.2f} MiB (limit {args.limit_mb})", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
