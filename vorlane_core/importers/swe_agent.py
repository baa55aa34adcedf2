"""SWE-agent trajectories (``*.traj``): one JSON object whose ``trajectory``
lists the steps, each with the ``action`` typed, the ``observation`` shown
and the ``state`` after it (open file, working directory).  SWE-agent does
not record exit codes, so shell commands stay events.
"""

from __future__ import annotations

import json
import re
import shlex

from vorlane_core.importers.reading import json_document, need, text_of
from vorlane_core.importers.runbuilder import EDIT_TOOL, READ_TOOL, SEARCH_TOOL, WRITE_TOOL, RunBuilder, SessionImportError

NAME = "swe_agent"
TITLE = "SWE-agent trajectory (.traj)"
LOOKS_FOR = 'one JSON object with "trajectory" steps holding "action" and "observation"'

_READS = {"open", "goto", "scroll_up", "scroll_down"}
_SEARCHES = {"find_file", "search_file", "search_dir"}
_REJECTED = ("Your proposed edit has introduced new syntax error", "Your edit was not applied",
             "No replacement was performed", "did not appear verbatim")


def sniff(head: list[dict], text: str) -> bool:
    t = text.lstrip()
    return t.startswith("{") and re.search(r'"trajectory"\s*:\s*\[', t) is not None and '"observation"' in t and (
        '"action"' in t
    ) and '"trajectory_format"' not in t


def _state(step: dict) -> dict:
    s = step.get("state")
    if isinstance(s, str):
        try:
            s = json.loads(s)
        except ValueError:
            return {}
    return s if isinstance(s, dict) else {}


def _words(text: str) -> list[str]:
    try:
        return shlex.split(text)
    except ValueError:
        return text.split()


def _option(words: list[str], name: str):
    if name in words:
        i = words.index(name)
        if i + 1 < len(words):
            return words[i + 1]
    return None


def import_file(path: str, b: RunBuilder) -> None:
    doc = json_document(path)
    if not isinstance(doc, dict):
        raise SessionImportError(f"{path}: expected a JSON object")
    steps = need(doc, "trajectory", path, "the trajectory file")
    info = doc.get("info") if isinstance(doc.get("info"), dict) else {}
    b.version = info.get("swe_agent_version") or b.version
    task = None
    for m in doc.get("history") or []:
        if isinstance(m, dict) and m.get("role") == "user":
            task = text_of(m.get("content"))
            break
    b.prompt(task or "")
    open_file = None
    for i, step in enumerate(steps):
        where = f"{path}: trajectory[{i}]"
        action = need(step, "action", where, "step")
        out = text_of(step.get("observation"))
        state = _state(step)
        if b.cwd is None and isinstance(state.get("working_dir"), str):
            b.cwd = state["working_dir"]
        if isinstance(step.get("thought"), str):
            b.message(step["thought"])
        _action(b, (action or "").strip(), out, open_file or state.get("open_file"))
        if isinstance(state.get("open_file"), str) and state["open_file"] != "n/a":
            open_file = state["open_file"]
        if (action or "").strip().split(" ", 1)[0] == "submit":
            b.other("submit", info.get("submission"))
    if not steps:
        b.warn("the trajectory has no steps")


def _action(b: RunBuilder, action: str, out: str | None, open_file) -> None:
    head, _, rest = action.partition(" ")
    head = head.split("\n", 1)[0]
    rejected = bool(out) and any(r in out for r in _REJECTED)
    if open_file == "n/a":
        open_file = None
    if head in _READS:
        target = _words(rest)[0] if head == "open" and rest.strip() else open_file
        b.read(out, target, READ_TOOL)
    elif head in _SEARCHES:
        b.read(out, None, SEARCH_TOOL)
    elif head == "create":
        b.write(_words(rest)[0] if rest.strip() else None, "", out, tool=WRITE_TOOL, applied=not rejected)
    elif head == "edit" or head == "insert":
        body = action.split("\n", 1)[1] if "\n" in action else ""
        if body.rstrip().endswith(("end_of_edit", "end_of_insert")):
            payload = body.rstrip().rsplit("\n", 1)[0] if "\n" in body.rstrip() else ""
        else:
            words = _words(rest)
            payload = words[1] if head == "edit" and len(words) > 1 else (words[0] if words else body)
        b.write(open_file, payload, out, tool=EDIT_TOOL, applied=not rejected)
    elif head == "str_replace_editor":
        words = _words(rest)
        cmd, target = (words + [None, None])[:2]
        if cmd == "view":
            b.read(out, target, READ_TOOL)
        elif cmd == "create":
            b.write(target, _option(words, "--file_text"), out, tool=WRITE_TOOL, applied=not rejected)
        elif cmd in ("str_replace", "insert"):
            b.write(target, _option(words, "--new_str"), out, tool=EDIT_TOOL, applied=not rejected)
        else:
            b.other("str_replace_editor", out)
    elif head == "submit":
        return
    elif action:
        b.command(action, out, None, False)
