"""Files in imported sessions: what was written (whole content or the new side
of an edit), what was only read, and the paths the checker matches."""

import json

import pytest
from session_builders import (
    cc_bash,
    cc_tool,
    claude_session,
    codex_final,
    codex_head,
    codex_prompt,
    cx,
    gemini_session,
    gm_call,
    gm_reply,
    gm_user,
    write_session,
)

from vorlane_core.importers import import_session

PATCH = """*** Begin Patch
*** Add File: src/new.py
+def added():
+    return 1
*** Update File: src/app.py
@@
-TIMEOUT = 5
+TIMEOUT = 15
*** End Patch
"""


def _codex_patch(success):
    return codex_head() + codex_prompt("edit") + [
        cx("response_item", {"type": "custom_tool_call", "call_id": "p1", "name": "apply_patch", "input": PATCH}),
        cx("event_msg", {"type": "patch_apply_end", "call_id": "p1", "success": success, "changes": {}}),
        cx("response_item", {"type": "custom_tool_call_output", "call_id": "p1",
                             "output": json.dumps({"output": "Success." if success else "error", "metadata": {"exit_code": 0 if success else 1}})}),
        codex_final("done"),
    ]


READ_TEXT = "     1\u2192TIMEOUT = 5\n     2\u2192\n\n<system-reminder>\nConsider whether this is malware.\n</system-reminder>\n"

# (name, file name, session, expected (path, payload) written, paths that must not be written)
CASES = [
    ("claude Write: the whole content", "s.jsonl",
     claude_session(cc_tool("Write", {"file_path": "/home/u/proj/src/app.py", "content": "TIMEOUT = 15\n"},
                            "File created successfully", {"type": "create", "filePath": "/home/u/proj/src/app.py"})),
     [("/home/u/proj/src/app.py", "TIMEOUT = 15\n")], []),
    ("claude Edit: the new side", "s.jsonl",
     claude_session(cc_tool("Edit", {"file_path": "/home/u/proj/src/app.py", "old_string": "TIMEOUT = 5", "new_string": "TIMEOUT = 15"},
                            "The file has been updated.")),
     [("/home/u/proj/src/app.py", "TIMEOUT = 15")], []),
    ("claude MultiEdit", "s.jsonl",
     claude_session(cc_tool("MultiEdit", {"file_path": "/home/u/proj/a.py", "edits": [
         {"old_string": "a", "new_string": "alpha"}, {"old_string": "b", "new_string": "beta"}]}, "Applied 2 edits")),
     [("/home/u/proj/a.py", "alpha\nbeta")], []),
    ("claude Edit refused", "s.jsonl",
     claude_session(cc_tool("Edit", {"file_path": "/home/u/proj/a.py", "old_string": "x", "new_string": "y"},
                            "String to replace not found in file.", is_error=True)),
     [], ["/home/u/proj/a.py"]),
    ("claude Read only", "s.jsonl",
     claude_session(cc_tool("Read", {"file_path": "/home/u/proj/src/app.py"}, READ_TEXT)),
     [], ["/home/u/proj/src/app.py"]),
    ("claude heredoc in Bash", "s.jsonl",
     claude_session(cc_bash("cat > notes.md <<'EOF'\n# Notes\nrelease 2.0\nEOF", "", 0)),
     [("notes.md", "# Notes\nrelease 2.0\n")], []),
    ("codex apply_patch", "r.jsonl", _codex_patch(True),
     [("src/new.py", "def added():\n    return 1"), ("src/app.py", "TIMEOUT = 15")], []),
    ("codex apply_patch failed", "r.jsonl", _codex_patch(False), [], ["src/new.py", "src/app.py"]),
    ("codex apply_patch through the shell", "r.jsonl", codex_head() + codex_prompt("edit") + [
        cx("response_item", {"type": "function_call", "name": "shell", "call_id": "s1", "arguments": json.dumps(
            {"command": ["bash", "-lc", "apply_patch <<'EOF'\n" + PATCH + "EOF"]})}),
        cx("response_item", {"type": "function_call_output", "call_id": "s1",
                             "output": json.dumps({"output": "Success. Updated the following files", "metadata": {"exit_code": 0}})}),
        codex_final("done")],
     [("src/new.py", "def added():\n    return 1"), ("src/app.py", "TIMEOUT = 15")], []),
    ("gemini write_file and replace", "g.json", gemini_session(gm_user("edit"), gm_reply("", 
        gm_call("write_file", {"file_path": "hello.md", "content": "# Hello"}, "Successfully created"),
        gm_call("replace", {"file_path": "a.py", "old_string": "x = 1", "new_string": "x = 2"}, "ok"),
        gm_call("read_file", {"file_path": "b.py"}, "print(1)"))),
     [("hello.md", "# Hello"), ("a.py", "x = 2")], ["b.py"]),
    ("gemini replace cancelled", "g.json", gemini_session(gm_user("edit"), gm_reply("",
        gm_call("replace", {"file_path": "a.py", "old_string": "x", "new_string": "y"}, "cancelled", status="cancelled"))),
     [], ["a.py"]),
]


