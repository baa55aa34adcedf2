"""Extraction speed: the compiled module against the pure-Python model.

1. On a report of about 1 MB made of the real reports beside the project
   (../shared/corpus/reports, else the bundled examples), each function is
   timed in the compiled module and in tests/reference.py in the same run
   (best of several), with MB/s and the ratio.  Goals: split_units and
   extract_claims(use_llm=False) at 30x or more, every internal step at 1x
   or more.
2. On adversarial shapes (long runs of [\\w.-], dots, progress lines,
   parentheses in a code span, backticks, "*", list markers, table rows, a
   single long line...) each function of the compiled module is timed at
   1x, 2x and 4x the size (the median of several runs, sizes in turns); the
   growth per doubling must stay at 2.3 or less (linear time).

    python bench/bench_extract.py [--quick] [--only SHAPE ...]
"""

import argparse
import gc
import os
import pathlib
import statistics
import subprocess
import sys
import time

from vorlane_core import extract as X

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))
import reference as R  # noqa: E402
from adversarial_shapes import SHAPES  # noqa: E402

RATIO_GOAL = 30.0
GROWTH_LIMIT = 2.3


def sample_reports():
    corpus = ROOT.parent / "shared" / "corpus" / "reports"
    paths = sorted(corpus.glob("*.md")) if corpus.is_dir() else []
    if not paths:
        paths = sorted((ROOT / "examples").rglob("*.md"))
    if not paths:
        sys.exit("no reports found")
    return [p.read_text(encoding="utf-8") for p in paths]


def build_report(texts, size=1_000_000):
    parts, total, i = [], 0, 0
    while total < size:
        t = texts[i % len(texts)]
        parts.append(t)
        total += len(t.encode("utf-8"))
        i += 1
    return "\n\n".join(parts)


# CPU time of this thread: on a shared machine the wall clock also counts
# the time other programs hold the cores (VORLANE_BENCH_CLOCK=wall for it).
CLOCK = time.perf_counter if os.environ.get("VORLANE_BENCH_CLOCK") == "wall" else time.thread_time


def best(f, runs):
    b = float("inf")
    for _ in range(runs):
        t = CLOCK()
        f()
        b = min(b, CLOCK() - t)
    return b


def best_pair(fc, fp, runs):
    """Best times of fc and fp, runs taken in turns so that a change in the
    machine's load falls on both."""
    bc = bp = float("inf")
    for _ in range(runs):
        bc = min(bc, best(fc, 3))
        bp = min(bp, best(fp, 1))
    return bc, bp


def compare_table(runs):
    report = build_report(sample_reports())
    mb = len(report.encode("utf-8")) / 1e6
    units = R.split_units(report)
    assert X.split_units(report) == units, "compiled and Python Units differ"
    pars = [p for p in report.split("\n\n") if p.strip()]
    rows = [
        ("split_units", X.split_units, R.split_units, lambda f: f(report), True),
        ("_strip_fences", X._strip_fences, R._strip_fences, lambda f: f(report), False),
        ("_sentences", X._sentences, R._sentences, lambda f: [f(p) for p in pars], False),
        ("_tidy", X._tidy, R._tidy, lambda f: [f(u) for u in units], False),
        ("literal_targets", X.literal_targets, R.literal_targets, lambda f: [f(u) for u in units], False),
        ("strong_kind", X.strong_kind, R.strong_kind, lambda f: [f(u) for u in units], False),
        ("heuristic_kind", X.heuristic_kind, R.heuristic_kind, lambda f: [f(u) for u in units], False),
        ("_inspection_record", X._inspection_record, R.inspection_record, lambda f: [f(u) for u in units], False),
        ("extract_claims", lambda s: X.extract_claims(s, use_llm=False), lambda s: R.extract_claims(s, use_llm=False),
         lambda f: f(report), True),
    ]
    print(f"compiled vs pure Python on a {mb:.2f} MB report ({len(units)} Units), best of {runs}, "
          f"{'wall' if CLOCK is time.perf_counter else 'CPU'} time")
    print(f"{'function':<20} {'compiled':>10} {'MB/s':>8} {'Python':>10} {'ratio':>8}  goal")
    ok = True
    for name, fc, fp, call, headline in rows:
        c, p = best_pair(lambda: call(fc), lambda: call(fp), runs)
        goal = RATIO_GOAL if headline else 1.0
        met = p / c >= goal
        ok &= met
        print(f"{name:<20} {c * 1e3:8.2f}ms {mb / c:8.1f} {p * 1e3:8.1f}ms {p / c:7.1f}x  "
              f">={goal:g}x {'ok' if met else 'MISSED'}")
    return ok


FUNCS = {
    "split_units": X.split_units,
    "literal_targets": X.literal_targets,
    "heuristic_kind": X.heuristic_kind,
    "_sentences": X._sentences,
    "claims": lambda s: X.extract_claims(s, use_llm=False),
}


