"""The evidence behind a verdict, as data.

The verdict module gives each claim a verdict word and a one-line note built
from a fixed set of phrases, one per literal of the claim: "`x` in write",
"`x` ran but FAILED (exit 1)", "`x`, `y` seen only in read output; …".
:func:`evidence` reads that note back into one entry per literal it names,
knowing the claim's literals (so a literal holding a backtick or "; " cannot
mislead it), and checks the reading by writing the note again from the
entries: when the two differ, it returns None rather than a guess.
"""

from __future__ import annotations

from typing import Any, Callable, Iterator, Literal, Mapping, Sequence, TypedDict

Where = Literal[
    "write",  # in what the run wrote
    "command",  # in a command that succeeded
    "command words",  # its words in a command that succeeded
    "external action",  # in the arguments of an external action
    "output",  # in what a tool returned
    "output words",  # its words in what a tool returned
    "empty search",  # the claim speaks of an empty result and a search came back empty
    "failed command",  # only in commands that failed
    "read output",  # only in content the agent read
    "unchecked",  # not found, beside other literals that were
    "not found",  # nowhere in the log
]


class Evidence(TypedDict, total=False):
    literal: str  # absent for "empty search", which names no literal
    where: Where
    exit_code: str  # for "failed command": the exit code as the note gives it


_FOUND = (
    ("`{}` in write", "write"),
    ("`{}` in command (exit ok)", "command"),
    ("`{}` in external action", "external action"),
    ("`{}` in output", "output"),
    ("words of `{}` in command (exit ok)", "command words"),
    ("words of `{}` in output", "output words"),
)
_EMPTY = "empty search result matches claim"
_UNCHECKED = " · unchecked: "
_LISTS = {
    "pre-existing": ("", " appears only in content the agent read; never in anything it wrote or ran", "read output"),
    "mention": ("a mention, not a claim of work: ", " not in this turn's log", "unchecked"),
    "read only": ("", " seen only in read output; no write or command touched it", "read output"),
    "missing": ("", " not found in any write, command or output", "not found"),
}


def claim_literals(claim: Mapping[str, Any], atoms: Callable[[str], list[str]], kind_of: Callable[[str], str]) -> list[str]:
    """The literals the verdict module checks for ``claim``, in order."""
    out = []
    for t in claim.get("targets") or []:
        if not t:
            continue
        text = t if isinstance(t, str) else str(t)
        out += [a for a in atoms(text) if not (kind_of(a) == "phrase" and len(a) < 4)]
    return out


def _entries(text: str, lits: Sequence[str], pieces: Callable[[str, int, str], Iterator[tuple[int, Evidence]]]) -> list[Evidence] | None:
    """``text`` read as entries joined by "; ", each naming one literal of
    ``lits`` in order (skipping some).  ``pieces(text, at, lit)`` gives the
    entries for ``lit`` that can start at ``at``, each with where it ends.
    Depth-first over (position, literal index), each pair tried once."""
    memo: dict[tuple[int, int], list[Evidence] | None] = {}

    def walk(pos: int, i: int) -> list[Evidence] | None:
        if pos == len(text):
            return []
        key = (pos, i)
        if key in memo:
            return memo[key]
        memo[key] = None
        if pos and not text.startswith("; ", pos):
            return None
        at = pos + 2 if pos else 0
        for j in range(i, len(lits)):
            for end, entry in pieces(text, at, lits[j]):
                rest = walk(end, j + 1)
                if rest is not None:
                    memo[key] = [entry] + rest
                    return memo[key]
        return None

    return walk(0, 0)


def _found_pieces(text: str, at: int, lit: str) -> Iterator[tuple[int, Evidence]]:
    for pattern, where in _FOUND:
        piece = pattern.format(lit)
        if text.startswith(piece, at):
            yield at + len(piece), {"literal": lit, "where": where}  # type: ignore[typeddict-item]
    # The empty-search entry names no literal; it stands in the place of one.
    if text.startswith(_EMPTY, at):
        yield at + len(_EMPTY), {"where": "empty search"}


