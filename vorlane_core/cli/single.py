"""``vorlane check REPORT --log RUN.json``: one run, one table."""

from __future__ import annotations

import argparse
import sys

from vorlane_core.check import CheckError, check, fails
from vorlane_core.cli.formats import output_for
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error
from vorlane_core.runlog_file import InputError, load_json_file, max_input_bytes, parse_run, read_report


def run_single(args: argparse.Namespace) -> int:
    try:
        limit = max_input_bytes(args.max_input_mb)
        run = parse_run(load_json_file(args.log, limit), args.log)
        if args.report is not None:
            report = read_report(args.report, limit)
        elif run.report is not None:
            report = run.report
        else:
            raise InputError(f'{args.log}: holds only a run log; give the REPORT file too (or use {{"report": ..., "log": ...}})')
        result = check(report, run.log, use_llm=args.llm)
    except (InputError, CheckError) as e:
        error(str(e))
        return EXIT_BAD
    if args.output:
        try:
            with open(args.output, "w", encoding="utf-8", errors="backslashreplace") as stream:
                output_for(args)(stream, args).single(result)
        except OSError as e:
            error(f"{args.output}: cannot write: {e.strerror or e}")
            return EXIT_BAD
    else:
        output_for(args)(sys.stdout, args).single(result)
    return EXIT_FAIL if fails(result["summary"], args.fail_on) else EXIT_OK
