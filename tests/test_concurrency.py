"""Many threads at once: exactly the single-threaded answers.

Eight threads call extract_claims (heuristic path) and verify on shared
inputs: the same report strings and the same run-log dicts, whose texts the
verdict module caches across calls.  The runs are those of
../shared/corpus/runs when present (with every report of
../shared/corpus/reports judged against the log of one of them), else the
examples.  The verdict module
matches without the GIL, so the threads really do run together; the cache
of normalised texts is emptied first, so that they race to fill it, and a
further thread keeps emptying and shrinking it while they work.
"""

import json
import threading
from pathlib import Path

import pytest

from conftest import CORPUS, compiled

X = compiled("vorlane_core.extract", "extract_claims")
V = compiled("vorlane_core.verify", "verify")

ROOT = Path(__file__).resolve().parents[1]
THREADS = 8
ROUNDS = 3


def load_runs():
    runs = []
    corpus_runs = CORPUS / "runs"
    if corpus_runs.is_dir():
        for p in sorted(corpus_runs.glob("*.json")):
            if p.name == "index.json":
                continue
            d = json.loads(p.read_text(encoding="utf-8"))
            runs.append((p.name, d["report"], d["L"]))
    if runs and (CORPUS / "reports").is_dir():
        # Every other report too, each against the log of one of the runs.
        n = len(runs)
        for i, p in enumerate(sorted((CORPUS / "reports").glob("*.md"))):
            runs.append((p.name, p.read_text(encoding="utf-8"), runs[i % n][2]))
    if not runs:
        ex = ROOT / "examples"
        runs.append(("example", (ex / "report.md").read_text(encoding="utf-8"),
                     json.loads((ex / "run.json").read_text(encoding="utf-8"))))
        for p in sorted((ex / "runs").glob("*.json")):
            d = json.loads(p.read_text(encoding="utf-8"))
            log = d.get("L", d.get("log"))
            if isinstance(log, dict) and all(isinstance(e, dict) and "tool" in e for e in log.get("events", [])):
                runs.append((p.name, d["report"], log))
    return runs


def answers(report, L):
    claims = X.extract_claims(report, False)
    return claims, [V.verify(c, L) for c in claims]


@pytest.fixture(scope="module")
def runs():
    r = load_runs()
    assert r, "no runs to work on"
    return r


def run_threads(runs, expected, churn=None):
    """Runs every run ROUNDS times in each of THREADS threads (each thread
    starting at a different run); returns the mismatches."""
    start = threading.Barrier(THREADS + (churn is not None))
    done = threading.Event()
    mismatches, errors = [], []

    def worker(k):
        try:
            start.wait()
            for r in range(ROUNDS):
                for i in range(len(runs)):
                    j = (i + k * len(runs) // THREADS + r) % len(runs)
                    name, report, L = runs[j]
                    got = answers(report, L)
                    if got != expected[j]:
                        mismatches.append((k, name))
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(repr(e))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(THREADS)]
    if churn is not None:
        threads.append(threading.Thread(target=churn, args=(start, done)))
    for t in threads:
        t.start()
    for t in threads[:THREADS]:
        t.join(timeout=600)
    done.set()
    for t in threads[THREADS:]:
        t.join(timeout=60)
    assert not any(t.is_alive() for t in threads), "a thread hung"
    assert not errors, errors[:3]
    return mismatches


def test_threads_give_the_single_threaded_answers(runs):
    expected = [answers(report, L) for _, report, L in runs]
    assert sum(len(c) for c, _ in expected) > 0
    V._cache_clear()
    assert run_threads(runs, expected) == []


def test_threads_with_the_cache_churning(runs):
    expected = [answers(report, L) for _, report, L in runs]
    old_limit = V._cache_info()["limit"]

    def churn(start, done):
        start.wait()
        n = 0
        while not done.is_set():
            if n % 3 == 0:
                V._cache_clear()
            else:
                V._cache_limit((64 << 10) if n % 3 == 1 else old_limit)
            n += 1
            done.wait(0.005)

    try:
        V._cache_clear()
        assert run_threads(runs, expected, churn) == []
    finally:
        V._cache_limit(old_limit)


def test_threads_on_fresh_copies_of_the_texts(runs):
    # The same texts as new str objects in every thread: no sharing through
    # the cache, each thread normalises its own copies.
    expected = [answers(report, L) for _, report, L in runs]

    def copy(v):
        if isinstance(v, str):
            return "".join(list(v))
        if isinstance(v, list):
            return [copy(x) for x in v]
        if isinstance(v, dict):
            return {copy(k): copy(x) for k, x in v.items()}
        return v

    per_thread = [[(n, copy(rep), copy(L)) for n, rep, L in runs] for _ in range(THREADS)]
    mismatches = []

    def worker(k):
        for j, (name, report, L) in enumerate(per_thread[k]):
            if answers(report, L) != expected[j]:
                mismatches.append((k, name))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=600)
    assert mismatches == []
