"""The ``vorlane`` command.

``vorlane check REPORT.md --log RUN.json`` extracts the claims of an agent's
final report, verifies each one against the run log of the turn and prints a
verdict table.  ``vorlane check --runs DIR_OR_JSONL`` does the same for many
runs at once and prints one summary row per run.

Exit status: 0 when no claim fails the ``--fail-on`` rule (by default: no
claim is contradicted), 1 when one does, 2 for bad usage, bad input or a
model that cannot be used.

The checking itself is :func:`vorlane_core.check.check`; this package only
reads the command line and the files, and renders.
"""

from __future__ import annotations

import argparse
import os
import sys

from vorlane_core.check import FAIL_ON
from vorlane_core.cli.batch import run_batch
from vorlane_core.cli.formats import FORMATS
from vorlane_core.cli.output import EXIT_BAD, EXIT_OK, error, set_quiet
from vorlane_core.cli.parser import build_parser
from vorlane_core.cli.sessions import run_import
from vorlane_core.cli.settings import load_settings
from vorlane_core.cli.single import run_single
from vorlane_core.runlog_file import InputError

__all__ = ["main", "build_parser"]


def _apply_model_settings(args: argparse.Namespace) -> None:
    """Hands --model and --llm-timeout to the model client."""
    if args.model is None and args.llm_timeout is None:
        return
    from vorlane_core import extract

    if args.model is not None:
        extract.LLM_MODEL = args.model
    if args.llm_timeout is not None:
        # Both the silence allowed and the whole request.
        extract.set_model_limits(timeout=args.llm_timeout, deadline=args.llm_timeout)


def _streams_usable() -> bool:
    """False when standard output was closed (``>&-``): nothing can be said."""
    out = sys.stdout
    if out is None:
        return False
    try:
        os.fstat(out.fileno())
    except (OSError, ValueError, AttributeError):
        return False
    return True


def main(argv: list[str] | None = None) -> int:
    if not _streams_usable():
        return EXIT_BAD
    try:
        _, settings = load_settings({"fail-on": tuple(FAIL_ON), "format": tuple(FORMATS)})
    except InputError as e:
        error(str(e))
        return EXIT_BAD
    parser = build_parser(settings)
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:  # --help, --version, usage errors
        return e.code if isinstance(e.code, int) else EXIT_BAD
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="backslashreplace")  # type: ignore[union-attr]
        except (AttributeError, ValueError):
            pass
    if args.command == "import":
        return run_import(args)
    set_quiet(args.quiet)
    _apply_model_settings(args)

    if args.runs is not None:
        if args.report is not None or args.log is not None:
            args.parser.print_usage(sys.stderr)
            error("check: --runs takes no REPORT and no --log")
            return EXIT_BAD
        run = run_batch
    elif args.log is None and args.report is None:
        args.parser.print_usage(sys.stderr)
        error("check: give a run file, REPORT --log RUN.json, or a batch with --runs")
        return EXIT_BAD
    else:
        run = run_single

    try:
        code = run(args)
        sys.stdout.flush()
        return code
    except BrokenPipeError:
        # The reader went away (| head): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    except KeyboardInterrupt:
        return 130
    except OSError as e:  # standard output full or gone
        try:
            error(f"cannot write the output: {e.strerror or e}")
        except (OSError, ValueError):
            pass
        return EXIT_BAD
