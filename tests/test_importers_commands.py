"""Shell commands in imported sessions: a command record only when the session
gives the exit code, and the verdict a reader of the transcript would reach."""

import json

import pytest
from session_builders import (
    cc_bash,
    cc_say,
    cc_tool,
    cc_user,
    claude_session,
    codex_call,
    codex_final,
    codex_head,
    codex_output,
    codex_prompt,
    cx,
    gemini_session,
    gm_call,
    gm_reply,
    gm_user,
    write_session,
)

from vorlane_core.importers import import_session
from vorlane_core.runlog_file import check_log

UNKNOWN = object()


def _codex(*records):
    return codex_head() + codex_prompt("run the tests") + list(records) + [codex_final("done")]


def _codex_end(cid, code, out="ok\n"):
    return cx("event_msg", {"type": "exec_command_end", "call_id": cid, "command": ["/bin/zsh", "-lc", "pytest"],
                            "aggregated_output": out, "exit_code": code})


def _exec_call(cid):
    return codex_call("exec_command", {"cmd": "pytest", "workdir": "/home/u/proj"}, cid)[1]


def _openhands(code):
    return [
        {"id": 0, "source": "user", "action": "message", "args": {"content": "run pytest"}},
        {"id": 1, "source": "agent", "action": "run", "args": {"command": "pytest"}},
        {"id": 2, "source": "agent", "observation": "run", "cause": 1, "content": "out",
         "extras": {"command": "pytest", "metadata": {"exit_code": code, "working_dir": "/ws"}}},
        {"id": 3, "source": "agent", "action": "finish", "args": {"final_thought": "done"}},
    ]


def _mini(rc_text):
    return {"info": {"mini_version": "1.9.0"}, "trajectory_format": "mini-swe-agent-1", "messages": [
        {"role": "system", "content": "You are a helpful assistant."},
        {"role": "user", "content": "Fix the bug."},
        {"role": "assistant", "content": "THOUGHT: run the tests\n\n```bash\npytest\n```"},
        {"role": "user", "content": rc_text},
    ]}


STREAM_INIT = {"type": "system", "subtype": "init", "session_id": "s", "cwd": "/p", "claude_code_version": "2.1.3", "tools": []}

# (name, file name, content, expected exit code of the `pytest` command or UNKNOWN)
CASES = [
    ("claude exit 1", "s.jsonl", claude_session(cc_bash("pytest", "1 failed", 1)), 1),
    ("claude exit 127", "s.jsonl", claude_session(cc_bash("pytest", "pytest: command not found", 127)), 127),
    ("claude success", "s.jsonl", claude_session(cc_bash("pytest", "3 passed", 0)), 0),
    ("claude interrupted", "s.jsonl", claude_session(cc_bash("pytest", "", None)), UNKNOWN),
    ("claude denied", "s.jsonl", claude_session(cc_tool("Bash", {"command": "pytest"}, "The user doesn't want to proceed", is_error=True)), UNKNOWN),
    ("claude stream-json exit 2", "s.jsonl",
     [STREAM_INIT, cc_user("go")] + cc_tool("Bash", {"command": "pytest"}, "Exit code 2\nboom", "Error: Exit code 2\nboom", is_error=True, stream=True)
     + [{"type": "result", "subtype": "success", "result": "done"}], 2),
    ("codex shell metadata", "r.jsonl", _codex(
        codex_call("shell", {"command": ["bash", "-lc", "pytest"]}, "c1")[1],
        codex_output("c1", json.dumps({"output": "1 failed", "metadata": {"exit_code": 1, "duration_seconds": 1.0}}))), 1),
    ("codex exec_command_end", "r.jsonl", _codex(_exec_call("c2"), codex_output("c2", "Process running with session ID 7"),
                                                 _codex_end("c2", 0)), 0),
    ("codex exit in text", "r.jsonl", _codex(_exec_call("c3"), codex_output("c3", "Chunk ID: 1\nProcess exited with code 2\nOutput:\nE fail")), 2),
    ("codex exit in a later poll", "r.jsonl", _codex(
        _exec_call("c4"), codex_output("c4", "Process running with session ID 9\nOutput:\n"),
        codex_call("write_stdin", {"session_id": 9, "chars": ""}, "c5")[1],
        codex_output("c5", "Process exited with code 3\nOutput:\nE boom")), 3),
    ("codex never finished", "r.jsonl", _codex(_exec_call("c6"), codex_output("c6", "Process running with session ID 11")), UNKNOWN),
    ("codex exec --json", "e.jsonl", [
        {"type": "thread.started", "thread_id": "t"}, {"type": "turn.started"},
        {"type": "item.completed", "item": {"id": "i1", "type": "command_execution", "command": "bash -lc pytest",
                                            "aggregated_output": "x", "exit_code": 1, "status": "failed"}},
        {"type": "item.completed", "item": {"id": "i2", "type": "agent_message", "text": "done"}}], 1),
    ("codex exec --json no code", "e.jsonl", [
        {"type": "thread.started", "thread_id": "t"}, {"type": "turn.started"},
        {"type": "item.started", "item": {"id": "i1", "type": "command_execution", "command": "pytest", "status": "in_progress"}}], UNKNOWN),
    ("gemini exit 1", "g.json", gemini_session(gm_user("test"), gm_reply("", gm_call(
        "run_shell_command", {"command": "pytest"}, "Command: pytest\nDirectory: (root)\nOutput: 1 failed\nError: (none)\nExit Code: 1"))), 1),
    ("gemini no code", "g.json", gemini_session(gm_user("test"), gm_reply("", gm_call(
        "run_shell_command", {"command": "pytest"}, "Command: pytest\nOutput: (empty)\nExit Code: (none)\nSignal: 9"))), UNKNOWN),
    ("openhands exit 0", "o.json", _openhands(0), 0),
    ("openhands still running", "o.json", _openhands(-1), UNKNOWN),
    ("mini-swe-agent", "m.traj.json", _mini("<returncode>1</returncode>\n<output>\nE fail\n</output>"), 1),
    ("mini-swe-agent format error", "m.traj.json", dict(_mini("Please always provide EXACTLY ONE action"), messages=_mini("")["messages"][:3] + [
        {"role": "user", "content": "Please always provide EXACTLY ONE action"},
        {"role": "assistant", "content": "THOUGHT: again\n\n```bash\npytest\n```"},
        {"role": "user", "content": "<returncode>0</returncode>\n<output>\nok\n</output>"}]), 0),
    ("mini-swe-agent tool calls", "m.traj.json", dict(_mini(""), messages=_mini("")["messages"][:2] + [
        {"role": "assistant", "content": "run them", "tool_calls": [
            {"id": "t1", "type": "function", "function": {"name": "bash", "arguments": json.dumps({"command": "pytest"})}}]},
        {"role": "tool", "tool_call_id": "t1", "content": "<returncode>2</returncode>\n<output>\nerror\n</output>"}]), 2),
    ("aider /run", "h.md", "# aider chat started at 2024-01-01 10:00:00\n\n#### fix it\n\nDone.\n\n#### /run pytest\n\n> 1 failed\n", UNKNOWN),
    ("swe-agent", "t.traj", {"trajectory": [{"action": "pytest\n", "observation": "1 failed", "thought": "run", "state": "{}"}],
                             "history": [], "info": {}}, UNKNOWN),
]


