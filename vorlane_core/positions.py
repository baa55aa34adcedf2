"""Where each claim stands in its report.

A claim is a tidied sentence of the report: its lines joined with one space,
bold markers, list markers and table bars dropped, table cells joined with
" · ".  To find it again, the claim and the report are compared on what
tidying keeps: every character except white space, "*", "|" and "·" (and a
"." of the claim may stand for a NUL of the report).  Claims come in report
order, so each is looked for after the start of the one before it.

A claim is first looked for by its first word, as plain text, each place it
occurs checked character by character; the pattern search (slower to set
up) is kept for what that misses.  When a claim is not found whole (a code
span split by a fence, say), the longest beginning of it that is found near
that point is taken, and the claim ends at the longest ending of it found
after that; such a position is marked ``exact: False``.  When not even the beginning of a claim is found,
its position is ``None``.

Lines are 1-based and end at LF, CR LF or a lone CR.  Columns are 1-based and
count characters (Unicode code points) from the start of the line;
``end_column`` is the column just after the claim's last character, so a
claim of one line spans ``end_column - column`` characters.  ``offset`` and
``end_offset`` are the same two places as 0-based character indices into the
report text.
"""

from __future__ import annotations

import bisect
import re
from typing import Iterable, Iterator, Optional, TypedDict

__all__ = ["Position", "locate", "line_starts"]

# What tidying may drop or add between two characters of a claim.
_GAP = r"[\s*|\u00b7]*"
_SKIP = re.compile(r"[\s*|\u00b7]+")
_ANCHOR_END = re.compile(r"[:;,.!?)\]]")
_LINE_BREAK = re.compile(r"\r\n?|\n")
# How far past the previous claim a claim that is not found whole is looked
# for: bounded, so that a report of many unmatched claims stays linear.
_WINDOW = 1 << 16
# The shortest beginning of a claim (in kept characters) worth taking.
_MIN_PREFIX = 8
# Claims longer than this (in kept characters) are only looked for as plain
# text: a pattern for them would cost more to build than it could be worth.
_PATTERN_MAX = 512
# Places where the first word of a claim occurs that are checked before the
# pattern search takes over.
_MAX_TRIES = 10_000


class Position(TypedDict):
    """Where a claim stands in its report (see the module's description)."""

    line: int
    column: int
    end_line: int
    end_column: int
    offset: int
    end_offset: int
    exact: bool


def line_starts(text: str) -> list[int]:
    """The character index at which each line of ``text`` starts."""
    return [0] + [m.end() for m in _LINE_BREAK.finditer(text)]


def _kept(claim: str) -> str:
    return _SKIP.sub("", claim)


def _pattern(kept: str) -> "re.Pattern[str]":
    parts = ["[.\\x00]" if ch == "." else re.escape(ch) for ch in kept]
    return re.compile(_GAP.join(parts))


def _search(kept: str, report: str, start: int, stop: int) -> Optional["re.Match[str]"]:
    try:
        return _pattern(kept).search(report, start, stop)
    except (re.error, RecursionError, OverflowError):  # never expected; never fatal
        return None


def _longest(kept: str, report: str, start: int, stop: int, *, from_end: bool) -> Optional["re.Match[str]"]:
    """The match of the longest beginning (or ending) of ``kept`` in
    ``report[start:stop]``; being found is monotone in the length, so a binary
    search over lengths finds it."""
    lo, hi, best = min(_MIN_PREFIX, len(kept)), len(kept), None
    shortest = kept[len(kept) - lo :] if from_end else kept[:lo]
    if not shortest or _search(shortest, report, start, stop) is None:
        return None
    while lo <= hi:
        mid = (lo + hi) // 2
        part = kept[len(kept) - mid :] if from_end else kept[:mid]
        m = _search(part, report, start, stop) if part else None
        if m is None:
            hi = mid - 1
        else:
            best, lo = m, mid + 1
    return best


