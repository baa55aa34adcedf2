"""Importers: the session files that agent tools write, read as the run the checker takes.

::

    from vorlane_core.importers import import_session

    run = import_session("~/.claude/projects/-home-me-proj/5f1c….jsonl")
    run.report      # the agent's last message of the turn
    run.log         # {"events", "external", "written", "commands"}
    run.meta        # format, tool version, turn, warnings

``turn`` picks what the run log covers: ``"last"`` (the default) is the last
real user prompt up to the end of the session, ``"all"`` the whole session,
and a number N the N-th prompt's turn.  Every problem with a file raises
:class:`SessionImportError`, an :class:`~vorlane_core.runlog_file.InputError`.
"""

from __future__ import annotations

import os
from typing import Any

from vorlane_core.importers.registry import FORMATS, detect_format, get_format
from vorlane_core.importers.runbuilder import ImportedRun, RunBuilder, SessionImportError

__all__ = ["import_session", "detect_format", "FORMATS", "ImportedRun", "SessionImportError"]


def import_session(path: str, *, fmt: str | None = None, turn: Any = "last") -> ImportedRun:
    """The run held in the session file at ``path`` (its format detected unless ``fmt`` names it)."""
    path = os.path.expanduser(path)
    name = get_format(fmt).name if fmt else detect_format(path)
    b = RunBuilder(name, turn)
    try:
        FORMATS[name].import_file(path, b)
    except SessionImportError:
        raise
    except RecursionError:
        raise SessionImportError(f"{path}: nested too deeply to import as {name}") from None
    except (KeyError, TypeError, ValueError, AttributeError, IndexError) as e:
        # A record of the right format but an unexpected shape.
        raise SessionImportError(f"{path}: not a usable {FORMATS[name].title} file: {type(e).__name__}: {e}") from None
    except OSError as e:
        raise SessionImportError(f"{path}: cannot read: {e.strerror or e}") from None
    return b.finish(path)