def _failed_pieces(text: str, at: int, lit: str) -> Iterator[tuple[int, Evidence]]:
    head = f"`{lit}` ran but FAILED (exit "
    if not text.startswith(head, at):
        return
    start = at + len(head)
    close = text.find(")", start)
    while close >= 0:  # an exit code given as text may hold ")" itself
        yield close + 1, {"literal": lit, "where": "failed command", "exit_code": text[start:close]}
        close = text.find(")", close + 1)


def _found_entries(note: str, lits: Sequence[str]) -> tuple[list[Evidence], int] | None:
    """The found entries at the start of ``note``, and where they end."""
    end = len(note)
    cut = note.find(_UNCHECKED)
    if cut >= 0:
        end = cut  # no entry holds the separator unless a literal does; checked by the rewrite
    entries = _entries(note[:end], lits, _found_pieces)
    return None if entries is None else (entries, end)


def _quoted_list(text: str, lits: Sequence[str]) -> list[str] | None:
    """The literals of ``text`` = "`a`, `b`, …" (each one of ``lits``)."""
    out: list[str] = []
    pos = 0
    while pos < len(text):
        if out:
            if not text.startswith(", ", pos):
                return None
            pos += 2
        for lit in sorted(set(lits), key=len, reverse=True):
            piece = f"`{lit}`"
            if text.startswith(piece, pos):
                out.append(lit)
                pos += len(piece)
                break
        else:
            return None
    return out if out else None


def _failed_entries(note: str, lits: Sequence[str]) -> list[Evidence] | None:
    return _entries(note, lits, _failed_pieces)


def _parse(verdict: str, note: str, lits: Sequence[str]) -> list[Evidence] | None:
    if note == "nothing literal to check":
        return []
    if verdict == "contradicted":
        return _failed_entries(note, lits)
    if verdict == "verified":
        found = _found_entries(note, lits)
        if found is None:
            return None
        entries, end = found
        if end < len(note):
            rest = _quoted_list(note[end + len(_UNCHECKED) :], lits)
            if rest is None:
                return None
            entries += [{"literal": lit, "where": "unchecked"} for lit in rest]
        return entries
    for head, tail, where in _LISTS.values():
        if note.startswith(head) and note.endswith(tail):
            listed = _quoted_list(note[len(head) : len(note) - len(tail)], lits)
            if listed is not None:
                return [{"literal": lit, "where": where} for lit in listed]  # type: ignore[typeddict-item]
    return None


def _rewrite(verdict: str, entries: Sequence[Evidence], note: str) -> str:
    """The note that ``entries`` stand for (to check a reading)."""
    if not entries:
        return "nothing literal to check"
    if verdict == "contradicted":
        return "; ".join(f"`{e['literal']}` ran but FAILED (exit {e['exit_code']})" for e in entries)
    if verdict == "verified":
        patterns = {where: pattern for pattern, where in _FOUND}
        found = [_EMPTY if e["where"] == "empty search" else patterns[e["where"]].format(e["literal"]) for e in entries if e["where"] != "unchecked"]
        rest = [f"`{e['literal']}`" for e in entries if e["where"] == "unchecked"]
        return "; ".join(found) + (_UNCHECKED + ", ".join(rest) if rest else "")
    listed = ", ".join(f"`{e['literal']}`" for e in entries)
    for head, tail, _ in _LISTS.values():
        if note == head + listed + tail:
            return note
    return ""


def evidence(claim: Mapping[str, Any], verdict: str, note: str, atoms: Callable[[str], list[str]], kind_of: Callable[[str], str]) -> list[Evidence] | None:
    """One entry per literal that the note of ``claim`` names, in note order,
    or None when the note cannot be read back exactly."""
    try:
        lits = claim_literals(claim, atoms, kind_of)
    except Exception:  # targets the verdict module took but this reading cannot
        return None
    entries = _parse(verdict, note, lits)
    if entries is None or _rewrite(verdict, entries, note) != note:
        return None
    return entries
