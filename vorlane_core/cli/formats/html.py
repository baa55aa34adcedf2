"""``--format html``: one self-contained page to review a run (or a batch).

The summary and the verdict filters are on top; below, the report as written,
each claim highlighted in its verdict's colour, with its verdict, kind, note
and targets shown on hover, focus or click; then the list of claims (those
that could not be placed in the report are marked so).  A batch is one page:
a section per run, written as the runs arrive, with an index of the runs on
top.  Nothing is fetched: style and script are inline, and the page's
content security policy forbids any request.
"""

from __future__ import annotations

import html
from typing import Any, Mapping, Sequence

from vorlane_core import __version__
from vorlane_core.check import VERDICTS, fails
from vorlane_core.cli.formats.base import Output
from vorlane_core.cli.formats.html_assets import CSP, CSS, JS
from vorlane_core.safe_text import hidden as _hidden


_KEEP = "\n\t"  # shown as they are in the report


def shown(text: str, keep: str = "") -> str:
    """``text`` as HTML; characters that would hide or reorder text (control
    and format characters, lone surrogates) shown as visible escapes."""
    out, run = [], []
    for ch in text:
        if ch in keep or not _hidden(ch):
            run.append(ch)
            continue
        out.append(html.escape("".join(run)))
        run = []
        out.append(f'<span class="esc">{html.escape(ascii(ch)[1:-1])}</span>')
    out.append(html.escape("".join(run)))
    return "".join(out)


def chips(summary: Mapping[str, int]) -> str:
    return "".join(f'<span class="chip v-{v}" data-count="{v}">{summary[v]} {v}</span>' for v in VERDICTS)


def status(failed: bool, fail_on: str) -> str:
    word = "fails" if failed else "passes"
    return f'<span class="status {"fail" if failed else "pass"}">{word} --fail-on {fail_on}</span>'


def evidence_lines(claim: Mapping[str, Any]) -> str:
    """One line per literal the note names: where the log had it."""
    lines = []
    for e in claim.get("evidence") or ():
        where = e["where"] + (f" (exit {e['exit_code']})" if "exit_code" in e else "")
        lines.append(f"<br><small>{shown(e['literal']) if 'literal' in e else '—'}: {shown(where)}</small>")
    return "".join(lines)


def tip(claim: Mapping[str, Any]) -> str:
    targets = ", ".join(shown(t) for t in claim["targets"]) or "none"
    return (
        f'<span class="tip"><b>{claim["verdict"]}</b> · {shown(str(claim["kind"]))}<br>'
        f'{shown(claim["note"])}<br><small>targets: {targets}</small>{evidence_lines(claim)}</span>'
    )


def report_html(report: str, claims: Sequence[Mapping[str, Any]], run: int) -> str:
    """The report with each located claim in a <mark> (claims that overlap one
    already marked are left to the list)."""
    placed = sorted(
        ((c["position"]["offset"], c["position"]["end_offset"], i) for i, c in enumerate(claims) if c.get("position")),
    )
    out, at = [], 0
    for start, end, i in placed:
        if start < at or end > len(report) or start >= end:
            continue
        c = claims[i]
        out.append(shown(report[at:start], keep=_KEEP))
        inner = shown(report[start:end], keep=_KEEP)
        out.append(
            f'<mark class="claim v-{c["verdict"]}" id="c{run}-{i + 1}" data-verdict="{c["verdict"]}" tabindex="0">'
            f"{inner}{tip(c)}</mark>"
        )
        at = end
    out.append(shown(report[at:], keep=_KEEP))
    return "".join(out)


def claims_list(claims: Sequence[Mapping[str, Any]], run: int) -> str:
    items = []
    for i, c in enumerate(claims, start=1):
        pos = c.get("position")
        where = f"line {pos['line']}" if pos else "not found in the report"
        items.append(
            f'<li class="claim v-{c["verdict"]}" data-verdict="{c["verdict"]}">'
            f'<a href="#c{run}-{i}"><b>{c["verdict"]}</b></a> · {where} · {shown(c["text"])}'
            f'<div class="note">{shown(c["note"])}</div></li>'
        )
    return f'<ol class="claims">{"".join(items)}</ol>'


