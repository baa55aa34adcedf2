"""The verdict tables the command prints: one run's claims, and a batch's runs."""

from __future__ import annotations

import os
import textwrap
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
)

KIND_W = len("external_action")


def summary_text(summary: Mapping[str, int], style: Style) -> str:
    n = summary["total"]
    parts = [f"{summary[v]} {style.verdict(v) if summary[v] else v}" for v in VERDICTS]
    return f"{n} claim{'s' if n != 1 else ''}: " + ", ".join(parts)


def render_claims(rows: Sequence[Mapping[str, Any]], width: int, style: Style) -> list[str]:
    """One row per claim: verdict, kind, claim text (cut to fit) and note.

    When every note fits beside its claim the table has one line per claim;
    otherwise each note goes on the line below its claim, wrapped to the width."""
    lead = VERDICT_W + 2 + KIND_W + 2
    room = max(20, width - lead)
    texts = [one_line(r["text"]) for r in rows]
    notes = [one_line(r["note"]) for r in rows]
    longest_claim = max(map(cell_width, texts), default=0)
    longest_note = max(map(cell_width, notes), default=0)
    claim_w = min(longest_claim, room - longest_note - 2)
    one_row = claim_w >= min(longest_claim, 40)
    header = pad("VERDICT", VERDICT_W) + "  " + pad("KIND", KIND_W) + "  "
    header += (pad("CLAIM", claim_w) + "  NOTE") if one_row else "CLAIM / NOTE"
    lines = [style(header.rstrip(), "1")]
    for r, text, note in zip(rows, texts, notes):
        head = style.verdict(r["verdict"], VERDICT_W) + "  " + pad(str(r["kind"]), KIND_W) + "  "
        if one_row:
            lines.append(head + pad(shorten(text, claim_w), claim_w) + "  " + note)
        else:
            lines.append(head + shorten(text, room))
            for part in textwrap.wrap(note, room - 2, break_on_hyphens=False, break_long_words=False):
                lines.append(" " * (lead + 2) + part)
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


def render_batch(results: Sequence[Mapping[str, Any]], totals: Mapping[str, int], width: int, style: Style) -> list[str]:
    """One row per run (name, claim count, count per verdict), then the totals.

    Runs are named relative to the directory they all lie in."""
    heads = ["CLAIMS"] + [v.upper() for v in VERDICTS]
    good = [r for r in results if "error" not in r]
    total_label = "TOTAL" if len(good) == len(results) else f"TOTAL ({len(good)} of {len(results)} runs)"
    common = common_dir([r["name"] for r in results])
    names = [one_line(os.path.relpath(r["name"], common) if common else r["name"]) for r in results]
    room = width - sum(len(h) + 2 for h in heads)
    name_w = min(max([cell_width(n) for n in names] + [len("RUN"), len(total_label)]), max(16, room))
    col_w = [len(h) for h in heads]

    def numbers(summary: Mapping[str, int]) -> str:
        cells = [str(summary["total"]).rjust(col_w[0])]
        for v, w in zip(VERDICTS, col_w[1:]):
            n = summary[v]
            cells.append(style(str(n).rjust(w), VERDICT_COLOUR[v] if n else ""))
        return "  ".join(cells)

    lines = [style(pad("RUN", name_w) + "  " + "  ".join(heads), "1")]
    for r, name in zip(results, names):
        name = pad(shorten_left(name, name_w), name_w)
        if "error" in r:
            lines.append(name + "  " + style("error: ", "1;31") + one_line(r["error"]))
        else:
            lines.append(name + "  " + numbers(r["summary"]))
    lines.append(style(pad(total_label, name_w), "1") + "  " + numbers(totals))
    return lines


def batch_footer(results: Sequence[Mapping[str, Any]], totals: Mapping[str, int], style: Style) -> str:
    """The line under a batch table: how many runs, where, how many failed to load, the totals."""
    common = common_dir([r["name"] for r in results])
    bad = sum(1 for r in results if "error" in r)
    return (
        f"{len(results)} run{'s' if len(results) != 1 else ''}"
        + (f" in {common}" if common else "")
        + (f", {bad} could not be checked" if bad else "")
        + "; "
        + summary_text(totals, style)
    )
