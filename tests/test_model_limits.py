"""classify_units: how long a request may take (silence time-out, deadline
of the whole request), how large a reply may be, how much work a reply may
cause, how Ctrl-C stops it, and what its errors show of the URL.

Each misbehaving server is a scripted fake on 127.0.0.1; every test is
bounded by a generous hang guard, never by a speed goal.
"""

import math
import threading
import time

import pytest

from fake_model_server import SilentListener, envelope, stalled_after_head, trickle
from model_client_cases import H_RUN, OK_ANSWER, X, model  # noqa: F401 (model is a fixture)


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


