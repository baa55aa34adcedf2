"""Extraction on adversarial texts (tests/adversarial_shapes.py): the same
results as the pure-Python model, bounded time on large instances, and
Ctrl-C honoured during one long call."""

import signal
import subprocess
import sys
import threading
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from adversarial_shapes import SHAPES
from conftest import child_env, compiled

import reference as R

X = compiled("vorlane_core.extract", "split_units")

# Every extraction function, compiled and reference, by name.
PAIRS = {
    "split_units": ("split_units", R.split_units),
    "literal_targets": ("literal_targets", R.literal_targets),
    "strong_kind": ("strong_kind", R.strong_kind),
    "heuristic_kind": ("heuristic_kind", R.heuristic_kind),
    "_sentences": ("_sentences", R._sentences),
    "_strip_fences": ("_strip_fences", R._strip_fences),
    "_tidy": ("_tidy", R._tidy),
    "_inspection_record": ("_inspection_record", R.inspection_record),
}


def check_same(text):
    for name, (cname, ref) in PAIRS.items():
        assert getattr(X, cname)(text) == ref(text), (name, text[:120])
    assert X.extract_claims(text, use_llm=False) == R.extract_claims(text, use_llm=False), text[:120]


@pytest.mark.parametrize("shape", sorted(SHAPES))
@pytest.mark.parametrize("n", [1, 37, 1500])
def test_shape_matches_reference(shape, n):
    # The reference itself is quadratic on most shapes: small sizes only.
    check_same(SHAPES[shape](n))


# Texts glued from the pieces the shapes are made of, in random order and
# numbers: runs that end in every way (an extension, "=", a closing pair...).
PIECES = [
    "a", "A.", ".", "..", "-", "_", "1", "1,000", "1.2", ".py", ".md", "x", "\u00d7", "=", " = ", "/", "~",
    "/home/u", ":", "`", "``", "**", "*", "(", ")", "|", "- ", "1. ", "[x] ", " ", "  ", "\n", "\n\n",
    "\u00a0", "did not ", "set ", "Ran ", "updated ", "e.g.", "i.e.", "?", "! ", "\u2705 ", "Jan 5",
    "12:30", "v1.2.3-rc.1", "a\u0301", "\u0661", "\u017f", "\u212a", "/tmp", "/Users/x", "+", "x:/", "\u00e9/",
    "v", ",000", ".5", "1.2.3.4", "9a",
]
ADVERSARIAL = st.lists(st.tuples(st.sampled_from(PIECES), st.integers(1, 40)), min_size=1, max_size=12).map(
    lambda parts: "".join(p * k for p, k in parts)
)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(ADVERSARIAL)
def test_generated_shapes_match_reference(text):
    check_same(text)


# A large instance of every shape through every function, in a child
# process with a time limit: a guard against a return of quadratic time
# (at these sizes that would take hours), not a speed goal.
_GUARD = r"""
import sys
sys.path.insert(0, sys.argv[1])
from adversarial_shapes import SHAPES
import vorlane_core.extract as X
text = SHAPES[sys.argv[2]](int(sys.argv[3]))
for f in (X.split_units, X.literal_targets, X.strong_kind, X.heuristic_kind, X._sentences,
          X._strip_fences, X._tidy, X._inspection_record):
    f(text)
X.extract_claims(text, use_llm=False)
print("done")
"""


@pytest.mark.parametrize("shape", sorted(SHAPES))
def test_large_shape_finishes(shape):
    from conftest import TESTS

    size = 50_000_000 if shape == "single_line" else 2_000_000
    r = subprocess.run([sys.executable, "-c", _GUARD, str(TESTS), shape, str(size)], env=child_env(),
                       capture_output=True, text=True, timeout=300)
    assert r.returncode == 0 and r.stdout.strip() == "done", r.stderr[-2000:]


def test_ctrl_c_stops_a_long_call():
    import _thread

    # A shell starts background jobs with SIGINT ignored, and Python then
    # installs no handler: install the usual one for this test.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        t0 = time.monotonic()
        X.literal_targets(SHAPES["single_line"](2_000_000))
        per_mb = (time.monotonic() - t0) / 2
        # A call expected to take about 3 s, interrupted a tenth of the way in.
        mb = min(100, max(4, int(3 / max(per_mb, 1e-4))))
        text = SHAPES["single_line"](mb * 1_000_000)
        expected = per_mb * mb
        timer = threading.Timer(expected / 10, _thread.interrupt_main)
        t0 = time.monotonic()
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            X.literal_targets(text)
        elapsed = time.monotonic() - t0
        timer.cancel()
    finally:
        signal.signal(signal.SIGINT, previous)
    assert elapsed < expected / 2, (elapsed, expected)
