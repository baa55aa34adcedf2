"""Reading a verdict's note back into evidence entries."""

import json

import pytest

from conftest import CORPUS
from vorlane_core import extract, verify
from vorlane_core.evidence import evidence

ONE_ATOM = (lambda t: [t], lambda a: "path")  # every target is one path literal


@pytest.mark.parametrize(
    "targets, verdict, note, expected",
    [
        ([], "unchecked", "nothing literal to check", []),
        (["a.py", "b c; `d`"], "verified", "`a.py` in write; words of `b c; `d`` in output",
         [("a.py", "write"), ("b c; `d`", "output words")]),
        (["x", "y", "z"], "verified", "`y` in command (exit ok); empty search result matches claim · unchecked: `x`",
         [("y", "command"), (None, "empty search"), ("x", "unchecked")]),
        (["make (all)", "b"], "contradicted", "`make (all)` ran but FAILED (exit odd) value)",
         [("make (all)", "failed command")]),
        (["a", "b"], "pre-existing", "`a`, `b` appears only in content the agent read; never in anything it wrote or ran",
         [("a", "read output"), ("b", "read output")]),
        (["a"], "unchecked", "a mention, not a claim of work: `a` not in this turn's log", [("a", "unchecked")]),
        (["a", "b"], "unverified", "`b` not found in any write, command or output", [("b", "not found")]),
        # Notes that the literals cannot account for are not guessed at.
        (["a"], "verified", "`b` in write", None),
        (["a"], "verified", "`a` in write; ", None),
        (["a"], "unverified", "`a` somewhere else", None),
    ],
)
def test_notes_read_back(targets, verdict, note, expected):
    got = evidence({"targets": targets}, verdict, note, *ONE_ATOM)
    if expected is None:
        assert got is None
    else:
        assert [(e.get("literal"), e["where"]) for e in got] == expected
    if verdict == "contradicted" and got:
        assert got[0]["exit_code"] == "odd) value"


def _corpus_logs():
    runs = sorted((CORPUS / "runs").glob("0*.json"))
    return [json.loads(p.read_text(encoding="utf-8"))["L"] for p in runs]


@pytest.mark.skipif(not (CORPUS / "runs").is_dir(), reason="corpus absent")
def test_every_note_of_the_corpus_reads_back():
    """Every corpus report against a share of the corpus logs: each note is
    read back, and each literal the note names is one of the claim's."""
    logs = _corpus_logs()
    reports = sorted((CORPUS / "reports").glob("*.md"))
    seen = 0
    for i, path in enumerate(reports):
        report = path.read_text(encoding="utf-8")
        for log in logs[i % 5 :: 5]:
            for claim in extract.extract_claims(report, use_llm=False):
                verdict, note = verify.verify(claim, log)
                got = evidence(claim, verdict, note, verify._atoms, verify._kind_of)
                assert got is not None, (verdict, note, claim["targets"])
                seen += 1
    assert seen > 5000
