"""The session formats and how a file's format is told from its content."""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Callable

from vorlane_core.importers import aider, claude_code, cline, codex, gemini, mini_swe_agent, openhands, swe_agent
from vorlane_core.importers.runbuilder import RunBuilder, SessionImportError
from vorlane_core.input_files import InputError, open_input

HEAD_BYTES = 256 * 1024
HEAD_LINES = 40
SCAN_BYTES = 64 * 1024 * 1024


@dataclass(frozen=True)
class Format:
    name: str
    title: str
    looks_for: str
    sniff: Callable[[list, str], bool]
    import_file: Callable[[str, RunBuilder], None]


# In the order detection tries them: the JSON Lines formats first, then the
# single documents (whose keys are more alike), then the text formats.
FORMATS: dict[str, Format] = {
    m.NAME: Format(m.NAME, m.TITLE, m.LOOKS_FOR, m.sniff, m.import_file)
    for m in (claude_code, codex, gemini, swe_agent, mini_swe_agent, openhands, cline, aider)
}


def _head(path: str) -> tuple[list[dict], str]:
    """The JSON objects of the first lines of a file and the text of its head."""
    try:
        f, _ = open_input(path)  # refuses FIFOs and devices without blocking on them
    except InputError as e:
        raise SessionImportError(str(e)) from None
    try:
        with f:
            data = f.read(HEAD_BYTES)
    except OSError as e:
        raise SessionImportError(f"{path}: cannot read: {e.strerror or e}") from None
    text = data.decode("utf-8", errors="replace").lstrip("\ufeff")
    records = []
    for line in text.split("\n")[:HEAD_LINES]:
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            obj = json.loads(line)
        except (ValueError, RecursionError):
            continue
        if isinstance(obj, dict):
            records.append(obj)
    return records, text


def _not_found(path: str) -> SessionImportError:
    looked = "\n".join(f"  {f.name}: {f.title} ({f.looks_for})" for f in FORMATS.values())
    return SessionImportError(
        f"{path}: not a session file of a known format. Formats and what was looked for:\n{looked}\n"
        f"Name the format with --from FORMAT if the file is one of these."
    )


def detect_format(path: str) -> str:
    """The name of the format of the session file (or Cline task folder) at ``path``."""
    if os.path.isdir(path):
        if os.path.isfile(os.path.join(path, "ui_messages.json")):
            return cline.NAME
        raise SessionImportError(f"{path}: is a directory, not a file (nor a Cline task folder with ui_messages.json)")
    if path.endswith("api_conversation_history.json"):
        path = cline.ui_messages_path(path)
    records, text = _head(path)
    for fmt in FORMATS.values():
        if fmt.sniff(records, text):
            return fmt.name
    if not text.lstrip().startswith(("{", "[")):
        found = _scan(path)
        if found:
            return found
    raise _not_found(path)


def _scan(path: str) -> str | None:
    """A text format whose marks come after a long preamble (a terminal log's set-up output)."""
    text_formats = [FORMATS[n] for n in (mini_swe_agent.NAME, aider.NAME)]
    tail = ""
    with open(path, "rb") as f:
        for _ in range(SCAN_BYTES // HEAD_BYTES):
            chunk = f.read(HEAD_BYTES)
            if not chunk:
                break
            text = tail + chunk.decode("utf-8", errors="replace")
            for fmt in text_formats:
                if fmt.sniff([], text):
                    return fmt.name
            tail = text[-200:]
    return None


def get_format(name: str) -> Format:
    key = name.strip().lower().replace("-", "_")
    aliases = {"claude": "claude_code", "claudecode": "claude_code", "gemini_cli": "gemini", "codex_cli": "codex",
               "sweagent": "swe_agent", "mini": "mini_swe_agent", "minisweagent": "mini_swe_agent"}
    key = aliases.get(key, key)
    if key not in FORMATS:
        raise SessionImportError(f"unknown format {name!r}; the formats are: {', '.join(FORMATS)}")
    return FORMATS[key]
