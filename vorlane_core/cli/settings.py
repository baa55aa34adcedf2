"""Settings kept in a project: ``[tool.vorlane]`` in ``pyproject.toml``, or a
``vorlane.toml``, found upward from the current folder.

The nearest folder holding either file wins; within one folder a
``vorlane.toml`` (whose keys sit at the top level, or under ``[tool.vorlane]``)
comes before ``pyproject.toml``.  Keys are the long options without their
dashes: ``fail-on``, ``format``, ``jobs``, ``model``, ``llm-timeout``.  The
command line overrides every one of them.
"""

from __future__ import annotations

import os
import tomllib
from pathlib import Path
from typing import Any, Callable

from vorlane_core.runlog_file import InputError


def _choice(choices: tuple[str, ...]) -> Callable[[Any], Any]:
    def check(v: Any) -> Any:
        if v not in choices:
            raise ValueError(f"expected one of {', '.join(choices)}")
        return v

    return check


def _positive_int(v: Any) -> int:
    if isinstance(v, bool) or not isinstance(v, int) or v < 1:
        raise ValueError("expected a whole number of at least 1")
    return v


def _positive_number(v: Any) -> float:
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not v > 0 or v == float("inf"):
        raise ValueError("expected a number of seconds above 0")
    return float(v)


def _text(v: Any) -> str:
    if not isinstance(v, str) or not v:
        raise ValueError("expected a non-empty string")
    return v


def _table(path: Path) -> dict[str, Any] | None:
    """The settings table of ``path``, or None when the file holds none."""
    try:
        with open(path, "rb") as f:
            doc = tomllib.load(f)
    except tomllib.TOMLDecodeError as e:
        raise InputError(f"{path}: invalid TOML: {e}") from None
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror or e}") from None
    tool = doc.get("tool", {})
    section = tool.get("vorlane") if isinstance(tool, dict) else None
    if section is None and path.name == "vorlane.toml":
        section = {k: v for k, v in doc.items() if k != "tool"}
    if section is None:
        return None
    if not isinstance(section, dict):
        raise InputError(f"{path}: [tool.vorlane] must be a table")
    return section


def find_settings(start: str | os.PathLike[str] | None = None) -> tuple[Path | None, dict[str, Any]]:
    """The settings file that applies in ``start`` (default: the current
    folder) and its raw table; (None, {}) when there is none."""
    here = Path(start if start is not None else os.getcwd()).resolve()
    for folder in (here, *here.parents):
        for name in ("vorlane.toml", "pyproject.toml"):
            path = folder / name
            if path.is_file():
                table = _table(path)
                if table is not None:
                    return path, table
    return None, {}


def load_settings(choices: dict[str, tuple[str, ...]], start: str | None = None) -> tuple[Path | None, dict[str, Any]]:
    """The settings in force, checked and keyed by argparse destination
    (``fail_on``, ``format``, ``jobs``, ``model``, ``llm_timeout``).

    ``choices`` gives the allowed values of ``fail-on`` and ``format``.
    Raises InputError naming the file and the key for an unknown key or a
    bad value."""
    path, table = find_settings(start)
    checks: dict[str, Callable[[Any], Any]] = {
        "fail-on": _choice(choices["fail-on"]),
        "format": _choice(choices["format"]),
        "jobs": _positive_int,
        "model": _text,
        "llm-timeout": _positive_number,
    }
    out: dict[str, Any] = {}
    for key, value in table.items():
        if key not in checks:
            raise InputError(f"{path}: unknown setting {key!r} (known: {', '.join(checks)})")
        try:
            out[key.replace("-", "_")] = checks[key](value)
        except ValueError as e:
            raise InputError(f"{path}: {key}: {e}, got {value!r}") from None
    return path, out
