"""One call of a kestrel function in a fresh interpreter, for tests that bound the work a hostile file can
cause: the call's outcome and how much the process's peak memory grew. A call still running after
HANG_SECONDS fails the test as a hang; no test asserts on how long a call took, since a loaded machine
makes any tight bound flaky."""

import json
import pickle
import subprocess
import sys

import pytest

HANG_SECONDS = 120

CHILD = """
import hashlib, json, pickle, resource, sys, kestrel
seen = {}
def small(v):
    # large bytes (a picture's image) come back as their length and digest, once per object
    if isinstance(v, bytes) and len(v) > 65536:
        if id(v) not in seen:
            seen[id(v)] = ("bytes", len(v), hashlib.sha1(v).hexdigest())
        return seen[id(v)]
    if isinstance(v, list):
        return [small(x) for x in v]
    if isinstance(v, dict):
        return {k: small(x) for k, x in v.items()}
    return v
name, args = json.loads(sys.argv[1])
args = [tuple(a) if isinstance(a, list) else a for a in args]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
try:
    value = getattr(kestrel, name)(*args)
    outcome = ("ok", type(value).__name__, small(value))
except Exception as e:
    outcome = ("raise", type(e).__name__, str(e) if not isinstance(e, KeyError) else e.args[0])
grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
try:
    data = pickle.dumps((outcome, grown))
except Exception:
    data = pickle.dumps(((outcome[0], outcome[1], None), grown))
sys.stdout.buffer.write(data)
"""


def call(name, *args):
    """kestrel.<name>(*args) in a child interpreter: ((kind, type name, value or message), peak RSS growth in
    KiB), kind "ok" or "raise". Tuples among args arrive as tuples, the value comes back pickled (None
    when it does not pickle; bytes over 64 KiB as ("bytes", length, sha1))."""
    try:
        done = subprocess.run([sys.executable, "-c", CHILD, json.dumps([name, list(args)])], capture_output=True,
                              timeout=HANG_SECONDS)
    except subprocess.TimeoutExpired:
        pytest.fail(f"kestrel.{name}{args} still running after {HANG_SECONDS} s: a hang")
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    return pickle.loads(done.stdout)
