"""Differential tests: the compiled vorlane_core.extract / vorlane_core.verify
against the pure-Python reference (tests/reference.py).

(a) every report of ../shared/corpus/reports/*.md;
(b) every run of ../shared/corpus/runs/*.json: verify of every claim of the
    report against the run's log;
(c) hypothesis property tests over generated texts, run logs and claims, for
    every function pair the compiled module exposes (private ones included,
    looked up under the system's name, then with/without a leading underscore).

The compiled modules are imported directly (a missing build or function
fails); only the corpus tests skip, when ../shared/corpus is absent.

Ignore-case caveat (see reference.py): Python's re equates U+0130/U+0131 with
i/I under IGNORECASE, the system (simple case folding) does not.  So the
generators for functions that reach an ignore-case pattern never produce
those two characters ("safe" alphabets below); the other functions get them.

Harness self-check: VORLANE_DIFF_AGAINST=reference runs every differential
test with the reference standing in for the compiled modules.  Example
count: VORLANE_HYPOTHESIS_EXAMPLES (default 300).
"""

import contextlib
import json
import os
import random
import re
import subprocess
import sys

import pytest

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from conftest import CORPUS, TEST_MODEL, child_env, compiled, envelope  # noqa: E402

import reference as R  # noqa: E402

HOME = "/home/u"

if os.environ.get("VORLANE_DIFF_AGAINST") == "reference":
    CX, CV = R.extract_module, R.verify_module
else:
    CX = compiled("vorlane_core.extract", "split_units")
    CV = compiled("vorlane_core.verify", "verify")

SETTINGS = settings(
    max_examples=int(os.environ.get("VORLANE_HYPOTHESIS_EXAMPLES", "300")),
    deadline=None,
    derandomize=False,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much],
)


def impl(mod, name):
    """The compiled function ``name`` (public name, or with/without a leading "_")."""
    f = lookup(mod, name)
    if f is None:
        raise AttributeError(f"{getattr(mod, '__name__', mod)} has no {name}")
    return f


def lookup(mod, name):
    """``name`` on ``mod``, else the same name with or without a leading "_"."""
    for n in (name, name[1:] if name.startswith("_") else "_" + name):
        f = getattr(mod, n, None)
        if f is not None:
            return f
    return None


def _has(mod, name):
    return lookup(mod, name) is not None


def requires(mod, *names):
    """A mark naming what a test needs of ``mod``; a module that lacks one
    of ``names`` fails at collection (a build out of step with its tests)."""
    missing = [n for n in names if not _has(mod, n)]
    if missing:
        raise AttributeError(f"{getattr(mod, '__name__', mod)} lacks {', '.join(missing)}")
    return lambda test: test


@contextlib.contextmanager
def home(path=HOME):
    old = os.environ.get("HOME")
    os.environ["HOME"] = path
    try:
        yield
    finally:
        if old is None:
            del os.environ["HOME"]
        else:
            os.environ["HOME"] = old


def outcome(f, *args, **kw):
    try:
        return ("ok", f(*args, **kw))
    except Exception as e:  # noqa: BLE001
        return ("error", type(e).__name__ + ": " + str(e)[:200])


def same(ref_f, imp_f, *args, key=None, ref_may_fail=False):
    """Both give equal results (after ``key``), or both raise."""
    r = outcome(ref_f, *args)
    i = outcome(imp_f, *args)
    if r[0] == "error":
        assert ref_may_fail, "reference raised on a generated input: %s %r" % (r[1], args)
        assert i[0] == "error", "reference raised %s, implementation returned %r for %r" % (r[1], i[1], args)
        return
    assert i[0] == "ok", "implementation raised %s for %r (reference: %r)" % (i[1], args, r[1])
    rv, iv = r[1], i[1]
    if key is not None:
        rv, iv = key(rv), key(iv)
    assert iv == rv, "input %r" % (args,)


# ---------------------------------------------------------------------------
# Constants
# ---------------------------------------------------------------------------

_FLAGS = re.I | re.S | re.M


def _pattern_text(obj):
    if isinstance(obj, str):
        return obj, None
    return obj.pattern, getattr(obj, "flags", None)


