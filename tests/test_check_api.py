"""The library API for a whole check: ``vorlane_core.check.check``."""

import json
import socket
from pathlib import Path

import pytest

from vorlane_core import extract, verify
from vorlane_core.check import CheckError, ModelError, VERDICTS, check, fails, summarize

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.fixture(scope="module")
def example():
    return (EXAMPLES / "report.md").read_text(encoding="utf-8"), json.loads((EXAMPLES / "run.json").read_text(encoding="utf-8"))


def test_same_verdicts_as_the_modules_called_one_by_one(example):
    report, log = example
    result = check(report, log)
    expected = [(c["text"], c["kind"], list(c["targets"]), *verify.verify(c, log)) for c in extract.extract_claims(report, use_llm=False)]
    got = [(c["text"], c["kind"], c["targets"], c["verdict"], c["note"]) for c in result["claims"]]
    assert got == expected and len(got) == 12
    assert json.loads(json.dumps(result)) == result  # plain data
    ruff = next(c for c in result["claims"] if c["verdict"] == "contradicted")
    assert ruff["evidence"] == [{"literal": "ruff check feedsync", "where": "failed command", "exit_code": "1"}]
    assert all(c["evidence"] is not None for c in result["claims"])
    s = result["summary"]
    assert s["total"] == 12 and sum(s[v] for v in VERDICTS) == 12 and s["contradicted"] == 1


@pytest.mark.parametrize(
    "counts, rule, failed",
    [
        ({"contradicted": 1}, "contradicted", True),
        ({"unverified": 2}, "contradicted", False),
        ({"unverified": 2}, "unverified", True),
        ({"contradicted": 3}, "never", False),
        ({}, "unverified", False),
    ],
)
def test_fail_rules(counts, rule, failed):
    summary = summarize([{"verdict": v} for v, n in counts.items() for _ in range(n)])
    assert fails(summary, rule) is failed


def test_unknown_fail_rule_is_refused():
    with pytest.raises(ValueError, match="never"):
        fails(summarize([]), "sometimes")


@pytest.mark.parametrize(
    "report, log, error, needle",
    [
        ("Ran `pytest`.", {"events": [], "external": [], "written": []}, CheckError, "commands"),
        ("Ran `pytest`.", [], CheckError, "could not be verified"),
        (b"Ran `pytest`.", {"events": [], "external": [], "written": [], "commands": []}, TypeError, "report"),
    ],
)
def test_bad_input_names_the_problem(report, log, error, needle):
    with pytest.raises(error, match=needle):
        check(report, log)


def test_unreachable_model_is_a_model_error(example, monkeypatch):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        url = f"http://127.0.0.1:{s.getsockname()[1]}/v1/chat/completions"
    monkeypatch.setattr(extract, "LLM_URL", url)
    with pytest.raises(ModelError, match="127.0.0.1"):
        check(example[0], example[1], use_llm=True)
