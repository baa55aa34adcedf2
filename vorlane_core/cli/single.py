"""``vorlane check REPORT --log RUN.json``: one run, one table."""

from __future__ import annotations

import argparse
import sys

from vorlane_core.check import CheckError, check, fails
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error, print_json
from vorlane_core.cli.sessions import FORMATS, NotRunNorSession, load_run, warn_import
from vorlane_core.cli.table import render_claims, summary_text
from vorlane_core.cli.terminal import Style, colour_wanted, width_of
from vorlane_core.runlog_file import InputError, read_report


def run_single(args: argparse.Namespace) -> int:
    source = args.log if args.log is not None else args.report  # a run file or a session file
    try:
        run, meta = load_run(source, args.from_format, args.turn)
        if args.log is not None and args.report is not None:
            report = read_report(args.report)
        elif run.report is not None:
            report = run.report
        else:
            raise InputError(f'{args.log}: holds only a run log; give the REPORT file too (or use {{"report": ..., "log": ...}})')
        if not args.json:
            warn_import(meta, source)
        result = check(report, run.log, use_llm=args.llm)
    except NotRunNorSession as e:
        if args.log is not None:
            error(str(e))
        else:  # most likely a report given without its run log
            args.parser.print_usage(sys.stderr)
            error(
                f"check: {source} is neither a run file nor a session file of a known format "
                f"({', '.join(FORMATS)}); to check a report, give its run log with --log RUN.json"
            )
        return EXIT_BAD
    except (InputError, CheckError) as e:
        error(str(e))
        return EXIT_BAD
    rows, summary = result["claims"], result["summary"]
    if args.json:
        doc = {"claims": rows, "summary": summary}
        if meta is not None:
            doc["import"] = meta
        print_json(doc)
    else:
        style = Style(colour_wanted(sys.stdout))
        lines = render_claims(rows, width_of(sys.stdout), style) if rows else ["no claims found in the report"]
        lines += ["", summary_text(summary, style)]
        sys.stdout.write("\n".join(lines) + "\n")
    return EXIT_FAIL if fails(summary, args.fail_on) else EXIT_OK
