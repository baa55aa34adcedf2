"""The verdict tables the command prints: one run's claims, and a batch's runs.

Everything is measured in screen columns (wide East Asian characters and
emoji take two) and no line is wider than the width asked for: the claim and
the note are wrapped, never cut, except that by default a claim longer than
:data:`CLAIM_LINES` lines ends in "…" (``full`` shows it whole).  The kind
column is left out below :data:`KIND_MIN_WIDTH` columns unless ``full``.
"""

from __future__ import annotations

import os
from typing import Any, Mapping, Sequence

from vorlane_core.check import VERDICTS
from vorlane_core.cli.terminal import (
    VERDICT_COLOUR,
    VERDICT_W,
    Style,
    cell_width,
    one_line,
    pad,
    shorten,
    shorten_left,
    wrap,
)

KIND_W = len("external_action")
KIND_MIN_WIDTH = 80  # narrower than this, the kind column is left out
MIN_TEXT = 20  # a claim column narrower than this goes under the verdict
CLAIM_LINES = 4  # lines of a claim shown unless ``full``
GAP = "  "


def summary_lines(summary: Mapping[str, int], style: Style, width: int = 0, lead: str = "") -> list[str]:
    """"N claims: 6 verified, ..." after ``lead``, wrapped between its parts
    to ``width`` columns (0: one line)."""
    n = summary["total"]
    head = lead + f"{n} claim{'s' if n != 1 else ''}:"
    parts = [(f"{summary[v]} {v}", f"{summary[v]} {style.verdict(v) if summary[v] else v}") for v in VERDICTS]
    lines, cur, cur_w = [], head, cell_width(head)
    for i, (plain, styled) in enumerate(parts):
        tail = "," if i < len(parts) - 1 else ""
        w = cell_width(plain) + len(tail)
        if width and cur_w + 1 + w > width and cur_w > 0:
            lines.append(cur)
            cur, cur_w = "  " + styled + tail, 2 + w
        else:
            cur, cur_w = cur + " " + styled + tail, cur_w + 1 + w
    lines.append(cur)
    return lines


def summary_text(summary: Mapping[str, int], style: Style) -> str:
    return summary_lines(summary, style)[0]


def _claim_lines(text: str, width: int, full: bool) -> list[str]:
    lines = wrap(text, width)
    if not full and len(lines) > CLAIM_LINES:
        lines = lines[: CLAIM_LINES - 1] + [shorten(" ".join(lines[CLAIM_LINES - 1 :]), width)]
    return lines


def render_claims(rows: Sequence[Mapping[str, Any]], width: int, style: Style, full: bool = False) -> list[str]:
    """One row per claim: verdict, kind, claim text and note.

    When every claim and its note fit side by side the table has one line per
    claim; otherwise each claim is wrapped beside its verdict and its note goes
    on the lines below, indented."""
    kind_on = full or width >= KIND_MIN_WIDTH
    lead = VERDICT_W + len(GAP) + (KIND_W + len(GAP) if kind_on else 0)
    texts = [one_line(r["text"]) for r in rows]
    notes = [one_line(r["note"]) for r in rows]
    heads = [style.verdict(r["verdict"], VERDICT_W) + GAP + (pad(one_line(str(r["kind"])), KIND_W) + GAP if kind_on else "") for r in rows]
    header = pad("VERDICT", VERDICT_W) + GAP + (pad("KIND", KIND_W) + GAP if kind_on else "")
    room = width - lead
    if room < MIN_TEXT:  # narrow: the claim under its verdict
        lines = [style((header.rstrip() + " / CLAIM / NOTE"), "1")]
        for head, text, note in zip(heads, texts, notes):
            lines.append(head.rstrip())
            lines += ["  " + part for part in _claim_lines(text, width - 2, full)]
            lines += ["    " + part for part in wrap(note, width - 4)]
        return lines
    longest_claim = max(map(cell_width, texts), default=0)
    longest_note = max(map(cell_width, notes), default=0)
    if longest_claim + len(GAP) + longest_note <= room:
        lines = [style((header + pad("CLAIM", longest_claim) + GAP + "NOTE").rstrip(), "1")]
        for head, text, note in zip(heads, texts, notes):
            lines.append(head + pad(text, longest_claim) + GAP + note)
        return lines
    lines = [style(header + "CLAIM / NOTE", "1")]
    for head, text, note in zip(heads, texts, notes):
        claim = _claim_lines(text, room, full)
        lines.append(head + claim[0])
        lines += [" " * lead + part for part in claim[1:]]
        lines += [" " * (lead + 2) + part for part in wrap(note, room - 2)]
    return lines


