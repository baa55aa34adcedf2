"""The importers on real session files of each tool (../shared/corpus, skipped
when it is absent): every sample imports into a log the checker accepts, and
the facts a reader of the transcript sees are in it."""

import pytest
from conftest import CORPUS

from vorlane_core.importers import detect_format, import_session
from vorlane_core.runlog_file import check_log

TRANSCRIPTS = CORPUS / "transcripts"
RAW = CORPUS / "raw"

pytestmark = pytest.mark.skipif(not TRANSCRIPTS.is_dir(), reason="shared corpus not present")


def _samples():
    if not TRANSCRIPTS.is_dir():
        return []
    out = []
    for d, pattern in [(TRANSCRIPTS, "*/*"), (RAW / "openhands", "*.json"), (RAW / "swe-agent", "*.traj"),
                       (RAW / "mini-swe-agent-tb", "*agent.log")]:
        out += [p for p in sorted(d.glob(pattern)) if p.name not in ("README.md", "manifest.json")
                and not p.name.endswith("task_metadata.json")]
    return out


SAMPLES = _samples()
FORMAT_OF_FOLDER = {"claude_code": "claude_code", "codex": "codex", "gemini": "gemini", "aider": "aider", "cline": "cline",
                    "openhands": "openhands", "swe-agent": "swe_agent", "mini-swe-agent-tb": "mini_swe_agent"}


@pytest.mark.parametrize("path", SAMPLES, ids=[p.name[:50] for p in SAMPLES])
@pytest.mark.parametrize("turn", ["last", "all"])
def test_every_sample_imports_and_checks(path, turn):
    assert detect_format(str(path)) == FORMAT_OF_FOLDER[path.parent.name]
    run = import_session(str(path), turn=turn)
    check_log(run.log)
    assert isinstance(run.report, str) and run.report.strip()
    for c in run.log["commands"]:  # an importer never writes an unknown exit code
        assert isinstance(c["exit_code"], int)
    from vorlane_core.check import check
    check(run.report, run.log)


def test_samples_match_the_schema():
    from test_importers_schema import validators

    log_schema, run_schema = validators()
    for path in SAMPLES:
        run = import_session(str(path), turn="all")
        log_schema.validate(run.log)
        run_schema.validate(run.to_json())


def _one(folder, needle=""):
    found = [p for p in SAMPLES if p.parent.name == folder and needle in p.name]
    assert found, (folder, needle)
    return str(found[0])


def _cmds(run):
    return [(c["command"], c["exit_code"]) for c in run.log["commands"]]


def test_claude_code_sample():
    path = _one("claude_code")
    run = import_session(path)
    assert run.meta["tool_version"] == "2.0.76" and run.meta["prompts"] == 5  # the /compact after it is no prompt
    assert _cmds(run) == [("python /workspace/number_generator.py", 127),
                          ("ls -lh /workspace/*.txt /workspace/number_generator.py", 0),
                          ("python3 /workspace/number_generator.py", 0)]
    assert {"/workspace/data.txt", "data.txt", "number_generator.py"} <= set(run.log["written"])
    assert "hello_world.py" not in run.log["written"]  # written in an earlier turn
    reads = [e for e in run.log["events"] if e["tool"] == "read_file"]
    assert [e["output"] for e in reads] == ["Sample data file\nLine 1: Important information\nLine 2: More data here\nLine 3: Final line of data\n"]
    assert run.report.startswith("Great! Here's what I did")
    assert _cmds(import_session(path, turn=4)) == [("cat nonexistent.txt", 1)]
    assert import_session(path, turn=2).log["written"] == ["/workspace/hello_world.py", "hello_world.py"]


def test_codex_sample():
    path = _one("codex")
    run = import_session(path)
    assert run.meta["tool_version"] == "0.125.0" and run.meta["prompts"] == 2
    assert "src/agents/plugins/codemie-code.plugin.ts" in run.log["written"]
    assert [x["tool"] for x in run.log["external"]] == ["web_search"] * 3
    assert len(run.log["commands"]) == 42 and run.report.startswith("Implemented the default context compaction")
    edits = [e for e in run.log["events"] if e["wrote"]]
    assert any("threshold: 0.9," in e["payload"] for e in edits)
    first = import_session(path, turn=1)
    assert len(first.log["commands"]) == 1 and first.report.startswith("Available tool groups")


def test_gemini_sample():
    path = _one("gemini")
    run = import_session(path)
    assert run.meta["prompts"] == 5 and run.log["written"] == ["hello.md"]
    assert run.log["events"][0]["tool"] == "read_file" and run.log["events"][0]["output"].startswith("# Hello World\nThe quick")
    second = import_session(path, turn=2)
    assert second.log["written"] == [] and {"SECURITY.md", "src/env/manager.ts"} <= {e.get("path") for e in second.log["events"]}


def test_aider_sample():
    run = import_session(_one("aider"))
    assert run.log["written"] == ["tests/test_commands.py"] and run.log["commands"] == []
    runs = [e for e in run.log["events"] if e["tool"] == "terminal"]
    assert [e["command"] for e in runs] == ["pytest tests/test_commands.py"] * 2
    assert "1 failed" in runs[0]["output"] and "1 passed" in runs[1]["output"]
    assert 'commands.cmd_add("foo.txt bar.txt")' in run.log["events"][-2]["payload"]


def test_cline_sample():
    ui = _one("cline", "ui_messages")
    run = import_session(ui)
    assert run.log["commands"] == [] and len([e for e in run.log["events"] if e["tool"] == "terminal"]) == 2
    first_read = next(e for e in run.log["events"] if e["tool"] == "read_file")
    assert first_read["path"] == "ActionSystem.cs" and "public class ActionSystem" in first_read["output"]
    assert "BeginTurnGA.cs" in run.log["written"] and "ActionSystem.cs" not in run.log["written"]
    assert run.meta["cwd"] == "/workspaces/Online-Card-Architecture"
    assert import_session(_one("cline", "api_conversation")).log == run.log


def test_openhands_samples():
    run = import_session(_one("openhands", "wrong_initial_state"))
    assert _cmds(run) == [("mv /workspace/game_2048.py /workspace/2048.py", 0)]
    assert [e["tool"] for e in run.log["events"]] == ["read_file", "terminal", "read_file"]
    gui = import_session(_one("openhands", "basic_gui_mode"))
    assert _cmds(gui) == [("mkdir -p /workspace/todo-app", 0)]  # the server still running has no exit code
    assert "/workspace/todo-app/app.js" in gui.log["written"] and "todo-app/app.js" in gui.log["written"]


def test_swe_agent_sample():
    run = import_session(_one("swe-agent", "6e44b9"))
    assert run.log["commands"] == []
    assert run.log["written"] == ["/SWE-agent__test-repo/tests/missing_colon.py", "tests/missing_colon.py"]
    edit = next(e for e in run.log["events"] if e["wrote"])
    assert edit["payload"] == "def division(a: float, b: float) -> float:"
    assert run.log["events"][-1]["tool"] == "submit" and "missing_colon.py" in run.log["events"][-1]["output"]


def test_mini_swe_agent_sample():
    run = import_session(_one("mini-swe-agent-tb", "fix-git"))
    assert run.meta["tool_version"] == "1.9.0" and run.report.startswith("Excellent!")
    assert run.log["commands"] and all(isinstance(c["exit_code"], int) for c in run.log["commands"])
    assert run.log["events"][-1]["tool"] == "submit"
