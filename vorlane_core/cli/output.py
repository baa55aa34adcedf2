"""Exit statuses, error lines and JSON on standard output."""

from __future__ import annotations

import json
import sys
from typing import Any

from vorlane_core.cli.terminal import one_line

EXIT_OK, EXIT_FAIL, EXIT_BAD = 0, 1, 2


def error(msg: str) -> None:
    print(f"vorlane: {one_line(msg)}", file=sys.stderr)


def print_json(doc: Any) -> None:
    sys.stdout.write(json.dumps(doc, ensure_ascii=False, indent=2) + "\n")
