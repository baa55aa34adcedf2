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

import os
from dataclasses import dataclass
from typing import Any, Iterable, Iterator

from vorlane_core.input_files import (
    STDIN,
    InputError,
    line_spans,
    line_too_long,
    max_input_bytes,
    open_input,
    read_input,
    read_lines,
    read_span,
)
from vorlane_core.json_input import decode_utf8, parse_json

# Tools whose events carry the command line or code that was run: the
# verdict core's own list.
from vorlane_core.verify import COMMAND_TOOLS

__all__ = [
    "InputError",
    "Run",
    "RunSource",
    "Batch",
    "read_report",
    "load_json_file",
    "parse_run",
    "check_log",
    "batch_sources",
    "iter_sources",
    "max_input_bytes",
]

LOG_KEYS = ("events", "external", "written", "commands")


@dataclass
class Run:
    """One run: the report (None when the file holds only a log) and its log."""

    report: str | None
    log: dict


# ---------------------------------------------------------------------------
# Files (input_files reads them: regular files and standard input only, each
# with a size limit; json_input parses them, refusing duplicate keys)
# ---------------------------------------------------------------------------


def _limit(max_bytes: int | None) -> int:
    return max_input_bytes() if max_bytes is None else max_bytes


def display_name(path: str) -> str:
    """How messages name the file at ``path``."""
    return "<stdin>" if path == STDIN else path


def read_report(path: str, max_bytes: int | None = None) -> str:
    """The text of a report file (``-``: standard input): UTF-8, with CR LF
    and lone CR read as LF.  ``max_bytes`` defaults to :func:`max_input_bytes`."""
    name = display_name(path)
    text = decode_utf8(read_input(path, _limit(max_bytes), name), name)
    if "\r" in text:
        text = text.replace("\r\n", "\n").replace("\r", "\n")
    return text


def load_json_file(path: str, max_bytes: int | None = None) -> Any:
    """The JSON value held in the file at ``path`` (``-``: standard input)."""
    name = display_name(path)
    return parse_json(decode_utf8(read_input(path, _limit(max_bytes), name), name), name)


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
    data: bytes | None = None  # the line's bytes (a .jsonl run from standard input)
    span: tuple[int, int] | None = None  # or its offset and length in the file
    error: str | None = None  # a problem found while listing the batch

    def load(self, max_bytes: int | None = None) -> Run:
        if self.error is not None:
            raise InputError(self.error)
        if self.line is None:
            obj = load_json_file(self.path, max_bytes)
        else:
            data = (self.data if self.span is None else read_span(self.path, *self.span, name=self.name)) or b""
            if self.line == 1 and data.startswith(b"\xef\xbb\xbf"):
                data = data[3:]
            obj = parse_json(decode_utf8(data, self.name, lines=False), self.name)
        run = parse_run(obj, self.name)
        if run.report is None:
            raise InputError(f'{self.name}: no report: a run of a batch needs a "report" string')
        return run


def _jsonl_sources(path: str, max_bytes: int) -> Iterator[RunSource]:
    # One line at a time: a .jsonl batch is never held whole.  A file's lines
    # are passed on as offsets, read where they are checked; standard input's
    # as bytes.
    if path != "-":
        for i, offset, length, blank in line_spans(path):
            name = f"{path}:{i}"
            if length > max_bytes:
                yield RunSource(name, path, i, error=line_too_long(name, max_bytes))
            elif not blank:
                yield RunSource(name, path, i, span=(offset, length))
        return
    for i, raw in read_lines(path, max_bytes):
        name = f"{path}:{i}"
        if raw is None:
            yield RunSource(name, path, i, error=line_too_long(name, max_bytes))
        elif raw.strip():
            yield RunSource(name, path, i, data=raw)


def _listing(path: str) -> list[str]:
    """The .json entries of a directory that are not directories, sorted by name."""
    try:
        with os.scandir(path) as entries:
            names = [e.name for e in entries if e.name.endswith(".json") and not _is_dir(e)]
    except OSError as e:
        raise InputError(f"{path}: cannot list: {e.strerror or e}") from None
    names.sort()
    return names


def _is_dir(entry: os.DirEntry) -> bool:
    try:
        return entry.is_dir()
    except OSError:
        return False


class Batch:
    """The runs at some paths: each a directory of .json files (sorted by
    name, not recursive), a .jsonl file with one run per non-blank line
    (``-``: standard input) or one .json file.

    The paths are checked and the directories listed (names only) when the
    batch is made, so that a bad path is reported before any run is checked;
    the runs themselves are read one at a time by :meth:`sources`."""

    def __init__(self, paths: Iterable[str]):
        self._parts: list[tuple[str, str, list[str]]] = []
        for path in paths:
            if path == "-":
                self._parts.append(("jsonl", path, []))
            elif os.path.isdir(path):
                self._parts.append(("dir", path, _listing(path)))
            elif path.endswith(".jsonl"):
                f, _ = open_input(path)  # exists, and may be read
                f.close()
                self._parts.append(("jsonl", path, []))
            elif not os.path.exists(path):
                raise InputError(f"{path}: no such file or directory")
            elif path.endswith(".json"):
                self._parts.append(("file", path, []))
            else:
                raise InputError(f"{path}: expected a directory of .json runs, a .jsonl file or a .json file")

    @property
    def count(self) -> int | None:
        """How many runs there are, when known without reading (no .jsonl file)."""
        if any(kind == "jsonl" for kind, _, _ in self._parts):
            return None
        return sum(len(names) if kind == "dir" else 1 for kind, _, names in self._parts)

    def sources(self, max_bytes: int | None = None) -> Iterator[RunSource]:
        """The runs in order, one at a time; ``max_bytes`` bounds each run."""
        limit = _limit(max_bytes)
        for kind, path, names in self._parts:
            if kind == "jsonl":
                yield from _jsonl_sources(path, limit)
            elif kind == "dir":
                for n in names:
                    f = os.path.join(path, n)
                    yield RunSource(f, f)
            else:
                yield RunSource(path, path)


def iter_sources(paths: Iterable[str], max_bytes: int | None = None) -> Iterator[RunSource]:
    """The runs at ``paths`` (see :class:`Batch`), one at a time."""
    return Batch(paths).sources(max_bytes)


def batch_sources(path: str) -> list[RunSource]:
    """The runs at ``path`` (see :class:`Batch`), all listed at once."""
    return list(iter_sources([path]))
