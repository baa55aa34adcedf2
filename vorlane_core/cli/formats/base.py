"""What every output format is told, and what it is given to write with."""

from __future__ import annotations

import argparse
from typing import Any, Mapping, TextIO

from vorlane_core.check import FAIL_ON


class Output:
    """One format.  ``stream`` is where it writes (standard output);
    ``args`` the parsed command line (fail-on rule, width settings...).

    Besides "claims" and "summary", a result handed to a format may hold
    "report" (the report's text, which the positions refer to) and "source"
    (``{"path": file, "embedded": bool, "line": int or None}``: the file the
    report was read from, whether the report is a string inside that file (a
    run file) rather than the file itself, and for a run on one line of a
    .jsonl file that line)."""

    def __init__(self, stream: TextIO, args: argparse.Namespace):
        self.stream = stream
        self.args = args

    # -- what the formats share ------------------------------------------

    @property
    def fail_on(self) -> str:
        return getattr(self.args, "fail_on", None) or "contradicted"

    def fails_gate(self, verdict: str) -> bool:
        """Whether a claim with ``verdict`` fails the ``--fail-on`` rule."""
        return verdict in FAIL_ON.get(self.fail_on, ())

    def source_of(self, result: Mapping[str, Any]) -> dict[str, Any]:
        """Where the report of ``result`` was read from (see the class description)."""
        src = result.get("source")
        if isinstance(src, Mapping) and src.get("path"):
            return {"path": str(src["path"]), "embedded": bool(src.get("embedded")), "line": src.get("line")}
        report = getattr(self.args, "report", None)
        if report is not None and "name" not in result:
            return {"path": str(report), "embedded": False, "line": None}
        path = result.get("name") or getattr(self.args, "log", None) or "report"
        return {"path": str(path), "embedded": True, "line": None}

    # -- the interface ----------------------------------------------------

    def single(self, result: Mapping[str, Any]) -> None:
        """One run: ``result`` holds "claims" and "summary" (and "name" when known)."""
        raise NotImplementedError

    def batch_start(self) -> None:
        """A batch begins; runs follow through :meth:`batch_run`."""

    def batch_run(self, result: Mapping[str, Any]) -> None:
        """One run of the batch, in input order: "name" and either "claims" and
        "summary", or "error"."""
        raise NotImplementedError

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        """The batch is over: the verdict counts over all runs, and how many
        runs could not be checked."""
        raise NotImplementedError


class Silent(Output):
    """What ``--quiet`` prints: nothing (the exit status tells the outcome)."""

    def single(self, result: Mapping[str, Any]) -> None:
        pass

    def batch_run(self, result: Mapping[str, Any]) -> None:
        pass

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        pass
