"""Memory: no leaks, no unbounded growth.

Every function of both modules, the private helpers of the verdict module
included, is called 100,000 times in all on varied plain-str input (lone
surrogates, NUL, line separators, large texts, malformed run logs and
arguments of the wrong type, so that the error paths run too).  After a
warm-up the resident set size (/proc/self/statm) must stay flat within a few
MB: a leak of a hundred bytes per call would show as several MB.

The cache of normalised log texts keeps texts alive on purpose; it must
respect its byte limit however many distinct large texts go through it.
"""

import gc
import os
import random
from pathlib import Path

import pytest

from conftest import CORPUS, compiled

import reference as R

X = compiled("vorlane_core.extract", "split_units")
V = compiled("vorlane_core.verify", "verify")

ROOT = Path(__file__).resolve().parents[1]
PAGE = os.sysconf("SC_PAGE_SIZE")
MB = 2**20

# Under the sanitizer build (run with libasan preloaded) freed memory sits in
# ASan's quarantine, so the resident size says nothing about leaks there; the
# calls still run, for ASan and UBSan to watch.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")

TOTAL_CALLS = 100_000
WARMUP_CALLS = 20_000
GROWTH_LIMIT = 4 * MB


def rss():
    gc.collect()
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def reports():
    texts = [(ROOT / "examples" / "report.md").read_text(encoding="utf-8")]
    if (CORPUS / "reports").is_dir():
        texts += [p.read_text(encoding="utf-8") for p in sorted((CORPUS / "reports").glob("*.md"))[:12]]
    texts += [
        "- Fixed `a\ud800b` in /tmp/x\udfff.py and ran `make`.\n- Updated config\u2028timeout=30 today.",
        "Ran `pytest`\x00 and saw 1,234 rows.\n\n```\ncode\n``` Deployed v1.2.3 to staging. \ud83d\ude00",
        "| step | result |\n|---|---|\n| build | passed in 42 s |\n✅ **Deployed** version 2.4.1 to staging.",
        "Edited " + "/a" * 50_000 + " and then the file " + "x" * 100_000 + ".md today.",
        "",
    ]
    return texts


def logs():
    out = [json_load(ROOT / "examples" / "run.json")]
    for p in sorted((ROOT / "examples" / "runs").glob("*.json")):
        d = json_load(p)
        log = d.get("L", d.get("log")) if isinstance(d, dict) else None
        if isinstance(log, dict) and all(k in log for k in ("events", "external", "written", "commands")):
            out.append(log)
    big = "line of build output with timeout=30 and 1,234 rows\n" * 20_000
    out.append({
        "events": [
            {"tool": "terminal", "wrote": False, "command": "make all", "output": big},
            {"tool": "read_file", "wrote": False, "output": "config \ud800 timeout = 30"},
            {"tool": "patch", "wrote": True, "payload": "timeout = 30\nmax_retries: 5", "output": None},
            {"tool": "execute_code", "wrote": False, "command": "print(open('a').read())", "output": ""},
        ],
        "external": [{"args": {"msg": "h\u00e9llo \ud800", "n": [1, 2.5, None, True, {"deep": ["x"]}]}}],
        "written": ["src/app.ts", "~/notes.md"],
        "commands": [{"command": "grep -rn foo src", "exit_code": 1, "output": "  \n"},
                     {"command": "pytest -q", "exit_code": 0, "output": "3 passed"}],
    })
    return out


def json_load(p):
    import json

    return json.loads(p.read_text(encoding="utf-8"))


def calls():
    """(name, function, args) for every function, on varied inputs."""
    rng = random.Random(7)
    reps = reports()
    small = [r for r in reps if len(r) < 50_000]
    units = [u for r in small for u in R.split_units(r)] + ["a\ud800 b\udc00 c `x\ud83d`", "x" * 200_000 + " /etc/a.conf"]
    claims = [c for r in small for c in R.extract_claims(r, use_llm=False)]
    claims += [{"text": "Set `timeout=30`", "kind": "file_changed", "targets": ["timeout=30", "config.toml:12"]},
               {"text": "Sent h\u00e9llo \ud800", "kind": "external_action", "targets": ["h\u00e9llo \ud800"]},
               {"kind": "command_ran", "targets": [1234, "grep -rn foo src", None, ""]},
               {"text": "nothing", "targets": []}]
    lg = logs()
    texts = [e.get("output") for L in lg for e in L["events"]][:12]
    bad_log = {"events": [{"tool": "terminal", "wrote": False, "output": "x"}], "external": []}
    lits = ["timeout=30", "~/notes.md", "1,234", "h\u00e9llo", "a\ud800b", "max_retries: 5", "src/app.ts", "x",
            "the retry logic", "\u0130stanbul \u03a3\u03a3"]

    table = []
    for r in reps:
        table.append(("split_units", X.split_units, (r,)))
        table.append(("extract_claims", X.extract_claims, (r, False)))
        table.append(("_strip_fences", X._strip_fences, (r,)))
    for u in units:
        table.append(("literal_targets", X.literal_targets, (u,)))
        table.append(("strong_kind", X.strong_kind, (u,)))
        table.append(("heuristic_kind", X.heuristic_kind, (u,)))
        table.append(("_sentences", X._sentences, (u,)))
        table.append(("_tidy", X._tidy, (u,)))
        table.append(("_clean", V._clean, (u,)))
        table.append(("_atoms", V._atoms, (u,)))
        table.append(("_kind_of", V._kind_of, (u,)))
        table.append(("_norm", V._norm, (u,)))
        table.append(("_variants", V._variants, (u,)))
        table.append(("_tokens", V._tokens, (u,)))
        table.append(("_additive", V._additive, (u,)))
    for c in claims:
        for L in lg:
            table.append(("verify", V.verify, (c, L)))
    for lit in lits:
        table.append(("_in", V._in, (lit, texts)))
        table.append(("_words_in", V._words_in, (lit, texts)))
    # Error paths.
    table.append(("verify", V.verify, ({"text": "Ran it", "targets": ["foo.py"]}, bad_log)))
    table.append(("verify", V.verify, ({"text": 5, "targets": ["foo.py"]}, lg[0])))
    table.append(("literal_targets", X.literal_targets, (123,)))
    table.append(("split_units", X.split_units, (None,)))
    table.append(("_in", V._in, ("abc", [1, 2])))
    table.append(("_norm", V._norm, (b"bytes",)))
    rng.shuffle(table)
    return table


