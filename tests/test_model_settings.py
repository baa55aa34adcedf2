"""The model settings: LLM_URL and LLM_MODEL from the environment, read
once when the module loads."""

import json
import subprocess
import sys

from conftest import child_env
from fake_model_server import FakeModel, answer
from model_client_cases import H_RUN


# ---------------------------------------------------------------------------
# Settings from the environment (read once, when the module loads)

_SHOW = (
    "import json, os, vorlane_core.extract as X\n"
    "before = [X.LLM_URL, X.LLM_MODEL, X._TIMEOUT]\n"
    "os.environ['VESKARD_LLM_URL'] = 'http://changed.invalid/'\n"
    "os.environ['VESKARD_LLM_MODEL'] = 'changed'\n"
    "print(json.dumps(before + [X.LLM_URL, X.LLM_MODEL]))\n"
)


def _child_settings(tmp, **env):
    e = child_env()
    e.pop("VESKARD_LLM_URL", None)
    e.pop("VESKARD_LLM_MODEL", None)
    e.update(env)
    # Run from an empty directory, so that no source tree shadows the build.
    p = subprocess.run([sys.executable, "-c", _SHOW], env=e, capture_output=True, timeout=60, cwd=tmp)
    assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
    url, model_name, timeout, url_after, model_after = json.loads(p.stdout)
    assert (url_after, model_after) == (url, model_name)  # not read again
    return url, model_name, timeout


def test_settings_defaults(tmp_path):
    from urllib.parse import urlsplit

    url, model_name, timeout = _child_settings(tmp_path)
    parts = urlsplit(url)
    assert parts.scheme == "http"
    assert parts.hostname in ("127.0.0.1", "localhost", "::1")
    assert parts.port == 8000
    assert parts.path == "/v1/chat/completions"
    assert model_name == "qwen3.8-flash-next"
    assert timeout == 300


def test_settings_set_but_empty_are_used(tmp_path):
    assert _child_settings(tmp_path, VESKARD_LLM_URL="", VESKARD_LLM_MODEL="")[:2] == ("", "")


def test_settings_from_environment_reach_the_request(tmp_path):
    srv = FakeModel()
    try:
        srv.reply(answer({"1": {"kind": "other", "targets": ["tests"]}}))
        code = (
            "import json, vorlane_core.extract as X\n"
            "print(json.dumps(X.classify_units([%r])))\n" % H_RUN
        )
        e = child_env(VESKARD_LLM_URL=srv.url, VESKARD_LLM_MODEL="env-m\u00f6del")
        p = subprocess.run([sys.executable, "-c", code], env=e, capture_output=True, timeout=60, cwd=tmp_path)
        assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
        assert json.loads(p.stdout) == [{"kind": "other", "model_targets": ["tests"]}]
        (req,) = srv.requests
        assert req.json()["model"] == "env-m\u00f6del"
        assert b'"model": "env-m\\u00f6del"' in req.body
    finally:
        srv.close()