def sized_median(f, texts, runs):
    """Median time of f on each text.  The sizes are taken in turns, so that
    a change in the machine's load falls on all of them; each sample repeats
    the call until it lasts about 2 ms at the smallest size, so that short
    calls are not lost in the clock's noise; and the median, not the best,
    is kept, so that neither a stall nor a lucky run (a text that happens to
    sit well in the caches) sets a ratio."""
    start = CLOCK()
    f(texts[0])
    reps = max(1, int(0.002 / max(CLOCK() - start, 1e-7)))
    samples = [[] for _ in texts]
    for _ in range(runs):
        for i, t in enumerate(texts):
            start = CLOCK()
            for _ in range(reps):
                f(t)
            samples[i].append((CLOCK() - start) / reps)
    return [statistics.median(s) for s in samples]


# The table-rows shape is sized by rows: 10^5 rows at 4x.
ROW_CHARS = len(SHAPES["table_rows"](1))


def growth_table(base, runs, only):
    print(f"\ngrowth on adversarial shapes (compiled), sizes {base // 1000}k/{2 * base // 1000}k/"
          f"{4 * base // 1000}k characters (table_rows: {base // 4000:g}k/{base // 2000:g}k/{base // 1000:g}k rows), "
          f"median of {runs}; ratio per doubling (limit {GROWTH_LIMIT})")
    print(f"{'shape':<18} {'function':<16} {'1x':>9} {'2x':>9} {'4x':>9} {'2x/1x':>6} {'4x/2x':>6}")
    ok = True
    for shape, make in SHAPES.items():
        if only and not any(o in shape for o in only):
            continue
        unit = base // 4 * ROW_CHARS if shape == "table_rows" else base
        texts = [make(unit * k) for k in (1, 2, 4)]
        for fname, f in FUNCS.items():
            ts = sized_median(f, texts, runs)
            r1, r2 = ts[1] / ts[0], ts[2] / ts[1]
            met = max(r1, r2) <= GROWTH_LIMIT
            ok &= met
            print(f"{shape:<18} {fname:<16} " + " ".join(f"{t * 1e3:7.2f}ms" for t in ts)
                  + f" {r1:6.2f} {r2:6.2f}{'' if met else '  OVER'}")
    return ok


def single_line(runs, mb):
    print(f"\none line of {mb:g}/{2 * mb:g}/{4 * mb:g} MB (split_units), median of {runs}")
    texts = [SHAPES["single_line"](int(k * mb * 1_000_000)) for k in (1, 2, 4)]
    ts = sized_median(X.split_units, texts, runs)
    r1, r2 = ts[1] / ts[0], ts[2] / ts[1]
    print(" ".join(f"{t * 1e3:8.1f}ms" for t in ts) + f"  ratios {r1:.2f} {r2:.2f}"
          + f"  {4 * mb / ts[2]:.0f} MB/s")
    return max(r1, r2) <= GROWTH_LIMIT


# The growth tables run in a child process whose malloc keeps what is freed
# and serves blocks up to 32 MiB from its heap.  Otherwise glibc gives
# blocks above a moving threshold fresh mappings on every call and returns
# freed memory at the top of the heap past another, so one size pays a
# page fault per 4 KiB that the size below did not: a step in the times
# that says nothing of the work.  The table against Python runs as it is.
ALLOCATOR = "glibc.malloc.trim_threshold=1073741824:glibc.malloc.mmap_threshold=33554432"


def growth(a, runs):
    # 4x is 400k characters per shape (10^5 rows for table_rows): ten times
    # the lengths at which the quadratic cases took seconds, while a text and
    # what is made of it still fit in the core's cache, so that the ratios
    # show the work and not the memory hierarchy (past it, per-byte times
    # rise for every function alike); the single line goes to 50 MB.
    ok = growth_table(25_000 if a.quick else 100_000, runs, a.only)
    if not a.only:
        ok &= single_line(3 if a.quick else 9, 3 if a.quick else 12.5)
    return ok


def growth_in_child(a):
    env = dict(os.environ)
    env.setdefault("GLIBC_TUNABLES", ALLOCATOR)
    cmd = [sys.executable] + (["-P"] if sys.flags.safe_path else []) + [__file__, "--growth-only"]
    cmd += ["--quick"] if a.quick else []
    cmd += ["--only", *a.only] if a.only else []
    sys.stdout.flush()
    return subprocess.run(cmd, env=env, check=False).returncode == 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="fewer runs, smaller inputs")
    ap.add_argument("--only", nargs="*", default=[], help="growth shapes whose name holds one of these")
    ap.add_argument("--table", action="store_true", help="only the compiled vs Python table")
    ap.add_argument("--growth-only", action="store_true", help=argparse.SUPPRESS)
    a = ap.parse_args()
    gc.disable()  # collections would land on whichever call allocates at the time
    runs = 3 if a.quick else 7
    if a.growth_only:
        sys.exit(0 if growth(a, runs) else 1)
    ok = compare_table(runs) if not a.only else True
    if a.table:
        return
    ok &= growth_in_child(a)
    print("\nall goals met" if ok else "\nsome goals MISSED")


if __name__ == "__main__":
    main()