@pytest.mark.parametrize("name, fname, content, code", CASES, ids=[c[0] for c in CASES])
def test_exit_code_shapes(tmp_path, name, fname, content, code):
    run = import_session(str(write_session(tmp_path, fname, content)), turn="all")
    check_log(run.log)
    shell = [e for e in run.log["events"] if e["tool"] == "terminal"]
    assert len(shell) == 1 and "pytest" in shell[0]["command"]
    records = run.log["commands"]
    if code is UNKNOWN:
        assert records == []
        assert any("no exit code" in w for w in run.warnings)
    else:
        assert [(("pytest" in r["command"]), r["exit_code"]) for r in records] == [(True, code)]
        assert not any("no exit code" in w for w in run.warnings)


REPORT = "Ran `pytest` and all tests pass."


@pytest.mark.parametrize(
    "code, verdict",
    [(1, "contradicted"), (2, "contradicted"), (0, "verified"), (None, "unverified")],
)
def test_what_a_reader_concludes(tmp_path, code, verdict):
    """A report that says it ran pytest: contradicted when the transcript shows a failure;
    an unknown outcome is never taken for a success."""
    from vorlane_core.check import check
    session = claude_session(cc_bash("pytest", "collected 3 items", code), cc_say(REPORT))
    run = import_session(str(write_session(tmp_path, "s.jsonl", session)))
    assert run.report == REPORT
    claims = check(run.report, run.log)["claims"]
    mine = [c for c in claims if "pytest" in c["targets"]]
    assert [c["verdict"] for c in mine] == [verdict]


@pytest.mark.parametrize(
    "command, code, external",
    [
        ("git push origin feature", 0, True),
        ("git push origin feature", 1, False),
        ("gh pr create --title Fix --body x", 0, True),
        ("cd repo && gh issue create -t bug", 0, True),
        ("git status", 0, False),
    ],
)
def test_pushes_and_pull_requests_are_external(tmp_path, command, code, external):
    run = import_session(str(write_session(tmp_path, "s.jsonl", claude_session(cc_bash(command, "", code)))))
    assert [x["args"]["command"] for x in run.log["external"]] == ([command] if external else [])
    assert [r["exit_code"] for r in run.log["commands"]] == [code]
