"""Shared helpers of the reference-based tests (kept small).

- puts tests/ on sys.path so that ``import reference`` works everywhere;
- ``compiled(name, probe)``: the compiled module, imported directly: a build
  that lacks it (or lacks ``probe``) fails the tests instead of skipping them;
- ``CORPUS``: ../shared/corpus relative to the repository root;
- the ``model_server`` fixture: the fake chat-completions server
  (fake_model_server.py) plus a child interpreter that imports the compiled extract module with VESKARD_LLM_URL
  pointing at it, so the model path of the real code can be checked
  against ``reference.classify_units``.
"""

import importlib
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

TESTS = Path(__file__).resolve().parent
if str(TESTS) not in sys.path:
    sys.path.insert(0, str(TESTS))

REPO = Path(__file__).resolve().parents[1]
CORPUS = REPO.parent / "shared" / "corpus"

TEST_MODEL = "qwen-test-\u00e9\U0001f600"  # non-ASCII: escaped in the body


def compiled(name, probe):
    """The compiled module ``name``, which must have ``probe``."""
    mod = importlib.import_module(name)
    if not hasattr(mod, probe):
        raise AttributeError(f"{name} has no {probe}: the build is out of date")
    return mod


@pytest.fixture(params=["compiled", "reference"])
def V(request, monkeypatch):
    """The verify module, compiled or the reference, with HOME=/home/u."""
    monkeypatch.setenv("HOME", "/home/u")
    if request.param == "reference":
        import reference

        return reference.verify_module
    return compiled("vorlane_core.verify", "verify")


def child_env(**extra):
    """Environment for a child interpreter that imports the same vorlane_core
    as this process (same sys.path, no proxies, UTF-8 standard streams)."""
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env["PYTHONIOENCODING"] = "utf-8"
    env["NO_PROXY"] = env["no_proxy"] = "*"
    env.update(extra)
    return env


def envelope(answer):
    """A chat-completions reply body (bytes) whose content is ``answer``."""
    return json.dumps({"choices": [{"index": 0, "message": {"role": "assistant", "content": answer}}]}).encode()


_CHILD = r"""
import json, os, sys, urllib.request
import vorlane_core.extract as X
ctl = os.environ["VORLANE_TEST_CTL"]
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
cases = json.load(sys.stdin)
out = []
for i, c in enumerate(cases):
    opener.open(ctl + "/set/%d" % i).read()
    try:
        if c["fn"] == "classify_units":
            r = X.classify_units(c["arg"])
        else:
            r = X.extract_claims(c["arg"], c["use_llm"])
        out.append({"ok": r})
    except BaseException as e:
        out.append({"error": type(e).__name__, "msg": str(e)})
sys.stdout.write(json.dumps(out))
"""


@pytest.fixture(scope="session")
def model_server():
    """run(cases) -> [(request or None, outcome)] for the compiled module.

    Each case: {"fn": "classify_units" | "extract_claims", "arg": units or
    report, "use_llm": ..., "reply": bytes, "status": int}.  request is
    (path, headers, body bytes) or None when no request was sent; outcome is
    {"ok": result} or {"error": exception type name, "msg": ...}.
    """
    compiled("vorlane_core.extract", "classify_units")
    from fake_model_server import FakeModel

    server = FakeModel()
    replies, requests = [], {}

    def respond(req):
        requests[server.case] = (req.path, req.headers, req.body)
        return replies[server.case]

    server.respond = respond
    base = server.base

    def run(cases):
        replies[:] = [(c.get("status", 200), c.get("reply", b"")) for c in cases]
        requests.clear()
        server.case = None
        env = child_env(
            VESKARD_LLM_URL=base + "/v1/chat/completions",
            VESKARD_LLM_MODEL=TEST_MODEL,
            VORLANE_TEST_CTL=base,
        )
        payload = [{"fn": c["fn"], "arg": c["arg"], "use_llm": c.get("use_llm", True)} for c in cases]
        p = subprocess.run(
            [sys.executable, "-c", _CHILD],
            input=json.dumps(payload).encode(),
            capture_output=True,
            env=env,
            cwd=os.getcwd(),
            timeout=120,
        )
        assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
        outcomes = json.loads(p.stdout)
        return [(requests.get(i), outcomes[i]) for i in range(len(cases))]

    yield run
    server.close()
