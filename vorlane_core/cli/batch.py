"""``vorlane check --runs``: many runs checked in parallel, streamed.

Runs are read one at a time (a .jsonl file line by line, a directory file by
file), checked in worker processes and handed to the output format as they
complete, in input order.  Memory stays flat however many runs there are:
what is kept is a bounded window of runs in flight, and whatever the format
keeps (the table: a name and counts per run; the JSON document: every
result, hence ``--format jsonl`` for big batches).

With ``--format jsonl -o FILE`` the results are appended to FILE, and runs
already written there (by name) are skipped: a job that was stopped is
resumed by running the same command again.
"""

from __future__ import annotations

import argparse
import itertools
import os
import signal
import sys
from typing import Any, TextIO

from vorlane_core.check import add_summaries, fails, summarize
from vorlane_core.cli.formats import output_for
from vorlane_core.cli.output import EXIT_BAD, EXIT_FAIL, EXIT_OK, error, note
from vorlane_core.cli.resume import Written, read_written
from vorlane_core.cli.terminal import Progress
from vorlane_core.cli.workers import OrderedPool
from vorlane_core.run_check import check_source
from vorlane_core.cli.sessions import SessionBatch, warn_batch_import
from vorlane_core.runlog_file import InputError, RunSource, max_input_bytes

EXIT_INTERRUPTED = 130


def check_task(task: tuple[RunSource, bool, int]) -> dict[str, Any]:
    """:func:`check_source` for a worker process."""
    return check_source(*task)


def _failed(task: tuple[RunSource, bool, int], why: str) -> dict[str, Any]:
    return {"name": task[0].name, "error": f"could not be checked: {why}"}


def _open_output(args: argparse.Namespace) -> tuple[TextIO, Written]:
    """Where the results go, and what an earlier run of the job already wrote there."""
    path = getattr(args, "output", None)
    if not path:
        return sys.stdout, Written()
    resume = args.format == "jsonl"
    written = read_written(path) if resume else Written()
    try:
        stream = open(path, "a" if resume else "w", encoding="utf-8", errors="backslashreplace", newline="\n")
    except OSError as e:
        raise InputError(f"{path}: cannot write: {e.strerror or e}") from None
    if written.needs_newline:
        stream.write("\n")
    return stream, written


def _interrupted(pool: OrderedPool, stream: TextIO, progress: Progress) -> None:
    """Ctrl-C: stop now.  The workers are killed, not waited for (a model
    request may hold one for minutes); what was written is flushed."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    pool.abandon()
    for s in (stream, sys.stdout):
        try:
            s.flush()
        except (OSError, ValueError):
            pass
    progress.close()
    error("interrupted")
    try:
        sys.stderr.flush()
    finally:
        os._exit(EXIT_INTERRUPTED)


def run_batch(args: argparse.Namespace) -> int:
    stream: TextIO = sys.stdout
    try:
        max_bytes = max_input_bytes(getattr(args, "max_input_mb", None))
        batch = SessionBatch(args.runs, args.from_format, args.turn)
        stream, written = _open_output(args)
        sources = batch.sources(max_bytes)
        if written.names:
            sources = (s for s in sources if s.name not in written.names)
        first = next(sources, None)
        if first is None and not written.count:
            raise InputError("no runs found in " + ", ".join(args.runs))
    except InputError as e:
        if stream is not sys.stdout:
            stream.close()
        error(str(e))
        return EXIT_BAD

    total = batch.count
    progress = Progress(sys.stderr, None if total is None else total - written.count)
    totals: dict[str, int] = dict(summarize([]))
    add_summaries(totals, written.totals)
    bad = written.bad
    jobs = args.jobs or os.cpu_count() or 1
    pool = OrderedPool(check_task, _failed, workers=jobs)
    out = output_for(args)(stream, args)
    try:
        out.batch_start()
        tasks = ((s, args.llm, max_bytes) for s in itertools.chain([first] if first else [], sources))
        for result in pool.map(tasks):
            warn_batch_import(args, [result])
            out.batch_run(result)
            if "error" in result:
                bad += 1
            else:
                add_summaries(totals, result["summary"])
            progress.step()
        pool.close()
        progress.close()
        out.batch_end(totals, bad)
    except KeyboardInterrupt:
        _interrupted(pool, stream, progress)
    except InputError as e:  # a .jsonl file that failed while being read
        pool.abandon()
        progress.close()
        error(str(e))
        return EXIT_BAD
    finally:
        if stream is not sys.stdout:
            stream.close()
    if written.count:
        note(f"{written.count} run{'s' if written.count != 1 else ''} already in {args.output} skipped")
    if bad:
        return EXIT_BAD
    return EXIT_FAIL if fails(totals, args.fail_on) else EXIT_OK
