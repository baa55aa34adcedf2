"""Checking a whole report against the run log of its turn.

:func:`check` is the one path from a report and a log to verdicts: the
command, its batch runner and the importers all go through it, and so can any
program::

    from vorlane_core.check import check

    result = check(report_text, run_log)
    for claim in result["claims"]:
        print(claim["verdict"], claim["text"])
    print(result["summary"]["contradicted"], "contradicted")

The result is plain data (dicts, lists, strings and ints) that ``json.dumps``
writes as it is.
"""

from __future__ import annotations

import unicodedata
from typing import Any, Literal, Mapping, Optional, Sequence, TypedDict, get_args

from vorlane_core import extract, verify
from vorlane_core.evidence import Evidence, evidence
from vorlane_core.positions import Position, locate

__all__ = [
    "Verdict",
    "FailOn",
    "VERDICTS",
    "FAIL_ON",
    "CheckedClaim",
    "Evidence",
    "Position",
    "Summary",
    "CheckResult",
    "CheckError",
    "ModelError",
    "check",
    "summarize",
    "fails",
    "model_url",
]

Verdict = Literal["verified", "unverified", "contradicted", "unchecked", "pre-existing"]
# The verdict words in their display order, as the verdict module lists them.
VERDICTS: tuple[Verdict, ...] = verify.VERDICTS
if set(VERDICTS) != set(get_args(Verdict)):  # pragma: no cover - a build out of step
    raise ImportError(f"the verdict module's words {VERDICTS} differ from Verdict")

FailOn = Literal["contradicted", "unverified", "never"]
# The verdicts that fail a run under each rule.
FAIL_ON: dict[str, tuple[Verdict, ...]] = {
    "contradicted": ("contradicted",),
    "unverified": ("contradicted", "unverified"),
    "never": (),
}


class CheckedClaim(TypedDict):
    """One claim of the report with its verdict, and where it stands in the
    report (``None`` when it cannot be found there; see
    :mod:`vorlane_core.positions`)."""

    text: str
    kind: str
    targets: list[str]
    verdict: Verdict
    note: str
    # What the note names, one entry per literal; None when the note cannot
    # be read back exactly.
    evidence: list[Evidence] | None
    position: Optional[Position]


# "pre-existing" is no identifier, hence the functional form.
Summary = TypedDict(
    "Summary",
    {
        "total": int,
        "verified": int,
        "unverified": int,
        "contradicted": int,
        "unchecked": int,
        "pre-existing": int,
    },
)


class CheckResult(TypedDict):
    """The claims of a report, in report order, and their counts."""

    claims: list[CheckedClaim]
    summary: Summary


class CheckError(Exception):
    """A run that could not be checked; ``str(error)`` is the message to show."""


class ModelError(CheckError):
    """The model asked to classify the claims could not be used."""


def model_url() -> str:
    """The chat-completions endpoint that ``use_llm=True`` asks, with any
    password in it masked (the URL is shown in messages)."""
    return str(extract.masked_url(str(extract.LLM_URL)))


def _model_message(what: str, e: BaseException, url: str) -> str:
    detail = str(e) or type(e).__name__
    if url in detail:
        return f"{what}: {detail}"
    return f"{what} at {url}: {detail}"


def _claims(report: str, use_llm: bool) -> list[dict]:
    try:
        return list(extract.extract_claims(report, use_llm=use_llm))
    except TimeoutError as e:
        raise ModelError(_model_message("the model did not answer in time", e, model_url())) from None
    except OSError as e:  # unreachable, refused, bad URL, HTTP error status
        raise ModelError(_model_message("the model request failed", e, model_url())) from None
    except (ValueError, KeyError, IndexError, TypeError, RuntimeError) as e:
        if not use_llm:
            raise
        if isinstance(e, KeyError) and e.args:
            e = ValueError(f"no {e.args[0]!r} in the reply")
        raise ModelError(_model_message("the model's reply is unusable", e, model_url())) from None


def _short(text: str, width: int = 60) -> str:
    text = " ".join(text.split())
    if not text.isprintable():
        text = "".join(ascii(ch)[1:-1] if unicodedata.category(ch) == "Cc" else ch for ch in text)
    return text if len(text) <= width else text[: width - 1].rstrip() + "…"


def check(report: str, log: Mapping[str, Any], *, use_llm: bool = False) -> CheckResult:
    """The claims of ``report``, each with its verdict against ``log``, and their counts.

    ``log`` is the run log of the turn (``events``, ``external``, ``written``,
    ``commands``).  With ``use_llm`` the claims are classified by the model at
    :func:`model_url` instead of word heuristics.

    Raises :class:`ModelError` when the model cannot be used and
    :class:`CheckError` when a claim cannot be judged against ``log`` (a log
    of the wrong shape); ``TypeError`` when ``report`` is not a ``str``.
    """
    if not isinstance(report, str):
        raise TypeError(f"report: expected str, got {type(report).__name__}")
    claims: list[CheckedClaim] = []
    found = _claims(report, use_llm)
    positions = locate(report, (c["text"] for c in found))
    for n, (claim, position) in enumerate(zip(found, positions), start=1):
        try:
            verdict, note = verify.verify(claim, log)
        except Exception as e:  # a log the caller's checks let through
            raise CheckError(
                f"claim {n} ({_short(claim['text'])!r}) could not be verified: {type(e).__name__}: {e}"
            ) from None
        claims.append(
            {
                "text": claim["text"],
                "kind": claim["kind"],
                "targets": list(claim["targets"]),
                "verdict": verdict,
                "note": note,
                "evidence": evidence(claim, verdict, note, verify._atoms, verify._kind_of),
                "position": position,
            }
        )
    return {"claims": claims, "summary": summarize(claims)}


def summarize(claims: Sequence[Mapping[str, Any]]) -> Summary:
    """How many of ``claims`` there are, and how many have each verdict."""
    counts: dict[str, int] = {"total": len(claims)}
    counts.update({v: 0 for v in VERDICTS})
    for c in claims:
        counts[c["verdict"]] = counts.get(c["verdict"], 0) + 1
    return counts  # type: ignore[return-value]


def add_summaries(into: dict[str, int], summary: Mapping[str, int]) -> None:
    """Adds the counts of ``summary`` to ``into`` (a running total)."""
    for k, n in summary.items():
        into[k] = into.get(k, 0) + n


def fails(summary: Mapping[str, int], fail_on: str = "contradicted") -> bool:
    """Whether a run with these counts fails the ``fail_on`` rule."""
    try:
        verdicts = FAIL_ON[fail_on]
    except KeyError:
        raise ValueError(f"fail_on: expected one of {', '.join(FAIL_ON)}, got {fail_on!r}") from None
    return any(summary.get(v, 0) for v in verdicts)
