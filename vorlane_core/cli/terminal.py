"""Text for a terminal: one-line cells, screen columns, colour, the progress bar."""

from __future__ import annotations

import os
import shutil
import unicodedata
from typing import TextIO

from wcwidth import wcswidth, wcwidth

from vorlane_core.check import VERDICTS
from vorlane_core.safe_text import visible

VERDICT_COLOUR = {
    "verified": "32",  # green
    "unverified": "33",  # yellow
    "contradicted": "1;31",  # bold red
    "unchecked": "2",  # dim
    "pre-existing": "36",  # cyan
}
VERDICT_W = max(map(len, VERDICTS))  # "pre-existing"
DEFAULT_WIDTH = 100  # when stdout is no terminal and COLUMNS is unset


_ZWJ = "\u200d"


def one_line(text: str) -> str:
    """``text`` on one line, with runs of white space as one space and the
    characters that could drive the terminal or hide text written as escapes."""
    return visible(" ".join(text.split()))


def _clusters(s: str) -> list[tuple[str, int]]:
    """``s`` as (characters, columns) pieces: user-perceived characters, each a
    base character with the combining marks, variation selectors and joined
    characters (after U+200D) that go with it, measured by ``wcwidth``."""
    out: list[str] = []
    for ch in s:
        cat = unicodedata.category(ch)
        if out and (cat in ("Mn", "Me", "Cf") or unicodedata.combining(ch) or out[-1].endswith(_ZWJ)):
            out[-1] += ch
        else:
            out.append(ch)
    return [(c, _width(c)) for c in out]


def _width(cluster: str) -> int:
    w = wcswidth(cluster)
    if w >= 0:
        return w
    return sum(max(0, wcwidth(ch)) for ch in cluster)


def cell_width(s: str) -> int:
    """Columns that ``s`` takes on a terminal."""
    if s.isascii() and s.isprintable():
        return len(s)
    return sum(w for _, w in _clusters(s))


def wrap(s: str, width: int) -> list[str]:
    """``s`` (one line) cut into lines of at most ``width`` columns, at spaces
    where it can be, inside a word only when the word alone is too wide."""
    width = max(1, width)
    if cell_width(s) <= width:
        return [s]
    lines: list[str] = []
    cur, cur_w = "", 0
    for word in s.split(" "):
        w = cell_width(word)
        if cur and cur_w + 1 + w <= width:
            cur, cur_w = cur + " " + word, cur_w + 1 + w
            continue
        if cur or lines:
            if cur:
                lines.append(cur)
            cur, cur_w = "", 0
        if w <= width:
            cur, cur_w = word, w
            continue
        for text, cw in _clusters(word):  # a word wider than the line
            if cur_w + cw > width and cur:
                lines.append(cur)
                cur, cur_w = "", 0
            cur, cur_w = cur + text, cur_w + cw
    if cur or not lines:
        lines.append(cur)
    return lines


def shorten(s: str, width: int) -> str:
    """``s`` cut to at most ``width`` columns, ending in "…" when cut."""
    if cell_width(s) <= width:
        return s
    out, w = [], 0
    for text, cw in _clusters(s):
        if w + cw > width - 1:
            break
        out.append(text)
        w += cw
    return "".join(out).rstrip() + "…"


def shorten_left(s: str, width: int) -> str:
    """``s`` cut to at most ``width`` columns from the left (the end of a path is what tells runs apart)."""
    if cell_width(s) <= width:
        return s
    out, w = [], 0
    for text, cw in reversed(_clusters(s)):
        if w + cw > width - 1:
            break
        out.append(text)
        w += cw
    return "…" + "".join(reversed(out))


def pad(s: str, width: int) -> str:
    return s + " " * max(0, width - cell_width(s))


class Style:
    """ANSI colour, or plain text when ``enabled`` is false."""

    def __init__(self, enabled: bool):
        self.enabled = enabled

    def __call__(self, s: str, code: str) -> str:
        return f"\x1b[{code}m{s}\x1b[0m" if self.enabled and code else s

    def verdict(self, v: str, width: int = 0) -> str:
        return self(v, VERDICT_COLOUR.get(v, "")) + " " * max(0, width - len(v))


def colour_wanted(stream: TextIO, mode: str = "auto") -> bool:
    """Whether to colour what goes to ``stream``: ``mode`` "always" or
    "never" decides; with "auto", a set NO_COLOR turns colour off, a set
    FORCE_COLOR (other than "0" or "false") turns it on, and otherwise
    a terminal that is not "dumb" gets colour."""
    if mode != "auto":
        return mode == "always"
    if os.environ.get("NO_COLOR", "") != "":
        return False
    force = os.environ.get("FORCE_COLOR")
    if force is not None and force.lower() not in ("0", "false"):
        return True
    if os.environ.get("TERM") == "dumb":
        return False
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def width_of(stream: TextIO) -> int:
    """The columns to fill on ``stream``: the terminal's, else $COLUMNS, else 100."""
    try:
        if stream.isatty():
            return shutil.get_terminal_size((DEFAULT_WIDTH, 24)).columns
    except (AttributeError, ValueError):
        pass
    try:
        return int(os.environ["COLUMNS"])
    except (KeyError, ValueError):
        return DEFAULT_WIDTH


class Progress:
    """A one-line progress bar on a terminal; silent otherwise.  With no
    ``total`` (runs still being read) it counts the runs done."""

    def __init__(self, stream: TextIO, total: int | None):
        try:
            self.on = stream.isatty() and (total is None or total > 0)
        except (AttributeError, ValueError):
            self.on = False
        self.stream, self.total, self.done = stream, total, 0
        self.width = min(40, max(10, shutil.get_terminal_size((80, 24)).columns - 30))
        self._draw()

    def step(self) -> None:
        self.done += 1
        if self.total is not None or self.done % 100 == 0:
            self._draw()

    def _draw(self) -> None:
        if not self.on:
            return
        if self.total is None:
            self.stream.write(f"\rchecking... {self.done} runs")
        else:
            filled = self.width * min(self.done, self.total) // self.total
            bar = "#" * filled + "-" * (self.width - filled)
            self.stream.write(f"\rchecking [{bar}] {self.done}/{self.total} runs")
        self.stream.flush()

    def close(self) -> None:
        if self.on:
            self.stream.write("\r\x1b[K")
            self.stream.flush()
