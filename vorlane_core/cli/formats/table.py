"""``--format table`` (the default): the verdict table for people."""

from __future__ import annotations

from typing import Any, Mapping

from vorlane_core.cli.formats.base import Output
from vorlane_core.cli.table import batch_footer, render_batch, render_claims, summary_text
from vorlane_core.cli.terminal import Style, colour_wanted, width_of


class TableOutput(Output):
    def _style(self) -> Style:
        return Style(colour_wanted(self.stream, getattr(self.args, "color", "auto")))

    def single(self, result: Mapping[str, Any]) -> None:
        style = self._style()
        rows = result["claims"]
        lines = render_claims(rows, width_of(self.stream), style) if rows else ["no claims found in the report"]
        lines += ["", summary_text(result["summary"], style)]
        self.stream.write("\n".join(lines) + "\n")

    def batch_start(self) -> None:
        # Only names and counts are kept: a batch may hold very many runs.
        self.rows: list[dict[str, Any]] = []

    def batch_run(self, result: Mapping[str, Any]) -> None:
        row = {"name": result["name"]}
        row.update({k: result[k] for k in ("summary", "error") if k in result})
        self.rows.append(row)

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        style = self._style()
        lines = render_batch(self.rows, totals, width_of(self.stream), style)
        lines += ["", batch_footer(self.rows, totals, style)]
        self.stream.write("\n".join(lines) + "\n")
