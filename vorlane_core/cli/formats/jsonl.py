"""``--format jsonl``: one JSON object per line, written as each run is checked.

The format for big batches: nothing is kept, each line is flushed as it is
written, and the output can be appended to and resumed (``-o FILE``).  A
line is ``{"name", "summary", "claims"}`` for a checked run and
``{"name", "error"}`` for one that could not be checked; a single run
(``--log``) is one line named after its log file.
"""

from __future__ import annotations

import json
from typing import Any, Mapping

from vorlane_core.cli.formats.base import Output


class JsonlOutput(Output):
    def _line(self, obj: Mapping[str, Any]) -> None:
        self.stream.write(json.dumps(obj, ensure_ascii=False) + "\n")
        self.stream.flush()

    def single(self, result: Mapping[str, Any]) -> None:
        name = result.get("name", getattr(self.args, "log", None))
        self._line({"name": name, "summary": result["summary"], "claims": result["claims"]})

    def batch_run(self, result: Mapping[str, Any]) -> None:
        if "error" in result:
            self._line({"name": result["name"], "error": result["error"]})
        else:
            self._line({"name": result["name"], "summary": result["summary"], "claims": result["claims"]})

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        pass  # every run is on its line; the exit status gives the outcome