def _check_constants(ns, mod):
    checked = 0
    for name, value in vars(ns).items():
        if not name.isupper() or not hasattr(mod, name):
            continue
        got = getattr(mod, name)
        checked += 1
        if isinstance(value, re.Pattern):
            text, flags = _pattern_text(got)
            assert text == value.pattern, name
            if flags is not None:
                assert flags & _FLAGS == value.flags & _FLAGS, name
        elif name == "LLM_URL":
            if "VESKARD_LLM_URL" in os.environ:
                assert got == os.environ["VESKARD_LLM_URL"]
            else:
                assert re.fullmatch(r"http://(127\.0\.0\.1|localhost|\[::1\]):8000/v1/chat/completions", got), got
        elif isinstance(value, frozenset):
            assert set(got) == set(value), name
        elif isinstance(value, tuple):
            assert tuple(got) == value, name
        else:
            assert got == value, name
    assert checked, "the compiled module exposes none of the constants"


def test_extract_constants():
    _check_constants(R.extract_module, CX)


def test_verify_constants():
    _check_constants(R.verify_module, CV)


# ---------------------------------------------------------------------------
# (a) corpus reports, (b) corpus runs
# ---------------------------------------------------------------------------


def _corpus_params(sub, pattern):
    d = CORPUS / sub
    files = sorted(p for p in d.glob(pattern) if p.name != "index.json") if d.is_dir() else []
    if not files:
        return [pytest.param(None, marks=pytest.mark.skip(reason="corpus %s absent" % d))]
    return [pytest.param(p, id=p.name) for p in files]


REPORTS = _corpus_params("reports", "*.md")
RUNS = _corpus_params("runs", "*.json")


@pytest.mark.parametrize("path", REPORTS)
def test_corpus_report(path):
    text = path.read_text(encoding="utf-8")
    units = R.split_units(text)
    assert CX.split_units(text) == units
    f = lookup(CX, "_strip_fences")
    if f is not None:
        assert f(text) == R._strip_fences(text)
    rec = lookup(CX, "inspection_record")
    for u in units:
        assert CX.literal_targets(u) == R.literal_targets(u), u
        assert CX.strong_kind(u) == R.strong_kind(u), u
        assert CX.heuristic_kind(u) == R.heuristic_kind(u), u
        if rec is not None:
            assert rec(u) == R.inspection_record(u), u
    assert CX.extract_claims(text, use_llm=False) == R.extract_claims(text, use_llm=False)


@pytest.mark.parametrize("path", REPORTS[::9])
def test_corpus_command_entry(path):
    """The command entry (python -m vorlane_core.extract FILE) on a sample."""
    if os.environ.get("VORLANE_DIFF_AGAINST") == "reference":
        pytest.skip("the command entry is the compiled module's")
    p = subprocess.run(
        [sys.executable, "-m", "vorlane_core.extract", str(path)], capture_output=True, env=child_env(), timeout=60
    )
    assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
    assert p.stderr == b""
    assert p.stdout.decode("utf-8") == R.command_entry(path)


@pytest.mark.parametrize("path", RUNS)
def test_corpus_run(path):
    run = json.loads(path.read_text(encoding="utf-8"))
    report, L = run["report"], run["L"]
    claims = R.extract_claims(report, use_llm=False)
    if CX is not None:
        assert CX.extract_claims(report, use_llm=False) == claims
    with home():
        for c in claims:
            assert tuple(CV.verify(c, L)) == R.verify(c, L), c
            for kind in R.KINDS + ("mention",):  # every kind on the same literals
                c2 = dict(c, kind=kind)
                assert tuple(CV.verify(c2, L)) == R.verify(c2, L), c2


# ---------------------------------------------------------------------------
# Generators
# ---------------------------------------------------------------------------

TURKISH_I = "\u0130\u0131"  # not for ignore-case patterns (see module docstring)