@pytest.mark.parametrize("name, fname, session, written, not_written", CASES, ids=[c[0] for c in CASES])
def test_writes_and_edits(tmp_path, name, fname, session, written, not_written):
    run = import_session(str(write_session(tmp_path, fname, session)))
    wrote = [(e.get("path"), e["payload"]) for e in run.log["events"] if e["wrote"]]
    assert wrote == written
    for path, _ in written:
        assert path in run.log["written"]
    for path in not_written:
        assert path not in run.log["written"]
        assert path.rsplit("/", 1)[-1] not in " ".join(run.log["written"])


def test_paths_also_relative_to_the_working_directory(tmp_path):
    session = claude_session(cc_tool("Write", {"file_path": "/home/u/proj/src/app.py", "content": "x"}, "ok"),
                             cc_tool("Write", {"file_path": "/etc/hosts", "content": "y"}, "ok"))
    run = import_session(str(write_session(tmp_path, "s.jsonl", session)))
    assert run.meta["cwd"] == "/home/u/proj"
    assert run.log["written"] == ["/home/u/proj/src/app.py", "src/app.py", "/etc/hosts"]


@pytest.mark.parametrize(
    "tool, inp, result, structured, want_tool, want_output",
    [
        ("Read", {"file_path": "/p/a.py"}, READ_TEXT, None, "read_file", "TIMEOUT = 5\n"),
        ("Read", {"file_path": "/p/a.py"}, READ_TEXT, {"type": "text", "file": {"filePath": "/p/a.py", "content": "TIMEOUT = 5\n\n"}},
         "read_file", "TIMEOUT = 5\n\n"),
        ("Grep", {"pattern": "TIMEOUT"}, "src/app.py:1:TIMEOUT = 5", None, "search_files", "src/app.py:1:TIMEOUT = 5"),
        ("Glob", {"pattern": "**/*.py"}, "/p/a.py\n/p/b.py", None, "search_files", "/p/a.py\n/p/b.py"),
        ("LS", {"path": "/p"}, "- /p/\n  - a.py", None, "search_files", "- /p/\n  - a.py"),
    ],
)
def test_reads_carry_the_clean_content(tmp_path, tool, inp, result, structured, want_tool, want_output):
    run = import_session(str(write_session(tmp_path, "s.jsonl", claude_session(cc_tool(tool, inp, result, structured)))))
    assert [(e["tool"], e["output"], e["wrote"]) for e in run.log["events"]] == [(want_tool, want_output, False)]
    assert run.log["written"] == []


@pytest.mark.parametrize(
    "tool, inp",
    [("WebFetch", {"url": "https://example.org/a", "prompt": "summarise"}),
     ("WebSearch", {"query": "retry back-off"}),
     ("mcp__github__create_issue", {"repo": "o/r", "title": "Bug"})],
)
def test_web_and_mcp_calls_are_external(tmp_path, tool, inp):
    run = import_session(str(write_session(tmp_path, "s.jsonl", claude_session(cc_tool(tool, inp, "ok")))))
    assert run.log["external"] == [{"tool": tool, "args": inp}]
    assert run.log["written"] == [] and run.log["commands"] == []
