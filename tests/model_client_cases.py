"""Shared pieces of the model client tests: the compiled module, Units with
kinds worked out by hand from the kind rules, the prompt, and the fixture
that points the module at a fake chat-completions server on 127.0.0.1
(fake_model_server.py).

  S_CMD    "I ran `pytest -q` and all passed."          command_ran / command_ran
  S_FILE   "Updated config.yaml to enable caching."     file_changed / file_changed
  U_T      "Set timeout=30 in config.yaml for 30s retries."  file_changed (set + a path)
  H_RUN    "Ran the tests."                             none / command_ran
  H_EXT    "Sent 3 messages"                            none / external_action
  H_OBS    "Tests pass."                                none / result_observed
  H_OTHER  "This is an explanation."                    none / other
(strong kind / heuristic kind)
"""

import pytest

import vorlane_core.extract as X
from fake_model_server import FakeModel, envelope

S_CMD = "I ran `pytest -q` and all passed."
S_FILE = "Updated config.yaml to enable caching."
U_T = "Set timeout=30 in config.yaml for 30s retries."
H_RUN = "Ran the tests."
H_EXT = "Sent 3 messages"
H_OBS = "Tests pass."
H_OTHER = "This is an explanation."

PROMPT = (
    "Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    "- kind: file_changed (agent says it edited/created/removed a file or setting) | command_ran "
    "(agent says it executed a command/test/build) | result_observed (agent reports a value, output "
    "or state it saw) | external_action (cron, message, skill, brain, browser, delegation) | other "
    "(explanation, opinion, plan)\n"
    "- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that would "
    "appear verbatim in a terminal or file (a path, a key=value, a number, an exact short string). "
    "Copy them exactly as written in the sentence. Empty list if none.\n"
    'Return JSON: {"units": {"<n>": {"kind": "...", "targets": ["..."]}, ...}}\n'
    "\n"
)

# The prompt as it appears inside the JSON string of the request body,
# escaped by hand: line feeds as \n, quotes as \".
PROMPT_IN_JSON = (
    r"Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    r"- kind: file_changed (agent says it edited/created/removed a file or setting) | command_ran "
    r"(agent says it executed a command/test/build) | result_observed (agent reports a value, output "
    r"or state it saw) | external_action (cron, message, skill, brain, browser, delegation) | other "
    r"(explanation, opinion, plan)\n"
    r"- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that would "
    r"appear verbatim in a terminal or file (a path, a key=value, a number, an exact short string). "
    r"Copy them exactly as written in the sentence. Empty list if none.\n"
    r"Return JSON: {\"units\": {\"<n>\": {\"kind\": \"...\", \"targets\": [\"...\"]}, ...}}\n"
    r"\n"
)



OK_ANSWER = '{"units": {"1": {"kind": "other", "targets": ["tests"]}}}'


@pytest.fixture
def model(monkeypatch):
    srv = FakeModel()
    monkeypatch.setattr(X, "LLM_URL", srv.url)
    monkeypatch.setattr(X, "LLM_MODEL", "test-model")
    monkeypatch.setattr(X, "_TIMEOUT", 20.0)  # a broken test must not wait 300 s
    limits = X.set_model_limits()
    yield srv
    X.set_model_limits(**limits)
    srv.close()


def classify_with(srv, units, content):
    """classify_units(units) with the model answering ``content``."""
    srv.reply(envelope(content))
    return X.classify_units(units)


def heuristic(units):
    return [{"kind": X.heuristic_kind(u), "model_targets": []} for u in units]
