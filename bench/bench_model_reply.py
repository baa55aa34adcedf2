"""Cost of reading a model reply, as its key count and size grow.

Serves replies from the fake chat-completions server of the tests
(tests/fake_model_server.py, on 127.0.0.1) and times classify_units on them:

- answers whose "units" mapping has 20 000 to 320 000 keys: the time per
  doubling should be about 2x (linear); the former reader took 4x
  (quadratic: 80 000 keys 5 s, 160 000 keys 20 s);
- replies of the default size limit made of the shapes that cost the most:
  many empty objects outside the answer, and a string of targets walked
  character by character; prints the time and the peak memory of a child
  process for each, against the reply size.

Run from the repository root: python bench/bench_model_reply.py
"""

import json
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

from fake_model_server import FakeModel, envelope  # noqa: E402

from vorlane_core import extract  # noqa: E402

UNIT = "Ran the tests."


def timed(srv, body):
    srv.reply(body)
    t0 = time.perf_counter()
    extract.classify_units([UNIT])
    return time.perf_counter() - t0


def key_scaling(srv):
    print("keys in \"units\"   seconds   ratio to half as many")
    previous = None
    for n in (20_000, 40_000, 80_000, 160_000, 320_000):
        body = envelope(json.dumps({"units": {str(i): {"kind": "other", "targets": []} for i in range(n)}}))
        s = min(timed(srv, body) for _ in range(3))
        ratio = "" if previous is None else "%.2fx" % (s / previous)
        print("%15d %9.3f   %s" % (n, s, ratio))
        previous = s


_CHILD = r"""
import resource, sys, time
sys.path.insert(0, sys.argv[1])
from fake_model_server import FakeModel
from vorlane_core import extract
srv = FakeModel()
extract.LLM_URL = srv.url
body = open(sys.argv[2], "rb").read()
srv.reply(body)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
t0 = time.perf_counter()
try:
    extract.classify_units(["Ran the tests for a."])
    outcome = "read"
except Exception as e:
    outcome = type(e).__name__
print("%.2f %d %d %s" % (time.perf_counter() - t0, before // 1024, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024, outcome))
"""


def worst_shapes(tmp):
    limit = extract.set_model_limits()["max_reply_bytes"]
    shapes = {
        "empty objects outside the answer": lambda n: b'{"x": [' + b"{}," * ((n - 100) // 3) + b'{}], "choices": [{"message": {"content": "{}"}}]}',
        "a string of targets": lambda n: envelope('{"units": {"1": {"targets": "' + "a" * (n - 200) + '"}}}'),
    }
    print("\nreply of %d bytes (the default limit)   seconds   peak MB (before the call)" % limit)
    for name, make in shapes.items():
        body = make(limit)
        body = body[:limit] if len(body) > limit else body
        path = tmp / "reply.bin"
        path.write_bytes(body)
        out = subprocess.run(
            [sys.executable, "-c", _CHILD, str(ROOT / "tests"), str(path)], capture_output=True, text=True, timeout=600
        )
        if out.returncode:
            print("  %s: failed: %s" % (name, out.stderr[-300:]))
            continue
        seconds, before, peak, outcome = out.stdout.split()
        print("  %-38s %7s   %5s (%s)  %s" % (name, seconds, peak, before, outcome))


def main():
    import tempfile

    srv = FakeModel()
    extract.LLM_URL = srv.url
    try:
        key_scaling(srv)
    finally:
        srv.close()
    with tempfile.TemporaryDirectory() as tmp:
        worst_shapes(pathlib.Path(tmp))


if __name__ == "__main__":
    main()
