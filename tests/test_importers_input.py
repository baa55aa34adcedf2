"""Bad and unusual input: truncated sessions, unknown records, missing fields,
files of no known format, and telling the format from the content."""

import json

import pytest
from session_builders import cc_bash, cc_say, claude_session, codex_final, codex_head, codex_prompt, gemini_session, gm_reply, gm_user, write_session

from vorlane_core.importers import FORMATS, SessionImportError, detect_format, import_session
from vorlane_core.runlog_file import InputError


def _lines(records):
    return "".join(json.dumps(r) + "\n" for r in records)


def test_truncated_last_line_is_skipped_with_a_warning(tmp_path):
    text = _lines(claude_session(cc_bash("make", "ok", 0), cc_say("built")))
    p = tmp_path / "s.jsonl"
    p.write_text(text + '{"type": "assistant", "message": {"role": "assi', encoding="utf-8")
    run = import_session(str(p))
    assert [c["command"] for c in run.log["commands"]] == ["make"] and run.report == "built"
    assert any("line 5" in w and "incomplete" in w for w in run.warnings)


@pytest.mark.parametrize(
    "bad, needles",
    [
        ('{"type": "user", "mess', ["s.jsonl:2:", "invalid JSON"]),
        ('[1, 2]', ["s.jsonl:2:", "expected a JSON object"]),
        ('{"type": "assistant", "sessionId": "s1"}', ["s.jsonl:2:", '"message"']),
        ('{"type": "assistant", "sessionId": "s1", "message": {"role": "assistant"}}', ["s.jsonl:2:", '"content"']),
        ('{"type": "assistant", "sessionId": "s1", "message": {"content": [{"type": "tool_use", "name": "Bash"}]}}',
         ["s.jsonl:2:", '"id"', "tool_use"]),
    ],
)
def test_a_bad_line_names_the_line_and_the_field(tmp_path, bad, needles):
    good = _lines(claude_session(cc_say("hi")))
    first, rest = good.split("\n", 1)
    p = tmp_path / "s.jsonl"
    p.write_text(first + "\n" + bad + "\n" + rest, encoding="utf-8")
    with pytest.raises(SessionImportError) as e:
        import_session(str(p), fmt="claude_code")
    assert isinstance(e.value, InputError)
    for n in needles:
        assert n in str(e.value)


def test_codex_missing_call_id(tmp_path):
    recs = codex_head() + codex_prompt("go") + [
        {"timestamp": "t", "type": "response_item", "payload": {"type": "function_call_output", "output": "x"}}]
    with pytest.raises(SessionImportError, match=r'r\.jsonl:5: function_call_output has no "call_id"'):
        import_session(str(write_session(tmp_path, "r.jsonl", recs)))


def test_unknown_record_types_are_counted(tmp_path):
    recs = claude_session(cc_say("hi")) + [{"type": "hologram", "x": 1}, {"type": "hologram"}, {"type": "teleport"}]
    run = import_session(str(write_session(tmp_path, "s.jsonl", recs)))
    assert any("3 records of unknown type skipped: hologram (2), teleport (1)" in w for w in run.warnings)
    codex = codex_head() + codex_prompt("go") + [{"timestamp": "t", "type": "response_item", "payload": {"type": "quantum_call"}},
                                                  codex_final("done")]
    run = import_session(str(write_session(tmp_path, "r.jsonl", codex)))
    assert any("response_item/quantum_call (1)" in w for w in run.warnings) and run.report == "done"


@pytest.mark.parametrize(
    "name, content",
    [
        ("notes.md", "# Notes\n\nNothing to see.\n"),
        ("empty.jsonl", ""),
        ("other.jsonl", '{"level": "info", "msg": "started"}\n{"level": "info", "msg": "stopped"}\n'),
        ("config.json", '{"name": "x", "version": 2}'),
    ],
)
def test_unknown_format_lists_the_formats(tmp_path, name, content):
    p = tmp_path / name
    p.write_text(content, encoding="utf-8")
    with pytest.raises(SessionImportError) as e:
        detect_format(str(p))
    msg = str(e.value)
    assert "not a session file of a known format" in msg
    for fmt in FORMATS.values():
        assert fmt.name in msg and fmt.looks_for in msg


AIDER = "#### add a docstring\n\nDone: added it.\n"  # no edit, no aider banner: not detectable
# (content, a misleading file name, the format the content says)
DETECT = [
    (claude_session(cc_say("hi")), "notes.json", "claude_code"),
    ([{"type": "system", "subtype": "init", "session_id": "s", "cwd": "/p"}, {"type": "result", "result": "x"}], "out.log", "claude_code"),
    (codex_head() + codex_prompt("go"), "session.txt", "codex"),
    ([{"type": "thread.started", "thread_id": "t"}, {"type": "turn.started"}], "events.json", "codex"),
    (gemini_session(gm_user("hi"), gm_reply("hello")), "chat.jsonl", "gemini"),
    ({"trajectory": [{"action": "ls", "observation": "a", "thought": "", "state": {}}], "history": [], "info": {}}, "run.json", "swe_agent"),
    ({"info": {"mini_version": "1.9.0"}, "messages": [], "trajectory_format": "mini-swe-agent-1"}, "x.traj", "mini_swe_agent"),
    ([{"id": 0, "source": "user", "action": "message", "args": {"content": "hi"}}], "t.jsonl", "openhands"),
    ([{"ts": 1, "type": "say", "say": "text", "text": "hi"}], "task.json", "cline"),
    ("# aider chat started at 2024-05-01 10:00:00\n\n#### hi\n\nhello\n", "history.json", "aider"),
]


@pytest.mark.parametrize("content, name, fmt", DETECT, ids=[d[2] + "-" + d[1] for d in DETECT])
def test_format_is_told_from_the_content(tmp_path, content, name, fmt):
    p = tmp_path / name
    if isinstance(content, str):
        p.write_text(content, encoding="utf-8")
    elif isinstance(content, list) and content and "type" in content[0] and content[0].get("type") != "say":
        p.write_text(_lines(content), encoding="utf-8")
    else:
        p.write_text(json.dumps(content), encoding="utf-8")
    assert detect_format(str(p)) == fmt
    import_session(str(p))  # and it imports


def test_from_overrides_detection(tmp_path):
    p = write_session(tmp_path, "h.md", AIDER)
    with pytest.raises(SessionImportError):
        import_session(str(p))
    run = import_session(str(p), fmt="aider")
    assert run.report == "Done: added it." and run.meta["format"] == "aider"
    with pytest.raises(SessionImportError, match="unknown format 'vim'; the formats are: claude_code, codex"):
        import_session(str(p), fmt="vim")


def test_a_document_format_on_a_directory_or_missing_file(tmp_path):
    with pytest.raises(SessionImportError, match="no such file"):
        import_session(str(tmp_path / "gone.jsonl"))
    with pytest.raises(SessionImportError, match="directory"):
        import_session(str(tmp_path))
