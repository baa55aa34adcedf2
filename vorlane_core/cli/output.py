"""Exit statuses and error lines."""

from __future__ import annotations

import sys

from vorlane_core.cli.terminal import one_line

EXIT_OK, EXIT_FAIL, EXIT_BAD = 0, 1, 2


def error(msg: str) -> None:
    print(f"vorlane: {one_line(msg)}", file=sys.stderr)
