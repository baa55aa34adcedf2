"""Cost of locating the claims in their report, against extracting them.

Builds reports of about 1 MB and 5 MB from the example reports (and, when
present, the real reports beside the project), extracts their claims with the
heuristics, then times vorlane_core.positions.locate over them.  Prints the
claims per second, how many were found exactly, and the ratio of locating to
extracting (the goal: locating costs no more than extracting).
"""

import pathlib
import sys
import time

from vorlane_core.extract import extract_claims
from vorlane_core.positions import locate

ROOT = pathlib.Path(__file__).resolve().parents[1]


def sample_reports():
    texts = [p.read_text(encoding="utf-8") for p in sorted((ROOT / "examples").rglob("*.md"))]
    corpus = ROOT.parent / "shared" / "corpus" / "reports"
    if corpus.is_dir():
        texts += [p.read_text(encoding="utf-8") for p in sorted(corpus.glob("*.md"))]
    if not texts:
        sys.exit("no example reports found")
    return texts


def build_report(texts, size):
    # Numbered copies, so that deduplication keeps every copy's claims.
    parts, total, i = [], 0, 0
    while total < size:
        t = texts[i % len(texts)].replace(". ", f". Step {i} done. ", 1) + f"\n\nRan `make copy{i}` once.\n\n"
        parts.append(t)
        total += len(t)
        i += 1
    return "".join(parts)


def main():
    texts = sample_reports()
    for size in (1_000_000, 5_000_000):
        report = build_report(texts, size)
        t0 = time.perf_counter()
        claims = [c["text"] for c in extract_claims(report, use_llm=False)]
        t1 = time.perf_counter()
        positions = list(locate(report, claims))
        t2 = time.perf_counter()
        exact = sum(1 for p in positions if p and p["exact"])
        print(
            f"{len(report) / 1e6:.1f} MB report, {len(claims)} claims: extract {t1 - t0:.2f} s, "
            f"locate {t2 - t1:.2f} s ({len(claims) / max(t2 - t1, 1e-9):,.0f} claims/s), "
            f"{exact} exact, {sum(p is None for p in positions)} not found; "
            f"locate/extract = {(t2 - t1) / max(t1 - t0, 1e-9):.2f} (goal <= 1)"
        )


if __name__ == "__main__":
    main()
