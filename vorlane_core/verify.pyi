"""Verdicts: one claim of a report judged against the run log of its turn (compiled module)."""

import re
from collections.abc import Mapping, Sequence
from typing import Any, Literal

from vorlane_core.types import Claim as Claim, RunLog as RunLog

NUM_RE: re.Pattern[str]
NEGATED_RE: re.Pattern[str]
ADDITIVE_RE: re.Pattern[str]
EMPTY_RE: re.Pattern[str]
PREDICATE_RE: re.Pattern[str]
READ_CODE_RE: re.Pattern[str]
SHELL_WRITE_RE: re.Pattern[str]
# The extract module's pattern, bound when this module loads.
WORK_VERB_RE: re.Pattern[str]
# Tools whose calls only read; tools whose events carry the command line
# or code that was run; the verdict words.
READ_TOOLS: frozenset[str]
COMMAND_TOOLS: tuple[str, ...]
VERDICTS: tuple[Literal["verified", "unverified", "contradicted", "unchecked", "pre-existing"], ...]

def verify(claim: Claim | dict[str, Any], L: RunLog | dict[str, Any]) -> tuple[str, str]:
    """(verdict word, note) for one claim.

    The verdict word is "verified", "unverified", "contradicted", "unchecked"
    or "pre-existing".  TypeError when ``claim`` or ``L`` is not exactly a
    dict; KeyError naming a missing run-log key when it is first needed;
    TypeError for a non-text where a text is searched; ValueError for a
    self-referencing external-action argument; RecursionError for one nested
    too deeply.
    """

def _clean(t: str) -> str: ...
def _atoms(t: str) -> list[str]: ...
def _kind_of(lit: str) -> str: ...
def _norm(s: str) -> str: ...
def _variants(lit: str) -> list[str]: ...
def _tokens(lit: str) -> list[str]: ...
def _in(lit: str, texts: Sequence[str | None]) -> bool: ...
def _words_in(lit: str, texts: Sequence[str | None]) -> bool: ...
def _additive(text: str) -> bool: ...
def _json_text(value: Any) -> str: ...
def _cache_info() -> dict[str, int]: ...
def _cache_clear() -> None: ...
def _cache_limit(bytes: int) -> None: ...
def _conversion_seconds(L: Mapping[str, Any], repeats: int = 1) -> float: ...
