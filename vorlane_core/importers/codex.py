"""Codex CLI sessions: rollout files under ~/.codex/sessions/ and the event
stream of ``codex exec --json``.

A rollout is JSON lines of ``{"timestamp", "type", "payload"}`` (older
rollouts hold the response items bare).  Shell calls come in three shapes:
the old ``shell`` function call whose output is a JSON string with
``metadata.exit_code``; ``exec_command`` whose result is the matching
``exec_command_end`` event; and ``exec_command`` with no such event, where
the code is only in the output text (``Process exited with code N``),
possibly of a later ``write_stdin`` poll of the same process.
"""

from __future__ import annotations

import json
import re
import shlex

from vorlane_core.importers.reading import jsonl_records, need, text_of
from vorlane_core.importers.runbuilder import EDIT_TOOL, WRITE_TOOL, RunBuilder

NAME = "codex"
TITLE = "Codex CLI rollout JSONL or codex exec --json stream"
LOOKS_FOR = 'JSON lines with "type" session_meta/response_item/event_msg and a "payload", or thread.started/item.completed events'

_ROLLOUT = {"session_meta", "turn_context", "response_item", "event_msg", "compacted"}
_ITEMS = {"message", "reasoning", "function_call", "function_call_output", "custom_tool_call",
          "custom_tool_call_output", "local_shell_call", "web_search_call", "ghost_snapshot",
          "compaction", "compaction_summary", "tool_search_call", "tool_search_output"}
_EXEC = {"thread.started", "turn.started", "turn.completed", "turn.failed", "item.started",
         "item.updated", "item.completed", "error"}
_SHELLS = {"shell", "container.exec", "shell_command", "local_shell"}
_NOT_PROMPT = ("<environment_context>", "<user_instructions>", "# AGENTS.md instructions", "<INSTRUCTIONS>",
               "<turn_aborted>", "<user_shell_command>", "<permissions instructions>")
_EXITED = re.compile(r"(?m)^(?:Process exited with code|Exit code:) (-?\d+)\s*$")
_SESSION = re.compile(r"(?m)^Process running with session ID (\d+)")
_OUTPUT = re.compile(r"(?m)^Output:\n")
_APPLY_PATCH = re.compile(r"\s*(?:cd \S+ && )?apply_patch\b")


def sniff(head: list[dict], text: str) -> bool:
    for rec in head:
        t = rec.get("type")
        if t in _ROLLOUT and "payload" in rec:
            return True
        if t in ("thread.started", "turn.started") or (t and t.startswith("item.") and "item" in rec):
            return True
    first = head[0] if head else {}
    return "instructions" in first and "id" in first and "timestamp" in first


def command_text(cmd) -> str:
    """The command line of a call: the script of ``bash -lc SCRIPT``, else the words joined."""
    if isinstance(cmd, str):
        return cmd
    if isinstance(cmd, list) and all(isinstance(w, str) for w in cmd):
        if len(cmd) >= 3 and cmd[0].rsplit("/", 1)[-1] in ("bash", "zsh", "sh") and cmd[1] in ("-lc", "-c"):
            return cmd[2]
        return shlex.join(cmd)
    return json.dumps(cmd)


def patch_files(patch: str) -> list[tuple[str, str | None]]:
    """(path, new text) for each file of an ``apply_patch`` patch; None for a deletion."""
    files: list[list] = []
    for line in patch.split("\n"):
        for marker in ("*** Add File: ", "*** Update File: ", "*** Delete File: "):
            if line.startswith(marker):
                files.append([line[len(marker):].strip(), [] if "Delete" not in marker else None])
                break
        else:
            if line.startswith("*** Move to: ") and files:
                files[-1][0] = line[len("*** Move to: "):].strip()
            elif files and files[-1][1] is not None and line.startswith("+"):
                files[-1][1].append(line[1:])
    return [(p, None if lines is None else "\n".join(lines)) for p, lines in files]


def _args(raw):
    if isinstance(raw, dict):
        return raw
    try:
        v = json.loads(raw)
    except (TypeError, ValueError):
        return {"input": raw}
    return v if isinstance(v, dict) else {"input": v}


def _result_text(text: str | None) -> tuple[str | None, int | None]:
    """The output of a tool result and the exit code it states, if any."""
    if text is None:
        return None, None
    try:
        v = json.loads(text)
    except ValueError:
        v = None
    if isinstance(v, dict) and "output" in v:
        code = (v.get("metadata") or {}).get("exit_code")
        return text_of(v["output"]), code if isinstance(code, int) else None
    m = _EXITED.search(text)
    o = _OUTPUT.search(text)
    out = text[o.end():] if o else text
    return out, int(m.group(1)) if m else None


