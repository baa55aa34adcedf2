"""Throughput of report segmentation and heuristic classification.

Builds a report of about 1 MB from the example reports (and, when present,
the real reports beside the project) and times split_units + literal_targets
+ heuristic_kind on every Unit.  Prints MB/s and the ratio to the 10 MB/s goal.
"""

import pathlib
import sys
import time

from vorlane_core import extract

ROOT = pathlib.Path(__file__).resolve().parents[1]
GOAL_MB_S = 10.0


def sample_reports():
    texts = [p.read_text(encoding="utf-8") for p in sorted((ROOT / "examples").rglob("*.md"))]
    corpus = ROOT.parent / "shared" / "corpus" / "reports"
    if corpus.is_dir():
        texts += [p.read_text(encoding="utf-8") for p in sorted(corpus.glob("*.md"))]
    if not texts:
        sys.exit("no example reports found")
    return texts


def build_report(texts, size=1_000_000):
    parts, total, i = [], 0, 0
    while total < size:
        t = texts[i % len(texts)]
        parts.append(t)
        total += len(t.encode("utf-8"))
        i += 1
    return "\n\n".join(parts)


def run(report):
    units = extract.split_units(report)
    for u in units:
        extract.literal_targets(u)
        extract.heuristic_kind(u)
    return len(units)


def main():
    report = build_report(sample_reports())
    mb = len(report.encode("utf-8")) / 1e6
    run(report)  # warm up
    best = float("inf")
    for _ in range(5):
        t = time.perf_counter()
        n = run(report)
        best = min(best, time.perf_counter() - t)
    rate = mb / best
    print(f"extract: {mb:.2f} MB report, {n} units, best of 5 {best * 1000:.1f} ms")
    print(f"extract: {rate:.1f} MB/s  (goal {GOAL_MB_S:.0f} MB/s, ratio {rate / GOAL_MB_S:.1f}x)")


if __name__ == "__main__":
    main()
