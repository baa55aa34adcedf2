"""OpenHands trajectories: the event stream saved with ``save_trajectory_path``
(a JSON list of actions and observations, an observation naming its action
through ``cause``).  A ``run`` observation carries ``metadata.exit_code``;
-1 there means the command had not finished (a timeout or a process left
running), so its outcome is unknown.
"""

from __future__ import annotations

import re

from vorlane_core.importers.reading import json_document, need, text_of
from vorlane_core.importers.runbuilder import CODE_TOOL, EDIT_TOOL, READ_TOOL, RunBuilder, SessionImportError

NAME = "openhands"
TITLE = "OpenHands trajectory JSON"
LOOKS_FOR = 'a JSON list of events with "source" and "action" or "observation"'

_EXIT_TEXT = re.compile(r"exit code (-?\d+)")


def sniff(head: list[dict], text: str) -> bool:
    t = text.lstrip()
    return (t.startswith("[") or '"history"' in t[:200]) and re.search(r'"source"\s*:\s*"(agent|user|environment)"', t) is not None and (
        re.search(r'"(action|observation)"\s*:', t) is not None
    )


def _events(doc, path: str) -> list:
    if isinstance(doc, dict):
        for key in ("history", "events", "trajectory"):
            if isinstance(doc.get(key), list):
                return doc[key]
    if isinstance(doc, list):
        return doc
    raise SessionImportError(f"{path}: expected a list of OpenHands events")


def import_file(path: str, b: RunBuilder) -> None:
    events = _events(json_document(path), path)
    obs = {}
    for e in events:
        if isinstance(e, dict) and "observation" in e and e.get("cause") is not None:
            obs[e["cause"]] = e
    for i, e in enumerate(events):
        where = f"{path}: event {i}"
        if not isinstance(e, dict):
            raise SessionImportError(f"{where}: expected an object")
        if "observation" in e:
            continue  # read with the action that caused it
        action = need(e, "action", where, "event")
        args = e.get("args") or {}
        o = obs.get(e.get("id")) or {}
        ext = o.get("extras") or {}
        content = o.get("content")
        failed = o.get("observation") == "error"
        if b.cwd is None and isinstance((ext.get("metadata") or {}).get("working_dir"), str):
            b.cwd = ext["metadata"]["working_dir"]
        if action == "message":
            text = args.get("content", e.get("message"))
            if e.get("source") == "user":
                b.prompt(text_of(text) or "")
            else:
                b.message(text_of(text))
        elif action == "finish":
            b.message(args.get("final_thought") or args.get("thought") or e.get("message"))
        elif action == "run":
            code = (ext.get("metadata") or {}).get("exit_code")
            if not isinstance(code, int):
                m = _EXIT_TEXT.search(o.get("message") or "")
                code = int(m.group(1)) if m else None
            known = isinstance(code, int) and code != -1
            b.command(args.get("command") or "", content, code if known else None, known)
        elif action == "run_ipython":
            b.command(args.get("code") or "", content, None, False, tool=CODE_TOOL)
        elif action == "read":
            b.read(content, args.get("path"), READ_TOOL)
        elif action == "edit":
            _edit(b, args, ext, content, failed)
        elif action in ("write",):
            b.write(args.get("path"), args.get("content"), content, applied=not failed)
        elif action.startswith("browse") or action in ("call_tool_mcp", "mcp"):
            b.external(action, {k: v for k, v in args.items() if k != "thought"}, content)
        elif action in ("system", "change_agent_state", "recall", "condensation"):
            continue
        else:
            b.other(action, content)


def _edit(b: RunBuilder, args: dict, ext: dict, content, failed: bool) -> None:
    cmd = args.get("command")
    path = args.get("path")
    if cmd == "view":
        b.read(content, path, READ_TOOL)
        return
    payload = args.get("file_text") or args.get("new_str") or args.get("content") or ext.get("new_content")
    tool = "write_file" if cmd == "create" or ext.get("prev_exist") is False else EDIT_TOOL
    b.write(path, payload, content, tool=tool, applied=not failed)
