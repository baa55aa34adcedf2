"""``--format sarif``: SARIF 2.1.0 for GitHub code scanning and other viewers.

One rule per verdict; one result per claim that is not verified, located in
the report file with the claim's region (columns count Unicode code points:
``columnKind`` says so).  A report held inside a run file has no region of
that file: its result points at the file (line 1, or the run's line of a
.jsonl file) and keeps the claim's place in the report under
``properties.reportPosition``.  Runs of a batch that could not be checked are
``toolExecutionNotifications`` of the invocation.  The document is written
as the runs arrive, so a batch of any size needs no more memory than one run.
"""

from __future__ import annotations

import hashlib
import json
import os
import urllib.parse
from pathlib import Path
from typing import Any, Mapping

from vorlane_core import __version__
from vorlane_core.check import VERDICTS
from vorlane_core.cli.formats.base import Output

SARIF_SCHEMA = "https://json.schemastore.org/sarif-2.1.0.json"

_RULES = {
    "verified": ("VerifiedClaim", "none", "The claim is backed by the run",
                 "A literal of the claim turns up in what the run wrote, in a command that succeeded, in an external action or in a tool's output."),
    "unverified": ("UnverifiedClaim", "warning", "Nothing the run did backs the claim",
                   "The claim's literals appear nowhere in the run log, or only in content the agent read."),
    "contradicted": ("ContradictedClaim", "error", "The run contradicts the claim",
                     "The claim says a command ran, and every run of that command in the log failed."),
    "unchecked": ("UncheckedClaim", "note", "The claim has nothing to check",
                  "The claim has nothing literal to check, or it is a bare mention whose literals are not in the log."),
    "pre-existing": ("PreExistingClaim", "warning", "The claim's work was already there",
                     "The claim says something was added or created, but it appears only in content the agent read."),
}


def rules() -> list[dict[str, Any]]:
    out = []
    for v in VERDICTS:
        name, level, short, full = _RULES[v]
        out.append(
            {
                "id": v,
                "name": name,
                "shortDescription": {"text": short},
                "fullDescription": {"text": full},
                "help": {"text": f"{full} See the claim's note for the evidence."},
                "defaultConfiguration": {"level": level},
                "properties": {"tags": ["agent-report", "vorlane"]},
            }
        )
    return out


def artifact_uri(path: str) -> str:
    """A relative path as a relative URI (forward slashes, escaped); an absolute one as a file: URI."""
    if os.path.isabs(path):
        return Path(path).as_uri()
    return urllib.parse.quote(path.replace(os.sep, "/"))


class SarifOutput(Output):
    def _start(self) -> None:
        log = {
            "$schema": SARIF_SCHEMA,
            "version": "2.1.0",
            "runs": [
                {
                    "tool": {
                        "driver": {
                            "name": "vorlane",
                            "version": __version__,
                            "semanticVersion": __version__,
                            "rules": rules(),
                        }
                    },
                    "columnKind": "unicodeCodePoints",
                    "results": "@RESULTS@",
                }
            ],
        }
        text = json.dumps(log, ensure_ascii=False, indent=2)
        self.head, self.tail = text.split('"@RESULTS@"')
        self.stream.write(self.head + "[")
        self.count = 0
        self.notifications: list[dict[str, Any]] = []

    def _result(self, claim: Mapping[str, Any], source: Mapping[str, Any]) -> dict[str, Any]:
        verdict = claim["verdict"]
        pos = claim.get("position")
        if source["embedded"] or pos is None:
            region = {"startLine": source.get("line") or 1}
        else:
            region = {
                "startLine": pos["line"],
                "startColumn": pos["column"],
                "endLine": pos["end_line"],
                "endColumn": pos["end_column"],
            }
        key = f"{source['path']}\0{claim['text']}\0{verdict}".encode("utf-8", "surrogatepass")
        result: dict[str, Any] = {
            "ruleId": verdict,
            "ruleIndex": VERDICTS.index(verdict),
            "level": "error" if self.fails_gate(verdict) else "warning",
            "message": {"text": f"{verdict}: {claim['text']}\n{claim['note']}"},
            "locations": [
                {
                    "physicalLocation": {
                        "artifactLocation": {"uri": artifact_uri(source["path"])},
                        "region": region,
                    }
                }
            ],
            "partialFingerprints": {"vorlaneClaim/v1": hashlib.sha256(key).hexdigest()[:32]},
            "properties": {"kind": claim["kind"], "targets": list(claim["targets"])},
        }
        if source["embedded"] and pos is not None:
            result["properties"]["reportPosition"] = dict(pos)
        return result

    def _add(self, result: Mapping[str, Any]) -> None:
        source = self.source_of(result)
        if "error" in result:
            self.notifications.append(
                {
                    "level": "error",
                    "message": {"text": f"{result['name']}: could not be checked: {result['error']}"},
                    "locations": [{"physicalLocation": {"artifactLocation": {"uri": artifact_uri(source["path"])}}}],
                }
            )
            return
        for claim in result["claims"]:
            if claim["verdict"] == "verified":
                continue
            text = json.dumps(self._result(claim, source), ensure_ascii=False, indent=2)
            sep = "," if self.count else ""
            self.stream.write(sep + "\n" + "\n".join("        " + line for line in text.splitlines()))
            self.count += 1

    def _end(self) -> None:
        self.stream.write(("\n      " if self.count else "") + "]")
        invocation = {"executionSuccessful": not self.notifications}
        if self.notifications:
            invocation["toolExecutionNotifications"] = self.notifications
        inv = json.dumps([invocation], ensure_ascii=False, indent=2).replace("\n", "\n      ")
        tail = self.tail.rstrip()
        self.stream.write(',\n      "invocations": ' + inv + tail + "\n")

    def single(self, result: Mapping[str, Any]) -> None:
        self._start()
        self._add(result)
        self._end()

    def batch_start(self) -> None:
        self._start()

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self._add(result)

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        self._end()
