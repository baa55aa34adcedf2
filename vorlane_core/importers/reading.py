"""Reading session files: JSON Lines one line at a time, whole JSON documents,
and the checks that turn a bad record into a message naming line and field."""

from __future__ import annotations

import json
from typing import Any, Iterator

from vorlane_core.importers.runbuilder import RunBuilder, SessionImportError
from vorlane_core.runlog_file import InputError, load_json_file


def _open(path: str):
    try:
        return open(path, "rb")
    except FileNotFoundError:
        raise SessionImportError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise SessionImportError(f"{path}: is a directory, not a file") from None
    except OSError as e:
        raise SessionImportError(f"{path}: cannot read: {e.strerror or e}") from None


def jsonl_records(path: str, b: RunBuilder | None) -> Iterator[tuple[int, dict]]:
    """(line number, object) for every non-blank line of a JSON Lines file.

    A last line that is not valid JSON is a session still being written: it is
    skipped with a warning.  An invalid line anywhere else is an error.
    """
    with _open(path) as f:
        pending: tuple[int, bytes] | None = None
        for n, raw in enumerate(f, start=1):
            if not raw.strip():
                continue
            if pending is not None:
                yield pending[0], _parse_line(path, pending[0], pending[1], last=False, b=b)
            pending = (n, raw)
        if pending is not None:
            obj = _parse_line(path, pending[0], pending[1], last=True, b=b)
            if obj is not None:
                yield pending[0], obj


def _parse_line(path: str, n: int, raw: bytes, last: bool, b: RunBuilder | None) -> Any:
    if n == 1 and raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    try:
        obj = json.loads(raw)
    except UnicodeDecodeError as e:
        raise SessionImportError(f"{path}:{n}: not valid UTF-8 text ({e.reason})") from None
    except json.JSONDecodeError as e:
        if last:
            if b is not None:
                b.warn(f"line {n}: incomplete last line skipped (the session was still being written?)")
            return None
        raise SessionImportError(f"{path}:{n}: invalid JSON at column {e.colno}: {e.msg}") from None
    except RecursionError:
        raise SessionImportError(f"{path}:{n}: invalid JSON: nested too deeply") from None
    if not isinstance(obj, dict):
        raise SessionImportError(f"{path}:{n}: expected a JSON object on each line, got {type(obj).__name__}")
    return obj


def json_document(path: str) -> Any:
    """The JSON value of a whole-document session file."""
    try:
        return load_json_file(path)
    except SessionImportError:
        raise
    except InputError as e:
        raise SessionImportError(str(e)) from None


def need(obj: Any, key: str, where: str, what: str) -> Any:
    """``obj[key]``, or an error naming where the record is and the missing field."""
    if not isinstance(obj, dict):
        raise SessionImportError(f"{where}: {what}: expected an object, got {type(obj).__name__}")
    if key not in obj:
        raise SessionImportError(f'{where}: {what} has no "{key}" field')
    return obj[key]


def text_of(value: Any) -> str | None:
    """The text held in a string or in a list of text blocks (``{"type": "text", "text": ...}``)."""
    if value is None:
        return None
    if isinstance(value, str):
        return value
    if isinstance(value, list):
        parts = []
        for block in value:
            if isinstance(block, str):
                parts.append(block)
            elif isinstance(block, dict) and isinstance(block.get("text"), str):
                parts.append(block["text"])
        return "\n".join(parts)
    if isinstance(value, dict) and isinstance(value.get("text"), str):
        return value["text"]
    return json.dumps(value, ensure_ascii=False)
