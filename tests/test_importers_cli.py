"""``vorlane check SESSION_FILE``, ``vorlane import`` and ``--runs`` with session files."""

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import CORPUS
from session_builders import cc_bash, cc_say, claude_session, gemini_session, gm_call, gm_reply, gm_user, write_session

from vorlane_core.cli import main

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
REPORT = "Ran `pytest` and all tests pass."


def vorlane(*args, cwd):
    return subprocess.run([sys.executable, "-m", "vorlane_core", *map(str, args)], capture_output=True, text=True,
                          encoding="utf-8", cwd=cwd, timeout=120)


@pytest.fixture
def failing_session(tmp_path):
    """A Claude Code session whose report says pytest passed while it exited 1, with a truncated last line."""
    p = write_session(tmp_path, "s.jsonl", claude_session(cc_bash("pytest", "1 failed", 1), cc_say(REPORT)))
    with open(p, "a", encoding="utf-8") as f:
        f.write('{"type": "assist')
    return p


def test_check_a_session_file(tmp_path, failing_session):
    p = vorlane("check", failing_session, cwd=tmp_path)
    assert p.returncode == 1, p.stderr
    assert "contradicted" in p.stdout and "ran but FAILED (exit 1)" in p.stdout
    assert "incomplete last line skipped" in p.stderr and "Traceback" not in p.stderr


def test_json_output_carries_the_import(tmp_path, failing_session):
    p = vorlane("check", failing_session, "--json", cwd=tmp_path)
    doc = json.loads(p.stdout)
    assert doc["summary"]["contradicted"] == 1 and p.stderr == ""
    assert doc["import"]["format"] == "claude_code" and doc["import"]["turn"] == "last"
    assert any("incomplete last line" in w for w in doc["import"]["warnings"])


def test_import_then_check_the_run_file(tmp_path, failing_session):
    out = tmp_path / "run.json"
    p = vorlane("import", failing_session, "-o", out, cwd=tmp_path)
    assert p.returncode == 0 and p.stdout == "" and "incomplete last line" in p.stderr
    doc = json.loads(out.read_text(encoding="utf-8"))
    assert set(doc) == {"report", "log", "meta"} and doc["report"] == REPORT
    assert doc["log"]["commands"] == [{"command": "pytest", "exit_code": 1, "output": "1 failed"}]
    from_run = json.loads(vorlane("check", "--log", out, "--json", cwd=tmp_path).stdout)
    from_session = json.loads(vorlane("check", failing_session, "--json", cwd=tmp_path).stdout)
    assert from_run["claims"] == from_session["claims"]


def test_report_file_with_a_session_as_log(tmp_path, failing_session):
    report = tmp_path / "report.md"
    report.write_text("Ran `pytest`; it passed.\n", encoding="utf-8")
    doc = json.loads(vorlane("check", report, "--log", failing_session, "--json", cwd=tmp_path).stdout)
    assert [c["verdict"] for c in doc["claims"]] == ["contradicted"]


def test_from_and_turn(tmp_path):
    hist = write_session(tmp_path, "h.md", "#### first\n\nOne.\n\n#### second\n\nTwo.\n")
    assert vorlane("import", hist, cwd=tmp_path).returncode == 2
    for turn, report in (("1", "One."), ("last", "Two."), ("all", "Two.")):
        p = vorlane("import", hist, "--from", "aider", "--turn", turn, cwd=tmp_path)
        doc = json.loads(p.stdout)
        assert doc["report"] == report and doc["meta"]["prompts"] == 2
    p = vorlane("import", hist, "--from", "aider", "--turn", "3", cwd=tmp_path)
    assert p.returncode == 2 and "the session has 2 prompts" in p.stderr and p.stdout == ""
    p = vorlane("import", hist, "--turn", "zero", cwd=tmp_path)
    assert p.returncode == 2 and "usage:" in p.stderr


def test_unknown_file_is_a_clean_error(tmp_path):
    f = tmp_path / "notes.log"
    f.write_text("just some text\n", encoding="utf-8")
    p = vorlane("import", f, cwd=tmp_path)
    assert p.returncode == 2 and p.stdout == "" and "Traceback" not in p.stderr
    assert "not a session file of a known format" in p.stderr and "claude_code" in p.stderr and "cline" in p.stderr


def test_runs_mixes_sessions_and_run_files(tmp_path, failing_session):
    d = tmp_path / "runs"
    d.mkdir()
    shutil.copy(EXAMPLES / "runs" / "01-readme-typo.json", d / "01-run.json")
    shutil.copy(failing_session, d / "02-claude.jsonl")
    write_session(d, "03-gemini.json", gemini_session(gm_user("make it"), gm_reply("Wrote `hello.md`.", gm_call(
        "write_file", {"file_path": "hello.md", "content": "# Hi"}, "ok"))))
    (d / "04-notes.md").write_text("# not a session\n", encoding="utf-8")  # ignored: no known format
    p = vorlane("check", "--runs", d, "--json", cwd=tmp_path)
    doc = json.loads(p.stdout)
    names = [Path(r["name"]).name for r in doc["runs"]]
    assert names == ["01-run.json", "02-claude.jsonl", "03-gemini.json"]
    assert all("error" not in r for r in doc["runs"]), doc["runs"]
    assert [("import" in r) for r in doc["runs"]] == [False, True, True]
    assert doc["runs"][1]["summary"]["contradicted"] == 1 and p.returncode == 1
    table = vorlane("check", "--runs", d, cwd=tmp_path)
    assert "02-claude.jsonl: line 5: incomplete last line" in table.stderr


@pytest.mark.skipif(not (CORPUS / "transcripts").is_dir(), reason="shared corpus not present")
def test_every_sample_through_the_command(tmp_path):
    samples = [p for p in sorted((CORPUS / "transcripts").glob("*/*")) + sorted((CORPUS / "raw").glob("openhands/*.json"))
               + sorted((CORPUS / "raw").glob("swe-agent/*.traj")) + sorted((CORPUS / "raw").glob("mini-swe-agent-tb/*agent.log"))
               if p.name not in ("README.md", "manifest.json") and not p.name.endswith("task_metadata.json")]
    p = vorlane("check", "--runs", *samples, "--json", cwd=tmp_path)
    doc = json.loads(p.stdout)
    assert len(doc["runs"]) == len(samples) and doc["bad_runs"] == 0, [r for r in doc["runs"] if "error" in r]
    for s in samples:
        out = tmp_path / (s.name + ".run.json")
        assert main(["import", str(s), "-o", str(out)]) == 0
        assert set(json.loads(out.read_text(encoding="utf-8"))) == {"report", "log", "meta"}
