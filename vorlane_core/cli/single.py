"""``vorlane check REPORT --log RUN.json``: one run, one table."""

from __future__ import annotations

import argparse
import sys

from vorlane_core.check import CheckError, check, fails
from vorlane_core.cli.formats import output_for
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error
from vorlane_core.runlog_file import InputError, load_json_file, parse_run, read_report


def run_single(args: argparse.Namespace) -> int:
    try:
        run = parse_run(load_json_file(args.log), args.log)
        if args.report is not None:
            report = read_report(args.report)
        elif run.report is not None:
            report = run.report
        else:
            raise InputError(f'{args.log}: holds only a run log; give the REPORT file too (or use {{"report": ..., "log": ...}})')
        result = check(report, run.log, use_llm=args.llm)
    except (InputError, CheckError) as e:
        error(str(e))
        return EXIT_BAD
    source = {"path": args.report if args.report is not None else args.log, "embedded": args.report is None, "line": None}
    output_for(args)(sys.stdout, args).single({**result, "report": report, "source": source})
    return EXIT_FAIL if fails(result["summary"], args.fail_on) else EXIT_OK
