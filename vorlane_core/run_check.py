"""One run of a batch checked: the result row that every batch writes.

The command's batch (in its worker processes) and the Ray recipe
(docs/ray.md) both go through here, so a run gives the same row whichever
ran it: ``{"name", "summary", "claims"}``, or ``{"name", "error"}`` when the
run cannot be read or checked (the error without the name in front).
"""

from __future__ import annotations

from typing import Any

from vorlane_core.check import CheckError, check
from vorlane_core.json_input import decode_utf8, parse_json
from vorlane_core.runlog_file import InputError, RunSource, parse_run

__all__ = ["check_source", "check_run_json"]


def _error_row(name: str, msg: str, source: dict[str, Any] | None = None) -> dict[str, Any]:
    if msg.startswith(name + ": "):
        msg = msg[len(name) + 2 :]
    row: dict[str, Any] = {"name": name, "error": msg}
    if source is not None:
        row["source"] = source
    return row


def _forget_run() -> None:
    # The verifier keeps the normalised texts of the logs it saw (up to
    # 1 GiB), for the claims of the same log; the next run's log is another
    # object, so what it kept is of no more use, and would pile up.
    try:
        from vorlane_core import verify

        verify._cache_clear()
    except (ImportError, AttributeError):
        pass


def check_source(src: RunSource, use_llm: bool = False, max_bytes: int | None = None) -> dict[str, Any]:
    """The row of one run of a batch (see :class:`~vorlane_core.runlog_file.RunSource`),
    with the report's text and where it was read from (for the formats that
    point into it), and what importing a session noticed."""
    source = {"path": src.path, "embedded": True, "line": src.line}
    try:
        run = src.load(max_bytes)
        result = check(run.report, run.log, use_llm=use_llm)  # type: ignore[arg-type]
    except (InputError, CheckError) as e:
        return _error_row(src.name, str(e), source)
    finally:
        _forget_run()
    row = {"name": src.name, "claims": result["claims"], "summary": result["summary"], "report": run.report, "source": source}
    meta = getattr(src, "meta", None)
    if meta is not None:  # an imported session
        row["import"] = meta
    return row


def check_run_json(
    text: str | bytes, name: str, use_llm: bool = False, *, name_key: str | None = None
) -> dict[str, Any]:
    """The row of the run whose JSON text is ``text`` (a line of a .jsonl
    dataset), named ``name``: as :func:`check_source` gives it for that line.

    With ``name_key``, a run that holds a string under that key is named by
    it instead (a dataset's own run ids)."""
    try:
        if isinstance(text, bytes):
            text = decode_utf8(text, name, lines=False)
        obj = parse_json(text, name)
        if name_key is not None and isinstance(obj, dict) and isinstance(obj.get(name_key), str):
            name = obj[name_key]
        run = parse_run(obj, name)
        if run.report is None:
            raise InputError(f'{name}: no report: a run of a batch needs a "report" string')
        result = check(run.report, run.log, use_llm=use_llm)
    except (InputError, CheckError) as e:
        return _error_row(name, str(e))
    finally:
        _forget_run()
    return {"name": name, "claims": result["claims"], "summary": result["summary"]}