STRUCT = [
    "\n", "\n\n", "\r\n", "\r", "\n- ", "\n* ", "\n• ", "\n1. ", "\n2) ", "\n[x] ", "\n[ ] ", "\n- [x] ", "\n| ",
    " | ", "|", "\n|---|:---:|\n", "\n# ", "\n## ", "\n-- ", "**", "```", "```json\n", "\n```\n", "`", "✅ ", "⚠️ ",
    "❌ ", "✔", "🟠", "◌", ". ", "! ", "? ", ".", "!", "?", ",", ", ", ": ", ":", ";", " - ", " – ", " — ", "-", "=",
    " = ", "~", "≈", "→", "->", " and ", " then ", " / ", "/", "..", "(", ")", "[", "]", "'", '"', "#", "  ", " ",
    "\t", "\x00", "\u2028", "\u2029", "\u00a0", "\x1c", "\x1f", "\x85", "\x0b", "\x0c", "\u3000", "\u180e",
    "\uff11\uff12", "\u00e9", "\u00c9", "\u03a3", "\u03c3", "\u00df", "\u00b2", "\u212a", "\u017f", "\u2019", "\u00d7",
]
WORDS = [
    "Updated ", "updated ", "Added ", "added ", "Fixed ", "Created ", "Removed ", "Ran ", "ran ", "Reran ", "re-ran ",
    "executed ", "Invoked ", "Set ", "set ", "Installed ", "wrote ", "Wrote ", "edited ", "Deployed ", "Edited ",
    "not ", "never ", "didn't ", "didn\u2019t ", "did not ", "No ", "no ", "without ", "isn't ", "wasn't ", "I ", "We ",
    "will ", "I think ", "Next ", "Should ", "should ", "Run the ", "Use ", "Let me ", "if you ", "Note ", "Here is ",
    "Tests pass", "passed", "failed", "Confirmed ", "verified ", "Sent ", "message ", "cron ", "browser ", "skill ",
    "the ", "a ", "it ", "is ", "was ", "works ", "e.g. ", "i.e. ", "etc. ", "no. ", "piano. ", "devs. ", "E.g. ",
    "Fig. ", "approx. ", "cf. ", "vs. ", "file ", "files ", "config ", "tests ", "build ", "done ", "check ", "Then ",
    "ABC ", "Done", "zz",
]
LITERALS = [
    "`pytest -q`", "`$ ./build.sh`", "`$  npm test`", "`ls -la`", "`git status`", "`Git status`", "`sudo ls`",
    "`npm test;`", "`python3 x.py`", "`pythonic`", "`sh`", "`shell`", "`./deploy.sh`", "`x`", "`a`", "`~`", "`AB`",
    "`ab`", "`run(x))`", "`:foo`", "`.env.`", "`x)`", "`DEBUG=1`", "`it's`", "`a'b\"c`", "config.yaml",
    "config.toml", "/etc/nginx/nginx.conf", "~/notes.md", "/notes.md", "/tmp/a/b", "/home/u/x", "/Users/bob/y",
    "/var/log/app.log,", "https://example.com/a/b.html", "http://host:8080/a/b", "src/app.ts:42", "a.py",
    "main.rs", ".env", "v1.2.3", "v1.2.3-beta.1", "2.0", "2.0.1", "10.0.0.1", "2024-01-15", "12:30 PM", "10:45:59am",
    "12/31", "1/2/2024", "12-25", "Jan 5, 2024", "Sept. 12", "1920x1080", "3 × 4", "3x4", "DEBUG=1", "x = 5",
    "port=8000", "MAX_RETRIES=5", "1,234.5", "1,23", "12,345,678", "42", "7", "0.5", "10", "~5", "~200ms", "≈3",
    "200ms", "3.5s", "f(a)).,", "a(b)c)", "(x)", "42.", "x.h", "foo_bar", "0 hits", "no matches",
]
SAFE_CHARS = "`/.!?,=~≈→-_ \n\r\t\x00\u2028\u00a0\x1c\x85\uff11\u00e9\u03a3\u00df|#*()[]'\":;0123456789aAxXsSkK"


def _text(parts, chars, max_parts):
    piece = st.one_of(
        st.sampled_from(parts),
        st.text(alphabet=chars, max_size=3),
    )
    return st.lists(piece, max_size=max_parts).map("".join)


def _random_chars(safe):
    bl = TURKISH_I if safe else ""
    return st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters=bl), max_size=12)


def report_text(safe=True, max_parts=30):
    parts = STRUCT + WORDS + LITERALS + ([] if safe else list(TURKISH_I) + ["\u0130nstalled ", "f\u0131xed "])
    chars = SAFE_CHARS + ("" if safe else TURKISH_I)
    return st.one_of(
        _text(parts, chars, max_parts),
        _text(parts, chars, max_parts),
        _text(parts, chars, max_parts),
        st.tuples(_text(parts, chars, 10), _random_chars(safe), _text(parts, chars, 10)).map("".join),
    )


SAFE_TEXT = report_text(True)
FULL_TEXT = report_text(False)
SHORT_SAFE = report_text(True, 8)
SHORT_FULL = report_text(False, 8)


# ---------------------------------------------------------------------------
# (c) extract module
# ---------------------------------------------------------------------------


