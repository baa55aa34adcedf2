"""classify_units: how long a request may take (silence time-out, deadline
of the whole request), how large a reply may be, how much work a reply may
cause, how Ctrl-C stops it, and what its errors show of the URL.

Each misbehaving server is a scripted fake on 127.0.0.1; every test is
bounded by a generous hang guard, never by a speed goal.
"""

import json
import math
import signal
import subprocess
import sys
import threading
import time

import pytest

from conftest import child_env
from fake_model_server import SilentListener, drip, envelope, flood, held, refused_url, stalled_after_head, trickle
from model_client_cases import H_RUN, OK_ANSWER, X, model  # noqa: F401 (model is a fixture)

OK = [{"kind": "other", "model_targets": ["tests"]}]


# ---------------------------------------------------------------------------
# Time-outs (the tests use one second; the default is 300)


def _expect_timeout(url, seconds=1.0):
    X._set_timeout(seconds)
    t0 = time.monotonic()
    with pytest.raises(TimeoutError) as info:
        X.classify_units([H_RUN])
    elapsed = time.monotonic() - t0
    e = info.value
    assert isinstance(e, X.ModelTimeoutError)
    assert isinstance(e, X.ModelEndpointError) and isinstance(e, OSError)
    assert e.url == url and url in str(e)
    return elapsed


def test_timeout_when_the_server_never_answers(monkeypatch):
    listener = SilentListener()
    monkeypatch.setattr(X, "LLM_URL", listener.url)
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    try:
        elapsed = _expect_timeout(listener.url)
    finally:
        listener.close()
    assert 0.9 <= elapsed < 10