def _gap(ch: str) -> bool:
    return ch.isspace() or ch in "*|\u00b7"


def _match_at(report: str, at: int, kept: str, claim: str) -> int:
    """The end of ``claim`` (whose kept characters are ``kept``) when it
    starts at ``at`` in ``report``, or -1."""
    if report.startswith(claim, at):  # as written, as most claims are
        return at + len(claim)
    j, n = at, len(report)
    for i, ch in enumerate(kept):
        if i:
            while j < n and _gap(report[j]):
                j += 1
        if j >= n:
            return -1
        got = report[j]
        if got != ch and not (ch == "." and got == "\x00"):
            return -1
        j += 1
    return j


def _find(claim: str, kept: str, report: str, cursor: int) -> tuple[int, int] | None:
    """Where the claim stands whole: its first run of kept characters is
    looked up as plain text, and each place it occurs checked."""
    first = next((piece for piece in _SKIP.split(claim) if piece), "")
    # Up to the punctuation that closing bold often stands before ("**Note**:").
    anchor = _ANCHOR_END.split(first, 1)[0][:64] or first[:64]
    if not anchor:
        return None
    at, tries = report.find(anchor, cursor), 0
    while at != -1 and tries < _MAX_TRIES:
        end = _match_at(report, at, kept, claim)
        if end != -1:
            return at, end
        at, tries = report.find(anchor, at + 1), tries + 1
    # Markup inside the first word, a NUL for a ".", or too many false
    # starts: the slower pattern search, near the previous claim.
    if len(kept) > _PATTERN_MAX:
        return None
    m = _search(kept, report, cursor, min(len(report), cursor + _WINDOW + 4 * len(kept)))
    return (m.start(), m.end()) if m is not None else None


def _span(claim: str, report: str, cursor: int) -> tuple[int, int, bool] | None:
    kept = _kept(claim)
    if not kept:
        return None
    found = _find(claim, kept, report, cursor)
    if found is not None:
        return found[0], found[1], True
    reach = _WINDOW + 4 * len(kept)
    head = _longest(kept[:_PATTERN_MAX], report, cursor, min(len(report), cursor + reach), from_end=False)
    if head is None:
        return None
    end = head.end()
    tail = _longest(kept[-_PATTERN_MAX:], report, head.end(), min(len(report), head.end() + reach), from_end=True)
    if tail is not None:
        end = tail.end()
    return head.start(), end, False


class _Lines:
    """Line and column of offsets into ``text``, asked mostly in increasing
    order: lines are counted from the last offset asked, at C speed."""

    def __init__(self, text: str):
        self.text = text
        self.starts = line_starts(text) if "\r" in text else None
        self.pos, self.line = 0, 1

    def at(self, offset: int) -> tuple[int, int]:
        if self.starts is not None:
            line = bisect.bisect_right(self.starts, offset)
            return line, offset - self.starts[line - 1] + 1
        if offset < self.pos:
            self.pos, self.line = 0, 1
        self.line += self.text.count("\n", self.pos, offset)
        self.pos = offset
        return self.line, offset - (self.text.rfind("\n", 0, offset) + 1) + 1


def locate(report: str, claims: Iterable[str]) -> Iterator[Position | None]:
    """The position of each of ``claims`` (texts, in report order) in ``report``."""
    lines: _Lines | None = None
    cursor = 0
    for claim in claims:
        span = _span(claim, report, cursor) if isinstance(claim, str) else None
        if span is None:
            yield None
            continue
        if lines is None:
            lines = _Lines(report)
        begin, end, exact = span
        cursor = end if exact else begin + 1
        line, column = lines.at(begin)
        # The end is just after the last character: on that character's line.
        end_line, last_column = lines.at(max(begin, end - 1))
        yield {
            "line": line,
            "column": column,
            "end_line": end_line,
            "end_column": last_column + (1 if end > begin else 0),
            "offset": begin,
            "end_offset": end,
            "exact": exact,
        }
