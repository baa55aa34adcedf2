"""Text made safe to show on a terminal.

Characters that act on the terminal or hide and reorder the text around them
are written as Python-style escapes: control characters (``\\x1b``, which
starts escape sequences), format characters (bidi overrides and isolates
such as ``\\u202e``, zero-width spaces and joiners, ``\\ufeff``) and lone
surrogates (``\\ud800``).  A zero-width joiner between two symbols stays: it
builds one emoji out of several.
"""

from __future__ import annotations

import unicodedata

__all__ = ["hidden", "visible"]

_ZWJ = "\u200d"


def hidden(ch: str) -> bool:
    """Whether ``ch`` would act on the terminal or hide text rather than show."""
    return unicodedata.category(ch) in ("Cc", "Cf", "Cs")


def _joins_emoji(text: str, i: int) -> bool:
    return 0 < i < len(text) - 1 and unicodedata.category(text[i - 1]) == "So" and unicodedata.category(text[i + 1]) == "So"


def visible(text: str, keep: str = "") -> str:
    """``text`` with its hidden characters (see :func:`hidden`) escaped; the
    characters of ``keep`` (line feeds, say) stay as they are."""
    if text.isascii() and text.isprintable():
        return text
    out = []
    for i, ch in enumerate(text):
        if ch in keep or not hidden(ch) or (ch == _ZWJ and _joins_emoji(text, i)):
            out.append(ch)
        else:
            out.append(ascii(ch)[1:-1])
    return "".join(out)
