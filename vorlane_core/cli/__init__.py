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

import os
import sys

from vorlane_core.cli.batch import run_batch
from vorlane_core.cli.output import EXIT_BAD, EXIT_OK, error
from vorlane_core.cli.parser import build_parser
from vorlane_core.cli.sessions import run_import
from vorlane_core.cli.single import run_single

__all__ = ["main", "build_parser"]


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:  # --help, --version, usage errors
        return e.code if isinstance(e.code, int) else EXIT_BAD
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="backslashreplace")  # type: ignore[union-attr]
        except (AttributeError, ValueError):
            pass

    check = args.parser
    if args.command == "import":
        run = run_import
    elif args.runs is not None:
        if args.report is not None or args.log is not None:
            check.print_usage(sys.stderr)
            error("check: --runs takes no REPORT and no --log")
            return EXIT_BAD
        run = run_batch
    elif args.log is None and args.report is None:
        check.print_usage(sys.stderr)
        error("check: give a session file, the run log with --log RUN.json, or a batch with --runs")
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
