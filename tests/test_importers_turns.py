"""Which part of a session becomes the run: turns, what counts as a prompt, subagents."""

import json

import pytest
from session_builders import cc_bash, cc_say, cc_tool, cc_user, claude_session, codex_final, codex_head, codex_prompt, write_session

from vorlane_core.importers import SessionImportError, import_session


def _three_turns():
    return (
        [cc_user("first")] + cc_bash("echo one", "one", 0) + [cc_say("did one")]
        + [cc_user("second")] + cc_bash("echo two", "two", 0) + [cc_say("did two")]
        + [cc_user("<command-name>/compact</command-name>"),
           cc_user("This session is being continued from a previous conversation.", isCompactSummary=True),
           cc_user("[Request interrupted by user]"),
           cc_user("Caveat: local commands follow", isMeta=True)]
        + [cc_user("third")] + cc_bash("echo three", "three", 0) + [cc_say("did three")]
        + [cc_user("<command-name>/cost</command-name>"), cc_user("<local-command-stdout>$0.01</local-command-stdout>")]
    )


@pytest.mark.parametrize(
    "turn, commands, report, label",
    [
        ("last", ["echo three"], "did three", "last"),
        (None, ["echo three"], "did three", "last"),
        ("all", ["echo one", "echo two", "echo three"], "did three", "all"),
        (1, ["echo one"], "did one", 1),
        ("2", ["echo two"], "did two", 2),
        (3, ["echo three"], "did three", 3),
    ],
)
def test_turns(tmp_path, turn, commands, report, label):
    run = import_session(str(write_session(tmp_path, "s.jsonl", _three_turns())), turn=turn)
    assert [c["command"] for c in run.log["commands"]] == commands
    assert run.report == report
    assert run.meta["turn"] == label and run.meta["prompts"] == 3


@pytest.mark.parametrize("turn", [4, "0", "first", -1])
def test_turn_out_of_range(tmp_path, turn):
    with pytest.raises(SessionImportError, match="turn"):
        import_session(str(write_session(tmp_path, "s.jsonl", _three_turns())), turn=turn)


def test_codex_prompts_are_not_instructions(tmp_path):
    ctx = [{"timestamp": "t", "type": "response_item", "payload": {"type": "message", "role": "user", "content": [
        {"type": "input_text", "text": "# AGENTS.md instructions for /p\n<INSTRUCTIONS>x</INSTRUCTIONS>"},
        {"type": "input_text", "text": "<environment_context>\n<cwd>/p</cwd>\n</environment_context>"}]}}]
    session = codex_head() + ctx + codex_prompt("one") + [codex_final("r1")] + codex_prompt("two") + [codex_final("r2")]
    run = import_session(str(write_session(tmp_path, "r.jsonl", session)))
    assert run.meta["prompts"] == 2 and run.report == "r2" and run.meta["tool_version"] == "0.125.0"


def _task(agent_id):
    structured = {"status": "completed", "agentId": agent_id, "content": [{"type": "text", "text": "found it"}]}
    return cc_tool("Task", {"description": "look", "prompt": "find the bug"}, [{"type": "text", "text": "found it"}], structured)


def _subagent_records():
    side = [dict(r, isSidechain=True, agentId="a1b2") for r in
            [cc_user("find the bug")] + cc_bash("grep -rn bug src", "src/x.py:1: bug", 0)
            + cc_tool("Write", {"file_path": "/home/u/proj/fix.py", "content": "fixed"}, "ok") + [cc_say("found it")]]
    return side


@pytest.mark.parametrize("layout", ["beside", "subagents-folder", "absent"])
def test_subagent_calls_belong_to_the_run(tmp_path, layout):
    main = write_session(tmp_path, "sess.jsonl", claude_session(_task("a1b2"), cc_say("fixed by the subagent")))
    if layout == "beside":
        write_session(tmp_path, "agent-a1b2.jsonl", _subagent_records())
    elif layout == "subagents-folder":
        (tmp_path / "sess" / "subagents").mkdir(parents=True)
        write_session(tmp_path / "sess" / "subagents", "agent-a1b2.jsonl", _subagent_records())
    run = import_session(str(main))
    assert run.report == "fixed by the subagent" and run.meta["prompts"] == 1
    if layout == "absent":
        assert run.log["commands"] == [] and run.log["written"] == []
        assert any("subagent" in w for w in run.warnings)
    else:
        assert [c["command"] for c in run.log["commands"]] == ["grep -rn bug src"]
        assert "/home/u/proj/fix.py" in run.log["written"]


def test_stream_json_subagent_calls_are_inline(tmp_path):
    init = {"type": "system", "subtype": "init", "session_id": "s", "cwd": "/p", "tools": []}
    inner = [dict(r, parent_tool_use_id="toolu_task") for r in cc_bash("ls", "a", 0)]
    recs = [init, cc_user("go")] + inner + [{"type": "result", "subtype": "success", "result": "all done"}]
    run = import_session(str(write_session(tmp_path, "s.jsonl", recs)))
    assert [c["command"] for c in run.log["commands"]] == ["ls"] and run.report == "all done"
    assert run.meta["prompts"] == 1


def test_an_unselected_turn_leaves_no_trace(tmp_path):
    """Events of earlier turns never reach the run of the last turn, even a call answered late."""
    recs = [cc_user("first")] + cc_tool("Write", {"file_path": "/p/a.py", "content": "A"}, "ok") + [cc_say("one")]
    recs += [cc_user("second"), cc_say("nothing to do")]
    run = import_session(str(write_session(tmp_path, "s.jsonl", recs)))
    assert run.log == {"events": [], "external": [], "written": [], "commands": []}
    assert run.report == "nothing to do"
    assert json.loads(json.dumps(run.to_json()))["meta"]["format"] == "claude_code"


PROMPTS = [(fmt, text, is_prompt) for fmt in ("claude_code", "gemini") for text, is_prompt in [
    ("fix the build", True),
    ("/etc/hosts is wrong, fix it", True),
    ("/compact", False),
    ("/review-pr 12", False),
]] + [
    ("claude_code", "<command-name>/cost</command-name>", False),
    ("claude_code", "[Request interrupted by user]", False),
    ("gemini", "?", False),
]


@pytest.mark.parametrize("fmt, text, is_prompt", PROMPTS)
def test_what_is_a_prompt(tmp_path, fmt, text, is_prompt):
    from session_builders import gemini_session, gm_reply, gm_user

    if fmt == "claude_code":
        path = write_session(tmp_path, "s.jsonl", [cc_user("first"), cc_say("one"), cc_user(text), cc_say("two")])
    else:
        path = write_session(tmp_path, "g.json", gemini_session(gm_user("first"), gm_reply("one"), gm_user(text), gm_reply("two")))
    run = import_session(str(path), turn=1)
    assert run.meta["prompts"] == 1 + is_prompt
    assert run.report == ("one" if is_prompt else "two")  # a non-prompt does not end the first turn