def run(table, n, start=0):
    seen = set()
    for i in range(start, start + n):
        name, f, args = table[i % len(table)]
        seen.add(name)
        try:
            f(*args)
        except (TypeError, KeyError, ValueError):
            pass
    return seen


def test_resident_memory_stays_flat():
    table = calls()
    names = {name for name, _, _ in table}
    run(table, WARMUP_CALLS)
    before = rss()
    seen = run(table, TOTAL_CALLS - WARMUP_CALLS, start=WARMUP_CALLS)
    after = rss()
    assert seen == names, "every function ran after the warm-up"
    if UNDER_ASAN:
        pytest.skip("resident memory is not meaningful under ASan's allocator")
    assert after - before < GROWTH_LIMIT, "resident memory grew by %.1f MB over %d calls" % (
        (after - before) / MB, TOTAL_CALLS - WARMUP_CALLS)


def test_error_paths_do_not_leak():
    # The failing calls alone, many times: an exception object, a captured
    # host error or a half-converted log left behind would add up here.
    bad = [
        (V.verify, ({"text": "Ran it", "targets": ["foo.py"]}, {"events": [{"tool": "terminal"}], "external": []})),
        (V.verify, ({"text": "Ran it", "targets": ["foo.py"]},
                    {"events": [], "external": [{"args": {1j: 2}}], "written": [], "commands": []})),
        (V.verify, ({"text": "Ran it", "targets": ["foo.py"]},
                    {"events": [{"tool": "x", "wrote": True, "payload": 5, "output": "o"}], "external": [],
                     "written": [], "commands": []})),
        (V.verify, ({"targets": ["x" * 1000 + ".py"]}, [])),
        (X.literal_targets, (b"x" * 1000,)),
        (V._in, ("abc", None)),
        (V._atoms, (["list"],)),
    ]
    def spin(n):
        for i in range(n):
            f, args = bad[i % len(bad)]
            with pytest.raises((TypeError, KeyError, ValueError)):
                f(*args)
    spin(5_000)
    before = rss()
    spin(20_000)
    if UNDER_ASAN:
        pytest.skip("resident memory is not meaningful under ASan's allocator")
    assert rss() - before < GROWTH_LIMIT


def test_normalisation_cache_respects_its_limit():
    info = V._cache_info()
    old_limit = info["limit"]
    limit = 48 * MB
    V._cache_limit(limit)
    try:
        V._cache_clear()
        before = rss()
        claim = {"text": "The run printed needle=42", "kind": "result_observed", "targets": ["needle=42"]}
        peak = 0
        for i in range(120):
            # A new 1 MB str each time (never seen before), dropped after the call.
            out = ("%06d build output line with nothing of note\n" % i) * 24_000
            L = {"events": [{"tool": "terminal", "wrote": False, "command": "make", "output": out}],
                 "external": [{"args": {"log": out[:100_000]}}], "written": [], "commands": []}
            assert V.verify(claim, L)[0] == "unverified"
            del out, L
            info = V._cache_info()
            assert info["bytes"] <= limit
            if i % 10 == 9:
                peak = max(peak, rss() - before)
        assert info["entries"] > 0
        # 120 MB of distinct text went through; what stays is bounded by the
        # limit (plus the allocator's slack), not by what went through.
        if not UNDER_ASAN:
            assert peak < limit + 24 * MB, "resident memory grew by %.1f MB" % (peak / MB)
        V._cache_clear()
        assert V._cache_info()["entries"] == 0
    finally:
        V._cache_limit(old_limit)
