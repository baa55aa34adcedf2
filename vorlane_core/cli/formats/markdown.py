"""``--format markdown``: a table ready to post as a pull-request comment.

The same text is what ``--format github`` appends to the step summary.
"""

from __future__ import annotations

import re
from typing import Any, Mapping, Sequence

from vorlane_core.check import VERDICTS, fails
from vorlane_core.cli.formats.base import Output
from vorlane_core.cli.terminal import visible

ICON = {
    "verified": "✅",
    "unverified": "⚠️",
    "contradicted": "❌",
    "unchecked": "➖",
    "pre-existing": "↩️",
}
_BREAK = re.compile(r"\r\n?|\n|[\v\f\x1c-\x1e\x85\u2028\u2029]")
# How many failing claims of a batch are listed before the rest is only counted.
BATCH_LISTED = 200


def cell(text: Any) -> str:
    """``text`` as the content of one table cell: HTML-sensitive characters as
    entities, "|" escaped (a backslash before it doubled, so that it cannot
    escape the escape), line breaks as <br>, hidden characters escaped."""
    s = visible(str(text), keep="\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029\t")
    s = s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    s = re.sub(r"(\\*)\|", lambda m: m.group(1) * 2 + "\\|", s)
    s = s.replace("\t", " ")
    return _BREAK.sub("<br>", s)


def code(text: str) -> str:
    """``text`` as an inline code span that no backtick in it can end."""
    text = cell(text)
    longest = max((len(m) for m in re.findall(r"`+", text)), default=0)
    fence = "`" * (longest + 1)
    pad = " " if text.startswith("`") or text.endswith("`") else ""
    return f"{fence}{pad}{text}{pad}{fence}"


def counts_line(summary: Mapping[str, int]) -> str:
    return " · ".join(f"{ICON[v]} {summary[v]} {v}" for v in VERDICTS)


def verdict_cell(verdict: str) -> str:
    return f"{ICON.get(verdict, '')} {verdict}".strip()


def claims_table(claims: Sequence[Mapping[str, Any]]) -> list[str]:
    lines = ["| Verdict | Line | Claim | Note |", "| --- | ---: | --- | --- |"]
    for c in claims:
        pos = c.get("position")
        line = str(pos["line"]) if pos else ""
        lines.append(f"| {verdict_cell(c['verdict'])} | {line} | {cell(c['text'])} | {cell(c['note'])} |")
    return lines


def verdict_word(failed: bool) -> str:
    return "**fails**" if failed else "passes"


def single_markdown(result: Mapping[str, Any], source: str, fail_on: str) -> str:
    summary = result["summary"]
    failed = fails(summary, fail_on)
    n = summary["total"]
    lines = [
        f"### vorlane: {n} claim{'s' if n != 1 else ''} in {code(source)} — {verdict_word(failed)} `--fail-on {fail_on}`",
        "",
        counts_line(summary),
        "",
    ]
    lines += claims_table(result["claims"]) if result["claims"] else ["No claims found in the report."]
    return "\n".join(lines) + "\n"


class BatchMarkdown:
    """A batch as Markdown, built run by run: a row of counts per run, then
    the claims that fail the gate under the name of their run (the first
    :data:`BATCH_LISTED` of them)."""

    def __init__(self, fail_on: str, gate: Sequence[str]):
        self.fail_on, self.gate = fail_on, tuple(gate)
        self.rows = ["| Run | Claims | " + " | ".join(verdict_cell(v) for v in VERDICTS) + " |"]
        self.rows.append("| --- | ---: | " + " | ".join("---:" for _ in VERDICTS) + " |")
        self.failing: list[str] = []
        self.listed = self.unlisted = 0

    def add(self, result: Mapping[str, Any]) -> None:
        name = code(result["name"])
        if "error" in result:
            self.rows.append(f"| {name} | could not be checked: {cell(result['error'])} |" + " |" * len(VERDICTS))
            return
        s = result["summary"]
        self.rows.append(f"| {name} | {s['total']} | " + " | ".join(str(s[v]) for v in VERDICTS) + " |")
        bad = [c for c in result["claims"] if c["verdict"] in self.gate]
        room = max(0, BATCH_LISTED - self.listed)
        if bad and room:
            self.failing += ["", f"#### {name}", ""] + claims_table(bad[:room])
        self.listed += min(len(bad), room)
        self.unlisted += max(0, len(bad) - room)

    def text(self, totals: Mapping[str, int], bad: int, runs: int) -> str:
        failed = fails(totals, self.fail_on)
        head = [
            f"### vorlane: {runs} run{'s' if runs != 1 else ''}, {totals['total']} claims — "
            f"{verdict_word(failed)} `--fail-on {self.fail_on}`"
            + (f", {bad} could not be checked" if bad else ""),
            "",
            counts_line(totals),
            "",
        ]
        total = f"| **Total** | {totals['total']} | " + " | ".join(str(totals[v]) for v in VERDICTS) + " |"
        lines = head + self.rows + [total]
        if self.failing:
            lines += ["", "#### Claims that fail the gate"] + self.failing
        if self.unlisted:
            lines += ["", f"…and {self.unlisted} more."]
        return "\n".join(lines) + "\n"


class MarkdownOutput(Output):
    def single(self, result: Mapping[str, Any]) -> None:
        self.stream.write(single_markdown(result, self.source_of(result)["path"], self.fail_on))

    def batch_start(self) -> None:
        from vorlane_core.check import FAIL_ON

        self.batch = BatchMarkdown(self.fail_on, FAIL_ON.get(self.fail_on) or ("contradicted",))
        self.runs = 0

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self.batch.add(result)
        self.runs += 1

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        self.stream.write(self.batch.text(totals, bad, self.runs))