@requires(CX, "_strip_fences")
@SETTINGS
@given(FULL_TEXT)
def test_strip_fences(text):
    same(R._strip_fences, impl(CX, "_strip_fences"), text)


@requires(CX, "_sentences")
@SETTINGS
@given(FULL_TEXT)
def test_sentences(text):
    same(R._sentences, impl(CX, "_sentences"), text)


@requires(CX, "_tidy")
@SETTINGS
@given(SHORT_FULL)
def test_tidy(text):
    same(R._tidy, impl(CX, "_tidy"), text)


@requires(CX, "literal_targets")
@SETTINGS
@given(FULL_TEXT)
def test_literal_targets(text):
    same(R.literal_targets, impl(CX, "literal_targets"), text)


@requires(CX, "split_units")
@SETTINGS
@given(SAFE_TEXT)
def test_split_units(text):
    same(R.split_units, impl(CX, "split_units"), text)


@requires(CX, "strong_kind", "heuristic_kind")
@SETTINGS
@given(SAFE_TEXT)
def test_kinds(text):
    same(R.strong_kind, impl(CX, "strong_kind"), text)
    same(R.heuristic_kind, impl(CX, "heuristic_kind"), text)


@requires(CX, "strong_kind", "heuristic_kind")
@SETTINGS
@given(SAFE_TEXT)
def test_kinds_of_units(text):
    sk, hk = impl(CX, "strong_kind"), impl(CX, "heuristic_kind")
    for u in R.split_units(text):
        same(R.strong_kind, sk, u)
        same(R.heuristic_kind, hk, u)


@requires(CX, "inspection_record")
@SETTINGS
@given(SAFE_TEXT)
def test_inspection_record(text):
    f = impl(CX, "inspection_record")
    same(R.inspection_record, f, text)
    for u in R.split_units(text):
        same(R.inspection_record, f, u)


@requires(CX, "extract_claims")
@SETTINGS
@given(SAFE_TEXT)
def test_extract_claims(text):
    f = impl(CX, "extract_claims")
    same(lambda t: R.extract_claims(t, False), lambda t: f(t, False), text)


