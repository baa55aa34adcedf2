"""Reading reports and run-log files for the ``vorlane`` command.

Everything here only reads.  Every problem with an input ends in an
:class:`InputError` whose message is ready to show to a person: it names the
file and, for a log of the wrong shape, the path of the offending field
(``log.events[3].tool``).

A run file is a JSON object, either

* the run log itself: ``{"events": [...], "external": [...], "written": [...],
  "commands": [...]}``, or
* a run: ``{"report": "...", "log": {...}}`` (or with the key ``"L"`` in place
  of ``"log"``); other keys, such as ``"source"`` and ``"meta"``, are ignored.

A batch of runs is a directory of such ``.json`` files or a ``.jsonl`` file
with one run per line.
"""

from __future__ import annotations

import json
import os
import sys
from dataclasses import dataclass
from typing import Any, Iterator

# Tools whose events carry the command line or code that was run: the
# verdict core's own list.
from vorlane_core.verify import COMMAND_TOOLS

__all__ = [
    "InputError",
    "Run",
    "RunSource",
    "read_report",
    "load_json_file",
    "parse_run",
    "check_log",
    "batch_sources",
]

LOG_KEYS = ("events", "external", "written", "commands")


class InputError(Exception):
    """An input that cannot be used; ``str(error)`` is the message to show."""


@dataclass
class Run:
    """One run: the report (None when the file holds only a log) and its log."""

    report: str | None
    log: dict


# ---------------------------------------------------------------------------
# Files
# ---------------------------------------------------------------------------


STDIN = "-"  # the file name that stands for standard input


def _read_bytes(path: str) -> bytes:
    if path == STDIN:
        return sys.stdin.buffer.read()
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise InputError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise InputError(f"{path}: is a directory, not a file") from None
    except PermissionError:
        raise InputError(f"{path}: permission denied") from None
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror or e}") from None


def display_name(path: str) -> str:
    """How messages name the file at ``path``."""
    return "<stdin>" if path == STDIN else path


def _bytes_text(b: bytes) -> str:
    return ("byte " if len(b) == 1 else "bytes ") + " ".join(f"0x{x:02x}" for x in b)


def _decode(data: bytes, name: str) -> str:
    """UTF-8 text of ``data`` (a leading byte-order mark is dropped)."""
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        line = data.count(b"\n", 0, e.start) + 1
        column = e.start - (data.rfind(b"\n", 0, e.start) + 1) + 1
        raise InputError(
            f"{name}: not valid UTF-8 text: {_bytes_text(data[e.start : e.end])} at line {line}, column {column}"
        ) from None


def read_report(path: str) -> str:
    """The text of a report file: UTF-8, with CR LF and lone CR read as LF."""
    text = _decode(_read_bytes(path), display_name(path))
    return text.replace("\r\n", "\n").replace("\r", "\n")


def _parse_json(text: str, name: str) -> Any:
    try:
        return json.loads(text)
    except json.JSONDecodeError as e:
        raise InputError(f"{name}: invalid JSON at line {e.lineno}, column {e.colno}: {e.msg}") from None
    except RecursionError:
        raise InputError(f"{name}: invalid JSON: nested too deeply") from None


def load_json_file(path: str) -> Any:
    """The JSON value held in the file at ``path``."""
    name = display_name(path)
    return _parse_json(_decode(_read_bytes(path), name), name)


# ---------------------------------------------------------------------------
# Shape of a run and of its log
# ---------------------------------------------------------------------------


def _type_name(v: Any) -> str:
    if v is None:
        return "null"
    if isinstance(v, bool):
        return "a boolean"
    if isinstance(v, (int, float)):
        return "a number"
    if isinstance(v, str):
        return "a string"
    if isinstance(v, list):
        return "an array"
    if isinstance(v, dict):
        return "an object"
    return type(v).__name__


class _ShapeError(Exception):
    def __init__(self, where: str, problem: str):
        super().__init__(f"{where}: {problem}")


def _expect(value: Any, types: tuple, what: str, where: str) -> None:
    # bool is a subclass of int: only accept it where it is asked for.
    if isinstance(value, bool) and bool not in types:
        ok = False
    else:
        ok = isinstance(value, types) or (value is None and type(None) in types)
    if not ok:
        raise _ShapeError(where, f"expected {what}, got {_type_name(value)}")


def _member(obj: dict, key: str, where: str) -> Any:
    if key not in obj:
        raise _ShapeError(where, f'missing "{key}"')
    return obj[key]


def _check_event(e: Any, where: str) -> None:
    _expect(e, (dict,), "an object", where)
    tool = _member(e, "tool", where)
    _expect(tool, (str,), "a string", f"{where}.tool")
    wrote = _member(e, "wrote", where)
    # Read by its truth value, so any text, even "false", would count as a
    # write: only true and false are taken.
    _expect(wrote, (bool,), "a boolean", f"{where}.wrote")
    _expect(_member(e, "output", where), (str, type(None)), "a string or null", f"{where}.output")
    if "payload" in e or wrote:
        _expect(_member(e, "payload", where), (str, type(None)), "a string or null", f"{where}.payload")
    if tool in COMMAND_TOOLS:
        _expect(_member(e, "command", where), (str,), "a string", f"{where}.command")


