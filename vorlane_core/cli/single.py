"""``vorlane check``: one run, from a report and a run log, or a run file.

The forms taken:

* ``vorlane check REPORT --log RUN.json``: the report and the log of its turn;
* ``vorlane check RUN.json`` or ``vorlane check --log RUN.json``: a run file
  holding ``{"report": ..., "log": {...}}``;
* ``-`` in place of either file reads standard input;
* a session file of an agent tool wherever a run file goes (imported, see
  :mod:`vorlane_core.cli.sessions`).
"""

from __future__ import annotations

import argparse
import sys

from vorlane_core.check import CheckError, check, fails
from vorlane_core.cli.formats import output_for
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error, warn
from vorlane_core.cli.sessions import import_if_session, warn_import
from vorlane_core.importers import FORMATS
from vorlane_core.runlog_file import InputError, Run, display_name, load_json_file, max_input_bytes, parse_run, read_report

USAGE = "vorlane check REPORT --log RUN.json"


def _looks_like_json_run(path: str) -> bool:
    """Whether ``path`` holds a JSON run or run log (for hints only: any
    problem reading it counts as no)."""
    if path == "-":
        return False
    try:
        parse_run(load_json_file(path), path)
    except InputError:
        return False
    return True


def _hint_for_log(args: argparse.Namespace, e: InputError) -> str:
    """A hint to add to an error met while reading ``--log``."""
    log = args.log
    if log.endswith(".jsonl"):
        return f"{e}; a .jsonl file holds a batch of runs: check it with --runs {log}"
    if "invalid JSON" in str(e) or "not valid UTF-8" in str(e):
        if args.report not in (None, "-") and _looks_like_json_run(args.report):
            return f"{e}; REPORT and --log look swapped: {USAGE}"
    return str(e)


def load_run(args: argparse.Namespace) -> tuple[str, Run]:
    """The source to name in messages and the run to check, from the command line."""
    limit = max_input_bytes(args.max_input_mb)
    if args.log is not None:
        if args.report == "-" and args.log == "-":
            raise InputError("standard input can feed REPORT or --log, not both")
        run = import_if_session(args.log, args)
        try:
            if run is None:
                run = _parse_run(load_json_file(args.log, limit), args.log)
        except InputError as e:
            raise InputError(_hint_for_log(args, e)) from None
        if args.report is not None:
            report = read_report(args.report, limit)
            if run.report is not None and run.report != report:
                warn(f"{display_name(args.report)} is checked in place of the report stored in {display_name(args.log)}")
            return display_name(args.report), Run(report, run.log)
        if run.report is None:
            raise InputError(f'{display_name(args.log)}: holds only a run log; give the REPORT file too: {USAGE}')
        return display_name(args.log), run
    # One positional: a session file of an agent tool, or a run file holding its report.
    path = args.report
    imported = import_if_session(path, args)
    if imported is not None:
        return display_name(path), imported
    try:
        obj = load_json_file(path, limit)
    except InputError as e:
        if "invalid JSON" in str(e) or "not valid UTF-8" in str(e):
            raise UsageError(
                f"check: {display_name(path)} is no run file nor a session file of a known format; "
                f"give the run log with --log RUN.json ({USAGE})"
            ) from None
        raise
    run = _parse_run(obj, path)
    if run.report is None:
        raise InputError(f"{display_name(path)}: holds only a run log; give the REPORT file too: vorlane check REPORT --log {path}")
    return display_name(path), run


def _parse_run(obj: object, path: str) -> Run:
    """The run held in ``obj``, read from ``path``; a JSON file that is neither
    a run nor a known session gets one message naming both."""
    try:
        return parse_run(obj, display_name(path))
    except InputError as e:
        if ": not a run:" not in str(e):
            raise
        raise InputError(
            f"{display_name(path)}: not a run (a run log with \"events\", \"external\", \"written\" and "
            f"\"commands\", or an object with \"report\" and \"log\") nor a session file of a known format "
            f"({', '.join(FORMATS)}); name the format with --from FORMAT if it is one of these"
        ) from None


class UsageError(Exception):
    """A command line that cannot work; the usage is printed with it."""


def run_single(args: argparse.Namespace) -> int:
    try:
        source_name, run = load_run(args)
        assert run.report is not None
        warn_import(args)
        result = check(run.report, run.log, use_llm=args.llm)
        if getattr(args, "import_meta", None) is not None:
            result = dict(result, **{"import": args.import_meta})
    except UsageError as e:
        args.parser.print_usage(sys.stderr)
        error(str(e))
        return EXIT_BAD
    except (InputError, CheckError) as e:
        error(str(e))
        return EXIT_BAD
    # --quiet picks the silent output.
    embedded = args.log is None or args.report is None  # the report stands inside a run or session file
    source = {"path": source_name, "embedded": embedded, "line": None}
    shown = {**result, "report": run.report, "source": source}
    if args.output:
        try:
            with open(args.output, "w", encoding="utf-8", errors="backslashreplace") as stream:
                output_for(args)(stream, args).single(shown)
        except OSError as e:
            error(f"{args.output}: cannot write: {e.strerror or e}")
            return EXIT_BAD
    else:
        output_for(args)(sys.stdout, args).single(shown)
    return EXIT_FAIL if fails(result["summary"], args.fail_on) else EXIT_OK
