"""Where a batch's time goes, how it scales, and how much memory it takes.

    python -P bench/bench_batch.py [--repeat N] [--runs-for-memory N] [--corpus DIR]

On the corpus runs (../shared/corpus/runs, repeated), prints:

1. the CPU time per run of each stage (reading a line, UTF-8, JSON parsing
   with the duplicate-key rule, orjson with the checks that would give the
   same rules when it is installed, the shape check, extraction, the
   conversion of the log, verification);
2. runs per second of the whole per-run work in 1 and 2 threads and in 1
   and 2 processes (the GIL's share shows in the thread figures);
3. the command itself (``vorlane check --runs X.jsonl --format jsonl -o``)
   with -j 1 and -j 2: runs per second, and the peak memory of the command
   and of its largest worker, for N runs and for 10 N runs.

CPU figures are per core; the wall-clock ones depend on how busy the machine
is: run it when quiet, and more than once.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from multiprocessing import get_context
from pathlib import Path

from vorlane_core import extract, verify
from vorlane_core.check import check
from vorlane_core.json_input import decode_utf8, parse_json
from vorlane_core.runlog_file import parse_run

HERE = Path(__file__).resolve().parent
CORPUS = HERE.parent.parent / "shared" / "corpus" / "runs"


def corpus_lines(corpus: Path) -> list[bytes]:
    files = sorted(corpus.glob("[0-9]*.json"))
    if not files:
        sys.exit(f"no runs in {corpus}")
    return [json.dumps(json.loads(f.read_bytes()), ensure_ascii=False).encode() for f in files]


def cpu_per_run(label: str, fn, items, repeat: int = 3) -> float:
    best = float("inf")
    for _ in range(repeat):
        t = time.process_time()
        fn(items)
        best = min(best, time.process_time() - t)
    us = best / len(items) * 1e6
    print(f"  {label:38s} {us:8.1f} us/run")
    return us


def stages(lines: list[bytes], tmp: Path) -> None:
    print(f"1. CPU time per run, {len(lines)} runs, {sum(map(len, lines)) // len(lines)} bytes per run on average")
    path = tmp / "stages.jsonl"
    path.write_bytes(b"\n".join(lines) + b"\n")

    def read(_):
        with open(path, "rb") as f:
            for _line in f:
                pass

    texts = [decode_utf8(b, "x", lines=False) for b in lines]
    objs = [parse_json(t, "x") for t in texts]
    runs = [parse_run(o, "x") for o in objs]
    total = cpu_per_run("read a line", read, lines)
    total += cpu_per_run("UTF-8", lambda ls: [decode_utf8(b, "x", lines=False) for b in ls], lines)
    total += cpu_per_run("JSON (json, duplicate keys refused)", lambda ts: [parse_json(t, "x") for t in ts], texts)
    cpu_per_run("  json.loads alone, for comparison", lambda ts: [json.loads(t) for t in ts], texts)
    try:
        import orjson
    except ImportError:
        print("  (orjson not installed)")
    else:
        def orjson_same_rules(bs):
            # orjson keeps the last of two equal keys and reads integers past
            # 64 bits as floats: the rules need a second serialization and
            # scans (colon counts, escaped colons, large floats).
            for b in bs:
                v = orjson.loads(b)
                d = orjson.dumps(v)
                _ = b.count(b":") == d.count(b":") and b"\\u003" not in b and b"e19" not in d

        cpu_per_run("  orjson.loads alone", lambda bs: [orjson.loads(b) for b in bs], lines)
        cpu_per_run("  orjson with the same rules", orjson_same_rules, lines)
    total += cpu_per_run("shape check", lambda os_: [parse_run(o, "x") for o in os_], objs)
    claims = [list(extract.extract_claims(r.report, use_llm=False)) for r in runs]
    total += cpu_per_run("extract", lambda rs: [list(extract.extract_claims(r.report, use_llm=False)) for r in rs], runs)

    def verify_all(pairs, clear):
        for r, cs in pairs:
            for c in cs:
                verify.verify(c, r.log)
            if clear:
                verify._cache_clear()

    pairs = list(zip(runs, claims))
    first = cpu_per_run("verify, the log converted first", lambda p: verify_all(p, True), pairs)
    verify_all(pairs, False)
    cached = cpu_per_run("  of which verdicts (log already converted)", lambda p: verify_all(p, False), pairs)
    print(f"  {'  so: conversion of the log':38s} {first - cached:8.1f} us/run")
    total += first
    print(f"  {'total':38s} {total:8.1f} us/run = {1e6 / total:6.0f} runs/s per core")
    print(f"  claims per run: {sum(map(len, claims)) / len(claims):.1f}")


def per_run(texts: list[str]) -> None:
    for t in texts:
        run = parse_run(parse_json(t, "x"), "x")
        check(run.report, run.log)
        verify._cache_clear()


def _timed(kind: str, parts: list[list[str]]) -> float:
    if kind == "threads":
        workers = [threading.Thread(target=per_run, args=(p,)) for p in parts]
    else:
        workers = [get_context("fork").Process(target=per_run, args=(p,)) for p in parts]
    t = time.perf_counter()
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    return time.perf_counter() - t


def scaling(lines: list[bytes], repeat: int) -> None:
    texts = [b.decode() for b in lines]
    print(f"2. Runs per second of the whole per-run work (parse, shape, check), {len(texts)} runs;")
    print(f"   1 and 2 workers measured in turn {repeat} times: best rates, median of the {repeat} ratios")
    for kind in ("threads", "processes"):
        rates: dict[int, list[float]] = {1: [], 2: []}
        for _ in range(repeat):
            for k in (1, 2):
                rates[k].append(len(texts) / _timed(kind, [texts[i::k] for i in range(k)]))
        ratios = sorted(b / a for a, b in zip(rates[1], rates[2]))
        print(
            f"  {kind:9s}: x1 {max(rates[1]):6.0f} runs/s, x2 {max(rates[2]):6.0f} runs/s; "
            f"2 / 1 = {ratios[len(ratios) // 2]:.2f} (from {ratios[0]:.2f} to {ratios[-1]:.2f})"
        )


# The command's own peak (VmHWM: ru_maxrss would start from the RSS of the
# process that started this one) and its largest worker's, in KiB.
CHILD = (
    "import re, resource, sys\n"
    "from vorlane_core.cli import main\n"
    "code = main(sys.argv[1:])\n"
    "hwm = re.search(r'VmHWM:\\s*(\\d+)', open('/proc/self/status').read()).group(1)\n"
    "print(hwm, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, code)\n"
)


def command(lines: list[bytes], n: int, tmp: Path, jobs: int) -> tuple[float, int, int, int]:
    src = tmp / f"runs-{n}.jsonl"
    if not src.exists():
        with open(src, "wb") as f:
            for i in range(n):
                f.write(lines[i % len(lines)] + b"\n")
    out = tmp / "out.jsonl"
    out.unlink(missing_ok=True)
    t = time.perf_counter()
    p = subprocess.run(
        [sys.executable, "-c", CHILD, "check", "--runs", str(src), "--format", "jsonl", "-o", str(out), "-j", str(jobs)],
        capture_output=True, text=True,
    )
    dt = time.perf_counter() - t
    if p.returncode != 0 or not p.stdout.strip():
        sys.exit(p.stderr)
    main_kb, worker_kb, _ = map(int, p.stdout.split())
    return n / dt, main_kb, worker_kb, src.stat().st_size


def end_to_end(lines: list[bytes], n: int, tmp: Path) -> None:
    print("3. vorlane check --runs X.jsonl --format jsonl -o FILE (main + workers' peak RSS)")
    for count in (n, 10 * n):
        for jobs in (1, 2):
            rate, main_kb, worker_kb, size = command(lines, count, tmp, jobs)
            print(
                f"  {count:7d} runs ({size / 2**20:7.1f} MiB) -j {jobs}: {rate:6.0f} runs/s, "
                f"peak {main_kb / 1024:5.1f} MiB + {jobs} x {worker_kb / 1024:5.1f} MiB"
            )


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=40, help="copies of the corpus for stages 1 and 2")
    ap.add_argument("--runs-for-memory", type=int, default=2000, help="N for stage 3 (also runs 10 N)")
    ap.add_argument("--corpus", type=Path, default=CORPUS)
    ap.add_argument("--only", choices=("stages", "scaling", "command"))
    a = ap.parse_args()
    base = corpus_lines(a.corpus)
    lines = base * a.repeat
    print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    with tempfile.TemporaryDirectory() as d:
        tmp = Path(d)
        if a.only in (None, "stages"):
            stages(lines, tmp)
        if a.only in (None, "scaling"):
            scaling(lines, 5)
        if a.only in (None, "command"):
            end_to_end(base, a.runs_for_memory, tmp)
    print(f"load average {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
