"""Mutation fuzzing through the Python API: the binding's own code (result
objects, numpy steps, the annotation and region logic) sees hostile files too.

    python scripts/pyfuzz.py [--seconds 300] [--seed N] [--out DIR]

Mutates the seed-corpus scenarios (bit flips, interesting integers, cuts,
splices), calls every public function on each mutant, and stops at the first
SystemError (an error and a result at once) or a call whose outcome changes
when repeated, saving the file to --out. A crash ends the process; run it
under scripts/sanitize.sh's environment to see memory errors:

    bash scripts/sanitize.sh --pyfuzz 300
"""

import argparse
import os
import pathlib
import random
import struct
import sys
import tempfile
import time
import warnings

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))

import api_calls  # noqa: E402
import make_corpus  # noqa: E402

INTERESTING = [0, 1, -1, 2, 3, 4, 7, 10, 11, 20, 64, 0x7FFF, -0x8000, 0x7FFFFFFF, -0x80000000, 24, 152, 136]


def mutate(rng, data, seeds):
    b = bytearray(data)
    for _ in range(rng.choice((1, 1, 2, 4, 8))):
        op = rng.randrange(6)
        if not b:
            b += rng.choice(seeds)[:64]
            continue
        at = rng.randrange(len(b))
        if op == 0:
            b[at] ^= 1 << rng.randrange(8)
        elif op == 1:
            b[at] = rng.randrange(256)
        elif op == 2 and len(b) >= 4:
            at = rng.randrange(len(b) - 3) & ~3 if rng.random() < 0.7 else rng.randrange(len(b) - 3)
            b[at:at + 4] = struct.pack("<i", rng.choice(INTERESTING))
        elif op == 3 and len(b) >= 2:
            at = rng.randrange(len(b) - 1)
            b[at:at + 2] = struct.pack("<h", rng.choice(INTERESTING[:13]))
        elif op == 4:
            del b[rng.randrange(len(b)):]
        else:
            other = rng.choice(seeds)
            start = rng.randrange(len(other) + 1)
            b[at:at + rng.randrange(64)] = other[start:start + rng.randrange(256)]
    return bytes(b)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seconds", type=float, default=300)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--out", type=pathlib.Path, default=pathlib.Path("build/fuzz/findings/pyfuzz"))
    args = ap.parse_args()
    warnings.simplefilter("ignore")
    rng = random.Random(args.seed)
    seeds = [data for _name, data in make_corpus.scenarios()]
    start, runs = time.monotonic(), 0
    with tempfile.TemporaryDirectory() as tmp, open(os.devnull, "w") as devnull:
        path = os.path.join(tmp, "mutant.0")
        while time.monotonic() - start < args.seconds:
            data = mutate(rng, rng.choice(seeds), seeds)
            with open(path, "wb") as f:
                f.write(data)
            sys.stdout = devnull  # a map's note and help's text
            try:
                bad = None
                for label, fn, fargs in api_calls.file_calls(path):
                    first = api_calls.outcome(fn, *fargs)
                    if first[:2] == ("raise", "SystemError") or api_calls.outcome(fn, *fargs) != first:
                        bad = (label, fargs[1:], first)
                        break
            finally:
                sys.stdout = sys.__stdout__
            runs += 1
            if bad:
                args.out.mkdir(parents=True, exist_ok=True)
                saved = args.out / f"mutant-{args.seed}-{runs}.0"
                saved.write_bytes(data)
                print(f"pyfuzz: {bad} on {saved}", file=sys.stderr)
                sys.exit(1)
    print(f"pyfuzz: {runs} files in {args.seconds:.0f}s (seed {args.seed}), nothing found")


if __name__ == "__main__":
    main()