def _answer_strategy():
    kind = st.sampled_from(list(R.KINDS) + ["File_changed", "bogus", "", None, 5, True, ["other"]])
    target = st.one_of(SHORT_SAFE, st.sampled_from(WORDS + LITERALS), st.none(), st.integers(-2, 2), st.just(" "))
    targets = st.one_of(
        st.lists(target, max_size=5),
        SHORT_SAFE,
        st.dictionaries(SHORT_SAFE, st.integers(), max_size=3),
        st.sampled_from([None, 0, False, "", [], {}, 5, True, 1.5]),
    )
    entry = st.one_of(
        st.fixed_dictionaries({}, optional={"kind": kind, "targets": targets}),
        st.sampled_from([None, 0, False, "", [], {}, "x", [1], 3]),
    )
    keys = st.one_of(st.integers(0, 6).map(str), st.sampled_from(["x", "01", " 1"]))
    units_member = st.one_of(st.dictionaries(keys, entry, max_size=6), st.sampled_from([None, [], "u", 1]))
    obj = st.one_of(
        st.fixed_dictionaries({"units": units_member}),
        st.fixed_dictionaries({"other": st.integers()}),
        st.sampled_from([[], [1], "s", 1, None]),
    )
    text = obj.map(json.dumps)

    def wrap(pair):
        t, how = pair
        return {
            0: t,
            1: "```json\n" + t + "\n```",
            2: "```\n" + t + "\n```",
            3: "```JSON\n" + t + "\n```",
            4: "  \n" + t + " \u2028",
            5: t + " trailing",
            6: t[: len(t) // 2],
            7: "``` json\n" + t,
            8: t.replace(", ", ",\n```"),
        }[how]

    return st.tuples(text, st.integers(0, 8)).map(wrap)


ANSWERS = _answer_strategy()


@st.composite
def merge_cases(draw):
    """Units plus an answer whose targets are often pieces of those units."""
    units = draw(st.one_of(st.lists(SHORT_SAFE, min_size=1, max_size=5), SAFE_TEXT.map(R.split_units)))
    entries = {}
    for j in range(len(units) + 1):
        if draw(st.integers(0, 4)) == 0:
            continue
        u = units[j] if j < len(units) else draw(SHORT_SAFE)
        pieces = []
        for _ in range(draw(st.integers(0, 4))):
            if u and draw(st.booleans()):
                a = draw(st.integers(0, len(u) - 1))
                b = draw(st.integers(a, min(len(u), a + 12)))
                p = u[a:b]
                p = draw(st.sampled_from([p, p.upper(), p.lower(), " " + p + " ", "\u00a0" + p, p + "\n"]))
            else:
                p = draw(st.one_of(SHORT_SAFE, st.sampled_from(["", " ", None, 3, ["x"], {}])))
            pieces.append(p)
        targets = draw(st.sampled_from(["list", "list", "list", "str", "dict", "empty", "bad"]))
        if targets == "list":
            targets = pieces
        elif targets == "str":
            targets = "".join(p for p in pieces if isinstance(p, str))
        elif targets == "dict":
            targets = {p: 1 for p in pieces if isinstance(p, str)}
        elif targets == "empty":
            targets = draw(st.sampled_from([None, 0, False, "", [], {}]))
        else:
            targets = draw(st.sampled_from([5, True, 1.5, -1]))
        entry = {}
        if draw(st.booleans()):
            entry["kind"] = draw(st.sampled_from(list(R.KINDS) + ["File_changed", "x", None, 1]))
        entry["targets"] = targets
        key = str(j + draw(st.sampled_from([1, 1, 1, 1, 0, 2])))
        entries[key] = entry
    answer = json.dumps({"units": entries}, ensure_ascii=draw(st.booleans()))
    answer = draw(
        st.sampled_from(
            [answer, answer, "```json\n" + answer + "\n```", " \n```\n" + answer + "```\n\t", "```JSON\n" + answer + "\n```"]
        )
    )
    return units, answer


@requires(CX, "merge_classification")
@SETTINGS
@given(st.lists(SHORT_SAFE, max_size=5), ANSWERS)
def test_merge_classification(units, answer):
    same(R.merge_classification, impl(CX, "merge_classification"), units, answer, ref_may_fail=True)


@requires(CX, "merge_classification")
@SETTINGS
@given(merge_cases())
def test_merge_classification_targets(case):
    units, answer = case
    same(R.merge_classification, impl(CX, "merge_classification"), units, answer, ref_may_fail=True)


@requires(CX, "request_body")
@SETTINGS
@given(st.lists(FULL_TEXT, max_size=4), st.one_of(st.just(TEST_MODEL), SHORT_FULL))
def test_request_body(units, model):
    same(R.request_body, impl(CX, "request_body"), units, model)


def _model_cases(n, seed=20250601):
    """A fixed batch of random model-path cases for the fake server."""
    rng = random.Random(seed)
    parts = STRUCT + WORDS + LITERALS

    def rtext(k):
        return "".join(rng.choice(parts) for _ in range(rng.randint(0, k)))

    cases = []
    for i in range(n):
        report = rtext(30)
        units = R.split_units(report)
        entries = {}
        for j in range(len(units) + 1):
            if rng.random() < 0.8:
                u = units[j] if j < len(units) else rtext(3)
                words = [w for w in re.split(r"\s+", u) if w] or [""]
                tg = [rng.choice(words) for _ in range(rng.randint(0, 3))] + [rtext(1) for _ in range(rng.randint(0, 1))]
                tg = [t.upper() if rng.random() < 0.2 else t for t in tg]
                entries[str(j + rng.choice([1, 1, 1, 0, 2]))] = {
                    "kind": rng.choice(list(R.KINDS) + ["File_changed", "x"]),
                    "targets": tg,
                }
        answer = json.dumps({"units": entries}, ensure_ascii=rng.random() < 0.5)
        if rng.random() < 0.3:
            answer = "```json\n" + answer + "\n```"
        if rng.random() < 0.1:
            answer = "not json " + answer
        if i % 2:
            cases.append({"fn": "classify_units", "arg": units, "reply": envelope(answer)})
        else:
            cases.append({"fn": "extract_claims", "arg": report, "use_llm": True, "reply": envelope(answer)})
    return cases


def test_model_path_random(model_server):
    """classify_units / extract_claims(use_llm=True) of the compiled module
    against the reference, through a fake chat-completions server: the exact
    request body and the merged result."""
    cases = _model_cases(60)
    got = model_server(cases)
    for case, (req, out) in zip(cases, got):
        sent = []

        def post(url, body, case=case, sent=sent):
            sent.append(body)
            return case["reply"]

        old = R.LLM_MODEL
        R.LLM_MODEL = TEST_MODEL
        try:
            if case["fn"] == "classify_units":
                want = outcome(R.classify_units, case["arg"], post)
            else:
                want = outcome(R.extract_claims, case["arg"], True, lambda u: R.classify_units(u, post))
        finally:
            R.LLM_MODEL = old
        assert (req[2] if req else None) == (sent[0] if sent else None), case
        if want[0] == "ok":
            assert out == {"ok": want[1]}, case
        else:
            assert "error" in out, (case, out)


# ---------------------------------------------------------------------------
# (c) verify module: literal machinery
# ---------------------------------------------------------------------------

POOL = [
    "src/app.ts", "app.ts", "src/app.ts:42", "config.yaml", "MAX_RETRIES=5", "max_retries: 5", '"max_retries": 5',
    "timeout = 30", "timeout=30", "1,234", "1234", "1,000x", "3x", "~/notes.md", "/home/u/notes.md", "retry logic",
    "Retry and logic", "hello world", "HelloWorld", "0 hits", "no matches", "nothing found", "returns empty",
    "empty", "foo", "foo_bar", "pytest -q", "make build", "42", "v1.2.3", "V1.2", "1.2.3", "x.h", "lib/fix.html",
    "src/x.h", "h\u00e9llo", "\u00e9=1", "a = b", "A=B", "k=v=w", "16px", "200 ms", "1.5 MB", "12 Layers", "f()",
    "README.MD", "example.com", "--flag", "\u00fcber stra\u00dfe", "snake_case-thing", "the 123 tests", "0x1F",
]
V_STRUCT = [
    "→", "->", " / ", "/", ", ", ",", " and ", "and", " then ", "then", ";", "..", ".", "`", "'", '"', "≈", "~", "–",
    "—", ":42", ":10-20", "(", ")", "=", " = ", "\u00a0", "\n", "\t", " ", "  ", "\u03a3", "\u00df", "\uff11\uff12",
    "\u00b2", "x", "s", "%", "-", "_", "\x1c", "\u2028",
]
V_CHARS = "`'\"/.,;=~≈→-–— _\n\t\u00a0\x1c0123456789abxyzXSK\u00e9\u03a3\u00df\uff11"


def _vtext(safe, max_parts=6):
    parts = POOL + V_STRUCT + ([] if safe else list(TURKISH_I))
    chars = V_CHARS + ("" if safe else TURKISH_I)
    joiner = st.sampled_from(["", " ", "", "\n"])
    return st.tuples(st.lists(st.one_of(st.sampled_from(parts), st.text(alphabet=chars, max_size=3)), max_size=max_parts), joiner).map(
        lambda p: p[1].join(p[0])
    )


VSAFE = _vtext(True)
VFULL = _vtext(False)
VTEXTS = st.lists(st.one_of(VFULL, st.none(), st.just("")), max_size=5)


@requires(CV, "_clean")
@SETTINGS
@given(VFULL)
def test_clean(t):
    same(R._clean, impl(CV, "_clean"), t)


@requires(CV, "_atoms")
@SETTINGS
@given(VFULL)
def test_atoms(t):
    same(R._atoms, impl(CV, "_atoms"), t)


@requires(CV, "_kind_of")
@SETTINGS
@given(VFULL)
def test_kind_of(t):
    f = impl(CV, "_kind_of")
    same(R._kind_of, f, t)
    for a in R._atoms(t):
        same(R._kind_of, f, a)


@requires(CV, "_norm")
@SETTINGS
@given(VFULL, st.sampled_from([HOME, "/root", "/home/U Ser", "/home/u/"]))  # HOME "/" or "": unspecified
def test_norm(t, h):
    f = impl(CV, "_norm")
    with home(h):
        same(R._norm, f, t)


@requires(CV, "_variants")
@SETTINGS
@given(VFULL)
def test_variants(t):
    with home():
        same(R._variants, impl(CV, "_variants"), t, key=lambda v: (sorted(v), len(v)))


@requires(CV, "_in")
@SETTINGS
@given(VFULL, VTEXTS)
def test_in(lit, texts):
    with home():
        same(R._in, impl(CV, "_in"), lit, texts)


@requires(CV, "_tokens")
@SETTINGS
@given(VFULL)
def test_tokens(t):
    with home():
        same(R._tokens, impl(CV, "_tokens"), t)


@requires(CV, "_words_in")
@SETTINGS
@given(VFULL, VTEXTS)
def test_words_in(lit, texts):
    with home():
        same(R._words_in, impl(CV, "_words_in"), lit, texts)


ADD_PARTS = [
    "add", "added", "adds", "Added ", "creat", "creation ", "new ", "newline", "introducing ", "set up ", "set  up ",
    "setup ", "wrote ", "write ", "rewrite ", "bumped ", "enable ", "installer ", "address ", "recreate ", "don't ",
    "dont ", "do not ", "never ", "not ", "no ", "No ", "without ", "didn't ", "didnt ", "did not ", "didn\u2019t ",
    "cannot ", "can not ", "won't ", "DO NOT ", "really ", "sure ", "we ", "it ", "files ", ", ", ". ", "\n", " ",
    "\u00a0", "\t", "\u00e9", "_",
]


@requires(CV, "_additive")
@SETTINGS
@given(st.lists(st.sampled_from(ADD_PARTS), max_size=10).map("".join))
def test_additive(text):
    same(R._additive, impl(CV, "_additive"), text)


@requires(CV, "_additive")
@SETTINGS
@given(VSAFE)
def test_additive_any(text):
    same(R._additive, impl(CV, "_additive"), text)


# ---------------------------------------------------------------------------
# (c) verify: run logs and claims
# ---------------------------------------------------------------------------

TOOLS = ["terminal", "read_file", "execute_code", "write_file", "search_files", "skill_view", "patch", "browser", "submit"]
CMD_PREFIX = [
    "cat ", "  cat ", "grep -rn ", "git grep ", "rg ", "find . -name ", "sed -n 1p ", "sed -i s/a/b/ ", "ls", "ls ",
    "less ", "head ", "tail ", "echo ", "cp ", "mv ", "python3 ", "pytest ", "make ", "sudo cat ", "cd d && cat ",
    "tee ", "a>b ", "cat f > out ", "cat <<EOF ", "read_file('", "search_files(", "sqlite3.connect('", "select ",
    "SELECT ", "rm -rf ", "git commit ", "docker ", "pip install ", "npm ", "lsof ", "catalog ", "",
]
EXIT_CODES = [None, 0, 0.0, -0.0, False, True, 1, 2, -1, 127, "0", "1", "00", " 0", "", 1.5, 1.0]

CMD_TEXT = st.tuples(st.sampled_from(CMD_PREFIX), VSAFE).map("".join)
OPT_TEXT = st.one_of(st.none(), st.just(""), VSAFE)


@st.composite
def events(draw):
    tool = draw(st.sampled_from(TOOLS))
    e = {"tool": tool, "wrote": draw(st.sampled_from([True, False, 0, 1, None, "", "x"]))}
    e["payload"] = draw(OPT_TEXT)
    if tool in ("terminal", "execute_code") or draw(st.booleans()):
        e["command"] = draw(CMD_TEXT)
    e["output"] = draw(OPT_TEXT)
    return e


JSON_KEYS = st.one_of(VSAFE, st.integers(-3, 3), st.floats(allow_nan=False), st.booleans(), st.none())
JSON_VALUES = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(-(2**63), 2**64 - 1), st.floats(), VSAFE),
    lambda c: st.one_of(st.lists(c, max_size=3), st.dictionaries(JSON_KEYS, c, max_size=3)),
    max_leaves=8,
)