def common_dir(names: Sequence[str]) -> str:
    """The directory that all run names lie in ("" when there is none)."""
    dirs = [os.path.dirname(n) for n in names]
    if not all(dirs):
        return ""
    try:
        return os.path.commonpath(dirs)
    except ValueError:  # absolute and relative names mixed
        return ""


# The count columns of a batch: their names, and short names for narrow terminals.
HEADS = ["CLAIMS"] + [v.upper() for v in VERDICTS]
SHORT_HEADS = ["ALL", "VER", "UNV", "CON", "UNC", "PRE"]


def listed_claim_lines(claim: Sequence[Any], width: int, style: Style, full: bool) -> list[str]:
    """A claim listed under its run: (verdict, line or None, text, note)."""
    verdict, line, text, note = claim
    head = "  " + style.verdict(verdict, VERDICT_W) + GAP
    lead = 2 + VERDICT_W + len(GAP)
    text = (f"{line}: " if line else "") + one_line(text)
    if width - lead < MIN_TEXT:
        parts = _claim_lines(text, width - 4, full)
        return [head.rstrip()] + ["    " + p for p in parts] + ["      " + p for p in wrap(one_line(note), width - 6)]
    parts = _claim_lines(text, width - lead, full)
    out = [head + parts[0]] + [" " * lead + p for p in parts[1:]]
    return out + [" " * (lead + 2) + p for p in wrap(one_line(note), width - lead - 2)]


def render_batch(
    results: Sequence[Mapping[str, Any]],
    totals: Mapping[str, int],
    width: int,
    style: Style,
    full: bool = False,
) -> list[str]:
    """One row per run (name, claim count, count per verdict), the claims
    listed under it ("listed": (verdict, line, text, note) tuples), then the
    totals.  Runs are named relative to the directory they all lie in."""
    good = [r for r in results if "error" not in r]
    common = common_dir([r["name"] for r in results])
    names = [one_line(os.path.relpath(r["name"], common) if common else r["name"]) for r in results]
    digits = len(str(max([totals.get("total", 0)] + [int(v) for v in totals.values()])))
    longest = max([cell_width(n) for n in names] + [len("RUN"), len("TOTAL")])
    total_label = "TOTAL" if len(good) == len(results) else f"TOTAL ({len(good)} of {len(results)} runs)"
    heads = HEADS
    col_w = [max(len(h), digits) for h in heads]
    if min(longest, 24) + sum(w + len(GAP) for w in col_w) > width:
        heads = SHORT_HEADS
        col_w = [max(len(h), digits) for h in heads]
    name_w = max(len("TOTAL"), min(max(longest, cell_width(total_label)), width - sum(w + len(GAP) for w in col_w)))
    if cell_width(total_label) > name_w:
        total_label = "TOTAL"

    def numbers(summary: Mapping[str, int]) -> str:
        cells = [str(summary["total"]).rjust(col_w[0])]
        for v, w in zip(VERDICTS, col_w[1:]):
            n = summary[v]
            cells.append(style(str(n).rjust(w), VERDICT_COLOUR[v] if n else ""))
        return GAP.join(cells)

    lines = [style(pad("RUN", name_w) + GAP + GAP.join(h.rjust(w) for h, w in zip(heads, col_w)), "1")]
    err_lead = name_w + len(GAP) + len("error: ")
    for r, name in zip(results, names):
        name = pad(shorten_left(name, name_w), name_w)
        if "error" in r:
            msg = wrap(one_line(r["error"]), max(MIN_TEXT, width - err_lead))
            lines.append(name + GAP + style("error: ", "1;31") + msg[0])
            lines += [" " * err_lead + m for m in msg[1:]]
        else:
            lines.append(name + GAP + numbers(r["summary"]))
            for claim in r.get("listed", ()):
                lines += listed_claim_lines(claim, width, style, full)
    lines.append(style(pad(total_label, name_w), "1") + GAP + numbers(totals))
    return lines


def batch_footer(results: Sequence[Mapping[str, Any]], totals: Mapping[str, int], style: Style, width: int = 0) -> list[str]:
    """The lines under a batch table: how many runs, where, how many failed to load, the totals."""
    common = common_dir([r["name"] for r in results])
    bad = sum(1 for r in results if "error" in r)
    lead = (
        f"{len(results)} run{'s' if len(results) != 1 else ''}"
        + (f" in {one_line(common)}" if common else "")
        + (f", {bad} could not be checked" if bad else "")
        + "; "
    )
    one = summary_lines(totals, style, 0, lead)[0]
    if not width or cell_width(summary_lines(totals, Style(False), 0, lead)[0]) <= width:
        return [one]
    # Too long for one line: the totals, then where the runs are and how many
    # could not be checked (wrapped).
    return summary_lines(totals, style, width) + wrap(lead.rstrip("; "), width)
