"""JSON text as the command reads it from run files.

Python's json module, with these rules on top:

* a key that appears twice in one object is refused, with the key and the
  path of its object (``L.commands[0]``): the json module would silently keep
  the last value, and ``"exit_code": 1, ..., "exit_code": 0`` would then read
  as a success;
* an integer too long for Python to convert (over ``sys.get_int_max_str_digits()``
  digits, 4300 by default) is refused with its position;
* nesting too deep for the parser is refused.

Numbers otherwise read as the json module reads them: integers of any other
size exactly, ``NaN`` and ``Infinity`` accepted.
"""

from __future__ import annotations

import json
import re
import sys
from typing import Any, Iterator

from vorlane_core.input_files import InputError

__all__ = ["parse_json", "decode_utf8"]


class _Duplicate(Exception):
    pass


def _unique(pairs: list[tuple[str, Any]]) -> dict[str, Any]:
    d = dict(pairs)
    if len(d) != len(pairs):
        raise _Duplicate
    return d


class _Pairs(list):
    """An object's members in document order (only built to name a duplicate)."""


_NAME_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_-]*")


def _step(path: str, key: str) -> str:
    if _NAME_RE.fullmatch(key):
        return f"{path}.{key}" if path else key
    return f"{path}[{json.dumps(key, ensure_ascii=False)}]"


def _members(path: str, value: Any) -> tuple[str, Iterator[tuple[Any, Any]], set[str] | None] | None:
    if isinstance(value, _Pairs):
        return path, iter(value), set()
    if isinstance(value, list):
        return path, iter(enumerate(value)), None
    return None


def _duplicate(text: str) -> str:
    """Where the first repeated key of ``text`` (which holds one) is, in
    document order; the walk keeps its own stack, as deep as the text."""
    top = _members("", json.loads(text, object_pairs_hook=_Pairs))
    stack = [top] if top else []
    while stack:
        path, members, seen = stack[-1]
        member = next(members, None)
        if member is None:
            stack.pop()
            continue
        key, value = member
        if seen is None:
            inner = f"{path}[{key}]"
        elif key in seen:
            where = f"{path}: " if path else ""
            return f"{where}duplicate key {json.dumps(key, ensure_ascii=False)} (a key may appear once in an object)"
        else:
            seen.add(key)
            inner = _step(path, key)
        m = _members(inner, value)
        if m:
            stack.append(m)
    return "duplicate key"  # not reached: the first parse found one


def _long_integer(text: str, name: str, e: ValueError) -> InputError:
    limit = getattr(sys, "get_int_max_str_digits", lambda: 0)()
    m = re.search(r"-?\d{%d,}(?![\d.eE])" % (limit + 1), text) if limit else None
    if m is None:
        return InputError(f"{name}: invalid JSON: {e}")
    line = text.count("\n", 0, m.start()) + 1
    column = m.start() - (text.rfind("\n", 0, m.start()) + 1) + 1
    digits = len(m.group()) - m.group().startswith("-")
    return InputError(
        f"{name}: invalid JSON at line {line}, column {column}: an integer of {digits} digits "
        f"(at most {limit} are read)"
    )


def parse_json(text: str, name: str) -> Any:
    """The JSON value of ``text`` read from ``name`` (which error messages start with)."""
    try:
        return json.loads(text, object_pairs_hook=_unique)
    except _Duplicate:
        raise InputError(f"{name}: {_duplicate(text)}") from None
    except json.JSONDecodeError as e:
        raise InputError(f"{name}: invalid JSON at line {e.lineno}, column {e.colno}: {e.msg}") from None
    except RecursionError:
        raise InputError(f"{name}: invalid JSON: nested too deeply") from None
    except ValueError as e:  # an integer past the conversion limit
        raise _long_integer(text, name, e) from None


def _bytes_text(b: bytes) -> str:
    return ("byte " if len(b) == 1 else "bytes ") + " ".join(f"0x{x:02x}" for x in b)


def decode_utf8(data: bytes, name: str, *, lines: bool = True) -> str:
    """UTF-8 text of ``data``.  The error names the bad bytes and where they
    are: line and column in a file (whose leading byte-order mark is
    dropped), only the column when ``lines`` is false (one line of a .jsonl
    file)."""
    try:
        return data.decode("utf-8-sig" if lines else "utf-8")
    except UnicodeDecodeError as e:
        bad = _bytes_text(data[e.start : e.end])
        column = e.start - (data.rfind(b"\n", 0, e.start) + 1) + 1
        if not lines:
            raise InputError(f"{name}: not valid UTF-8 text: {bad} at column {column}") from None
        line = data.count(b"\n", 0, e.start) + 1
        raise InputError(f"{name}: not valid UTF-8 text: {bad} at line {line}, column {column}") from None