@st.composite
def command_records(draw):
    return {
        "command": draw(CMD_TEXT),
        "exit_code": draw(st.sampled_from(EXIT_CODES)),
        "output": draw(st.one_of(st.just(""), st.just(" \n\t\n"), VSAFE)),
    }


RUN_LOGS = st.fixed_dictionaries(
    {
        "events": st.lists(events(), max_size=5),
        "external": st.lists(st.fixed_dictionaries({"tool": st.just("x"), "args": JSON_VALUES}), max_size=2),
        "written": st.lists(VSAFE, max_size=3),
        "commands": st.lists(command_records(), max_size=4),
    }
)

TARGET = st.one_of(
    VSAFE,
    st.sampled_from(POOL),
    st.sampled_from(["", None, 0, [], False]),
    st.integers(-5, 100000),
    st.floats(allow_nan=False, allow_infinity=False),
    st.just(True),
)
CLAIM_TEXT = st.one_of(
    st.tuples(st.lists(st.sampled_from(WORDS + ADD_PARTS + ["`" + p + "`" for p in POOL] + POOL), max_size=8)).map(
        lambda p: " ".join(p[0])
    ),
    VSAFE,
)
CLAIMS = st.fixed_dictionaries(
    {},
    optional={
        "text": CLAIM_TEXT,
        "kind": st.sampled_from(list(R.KINDS) + ["mention", None, "Other"]),
        "targets": st.lists(TARGET, max_size=4),
    },
)


