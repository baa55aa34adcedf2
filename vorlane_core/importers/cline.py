"""Cline task folders (VS Code global storage, ``saoudrizwan.claude-dev/tasks/<id>/``).

The import reads ``ui_messages.json``: the list of ``say``/``ask`` messages
the extension showed.  A ``tool`` message names the file of a read (not its
text), the content of a new file and the SEARCH/REPLACE diff of an edit; the
text of a read is taken from the next API request, which quotes it as
``[read_file for 'PATH'] Result:``.  Commands are shown with their output but
no exit code.
"""

from __future__ import annotations

import json
import os
import re

from vorlane_core.importers.reading import json_document
from vorlane_core.importers.runbuilder import EDIT_TOOL, READ_TOOL, SEARCH_TOOL, WRITE_TOOL, RunBuilder, SessionImportError

NAME = "cline"
TITLE = "Cline task folder (ui_messages.json)"
LOOKS_FOR = 'a JSON list of messages with "ts" and "type" say/ask, or a folder holding ui_messages.json'

_QUIET = {"checkpoint_created", "reasoning", "task_progress", "api_req_finished", "api_req_retried",
          "api_req_failed", "error", "completion_result", "resume_task", "resume_completed_task",
          "shell_integration_warning", "diff_error", "info", "deleted_api_reqs", "load_mcp_documentation",
          "clineignore_error", "error_retry", "hook", "hook_output", "mistake_limit_reached",
          "auto_approval_max_req_reached", "api_req_cost", "plan_mode_respond", "act_mode_respond",
          "condense", "new_task", "report_bug", "summarize_task", "browser_action_result",
          "command_output", "mcp_server_request_started"}
_SEARCHES = {"listFilesTopLevel", "listFilesRecursive", "listCodeDefinitionNames", "searchFiles"}
_RESULT = re.compile(r"\[(\w+) for '(.*?)'\] Result:\n")
_REPLACE = re.compile(r"^=======\n(.*?)\n?^(?:\+{7}|>{7}) REPLACE\s*$", re.S | re.M)


def sniff(head: list[dict], text: str) -> bool:
    t = text.lstrip()
    return t.startswith("[") and re.search(r'"type"\s*:\s*"(say|ask)"', t) is not None and '"ts"' in t


def ui_messages_path(path: str) -> str:
    """The ui_messages.json of a task folder, or the file itself."""
    if os.path.isdir(path):
        p = os.path.join(path, "ui_messages.json")
        if not os.path.isfile(p):
            raise SessionImportError(f"{path}: a folder without ui_messages.json (not a Cline task folder)")
        return p
    if path.endswith("api_conversation_history.json"):
        p = path[: -len("api_conversation_history.json")] + "ui_messages.json"
        if os.path.isfile(p):
            return p
        raise SessionImportError(f"{path}: import the task's ui_messages.json (it is not beside this file)")
    return path


def _new_side(diff: str) -> str:
    sides = _REPLACE.findall(diff)
    return "\n".join(sides) if sides else diff


def _results(request: str):
    """(tool, target, text) of every tool result quoted in an API request."""
    marks = list(_RESULT.finditer(request))
    for i, m in enumerate(marks):
        end = marks[i + 1].start() if i + 1 < len(marks) else len(request)
        body = request[m.end():end]
        cut = body.find("<environment_details>")
        if cut >= 0:
            body = body[:cut]
        yield m.group(1), m.group(2), body.rstrip("\n") + "\n"


class _Reader:
    def __init__(self, b: RunBuilder):
        self.b = b
        self.reads: dict[str, list[dict]] = {}
        self.cmd: list | None = None
        self.first = True

    def message(self, m: dict, where: str) -> None:
        b = self.b
        kind = m.get("say") if m.get("type") == "say" else m.get("ask")
        text = m.get("text") or ""
        if kind == "command_output" and self.cmd is not None:
            self.cmd[1].append(text)
            return
        self._end_cmd()
        if kind == "text":
            if self.first:
                b.prompt(text)
            else:
                b.message(text)
        elif kind == "user_feedback":
            b.prompt(text)
        elif kind in ("completion_result", "followup") and text:
            b.message(text)
        elif kind == "command":
            self.cmd = [text, []]
        elif kind == "tool":
            self._tool(text, where)
        elif kind == "api_req_started":
            self._request(text)
        elif kind in ("use_mcp_server", "browser_action_launch", "web_fetch"):
            try:
                args = json.loads(text) if kind == "use_mcp_server" else {"url": text}
            except ValueError:
                args = text
            b.external(kind, args)
        elif kind not in _QUIET and kind is not None:
            b.skip(str(kind))
        self.first = False

    def _tool(self, text: str, where: str) -> None:
        b = self.b
        try:
            t = json.loads(text)
        except ValueError:
            raise SessionImportError(f"{where}: a tool message whose text is not JSON") from None
        name, path, content = t.get("tool"), t.get("path"), t.get("content")
        if name == "readFile":
            if isinstance(content, str) and path and content.endswith("/" + path) and b.cwd is None:
                b.cwd = content[: -len(path) - 1]
            ev = b.read(None, path, READ_TOOL)
            if ev is not None:
                self.reads.setdefault(path, []).append(ev)
                if isinstance(content, str):
                    self.reads.setdefault(content, []).append(ev)
        elif name in _SEARCHES:
            b.read(content, path, SEARCH_TOOL)
        elif name == "newFileCreated":
            b.write(path, content, None, tool=WRITE_TOOL)
        elif name == "editedExistingFile":
            b.write(path, _new_side(content or ""), None, tool=EDIT_TOOL)
        elif name == "fileDeleted":
            b.write(path, None, None, tool=EDIT_TOOL)
        elif name in ("webFetch", "webSearch"):
            b.external(name, {k: v for k, v in t.items() if k != "tool"})
        else:
            b.other(str(name), content if isinstance(content, str) else None)

    def _request(self, text: str) -> None:
        try:
            req = json.loads(text).get("request") or ""
        except (ValueError, AttributeError):
            return
        for tool, target, body in _results(req):
            if tool != "read_file":
                continue
            for key in (target, os.path.basename(target)):
                evs = self.reads.get(key)
                if evs:
                    ev = evs.pop(0)
                    ev["output"] = body
                    for other in self.reads.values():  # the same event under its other name
                        other[:] = [x for x in other if x is not ev]
                    break

    def _end_cmd(self) -> None:
        if self.cmd is not None:
            self.b.command(self.cmd[0], "".join(self.cmd[1]).strip("\n"), None, False)
            self.cmd = None

    def finish(self) -> None:
        self._end_cmd()
        if any(self.reads.values()):
            self.b.note("a file read whose text the task does not keep has no output")


def import_file(path: str, b: RunBuilder) -> None:
    path = ui_messages_path(path)
    doc = json_document(path)
    if not isinstance(doc, list):
        raise SessionImportError(f"{path}: expected a JSON list of Cline messages")
    r = _Reader(b)
    for i, m in enumerate(doc):
        if not isinstance(m, dict) or m.get("type") not in ("say", "ask"):
            raise SessionImportError(f'{path}: message {i}: has no "type" say or ask')
        r.message(m, f"{path}: message {i}")
    r.finish()
