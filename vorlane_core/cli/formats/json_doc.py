"""``--format json``: one JSON document on standard output."""

from __future__ import annotations

import json
from typing import Any, Mapping

from vorlane_core.cli.formats.base import Output


class JsonOutput(Output):
    def _write(self, doc: Any) -> None:
        self.stream.write(json.dumps(doc, ensure_ascii=False, indent=2) + "\n")

    def single(self, result: Mapping[str, Any]) -> None:
        doc = {"claims": result["claims"], "summary": result["summary"]}
        if "import" in result:  # what importing a session noticed
            doc["import"] = result["import"]
        self._write(doc)

    def batch_start(self) -> None:
        self.runs: list[Mapping[str, Any]] = []

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self.runs.append(result)

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        self._write({"runs": self.runs, "summary": totals, "bad_runs": bad})