def run_section(result: Mapping[str, Any], run: int, title: str | None, fail_on: str) -> str:
    head = ""
    if title is not None:
        head = f"<h2>{shown(title)}</h2>"
    if "error" in result:
        return f'<section class="run" id="run-{run}">{head}<p class="error">could not be checked: {shown(result["error"])}</p></section>\n'
    if title is not None:
        head += f'<p>{status(fails(result["summary"], fail_on), fail_on)} {chips(result["summary"])}</p>'
    claims = result["claims"]
    report = result.get("report")
    body = f'<pre class="report">{report_html(report, claims, run)}</pre>' if isinstance(report, str) else ""
    body += claims_list(claims, run) if claims else "<p>No claims found in the report.</p>"
    return f'<section class="run" id="run-{run}">{head}{body}</section>\n'


def page_head(title: str) -> str:
    return (
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        f'<meta http-equiv="Content-Security-Policy" content="{CSP}">'
        '<meta name="viewport" content="width=device-width, initial-scale=1">'
        f'<meta name="generator" content="vorlane {__version__}">'
        f"<title>{shown(title)}</title><style>{CSS}</style></head>\n<body>\n"
    )


def top(title: str, summary: Mapping[str, int], failed: bool, fail_on: str, extra: str = "") -> str:
    boxes = "".join(
        f'<label class="v-{v}"><input type="checkbox" data-verdict="{v}" checked> '
        f'<span class="chip">{v} ({summary[v]})</span></label>'
        for v in VERDICTS
    )
    n = summary["total"]
    return (
        f'<header class="top"><h1>{shown(title)}</h1>'
        f'<p class="summary">{status(failed, fail_on)} {n} claim{"s" if n != 1 else ""}{extra}: {chips(summary)}</p>'
        f'<div class="filters">Show: {boxes}</div></header>\n'
    )


def page_end() -> str:
    return f"<script>{JS}</script>\n</body></html>\n"


class HtmlOutput(Output):
    def single(self, result: Mapping[str, Any]) -> None:
        source = self.source_of(result)["path"]
        title = f"vorlane check: {source}"
        failed = fails(result["summary"], self.fail_on)
        self.stream.write(page_head(title))
        self.stream.write(top(title, result["summary"], failed, self.fail_on))
        self.stream.write(run_section(result, 1, None, self.fail_on))
        self.stream.write(page_end())

    def batch_start(self) -> None:
        self.index: list[str] = []
        self.stream.write(page_head("vorlane check: batch"))

    def batch_run(self, result: Mapping[str, Any]) -> None:
        n = len(self.index) + 1
        self.stream.write(run_section(result, n, result["name"], self.fail_on))
        link = f'<a href="#run-{n}">{shown(result["name"])}</a>'
        if "error" in result:
            cells = f'<td colspan="{len(VERDICTS) + 1}" class="error">could not be checked</td>'
        else:
            s = result["summary"]
            cells = f"<td>{s['total']}</td>" + "".join(f'<td class="v-{v}">{s[v]}</td>' for v in VERDICTS)
        self.index.append(f"<tr><td>{link}</td>{cells}</tr>")

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        runs = len(self.index)
        extra = f" in {runs} run{'s' if runs != 1 else ''}" + (f", {bad} could not be checked" if bad else "")
        self.stream.write(top("vorlane check: batch", totals, fails(totals, self.fail_on), self.fail_on, extra))
        heads = "".join(f"<th>{v}</th>" for v in ["claims", *VERDICTS])
        self.stream.write(
            f'<nav class="index"><table><thead><tr><th>run</th>{heads}</tr></thead>'
            f'<tbody>{"".join(self.index)}</tbody></table></nav>\n'
        )
        self.stream.write(page_end())
