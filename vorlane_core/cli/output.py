"""Exit statuses and error lines."""

from __future__ import annotations

import sys

from vorlane_core.cli.terminal import one_line

EXIT_OK, EXIT_FAIL, EXIT_BAD = 0, 1, 2


def error(msg: str) -> None:
    print(f"vorlane: {one_line(msg)}", file=sys.stderr)


def warn(msg: str) -> None:
    """A warning on standard error, unless the command line asked for quiet."""
    if not _quiet:
        print(f"vorlane: warning: {one_line(msg)}", file=sys.stderr)


_quiet = False


def set_quiet(quiet: bool) -> None:
    global _quiet
    _quiet = quiet


def note(msg: str) -> None:
    """A remark on standard error, unless the command line asked for quiet."""
    if not _quiet:
        print(f"vorlane: {one_line(msg)}", file=sys.stderr)
