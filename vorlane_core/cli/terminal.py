"""Text for a terminal: one-line cells, screen columns, colour, the progress bar."""

from __future__ import annotations

import os
import shutil
import unicodedata
from typing import TextIO

from vorlane_core.check import VERDICTS

VERDICT_COLOUR = {
    "verified": "32",  # green
    "unverified": "33",  # yellow
    "contradicted": "1;31",  # bold red
    "unchecked": "2",  # dim
    "pre-existing": "36",  # cyan
}
VERDICT_W = max(map(len, VERDICTS))  # "pre-existing"
DEFAULT_WIDTH = 100  # when stdout is no terminal and COLUMNS is unset


def one_line(text: str) -> str:
    """``text`` on one line, with runs of white space as one space and control
    characters (which could drive the terminal) written as escapes."""
    text = " ".join(text.split())
    if text.isprintable():
        return text
    return "".join(ch if ch.isprintable() or unicodedata.category(ch) != "Cc" else ascii(ch)[1:-1] for ch in text)


def _clusters(s: str) -> list[tuple[str, int]]:
    """``s`` as (characters, columns) pieces, each a base character with the
    combining marks and variation selectors after it.  Wide East Asian
    characters take two columns, as does a symbol shown as an emoji (followed
    by U+FE0F); marks and format characters take none."""
    out: list[tuple[str, int]] = []
    for ch in s:
        if ch == "\ufe0f" and out:
            text, w = out[-1]
            out[-1] = (text + ch, max(w, 2) if w else 0)
        elif out and (unicodedata.combining(ch) or unicodedata.category(ch) in ("Mn", "Me", "Cf")):
            text, w = out[-1]
            out[-1] = (text + ch, w)
        elif unicodedata.category(ch) in ("Mn", "Me", "Cf"):
            out.append((ch, 0))
        else:
            out.append((ch, 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1))
    return out


def cell_width(s: str) -> int:
    """Columns that ``s`` takes on a terminal."""
    if s.isascii():
        return len(s)
    return sum(w for _, w in _clusters(s))


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


def colour_wanted(stream: TextIO) -> bool:
    if os.environ.get("NO_COLOR", "") != "" or os.environ.get("TERM") == "dumb":
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