def test_timeout_when_the_reply_stalls(model, monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    model.script(stalled_after_head(model.gate))
    elapsed = _expect_timeout(model.url)
    assert 0.9 <= elapsed < 10


def test_slow_but_steady_reply_is_not_cut_off(model, monkeypatch):
    # Every wait is shorter than the time-out, the whole reply takes longer.
    monkeypatch.setattr(X, "_TIMEOUT", 1.0)
    body = envelope(OK_ANSWER)
    model.script(trickle(body, pieces=6, pause=0.3))
    t0 = time.monotonic()
    assert X.classify_units([H_RUN]) == [{"kind": "other", "model_targets": ["tests"]}]
    assert time.monotonic() - t0 > 1.5


def test_interrupt_ends_the_wait(monkeypatch):
    # Ctrl-C (here simulated) must not have to wait for the time-out.
    import _thread
    import signal

    # A shell starts background jobs with SIGINT ignored, and Python then
    # installs no handler, so interrupt_main would do nothing: install the
    # usual one for this test.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    listener = SilentListener()
    monkeypatch.setattr(X, "LLM_URL", listener.url)
    monkeypatch.setattr(X, "_TIMEOUT", 30.0)
    timer = threading.Timer(0.5, _thread.interrupt_main)
    t0 = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            X.classify_units([H_RUN])
    finally:
        timer.cancel()
        listener.close()
        signal.signal(signal.SIGINT, previous)
    assert time.monotonic() - t0 < 5


def test_set_timeout(monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    X._TIMEOUT = 300.0
    assert X._set_timeout(2) == 300.0
    assert X._TIMEOUT == 2.0
    assert X._set_timeout(0.5) == 2.0
    for bad in (0, -1, math.nan, math.inf):
        with pytest.raises(ValueError):
            X._set_timeout(bad)
    with pytest.raises(TypeError):
        X._set_timeout("1")
    assert X._TIMEOUT == 0.5


def test_bad_timeout_attribute_is_rejected(model, monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", 0)
    with pytest.raises(ValueError, match="_TIMEOUT"):
        X.classify_units([H_RUN])
    assert model.requests == []


# ---------------------------------------------------------------------------
# The limits and how they are set


@pytest.fixture
def limits():
    """The limits as they are; put back afterwards."""
    previous = X.set_model_limits()
    yield previous
    X.set_model_limits(**previous)


def test_limit_defaults_and_setting(limits):
    assert limits == {"timeout": 300.0, "deadline": 300.0, "max_reply_bytes": 16 << 20}
    assert X.set_model_limits(deadline=5) == limits  # the previous values
    assert X.set_model_limits(max_reply_bytes=1000, timeout=2.5) == dict(limits, deadline=5.0)
    assert (X._TIMEOUT, X._DEADLINE, X._MAX_REPLY_BYTES) == (2.5, 5.0, 1000)
    assert X._set_timeout(4) == 2.5 and X.set_model_limits()["timeout"] == 4.0
    # A value that is not usable changes nothing, not even the usable ones.
    bad = [
        (ValueError, {"timeout": 0}),
        (ValueError, {"deadline": -1}),
        (ValueError, {"deadline": math.inf}),
        (ValueError, {"timeout": math.nan}),
        (TypeError, {"deadline": "1"}),
        (ValueError, {"max_reply_bytes": 0}),
        (ValueError, {"max_reply_bytes": -(2**70)}),
        (TypeError, {"max_reply_bytes": 1.5}),
        (TypeError, {"max_reply_bytes": True}),
    ]
    for error, kw in bad:
        with pytest.raises(error, match=next(iter(kw))):
            X.set_model_limits(timeout=9, **kw) if "timeout" not in kw else X.set_model_limits(deadline=9, **kw)
        assert X.set_model_limits() == {"timeout": 4.0, "deadline": 5.0, "max_reply_bytes": 1000}
    X.set_model_limits(max_reply_bytes=2**80)  # beyond any size: no limit
    X.set_model_limits(**limits)
    assert X.set_model_limits() == limits


@pytest.mark.parametrize("attr,value", [("_DEADLINE", 0), ("_DEADLINE", "5"), ("_MAX_REPLY_BYTES", 0), ("_MAX_REPLY_BYTES", 2.0)])
def test_bad_limit_attribute_is_rejected(model, monkeypatch, attr, value):
    monkeypatch.setattr(X, attr, value)
    with pytest.raises((ValueError, TypeError), match=attr):
        X.classify_units([H_RUN])
    assert model.requests == []


# ---------------------------------------------------------------------------
# Deadline: a server that never stays silent for long but never finishes


def test_deadline_ends_a_reply_that_never_finishes(model):
    model.script(drip(model.gate, every=0.2))
    X.set_model_limits(timeout=1.5, deadline=2)
    t0 = time.monotonic()
    with pytest.raises(X.ModelTimeoutError) as info:
        X.classify_units([H_RUN])
    elapsed = time.monotonic() - t0
    assert isinstance(info.value, TimeoutError) and info.value.url == model.url
    assert "no complete reply within 2 s" in str(info.value)
    assert 1.9 <= elapsed < 15


def test_deadline_leaves_a_reply_within_it_alone(model):
    model.script(trickle(envelope(OK_ANSWER), pieces=4, pause=0.3))
    X.set_model_limits(timeout=1, deadline=20)
    assert X.classify_units([H_RUN]) == OK


# ---------------------------------------------------------------------------
# Reply size: a server sending far more than any answer


@pytest.mark.parametrize("announce", [True, False], ids=["announced", "unannounced"])
def test_huge_reply_is_refused_at_the_limit(model, announce):
    huge = flood(1 << 30, announce=announce)
    model.script(huge)
    X.set_model_limits(max_reply_bytes=100_000)
    t0 = time.monotonic()
    with pytest.raises(X.ModelReplyTooLargeError) as info:
        X.classify_units([H_RUN])
    e = info.value
    assert isinstance(e, X.ModelEndpointError) and isinstance(e, OSError)
    assert not isinstance(e, (X.ModelHTTPError, TimeoutError))
    assert e.limit == 100_000 and e.url == model.url
    assert "limit of 100000 bytes" in str(e) and model.url in str(e)
    assert ("Content-Length 1073741824" in str(e)) == announce
    assert time.monotonic() - t0 < 15
    model.gate.wait(0.5)  # let the server notice the closed connection
    assert not huge.sent or huge.sent[0] < 1 << 30


def test_reply_of_exactly_the_limit_is_read(model):
    body = envelope(OK_ANSWER)
    model.reply(body)
    X.set_model_limits(max_reply_bytes=len(body))
    assert X.classify_units([H_RUN]) == OK
    model.reply(body)
    X.set_model_limits(max_reply_bytes=len(body) - 1)
    with pytest.raises(X.ModelReplyTooLargeError):
        X.classify_units([H_RUN])


def test_error_status_body_is_not_read(model):
    # A refused request reports its status, however large the body behind it.
    model.reply(b" " * 200_000, status=503)
    X.set_model_limits(max_reply_bytes=1000)
    with pytest.raises(X.ModelHTTPError) as info:
        X.classify_units([H_RUN])
    assert info.value.status == 503


# ---------------------------------------------------------------------------
# Work per reply: answers with very many keys (once quadratic: 160 000 keys
# took 20 s, and nothing could stop it meanwhile)

N_KEYS = 200_000


def test_answer_with_very_many_keys(model):
    units = {str(i): 0 for i in range(2, N_KEYS)}
    targets = {"k%d" % i: i for i in range(N_KEYS)}
    content = json.dumps({"units": {"1": {"kind": "other", "targets": targets}, **units}})
    # A repeated name keeps its first place and takes its last value.
    content = content[:-2] + ', "1": {"kind": "result_observed", "targets": {"tests": 1, "Ran": 2, "k7": 3}}}}'
    junk = ", ".join('"x%d": [%d]' % (i, i) for i in range(N_KEYS))
    body = envelope(content)[:-1] + (", " + junk + "}").encode()
    model.reply(body)
    t0 = time.monotonic()
    assert X.classify_units([H_RUN, "Sent it"]) == [
        {"kind": "result_observed", "model_targets": ["tests", "Ran"]},
        {"kind": X.heuristic_kind("Sent it"), "model_targets": []},
    ]
    assert time.monotonic() - t0 < 30  # hang guard: the quadratic reader took minutes


# ---------------------------------------------------------------------------
# Ctrl-C: a signal to a process waiting for the model


_WAITING_CHILD = r"""
import signal, sys, time
signal.signal(signal.SIGINT, signal.default_int_handler)
import vorlane_core.extract as X
X.LLM_URL = sys.argv[1]
X.set_model_limits(timeout=60, deadline=60)
print("waiting", flush=True)
t0 = time.monotonic()
try:
    X.classify_units(["Ran the tests."])
except KeyboardInterrupt:
    print("interrupted after %.2f s" % (time.monotonic() - t0), flush=True)
    sys.exit(130)
print("not interrupted", flush=True)
"""


@pytest.mark.parametrize("server", ["holds the reply", "drips the reply"])
def test_sigint_stops_a_pending_request(model, server):
    model.script(held(model.gate, 200, envelope(OK_ANSWER)) if server == "holds the reply" else drip(model.gate))
    child = subprocess.Popen(
        [sys.executable, "-c", _WAITING_CHILD, model.url],
        env=child_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    )
    try:
        assert child.stdout.readline() == "waiting\n"
        assert model.in_handler.wait(20)
        t0 = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=20)
    finally:
        child.kill()
        model.gate.set()
    assert child.returncode == 130, err
    assert out.startswith("interrupted after")
    assert time.monotonic() - t0 < 10  # hang guard: the request would wait 60 s


def test_cancel_stops_requests_in_other_threads(limits):
    listener = SilentListener()
    X.set_model_limits(timeout=60, deadline=60)
    outcome = []

    def call(url):
        try:
            X.classify_units([H_RUN])
        except BaseException as e:  # noqa: B902 - the point is which one
            outcome.append(type(e))

    old_url = X.LLM_URL
    X.LLM_URL = listener.url
    try:
        workers = [threading.Thread(target=call, args=(listener.url,)) for _ in range(3)]
        for w in workers:
            w.start()
        time.sleep(0.5)
        t0 = time.monotonic()
        X.cancel_model_requests()
        for w in workers:
            w.join(20)
        assert time.monotonic() - t0 < 10
    finally:
        X.LLM_URL = old_url
        listener.close()
    assert outcome == [KeyboardInterrupt] * 3
    # Later requests are not affected.
    X.LLM_URL, url = refused_url(), X.LLM_URL
    try:
        with pytest.raises(X.ModelEndpointError):
            X.classify_units([H_RUN])
    finally:
        X.LLM_URL = url
