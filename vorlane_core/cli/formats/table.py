"""``--format table`` (the default): the verdict table for people."""

from __future__ import annotations

from typing import Any, Mapping

from vorlane_core.check import FAIL_ON
from vorlane_core.cli.formats.base import Output
from vorlane_core.cli.table import batch_footer, render_batch, render_claims, summary_lines
from vorlane_core.cli.terminal import Style, colour_wanted, width_of


class TableOutput(Output):
    def _style(self) -> Style:
        return Style(colour_wanted(self.stream, getattr(self.args, "color", "auto")))

    @property
    def full(self) -> bool:
        return bool(getattr(self.args, "full", False))

    def single(self, result: Mapping[str, Any]) -> None:
        style, width = self._style(), width_of(self.stream)
        rows = result["claims"]
        lines = render_claims(rows, width, style, self.full) if rows else ["no claims found in the report"]
        lines += [""] + summary_lines(result["summary"], style, width)
        self.stream.write("\n".join(lines) + "\n")

    def batch_start(self) -> None:
        # Only what the table shows is kept: a batch may hold very many runs.
        self.rows: list[dict[str, Any]] = []
        self.listed = FAIL_ON.get(self.fail_on) or ("contradicted",)

    def batch_run(self, result: Mapping[str, Any]) -> None:
        row: dict[str, Any] = {"name": result["name"]}
        if "error" in result:
            row["error"] = result["error"]
        else:
            row["summary"] = dict(result["summary"])
            listed = [
                (c["verdict"], (c.get("position") or {}).get("line"), c["text"], c["note"])
                for c in result["claims"]
                if self.full or c["verdict"] in self.listed
            ]
            if listed:
                row["listed"] = listed
        self.rows.append(row)

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        style, width = self._style(), width_of(self.stream)
        lines = render_batch(self.rows, totals, width, style, self.full)
        lines += [""] + batch_footer(self.rows, totals, style, width)
        self.stream.write("\n".join(lines) + "\n")
