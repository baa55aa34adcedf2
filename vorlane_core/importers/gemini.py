"""Gemini CLI saved sessions (~/.gemini/tmp/<project hash>/chats/session-*.json).

One JSON object whose ``messages`` are ``user`` and ``gemini`` messages (and
``info``/``error``/``warning`` notices); a gemini message carries its tool
calls in ``toolCalls``, each with ``name``, ``args``, ``status`` and the
function response in ``result``.  ``run_shell_command`` states
``Exit Code: N`` (or ``(none)``) in its output.
"""

from __future__ import annotations

import re

from vorlane_core.importers.reading import json_document, need, text_of
from vorlane_core.importers.runbuilder import EDIT_TOOL, READ_TOOL, SEARCH_TOOL, RunBuilder, SessionImportError, is_slash_command

NAME = "gemini"
TITLE = "Gemini CLI saved session JSON"
LOOKS_FOR = 'one JSON object with "sessionId" and "messages" of type user/gemini'

_EXIT = re.compile(r"(?m)^Exit Code: (-?\d+|\(none\))\s*$")
_READS = {"read_file", "read_many_files"}
_SEARCHES = {"list_directory", "glob", "search_file_content", "grep", "grep_search", "ls"}
_WEB = {"google_web_search", "web_fetch", "web_search"}
_SHELL = {"run_shell_command", "shell"}


def sniff(head: list[dict], text: str) -> bool:
    t = text.lstrip()
    return t.startswith("{") and '"messages"' in t and (
        re.search(r'"type"\s*:\s*"gemini"', t) is not None or ('"sessionId"' in t and '"projectHash"' in t)
    )


def _output(call: dict) -> str | None:
    res = call.get("result")
    parts = []
    if isinstance(res, list):
        for r in res:
            fr = r.get("functionResponse") if isinstance(r, dict) else None
            if isinstance(fr, dict):
                resp = fr.get("response")
                if isinstance(resp, dict):
                    v = resp.get("output", resp.get("error", resp.get("content")))
                    parts.append(text_of(v) if v is not None else text_of(resp) or "")
                else:
                    parts.append(text_of(resp) or "")
            elif isinstance(r, dict) and isinstance(r.get("text"), str):
                parts.append(r["text"])
    elif res is not None:
        parts.append(text_of(res) or "")
    if not parts and isinstance(call.get("resultDisplay"), str):
        parts.append(call["resultDisplay"])
    return "\n".join(parts) if parts else None


def import_file(path: str, b: RunBuilder) -> None:
    doc = json_document(path)
    if not isinstance(doc, dict):
        raise SessionImportError(f"{path}: expected a JSON object, got {type(doc).__name__}")
    messages = need(doc, "messages", path, "the session")
    if not isinstance(messages, list):
        raise SessionImportError(f'{path}: "messages" is not a list')
    for i, m in enumerate(messages):
        where = f"{path}: messages[{i}]"
        kind = need(m, "type", where, "message")
        if kind == "user":
            text = text_of(m.get("content")) or ""
            if text.strip() and not is_slash_command(text):
                b.prompt(text)
        elif kind in ("gemini", "model", "assistant"):
            for j, call in enumerate(m.get("toolCalls") or []):
                _call(b, call, f"{where}.toolCalls[{j}]")
            b.message(text_of(m.get("content")))
        elif kind in ("info", "error", "warning"):
            continue
        else:
            b.skip(str(kind))


def _call(b: RunBuilder, call: dict, where: str) -> None:
    name = need(call, "name", where, "tool call")
    args = call.get("args") or {}
    out = _output(call)
    ok = call.get("status") in (None, "success")
    path = args.get("file_path") or args.get("absolute_path") or args.get("path")
    if name in _SHELL:
        m = _EXIT.search(out or "")
        known = m is not None and m.group(1) != "(none)"
        b.command(args.get("command") or "", out, int(m.group(1)) if known else None, known)
    elif name == "write_file":
        b.write(path, args.get("content"), out, applied=ok)
    elif name in ("replace", "edit"):
        b.write(path, args.get("new_string"), out, tool=EDIT_TOOL, applied=ok)
    elif name in _READS:
        b.read(out, path if isinstance(path, str) else None, READ_TOOL)
    elif name in _SEARCHES:
        b.read(out, path if isinstance(path, str) else None, SEARCH_TOOL)
    elif name in _WEB or "__" in name:
        b.external(name, args, out)
    else:
        b.other(name, out)