def _check_external(x: Any, where: str) -> None:
    _expect(x, (dict,), "an object", where)
    _member(x, "args", where)  # any JSON value will do


def _check_command(c: Any, where: str) -> None:
    _expect(c, (dict,), "an object", where)
    _expect(_member(c, "command", where), (str,), "a string", f"{where}.command")
    _expect(
        _member(c, "exit_code", where),
        (int, str, float, bool, type(None)),
        "a number, a string, a boolean or null",
        f"{where}.exit_code",
    )
    if "output" in c:
        _expect(c["output"], (str, type(None)), "a string or null", f"{where}.output")


def _check_log(log: Any, root: str) -> None:
    _expect(log, (dict,), "an object", root)
    for key in LOG_KEYS:
        _expect(_member(log, key, root), (list,), "an array", f"{root}.{key}")
    for i, e in enumerate(log["events"]):
        _check_event(e, f"{root}.events[{i}]")
    for i, x in enumerate(log["external"]):
        _check_external(x, f"{root}.external[{i}]")
    for i, w in enumerate(log["written"]):
        _expect(w, (str,), "a string", f"{root}.written[{i}]")
    for i, c in enumerate(log["commands"]):
        _check_command(c, f"{root}.commands[{i}]")


def check_log(log: Any, root: str = "log") -> None:
    """Raise InputError unless ``log`` has the shape of a run log.

    The message names the path of the first bad field, starting at ``root``.
    """
    try:
        _check_log(log, root)
    except _ShapeError as e:
        raise InputError(str(e)) from None


def parse_run(obj: Any, name: str) -> Run:
    """The run held in the JSON value ``obj`` read from ``name``."""
    if not isinstance(obj, dict):
        raise InputError(f"{name}: expected a JSON object (a run or a run log), got {_type_name(obj)}")
    log_keys = [k for k in ("log", "L") if k in obj]
    if len(log_keys) == 2:
        raise InputError(f'{name}: holds both "log" and "L"; keep one of them')
    if log_keys:
        root = log_keys[0]
        log = obj[root]
        report = obj.get("report")
        if report is not None and not isinstance(report, str):
            raise InputError(f"{name}: report: expected a string, got {_type_name(report)}")
    elif any(k in obj for k in LOG_KEYS):
        root, log, report = "log", obj, None
    else:
        raise InputError(
            f'{name}: not a run: expected a run log (an object with "events", "external", '
            f'"written" and "commands") or an object with "report" and "log"'
        )
    try:
        _check_log(log, root)
    except _ShapeError as e:
        raise InputError(f"{name}: {e}") from None
    return Run(report, log)


# ---------------------------------------------------------------------------
# Batches
# ---------------------------------------------------------------------------


@dataclass
class RunSource:
    """One run of a batch, not yet read: ``load()`` reads and checks it."""

    name: str
    path: str
    line: int | None = None  # the line number of a .jsonl run
    text: str | None = None  # the line's text, when it could be decoded
    error: str | None = None  # a problem found while listing the batch

    def load(self) -> Run:
        if self.error is not None:
            raise InputError(self.error)
        if self.line is None:
            run = parse_run(load_json_file(self.path), self.name)
        else:
            run = parse_run(_parse_json(self.text, self.name), self.name)
        if run.report is None:
            raise InputError(f'{self.name}: no report: a run of a batch needs a "report" string')
        return run


def _jsonl_sources(path: str) -> Iterator[RunSource]:
    data = _read_bytes(path)
    for i, raw in enumerate(data.split(b"\n"), start=1):
        name = f"{path}:{i}"
        if not raw.strip():
            continue
        if i == 1 and raw.startswith(b"\xef\xbb\xbf"):
            raw = raw[3:]
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            bad = _bytes_text(raw[e.start : e.end])
            yield RunSource(name, path, i, error=f"{name}: not valid UTF-8 text: {bad} at column {e.start + 1}")
            continue
        yield RunSource(name, path, i, text=text)


def batch_sources(path: str) -> list[RunSource]:
    """The runs at ``path``: a directory of .json files (sorted by name, not
    recursive), a .jsonl file (one run per non-blank line) or one .json file."""
    if os.path.isdir(path):
        try:
            names = sorted(n for n in os.listdir(path) if n.endswith(".json"))
        except OSError as e:
            raise InputError(f"{path}: cannot list: {e.strerror or e}") from None
        files = [os.path.join(path, n) for n in names]
        return [RunSource(f, f) for f in files if not os.path.isdir(f)]
    if path.endswith(".jsonl"):
        return list(_jsonl_sources(path))
    if not os.path.exists(path):
        raise InputError(f"{path}: no such file or directory")
    if path.endswith(".json"):
        return [RunSource(path, path)]
    raise InputError(f"{path}: expected a directory of .json runs, a .jsonl file or a .json file")
