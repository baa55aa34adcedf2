"""``vorlane check --runs``: many runs checked in parallel, one row each."""

from __future__ import annotations

import argparse
import os
import sys
from concurrent.futures import ThreadPoolExecutor, as_completed
from typing import Any

from vorlane_core.check import CheckError, check, fails, summarize
from vorlane_core.cli.formats import output_for
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error
from vorlane_core.cli.terminal import Progress
from vorlane_core.cli.sessions import batch_sessions, warn_batch_import
from vorlane_core.runlog_file import InputError, RunSource


def check_source(src: RunSource, use_llm: bool) -> dict[str, Any]:
    """The result of one run of a batch: its claims and summary, or its error
    (with the report's text and where it was read from, for the formats)."""
    source = {"path": src.path, "embedded": True, "line": src.line}
    try:
        run = src.load()
        result = check(run.report, run.log, use_llm=use_llm)  # type: ignore[arg-type]
    except (InputError, CheckError) as e:
        msg = str(e)
        if msg.startswith(src.name + ": "):
            msg = msg[len(src.name) + 2 :]
        return {"name": src.name, "error": msg, "source": source}
    out = {"name": src.name, "claims": result["claims"], "summary": result["summary"], "report": run.report, "source": source}
    if getattr(src, "meta", None) is not None:  # an imported session
        out["import"] = src.meta  # type: ignore[attr-defined]
    return out


def run_batch(args: argparse.Namespace) -> int:
    try:
        sources = [s for path in args.runs for s in batch_sessions(path, args.from_format, args.turn)]
    except InputError as e:
        error(str(e))
        return EXIT_BAD
    if not sources:
        error("no runs found in " + ", ".join(args.runs))
        return EXIT_BAD
    jobs = args.jobs or os.cpu_count() or 1
    results: list[Any] = [None] * len(sources)
    progress = Progress(sys.stderr, len(sources))
    pool = ThreadPoolExecutor(max_workers=min(jobs, len(sources)))
    try:
        futures = {pool.submit(check_source, s, args.llm): i for i, s in enumerate(sources)}
        for f in as_completed(futures):
            results[futures[f]] = f.result()
            progress.step()
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
        progress.close()

    totals = summarize([row for r in results if "claims" in r for row in r["claims"]])
    bad = sum(1 for r in results if "error" in r)
    warn_batch_import(args, results)
    if not args.quiet:
        out = output_for(args)(sys.stdout, args)
        out.batch_start()
        for r in results:
            out.batch_run(r)
        out.batch_end(totals, bad)
    if bad:
        return EXIT_BAD
    return EXIT_FAIL if fails(totals, args.fail_on) else EXIT_OK
