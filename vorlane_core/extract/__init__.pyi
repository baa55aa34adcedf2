"""Report segmentation and claim classification (compiled module)."""

import re
from collections.abc import Sequence

from vorlane_core.types import Claim as Claim, UnitRecord as UnitRecord

ABBR: tuple[str, ...]
KINDS: tuple[str, ...]

DATE_RE: re.Pattern[str]
VERSION_RE: re.Pattern[str]
DIM_RE: re.Pattern[str]
TIME_RE: re.Pattern[str]
PATH_RE: re.Pattern[str]
KEYVAL_RE: re.Pattern[str]
NUM_RE: re.Pattern[str]
CODE_RE: re.Pattern[str]
NON_CLAIM_RE: re.Pattern[str]
INTENT_RE: re.Pattern[str]
WORK_VERB_RE: re.Pattern[str]
IMPERATIVE_RE: re.Pattern[str]
RUN_VERB_RE: re.Pattern[str]
EDIT_VERB_RE: re.Pattern[str]
NEGATED_RE: re.Pattern[str]
CMD_WORD_RE: re.Pattern[str]

CLASSIFY_PROMPT: str
# Read once at import from VESKARD_LLM_URL / VESKARD_LLM_MODEL (a set but
# empty variable is used as set); read again by every call, so they may be
# reassigned.
LLM_URL: str
LLM_MODEL: str
_TIMEOUT: float

class ModelEndpointError(OSError):
    """The model endpoint could not be reached (refused, unresolvable, bad URL)."""
    url: str

class ModelHTTPError(ModelEndpointError):
    """The endpoint answered with an HTTP error status."""
    status: int

class ModelTimeoutError(ModelEndpointError, TimeoutError):
    """No data from the endpoint within the time-out (300 s by default)."""

def split_units(final: str) -> list[str]:
    """The report's Units, in order, without near-duplicates.  TypeError for a non-str."""

def literal_targets(unit: str) -> list[str]:
    """The literal strings of one Unit, in their fixed order, de-duplicated."""

def strong_kind(unit: str) -> str | None:
    """"command_ran", "file_changed" or None."""

def heuristic_kind(unit: str) -> str:
    """One of KINDS, from word patterns alone."""

def classify_units(units: Sequence[str]) -> list[UnitRecord]:
    """Classifies all Units with one request to the model at LLM_URL.

    Raises ModelEndpointError / ModelHTTPError / ModelTimeoutError (all
    OSError) when the model cannot answer, and KeyError, IndexError,
    TypeError or ValueError naming what is missing or wrong in a malformed
    reply.  An answer that is not valid JSON is not an error: the heuristics
    classify every Unit.
    """

def extract_claims(final: str, use_llm: object = True) -> list[Claim]:
    """One Claim per Unit of the report; the model is asked only when
    ``use_llm`` is truthy and there is at least one Unit.  Model errors
    propagate as in classify_units."""

def _strip_fences(text: str) -> str: ...
def _sentences(par: str) -> list[str]: ...
def _tidy(x: str) -> str: ...
def _inspection_record(unit: str) -> str: ...
def _set_timeout(seconds: float) -> float: ...