FILLER = ["ok", "done", "the", "src", "build", "x", "", "\n", "Error:", "1", "0"]
CLAIM_WORDS = [
    "Updated", "Added", "created", "Ran", "ran", "is", "Saw", "not", "did not", "No", "returned nothing", "no matches",
    "0 hits", "empty", "nothing found", "the", "new", "set up", "`", "and", "in", "See",
]


@st.composite
def scenarios(draw):
    """A claim and a run log that share a small vocabulary of literals."""
    vocab = draw(st.lists(st.sampled_from(POOL), min_size=1, max_size=4, unique=True))
    word = st.one_of(st.sampled_from(vocab), st.sampled_from(vocab), st.sampled_from(FILLER + V_STRUCT))

    def text(max_size=4):
        return st.lists(word, max_size=max_size).map(" ".join)

    def ev():
        tool = draw(st.sampled_from(TOOLS))
        e = {"tool": tool, "wrote": draw(st.sampled_from([True, False, False, 1, 0, None]))}
        e["payload"] = draw(st.one_of(st.none(), text()))
        if tool in ("terminal", "execute_code") or draw(st.booleans()):
            e["command"] = draw(st.sampled_from(CMD_PREFIX)) + draw(text(2))
        e["output"] = draw(st.one_of(st.none(), st.just(""), text()))
        return e

    def cmd():
        return {
            "command": draw(st.sampled_from(CMD_PREFIX)) + draw(text(2)),
            "exit_code": draw(st.sampled_from(EXIT_CODES)),
            "output": draw(st.one_of(st.just(""), st.just(" \n"), text())),
        }

    L = {
        "events": [ev() for _ in range(draw(st.integers(0, 4)))],
        "external": [
            {"args": draw(st.one_of(text(), st.dictionaries(st.one_of(text(1), st.integers(0, 2)), text(2), max_size=2)))}
            for _ in range(draw(st.integers(0, 1)))
        ],
        "written": draw(st.lists(text(1), max_size=2)),
        "commands": [cmd() for _ in range(draw(st.integers(0, 4)))],
    }
    targets = draw(
        st.lists(
            st.one_of(
                st.sampled_from(vocab),
                st.sampled_from(vocab).map(lambda v: "`" + v + "`"),
                st.sampled_from(vocab).map(lambda v: v.upper()),
                text(2),
            ),
            min_size=1,
            max_size=3,
        )
    )
    words = st.one_of(st.sampled_from(CLAIM_WORDS), st.sampled_from(vocab).map(lambda v: draw(st.sampled_from(["", "`"])) + v))
    c = {
        "text": " ".join(draw(st.lists(words, max_size=6))),
        "kind": draw(st.sampled_from(list(R.KINDS) + ["mention", "command_ran", "file_changed"])),
        "targets": targets,
    }
    return c, L


def _verify_pair(c, L):
    f = impl(CV, "verify")
    with home():
        same(R.verify, lambda a, b: tuple(f(a, b)), c, L)


@requires(CV, "verify")
@SETTINGS
@given(CLAIMS, RUN_LOGS)
def test_verify(c, L):
    _verify_pair(c, L)


@requires(CV, "verify")
@SETTINGS
@given(st.sampled_from(list(R.KINDS) + ["mention"]), st.lists(st.sampled_from(POOL), min_size=1, max_size=3), CLAIM_TEXT, RUN_LOGS)
def test_verify_pool(kind, targets, text, L):
    """Claims whose literals come from the same pool as the log's texts."""
    _verify_pair({"text": text, "kind": kind, "targets": targets}, L)


@requires(CV, "verify")
@SETTINGS
@given(scenarios())
def test_verify_scenarios(case):
    _verify_pair(*case)


@requires(CV, "verify")
@SETTINGS
@given(SAFE_TEXT, RUN_LOGS)
def test_verify_extracted(report, L):
    """verify of every claim that the reference extracts from a report."""
    for c in R.extract_claims(report, use_llm=False):
        _verify_pair(c, L)
