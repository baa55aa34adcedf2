"""``--format json`` (also ``--json``): one versioned JSON document.

The document is described in docs/output.md and by the JSON Schema
docs/check-result.schema.json.  :func:`run_object` is the shape of one run of
a batch, the same whether it stands in the "runs" array or on a line of its own.
"""

from __future__ import annotations

import json
from typing import Any, Mapping

from vorlane_core import __version__
from vorlane_core.check import fails
from vorlane_core.cli.formats.base import Output

# Raised when a reader of an older document could misread a newer one
# (a key removed or its meaning changed); new keys do not raise it.
SCHEMA_VERSION = 1
TOOL = {"name": "vorlane", "version": __version__}


def claim_object(claim: Mapping[str, Any]) -> dict[str, Any]:
    keys = ("text", "kind", "targets", "verdict", "note", "evidence", "position")
    return {k: claim.get(k) for k in keys}


def run_object(result: Mapping[str, Any]) -> dict[str, Any]:
    """One run of a batch: {"name", "summary", "claims"} or {"name", "error"}."""
    if "error" in result:
        out: dict[str, Any] = {"name": result["name"], "error": result["error"]}
    else:
        out = {
            "name": result["name"],
            "summary": dict(result["summary"]),
            "claims": [claim_object(c) for c in result["claims"]],
        }
    if "import" in result:  # what importing a session noticed
        out["import"] = result["import"]
    return out


def header(fail_on: str) -> dict[str, Any]:
    return {"schema_version": SCHEMA_VERSION, "tool": dict(TOOL), "fail_on": fail_on}


def single_document(result: Mapping[str, Any], fail_on: str) -> dict[str, Any]:
    doc = header(fail_on)
    doc["failed"] = fails(result["summary"], fail_on)
    doc["claims"] = [claim_object(c) for c in result["claims"]]
    doc["summary"] = dict(result["summary"])
    return doc


class JsonOutput(Output):
    def _write(self, doc: Any) -> None:
        self.stream.write(json.dumps(doc, ensure_ascii=False, indent=2) + "\n")

    def single(self, result: Mapping[str, Any]) -> None:
        doc = single_document(result, self.fail_on)
        if "import" in result:  # what importing a session noticed
            doc["import"] = result["import"]
        self._write(doc)

    def batch_start(self) -> None:
        self.runs: list[dict[str, Any]] = []

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self.runs.append(run_object(result))

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        doc = header(self.fail_on)
        doc["failed"] = fails(totals, self.fail_on)
        doc["runs"] = self.runs
        doc["summary"] = dict(totals)
        doc["bad_runs"] = bad
        self._write(doc)