class _Reader:
    def __init__(self, b: RunBuilder):
        self.b = b
        self.calls: dict[str, dict] = {}
        self.sessions: dict[str, str] = {}
        self.mcp: set[str] = set()
        self.started: dict[str, tuple] = {}

    # -- rollouts ---------------------------------------------------------

    def record(self, rec: dict, where: str) -> None:
        b, t = self.b, rec.get("type")
        if t in _EXEC:
            return self.exec_event(rec, where)
        if t not in _ROLLOUT:
            if t in _ITEMS:  # an old rollout: the items stand alone
                return self.item(rec, where)
            if "record_type" in rec or ("instructions" in rec and "id" in rec):
                return
            return b.skip(str(t))
        p = need(rec, "payload", where, f"{t} record")
        if t in ("session_meta", "turn_context"):
            if isinstance(p, dict):
                b.cwd = p.get("cwd") or b.cwd
                if t == "session_meta":
                    b.version = p.get("cli_version") or b.version
        elif t == "response_item":
            self.item(p, where)
        elif t == "event_msg":
            self.event(p, where)

    def prompt(self, text: str) -> None:
        self.flush()
        self.b.prompt(text)

    def item(self, p: dict, where: str) -> None:
        b, t = self.b, p.get("type")
        if t == "message":
            role = p.get("role")
            text = text_of(p.get("content")) or ""
            if role == "assistant":
                b.message(text)
            elif role == "user":
                blocks = [text_of(x) or "" for x in p.get("content") or []] if isinstance(p.get("content"), list) else [text]
                if any(x.strip() and not x.lstrip().startswith(_NOT_PROMPT) for x in blocks) and not self._same_prompt(text):
                    self.prompt(text)
        elif t in ("function_call", "custom_tool_call", "local_shell_call"):
            cid = p.get("call_id") or p.get("id")
            if cid is None:
                need(p, "call_id", where, t)
            name = p.get("name") or ("shell" if t == "local_shell_call" else "")
            args = _args(p.get("arguments", p.get("input", p.get("action"))))
            call = {"name": name, "args": args, "turn": b.current, "out": [], "code": None, "end": False}
            if name == "write_stdin":
                sid = str(args.get("session_id"))
                call["target"] = self.sessions.get(sid)
            self.calls[cid] = call
        elif t in ("function_call_output", "custom_tool_call_output"):
            cid = need(p, "call_id", where, t)
            call = self.calls.get(cid)
            if call is None:
                return b.note("a tool output without its call was skipped")
            out, code = _result_text(text_of(p.get("output")))
            call["result"] = out
            m = _SESSION.search(text_of(p.get("output")) or "")
            if m and call["name"] == "exec_command":
                self.sessions[m.group(1)] = cid
            target = self.calls.get(call.get("target")) if call["name"] == "write_stdin" else call
            if target is not None and not target["end"]:
                if out:
                    target["out"].append(out)
                if code is not None:
                    target["code"] = code
        elif t == "web_search_call":
            action = p.get("action") or {k: v for k, v in p.items() if k not in ("type", "status", "id")}
            b.external("web_search", action)
        elif t not in _ITEMS:
            b.skip(f"response_item/{t}")

    def event(self, p: dict, where: str) -> None:
        b, t = self.b, p.get("type")
        if t == "user_message":
            text = p.get("message") or ""
            if text.strip() and not self._same_prompt(text):
                self.prompt(text)
        elif t == "agent_message":
            b.message(p.get("message"))
        elif t == "task_complete":
            b.message(p.get("last_agent_message"))
        elif t == "exec_command_end":
            call = self.calls.get(need(p, "call_id", where, "exec_command_end event"))
            if call is not None:
                out = p.get("aggregated_output")
                if out is None:
                    out = "\n".join(s for s in (p.get("stdout"), p.get("stderr")) if s)
                call.update(out=[out], code=p.get("exit_code"), end=True)
                if p.get("command") is not None:
                    call["command"] = command_text(p["command"])
        elif t == "patch_apply_end":
            call = self.calls.get(p.get("call_id"))
            if call is not None:
                call["success"] = p.get("success")
        elif t in ("mcp_tool_call_end", "mcp_tool_call_begin"):
            inv = p.get("invocation") or {}
            cid = p.get("call_id")
            if t == "mcp_tool_call_end" and cid not in self.mcp:
                self.mcp.add(cid)
                b.external(f"mcp:{inv.get('server')}.{inv.get('tool')}", inv.get("arguments"),
                           text_of(json.dumps(p.get("result"), ensure_ascii=False)) if p.get("result") is not None else None,
                           turn=self.calls.get(cid, {}).get("turn"))
        elif t == "turn_aborted":
            b.note("a turn was interrupted by the user")

    def _same_prompt(self, text: str) -> bool:
        """Whether ``text`` repeats the prompt that opened the current turn (a rollout
        records a prompt both as a response item and as an event)."""
        cur = self.b.current
        return (cur.prompt or "").strip() == text.strip() and not cur.events and not any(
            c["turn"] is cur for c in self.calls.values()
        )

    def flush(self) -> None:
        """Every call seen so far becomes events of the turn it was made in."""
        b = self.b
        for cid, c in self.calls.items():
            name, args, turn = c["name"], c["args"], c["turn"]
            cmd = args.get("command", args.get("cmd"))
            if name in _SHELLS or name == "exec_command":
                if isinstance(cmd, list) and cmd and cmd[0] == "apply_patch" and len(cmd) > 1:
                    self._patch(cmd[1], c)
                    continue
                line = command_text(cmd)
                if _APPLY_PATCH.match(line) and "*** Begin Patch" in line:  # apply_patch <<'EOF' ... EOF
                    self._patch(line[line.index("*** Begin Patch"):], c)
                    continue
                out = "".join(c["out"]) if c["out"] else c.get("result")
                code = c["code"]
                b.command(c.get("command") or command_text(cmd), out, code, isinstance(code, int), turn)
            elif name == "apply_patch":
                self._patch(args.get("input") or args.get("patch") or "", c)
            elif name == "write_stdin":
                continue
            elif cid in self.mcp:
                continue
            else:
                b.other(name or "tool", c.get("result"), turn)
        self.calls.clear()
        self.sessions.clear()

    def _patch(self, patch: str, c: dict) -> None:
        ok = c.get("success")
        if ok is None and c.get("code") is not None:
            ok = c["code"] == 0
        if ok is None and isinstance(c.get("result"), str):
            ok = c["result"].lstrip().startswith(("Success", "Done"))
        if ok is None:
            self.b.note("a patch without a result was not counted as written")
        for path, text in patch_files(patch):
            tool = WRITE_TOOL if "*** Add File: " + path in patch else EDIT_TOOL
            self.b.write(path, text, c.get("result"), tool=tool, applied=bool(ok), turn=c["turn"])

    # -- codex exec --json --------------------------------------------------

    def exec_event(self, rec: dict, where: str) -> None:
        b, t = self.b, rec["type"]
        if t == "turn.started":
            return self.prompt(None)
        if t not in ("item.started", "item.completed"):
            return
        item = need(rec, "item", where, f"{t} event")
        kind = item.get("type") or item.get("item_type")
        iid = item.get("id")
        if t == "item.started":
            if kind == "command_execution":
                self.started[iid] = (item.get("command") or "", b.current)
            return
        if kind in ("agent_message", "assistant_message"):
            b.message(item.get("text"))
        elif kind == "command_execution":
            self.started.pop(iid, None)
            code = item.get("exit_code")
            if item.get("status") == "declined":
                b.other("command_execution", "declined: " + command_text(item.get("command")))
            else:
                b.command(command_text(need(item, "command", where, "command_execution item")),
                          item.get("aggregated_output"), code, isinstance(code, int))
        elif kind == "file_change":
            for ch in item.get("changes") or []:
                b.write(ch.get("path"), None, None, tool=EDIT_TOOL, applied=item.get("status") == "completed")
            b.note("file_change items name the files but not their new text")
        elif kind == "mcp_tool_call":
            res = item.get("result")
            b.external(f"mcp:{item.get('server')}.{item.get('tool')}", item.get("arguments"),
                       None if res is None else json.dumps(res, ensure_ascii=False))
        elif kind == "web_search":
            b.external("web_search", {"query": item.get("query")})
        elif kind not in ("reasoning", "todo_list", "error"):
            b.skip(f"item/{kind}")

    def finish(self) -> None:
        self.flush()
        for cmd, turn in self.started.values():
            self.b.command(command_text(cmd), None, None, False, turn)


def import_file(path: str, b: RunBuilder) -> None:
    r = _Reader(b)
    for n, rec in jsonl_records(path, b):
        r.record(rec, f"{path}:{n}")
    r.finish()
