"""The documented edge cases of every function, table by table.

Every table runs against both implementations: ``reference`` (tests/reference.py)
and ``compiled`` (vorlane_core.extract / vorlane_core.verify).  The compiled
module is imported directly: a missing build fails.  Private functions are
looked up on the compiled module under the system's name (and, failing that,
with or without a leading underscore); an absent one fails.

Example texts written between single curly quotes appear here as plain
Python strings; ⟨…⟩ code spans are written with backticks.
"""

import collections
import json
import subprocess
import sys

import pytest

from conftest import TEST_MODEL, child_env, compiled, envelope
from runlog_builders import cmd, log

import reference as R

HOME = "/home/u"


# ---------------------------------------------------------------------------
# Implementations
# ---------------------------------------------------------------------------


def _impl(request, which):
    if request.param == "reference":
        return R.extract_module if which == "extract" else R.verify_module
    name = "vorlane_core." + which
    return compiled(name, "split_units" if which == "extract" else "verify")


@pytest.fixture(params=["reference", "compiled"])
def X(request):
    """The extract module (reference namespace or compiled)."""
    return _impl(request, "extract")


@pytest.fixture(params=["reference", "compiled"])
def V(request):
    """The verify module (reference namespace or compiled)."""
    return _impl(request, "verify")


def fn(mod, name):
    f = None
    for n in (name, name[1:] if name.startswith("_") else "_" + name):
        f = getattr(mod, n, None)
        if f is not None:
            break
    if f is None:
        raise AttributeError("%s has no %s" % (getattr(mod, "__name__", mod), name))
    return f


@pytest.fixture(autouse=True)
def _home(monkeypatch):
    monkeypatch.setenv("HOME", HOME)


def ids(table):
    return [repr(row[0])[:60] for row in table]


# ---------------------------------------------------------------------------
# fence stripping and sentence splitting
# ---------------------------------------------------------------------------

SENTENCES = [
    ("", []),
    ("  \t\u2028 ", []),
    ("  just one paragraph  ", ["just one paragraph"]),
    ("Fixed it. Then ran it.", ["Fixed it.", "Then ran it."]),
    ("Use e.g. The default path.", ["Use e.g. The default path."]),
    ("E.g. The default path.", ["E.g.", "The default path."]),
    ("It is a piano. Then it stops.", ["It is a piano. Then it stops."]),
    ("The devs. They left.", ["The devs. They left."]),
    ("See fig. Two for it.", ["See fig. Two for it."]),
    ("Step 1. 2 files changed.", ["Step 1. 2 files changed."]),
    ("Done. next", ["Done. next"]),
    ("Done. \u00c9lan came.", ["Done. \u00c9lan came."]),
    ("Done.Next", ["Done.Next"]),
    ("Ran the tests. *All* passed.", ["Ran the tests.", "*All* passed."]),
    ("Ran it. `x` passed.", ["Ran it.", "`x` passed."]),
    ('Ran it. "Quoted" here.', ["Ran it.", '"Quoted" here.']),
    ("Ran it. 'Quoted' here.", ["Ran it.", "'Quoted' here."]),
    ("Ran it. (Aside) here.", ["Ran it.", "(Aside) here."]),
    ("Ran it. [Link] here.", ["Ran it.", "[Link] here."]),
    ("Wow! Great? Yes.", ["Wow!", "Great?", "Yes."]),
    ("Done.\u00a0\u2028 Next one.", ["Done.", "Next one."]),
    ("Done.   \t Next one.", ["Done.", "Next one."]),
    ("Done, Next one.", ["Done, Next one."]),
    ("a\0b", ["a.b"]),
    ("End\0 Next", ["End. Next"]),
    ("Saw no. Then went.", ["Saw no. Then went."]),
    ("Abc etc. Def.", ["Abc etc. Def."]),
    ("i.e. The one. Vs. Two.", ["i.e. The one.", "Vs.", "Two."]),
]


@pytest.mark.parametrize("par,expected", SENTENCES, ids=ids(SENTENCES))
def test_sentences(X, par, expected):
    assert fn(X, "_sentences")(par) == expected


STRIP_FENCES = [
    ("word ```code``` next", "word   next"),
    ("only ```open\nstays as is", "only ```open\nstays as is"),
    ("x ```\nline one\nline two\n``` y", "x   y"),
    ("before\n```py\ncode\n```\nafter", "before\n \nafter"),
    ("```a``````b```", "  "),
    ("```a```` b", " ` b"),
    ("no fences", "no fences"),
    ("", ""),
    ("``````", " "),
    ("a ```x``` b ```y", "a   b ```y"),
]


@pytest.mark.parametrize("text,expected", STRIP_FENCES, ids=ids(STRIP_FENCES))
def test_strip_fences(X, text, expected):
    assert fn(X, "_strip_fences")(text) == expected


# ---------------------------------------------------------------------------
# unit splitting
# ---------------------------------------------------------------------------

SPLIT_UNITS = [
    ("", []),
    ("# Title\n\n## Sub\n---\n\n```\nUpdated config.py in place\n```\n\n", []),
    ("Updated the config in\n/etc/app.conf today.", ["Updated the config in /etc/app.conf today."]),
    (
        "- Fixed the parser in parse.py\n  and added tests for it\n- Ran 12 tests in the suite today",
        ["Fixed the parser in parse.py and added tests for it", "Ran 12 tests in the suite today"],
    ),
    (
        "- Fixed the parser in parse.py\n\nand added tests for the parser",
        ["Fixed the parser in parse.py", "and added tests for the parser"],
    ),
    (
        "- Fixed the parser in parse.py\n## Heading\nand added tests for the parser",
        ["Fixed the parser in parse.py", "and added tests for the parser"],
    ),
    (
        "- Fixed the parser in parse.py\n| Updated the docs | 42 files |\nand added tests for the parser",
        ["Fixed the parser in parse.py", "Updated the docs · 42 files", "and added tests for the parser"],
    ),
    ("- [x] Fixed the login flow in auth.ts", ["[x] Fixed the login flow in auth.ts"]),
    ("[x] Fixed the login flow in auth.ts", ["Fixed the login flow in auth.ts"]),
    ("[X] Fixed the login flow in auth.ts", ["[X] Fixed the login flow in auth.ts"]),
    ("1. Added x.py\n2) Removed y.py\n• Renamed z.py\n* Deleted w.py", ["Added x.py", "Removed y.py", "Renamed z.py", "Deleted w.py"]),
    ("1.Added x.py to the tree", ["1.Added x.py to the tree"]),
    (
        "Updated the parser module today\n--force was needed to push the branch\nand more text was added here",
        ["Updated the parser module today", "and more text was added here"],
    ),
    ("|--force was needed to push the branch", []),
    ("#42 was fixed in the parser.", []),
    (
        "Fixed the bug in the lexer today\n  #42 was fixed as well\nand updated the parser module",
        ["Fixed the bug in the lexer today", "and updated the parser module"],
    ),
    ("| Fixed the parser | in parse.py |", ["Fixed the parser · in parse.py"]),
    ("|Fixed the parser in parse.py", ["Fixed the parser in parse.py"]),
    (
        "| Step | Result |\n|---|:---:|\n| Build | passed in 42 s |",
        ["Build · passed in 42 s"],
    ),
    ("| Updated the docs | | 42 files |", ["Updated the docs · 42 files"]),
    ("| : | - |\n|  |  |\n| -:- | : : |", []),
    ("✅ **Deployed** version 2.4.1 to staging.", ["Deployed version 2.4.1 to staging."]),
    ("⚠️❌ Tests failed in ci.yml", ["Tests failed in ci.yml"]),
    ("Edited conf.toml", ["Edited conf.toml"]),
    ("Tests passed.", []),
    ("Fixed.", []),
    ("Should I also update the docs?", []),
    ("Next I will refactor the parser module.", []),
    ("Run the migration before deploying tomorrow.", []),
    ("I think the cache was cleared earlier today.", []),
    (
        "Updated the cache configuration file and I think it helps.",
        ["Updated the cache configuration file and I think it helps."],
    ),
    ("The weather was nice during the whole afternoon.", []),
    (
        "Updated the README for the release.\n\nupdated the readme for the release!",
        ["Updated the README for the release."],
    ),
    ("```\nUpdated config.py in place", ["``` Updated config.py in place"]),
    ("Deployed it ```\nUpdated config.py\n``` and restarted the service", ["Deployed it   and restarted the service"]),
    ("- -- Updated the cache settings today --", ["Updated the cache settings today"]),
    ("Fixed it: updated main.py. Then verified the build with 3 runs.", ["Fixed it: updated main.py.", "Then verified the build with 3 runs."]),
    ("Line one was updated\r\nline two was added\rline three\u2028was removed too", ["Line one was updated line two was added line three was removed too"]),
]


@pytest.mark.parametrize("report,expected", SPLIT_UNITS, ids=ids(SPLIT_UNITS))
def test_split_units(X, report, expected):
    assert X.split_units(report) == expected


# ---------------------------------------------------------------------------
# command-line entry
# ---------------------------------------------------------------------------

RECORDS = [
    ("Updated `it's` in a.py", '• Updated `it\'s` in a.py \n    ["it\'s", \'a.py\'] file_changed\n'),
    ("Set `a'b\"c` in conf.toml", "• Set `a'b\"c` in conf.toml \n    ['a\\'b\"c', 'conf.toml'] file_changed\n"),
    ("This is an explanation of the design.", "• This is an explanation of the design. \n    [] other\n"),
    ("Ran `pytest -q` with 42 tests", "• Ran `pytest -q` with 42 tests \n    ['pytest -q', '42'] command_ran\n"),
    ("Wrote `\u00e9\tb` now", "• Wrote `\u00e9\tb` now \n    ['\u00e9\\tb'] file_changed\n"),
]


@pytest.mark.parametrize("unit,expected", RECORDS, ids=ids(RECORDS))
def test_inspection_record(X, unit, expected):
    assert fn(X, "inspection_record")(unit) == expected


def _run_cli(which, path):
    """(exit status, stdout) of the command entry on ``path``."""
    if which == "reference":
        try:
            return 0, R.command_entry(path)
        except (OSError, UnicodeDecodeError):
            return 1, ""
    compiled("vorlane_core.extract", "split_units")
    p = subprocess.run(
        [sys.executable, "-m", "vorlane_core.extract", str(path)],
        capture_output=True,
        env=child_env(HOME=HOME),
        timeout=60,
    )
    return p.returncode, p.stdout.decode("utf-8")


CLI_FILES = [
    ("# Title\n\n```\nUpdated config.py\n```\n## More\n", b"", 0),
    ("", b"", 0),
    (
        "Intro.\r\n\r\n- Updated `it's` in a.py\r\n- Ran `pytest -q` with 42 tests\rDone.\n",
        "• Updated `it's` in a.py \n    [\"it's\", 'a.py'] file_changed\n"
        "• Ran `pytest -q` with 42 tests Done. \n    ['pytest -q', '42'] command_ran\n",
        0,
    ),
]


@pytest.mark.parametrize("which", ["reference", "compiled"])
@pytest.mark.parametrize("content,expected,status", CLI_FILES, ids=["headings-fences", "empty", "crlf"])
def test_command_entry(which, tmp_path, content, expected, status):
    path = tmp_path / "report.md"
    path.write_bytes(content.encode("utf-8"))
    rc, out = _run_cli(which, path)
    assert rc == status
    assert out == (expected.decode() if isinstance(expected, bytes) else expected)
    assert _run_cli(which, path) == (rc, out)  # same output on every run


def test_command_entry_arguments(tmp_path):
    """Compiled only: no argument fails with status 1; further arguments are ignored."""
    compiled("vorlane_core.extract", "split_units")
    p = subprocess.run([sys.executable, "-m", "vorlane_core.extract"], capture_output=True, env=child_env(), timeout=60)
    assert (p.returncode, p.stdout) == (1, b"")
    assert p.stderr
    path = tmp_path / "r.md"
    path.write_text("- Updated `it's` in a.py\n", encoding="utf-8")
    p = subprocess.run(
        [sys.executable, "-m", "vorlane_core.extract", str(path), "extra", "--flag"], capture_output=True, env=child_env(), timeout=60
    )
    assert (p.returncode, p.stderr) == (0, b"")
    assert p.stdout.decode("utf-8") == R.command_entry(path)


@pytest.mark.parametrize("which", ["reference", "compiled"])
def test_command_entry_failures(which, tmp_path):
    rc, out = _run_cli(which, tmp_path / "missing.md")
    assert (rc, out) == (1, "")
    bad = tmp_path / "bad.md"
    bad.write_bytes(b"Updated a.py\n\xff\xfe not utf-8\n")
    rc, out = _run_cli(which, bad)
    assert (rc, out) == (1, "")


# ---------------------------------------------------------------------------
# literal targets
# ---------------------------------------------------------------------------

LITERAL_TARGETS = [
    ("Total: 42.", []),
    ("Took 3.5s and 3s", []),
    ("Ran 42 tests in 3.5s.", ["42"]),
    ("Deployed v1.2.3-beta.1 on 2024-01-15 at 12:30 PM.", ["2024-01-15", "v1.2.3-beta.1"]),
    ("Jan 5, 2024 was 12/31 and 12-25.", []),
    ("Sept. 12 and 10:45:59am and 1/2/2024 then 12-25-99", ["12"]),
    ("Resized to 1920x1080 and 3 × 4.", ["1920x1080", "3 × 4"]),
    ("Set `DEBUG=1`, port=8000 and /etc/nginx/nginx.conf.", ["DEBUG=1", "/etc/nginx/nginx.conf", "port=8000"]),
    ("x = 5 and y=6", ["x = 5", "y=6"]),
    ("Values 1,234.5 and 7 and 0.5 and 10.", ["1,234.5", "0.5"]),
    ("1,23 and 12,345,678", ["23", "12,345,678"]),
    ("v2.0 and 2.0.1 and 10.0.0.1", ["2.0.1", "10.0.0.1"]),
    ("Cost ~5 and ~200ms.", ["~200ms"]),
    ("See ~/notes.md and /notes.md.", ["~/notes.md", "notes.md"]),
    ("See https://example.com/api/v1/users for it.", []),
    ("Open http://host:8080/a/b now", ["8080"]),
    ("Spans `a`, `~`, `AB` and `ab` here", ["AB"]),
    ("Code `run(x))` done", ["run(x)"]),
    ("Code `npm test;` done", ["npm test"]),
    ("Code `:foo` done", ["foo"]),
    ("Code `.env.` done", [".env"]),
    ("Code `x)` done", []),
    ("/var/log/app.log,", ["/var/log/app.log"]),
    ("", []),
    ("No literals in this one at all.", []),
    ("Saw `12` and 12 and ~12", ["12"]),
    ("Path /usr/lib/x and /tmp and ≈/tmp", ["/usr/lib/x", "/tmp"]),
    ("Check a.py, b.json; and c.yml:", ["a.py", "b.json", "c.yml"]),
    ("`f(a)).,` and `(x)`", ["f(a)", "(x)"]),
    ("The 2024-01-15T10:00 build", ["2024", "01", "00"]),
    ("Update `A` and `é` and `ß`", []),
]


@pytest.mark.parametrize("unit,expected", LITERAL_TARGETS, ids=ids(LITERAL_TARGETS))
def test_literal_targets(X, unit, expected):
    assert X.literal_targets(unit) == expected


TIDY = [
    (" ,;foo.;, ", "foo"),
    ("f(a)).,", "f(a)"),
    ("a(b)c)", "a(b)c"),
    ("(x)", "(x)"),
    (")", ""),
    ("x)", "x"),
    (".env.", ".env"),
    (":foo", "foo"),
    ("npm test;", "npm test"),
    ("run(x))", "run(x)"),
    ("'quoted'.", "'quoted'"),
    ("a)).)", "a"),
    ("  ", ""),
    ("\u00a0x,\u2028", "x"),
    (",.x", ".x"),
]


@pytest.mark.parametrize("x,expected", TIDY, ids=ids(TIDY))
def test_tidy(X, x, expected):
    assert fn(X, "_tidy")(x) == expected


# ---------------------------------------------------------------------------
# kind heuristics (strong kind / heuristic kind)
# ---------------------------------------------------------------------------

KIND_HEURISTICS = [
    ("I ran `pytest -q` and all passed.", "command_ran", "command_ran"),
    ("Ran the tests.", None, "command_ran"),
    ("Reran the job", None, "other"),
    ("Reran `foo`", "command_ran", "command_ran"),
    ("`$ ./build.sh`", "command_ran", "command_ran"),
    ("`ls -la` output", "command_ran", "command_ran"),
    ("The `./deploy.sh` script is ready", "command_ran", "command_ran"),
    ("`$  npm test`", None, "command_ran"),
    ("`Git status`", None, "other"),
    ("`pythonic`", None, "command_ran"),
    ("`sh`", "command_ran", "command_ran"),
    ("`shell`", None, "other"),
    ("Updated config.yaml to enable caching.", "file_changed", "file_changed"),
    ("Updated the docs.", None, "other"),
    ("Set DEBUG=1", "file_changed", "file_changed"),
    ("Installed it", None, "other"),
    ("Installed it to /opt/x", "file_changed", "file_changed"),
    ("I have not updated config.yaml.", None, "other"),
    ("No files were updated in config.yaml", None, "other"),
    ("I did not edit and then updated config.yaml", "file_changed", "file_changed"),
    ("Didn't touch it, but updated config.yaml", "file_changed", "file_changed"),
    ("I didn\u2019t really updated config.yaml", "file_changed", "file_changed"),
    ("I didnt really updated config.yaml", None, "other"),
    ("Never edited /etc/hosts but created /tmp/a/b.", "file_changed", "file_changed"),
    ("We should update foo.py next.", None, "other"),
    ("Sent 3 messages", None, "external_action"),
    ("Updated the docs on 2024-01-15", None, "result_observed"),
    ("Wrote 2 files", None, "result_observed"),
    ("Tests pass.", None, "result_observed"),
    ("Confirmed it works.", None, "result_observed"),
    ("This is an explanation.", None, "other"),
    ("Executed `make` twice", "command_ran", "command_ran"),
    ("`git status` and `sudo ls`", "command_ran", "command_ran"),
    ("`sudo  ls`", "command_ran", "command_ran"),
    ("`./`", None, "command_ran"),
    ("Run it `later`", None, "command_ran"),
    ("Invoked the browser skill", None, "command_ran"),
    ("Scheduled the cron job", None, "external_action"),
]


@pytest.mark.parametrize("unit,strong,heuristic", KIND_HEURISTICS, ids=ids(KIND_HEURISTICS))
def test_kind_heuristics(X, unit, strong, heuristic):
    assert X.strong_kind(unit) == strong
    assert X.heuristic_kind(unit) == heuristic


@pytest.mark.parametrize("name", ["literal_targets", "strong_kind", "heuristic_kind", "split_units", "extract_claims"])
@pytest.mark.parametrize("bad", [None, 5, b"bytes", ["a"]])
def test_extract_type_errors(X, name, bad):
    with pytest.raises(TypeError):
        getattr(X, name)(bad)


def test_extract_constants(X):
    assert tuple(X.ABBR) == ("e.g.", "i.e.", "vs.", "etc.", "approx.", "cf.", "no.", "fig.")
    assert tuple(X.KINDS) == ("file_changed", "command_ran", "result_observed", "external_action", "other")


# ---------------------------------------------------------------------------
# model classification client (merge of an answer; request body)
# ---------------------------------------------------------------------------

U_EDIT = "Updated config.toml to enable caching"  # strong: file_changed
U_PLAIN = "The parser was reworked for clarity"  # heuristic: other
U_TESTS = "Tests pass on the main branch"  # heuristic: result_observed

MERGE = [
    # (units, answer, expected records or an exception class)
    ([], "{}", []),
    ([], "not json", []),
    ([], '{"units": null}', []),
    ([U_PLAIN], "not json", [{"kind": "other", "model_targets": []}]),
    (
        [U_PLAIN, U_TESTS],
        '```json\n{"units": {"1": {"kind": "command_ran", "targets": ["parser"]}, "2": {"kind": "other"}}}\n```',
        [{"kind": "command_ran", "model_targets": ["parser"]}, {"kind": "other", "model_targets": []}],
    ),
    (
        [U_PLAIN],
        '  ```\n{"units": {"1": {"kind": "external_action", "targets": []}}}\n```  ',
        [{"kind": "external_action", "model_targets": []}],
    ),
    (
        [U_PLAIN, U_TESTS],
        '```JSON\n{"units": {"1": {"kind": "command_ran", "targets": ["parser"]}}}\n```',
        [{"kind": "other", "model_targets": []}, {"kind": "result_observed", "model_targets": []}],
    ),
    (
        [U_PLAIN, U_TESTS],
        '{"units": {"0": {"kind": "command_ran"}, "1": {"kind": "file_changed"}, "x": {"kind": "other"}}}',
        [{"kind": "file_changed", "model_targets": []}, {"kind": "result_observed", "model_targets": []}],
    ),
    (
        [U_PLAIN, U_TESTS],
        '{"units": {"1": {"kind": "File_changed"}, "2": {"kind": "bogus"}}}',
        [{"kind": "other", "model_targets": []}, {"kind": "result_observed", "model_targets": []}],
    ),
    (
        [U_EDIT],
        '{"units": {"1": {"kind": "other", "targets": ["config.toml", "nope"]}}}',
        [{"kind": "file_changed", "model_targets": ["config.toml"]}],
    ),
    (
        [U_PLAIN + " in config.toml"],
        '{"units": {"1": {"kind": "other", "targets": [" Config.TOML ", "  ", "", 5, null, ["parser"], "PARSER", "parser"]}}}',
        [{"kind": "other", "model_targets": [" Config.TOML ", "PARSER", "parser"]}],
    ),
    (
        [U_PLAIN],
        '{"units": {"1": {"kind": "other", "targets": "pa z!"}}}',
        [{"kind": "other", "model_targets": ["p", "a"]}],
    ),
    (
        [U_PLAIN],
        '{"units": {"1": {"kind": "other", "targets": {"parser": 1, "zzz": 2}}}}',
        [{"kind": "other", "model_targets": ["parser"]}],
    ),
    (
        [U_PLAIN],
        '{"units": {"1": {"kind": "other", "targets": 0}}}',
        [{"kind": "other", "model_targets": []}],
    ),
    ([U_PLAIN], '{"units": {"1": {"kind": "other", "targets": 5}}}', Exception),
    ([U_PLAIN], '{"units": {"1": {"kind": "other", "targets": true}}}', Exception),
    ([U_PLAIN], '{"units": {"1": null}}', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": 0}}', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": ""}}', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": []}}', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": "x"}}', Exception),
    ([U_PLAIN], '{"units": {"1": [1]}}', Exception),
    ([U_PLAIN], '{"units": {"1": 3}}', Exception),
    ([U_PLAIN], '{"units": null}', Exception),
    ([U_PLAIN], '{"units": []}', Exception),
    ([U_PLAIN], '{"other": 1}', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], "[1, 2]", Exception),
    ([U_PLAIN], '"text"', Exception),
    ([U_PLAIN], "", [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": {"kind": "other"}}} trailing', [{"kind": "other", "model_targets": []}]),
    ([U_PLAIN], '{"units": {"1": {"kind": 7, "targets": ["The"]}}}', [{"kind": "other", "model_targets": ["The"]}]),
]


@pytest.mark.parametrize("units,answer,expected", MERGE, ids=[repr(r[1])[:50] for r in MERGE])
def test_merge_classification(X, units, answer, expected):
    merge = fn(X, "merge_classification")
    if expected is Exception:
        with pytest.raises(Exception):
            merge(units, answer)
    else:
        assert merge(units, answer) == expected


@pytest.mark.parametrize("units", [[], [U_PLAIN], [U_EDIT, "Ran `pytest` \u00e9 \u2028 \U0001f600 \"q\" \\ done"]])
def test_request_body(X, units):
    body = fn(X, "request_body")(units, TEST_MODEL)
    lines = "\n".join("%d. %s" % (i + 1, u) for i, u in enumerate(units))
    content = json.dumps(R.CLASSIFY_PROMPT + lines)
    model = json.dumps(TEST_MODEL)
    assert body == (
        '{"model": %s, "temperature": 0, "seed": 7, "messages": [{"role": "user", "content": %s}], '
        '"response_format": {"type": "json_object"}, "chat_template_kwargs": {"enable_thinking": false}}' % (model, content)
    )
    assert body.isascii()
    if not units:
        assert json.loads(body)["messages"][0]["content"] == R.CLASSIFY_PROMPT
        assert R.CLASSIFY_PROMPT.endswith(".\n\n") or R.CLASSIFY_PROMPT.endswith("}\n\n")


def test_classify_prompt(X):
    prompt = X.CLASSIFY_PROMPT
    lines = prompt.split("\n")
    assert len(lines) == 6 and lines[4:] == ["", ""]
    assert lines[0] == "Each numbered line is one sentence from an AI agent's final report. For each, give:"
    assert lines[3] == 'Return JSON: {"units": {"<n>": {"kind": "...", "targets": ["..."]}, ...}}'
    assert "\\" not in prompt


def _ref_classify(cases):
    """reference.classify_units / extract_claims over the same cases as the
    model_server fixture: [(request body bytes or None, outcome)]."""
    out = []
    for c in cases:
        sent = []

        def post(url, body, c=c, sent=sent):
            sent.append(body)
            if c.get("status", 200) != 200:
                raise OSError("HTTP %d" % c["status"])
            return c["reply"]

        old = R.LLM_MODEL
        R.LLM_MODEL = TEST_MODEL
        try:
            if c["fn"] == "classify_units":
                r = R.classify_units(c["arg"], post)
            else:
                r = R.extract_claims(c["arg"], c.get("use_llm", True), classify=lambda u, post=post: R.classify_units(u, post))
            outcome = {"ok": r}
        except Exception as e:  # noqa: BLE001
            outcome = {"error": type(e).__name__}
        finally:
            R.LLM_MODEL = old
        out.append((sent[0] if sent else None, outcome))
    return out


MODEL_CASES = [
    {"fn": "classify_units", "arg": [], "reply": envelope('{"units": {}}')},
    {"fn": "classify_units", "arg": [U_PLAIN, U_EDIT], "reply": envelope('```json\n{"units": {"1": {"kind": "command_ran", "targets": ["parser"]}, "2": {"kind": "other", "targets": [" Config.TOML "]}}}\n```')},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": envelope('```JSON\n{"units": {"1": {"kind": "command_ran"}}}\n```')},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": envelope("[1]")},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": b"not json"},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": b'{"choices": []}'},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": json.dumps({"choices": [{"message": {"content": 5}}]}).encode()},
    {"fn": "classify_units", "arg": [U_PLAIN], "status": 500, "reply": envelope("{}")},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": b"\xef\xbb\xbf" + envelope('{"units": {"1": {"kind": "other"}}}')},
    {"fn": "classify_units", "arg": [U_PLAIN], "reply": envelope('{"units": {"1": {"kind": "result_observed"}}}').decode().encode("utf-16")},
    {"fn": "extract_claims", "arg": "", "use_llm": True, "reply": envelope("{}")},
    {"fn": "extract_claims", "arg": "# Only a heading\n", "use_llm": True, "reply": envelope("{}")},
    {"fn": "extract_claims", "arg": "Updated config.yaml with timeout=30 for 30s waits.", "use_llm": True,
     "reply": envelope('{"units": {"1": {"kind": "other", "targets": ["Config.YAML", "30s", "30S"]}}}')},
    {"fn": "extract_claims", "arg": "Updated `/notes.md` (aka ~/notes.md) today.", "use_llm": True,
     "reply": envelope('{"units": {"1": {"kind": "other", "targets": ["~/notes.md"]}}}')},
    {"fn": "extract_claims", "arg": "The parser was updated for clarity.", "use_llm": None, "reply": envelope("{}")},
    {"fn": "extract_claims", "arg": "The parser was updated for clarity.", "use_llm": 0, "reply": envelope("{}")},
]


def test_model_path_reference():
    """The model path of the reference on the cases of the fake server."""
    got = _ref_classify(MODEL_CASES)
    body0 = json.loads(got[0][0])
    assert body0["messages"][0]["content"] == R.CLASSIFY_PROMPT and got[0][1] == {"ok": []}
    assert got[1][1] == {"ok": [{"kind": "command_ran", "model_targets": ["parser"]}, {"kind": "file_changed", "model_targets": [" Config.TOML "]}]}
    assert got[2][1] == {"ok": [{"kind": "other", "model_targets": []}]}
    assert [o for _, o in got[3:8]] == [{"error": "TypeError"}, {"error": "JSONDecodeError"}, {"error": "IndexError"}, {"error": "TypeError"}, {"error": "OSError"}]
    assert got[8][1] == {"ok": [{"kind": "other", "model_targets": []}]}
    assert got[9][1] == {"ok": [{"kind": "result_observed", "model_targets": []}]}
    assert got[10] == (None, {"ok": []}) and got[11] == (None, {"ok": []})
    assert got[12][1]["ok"] == [{"text": "Updated config.yaml with timeout=30 for 30s waits.", "kind": "file_changed", "targets": ["config.yaml", "timeout=30", "30s"]}]
    assert got[13][1]["ok"] == [{"text": "Updated `/notes.md` (aka ~/notes.md) today.", "kind": "file_changed", "targets": ["/notes.md", "~/notes.md"]}]
    assert got[14] == (None, {"ok": [{"text": "The parser was updated for clarity.", "kind": "other", "targets": []}]})
    assert got[15][0] is None


def test_model_path_compiled(model_server):
    """The compiled module against a fake chat-completions server."""
    want = _ref_classify(MODEL_CASES)
    got = model_server(MODEL_CASES)
    for case, (wreq, wout), (greq, gout) in zip(MODEL_CASES, want, got):
        if wreq is None:
            assert greq is None, case
        else:
            path, headers, body = greq
            assert path == "/v1/chat/completions"
            assert {k.lower(): v for k, v in headers.items()}.get("content-type") == "application/json"
            assert body == wreq, case
        if "ok" in wout:
            assert gout == wout, case
        else:
            assert "error" in gout, (case, gout)


# ---------------------------------------------------------------------------
# claim extraction driver
# ---------------------------------------------------------------------------


def test_extract_claims_empty(X):
    assert X.extract_claims("", False) == []
    assert X.extract_claims("# Heading\n\n```\nUpdated a.py\n```\n", use_llm=False) == []
    # No Unit: no model request (the compiled module's endpoint is not running,
    # so a request would fail).
    assert X.extract_claims("", True) == []
    assert X.extract_claims("Short.\n\nWhat now?", True) == []


def test_extract_claims_heuristic(X):
    report = (
        "## Summary\n- Updated config.yaml with timeout=30 for 30s waits.\n"
        "- Ran `pytest -q`: 42 passed.\n- The parser was updated for clarity.\n"
        "Sent 3 messages to the team channel."
    )
    expected = [
        {"text": "Updated config.yaml with timeout=30 for 30s waits.", "kind": "file_changed", "targets": ["config.yaml", "timeout=30"]},
        {"text": "Ran `pytest -q`: 42 passed.", "kind": "command_ran", "targets": ["pytest -q", "42"]},
        {"text": "The parser was updated for clarity.", "kind": "other", "targets": []},
        {"text": "Sent 3 messages to the team channel.", "kind": "external_action", "targets": []},
    ]
    got = X.extract_claims(report, False)
    assert got == expected
    assert [list(c) for c in got] == [["text", "kind", "targets"]] * 4
    for c in got:
        assert c["targets"] == X.literal_targets(c["text"])
    assert X.extract_claims(report, None) == expected
    assert X.extract_claims(final=report, use_llm=False) == expected
    assert got[0]["targets"] is not got[1]["targets"]


def test_extract_claims_explanation(X):
    assert X.extract_claims("The parser was reworked for clarity.", use_llm=False) == []
    assert X.extract_claims("The parser was updated for clarity.", use_llm=False) == [
        {"text": "The parser was updated for clarity.", "kind": "other", "targets": []}
    ]


def test_extract_claims_reference_merge():
    def classify(units):
        return [{"kind": "other", "model_targets": ["Config.YAML", "30s", "30S", "~/notes.md"]} for _ in units]

    got = R.extract_claims("Updated config.yaml with timeout=30 for 30s waits.", True, classify=classify)
    assert got == [
        {"text": "Updated config.yaml with timeout=30 for 30s waits.", "kind": "other", "targets": ["config.yaml", "timeout=30", "30s", "~/notes.md"]}
    ]


# ---------------------------------------------------------------------------
# literal atoms and normalisation (HOME=/home/u)
# ---------------------------------------------------------------------------

ATOMS = [
    ("src/app.ts:42", ["src/app.ts"]),
    ("src/app.ts:10-20", ["src/app.ts"]),
    ("foo.tar.gz:12", ["foo.tar.gz"]),
    ("src/app.ts, tests/app_test.ts", ["src", "app.ts", "tests", "app_test.ts"]),
    ("x/y", ["x/y"]),
    ("alpha and beta", ["alpha", "beta"]),
    ("alphaandbeta", ["alphaandbeta"]),
    ("one then two", ["one then two"]),
    ("x;y", ["x;y"]),
    ("Then stop, run", ["Then stop", "run"]),
    ("a, b then cd; ef And gh", ["cd", "ef And gh"]),
    ("1,234 rows", ["234"]),
    ("1,000", ["000"]),
    ("100 -> 200 ms", ["100", "200"]),
    ("a -> b", []),
    ("5", []),
    ("~5ms", []),
    ("v2..v3", []),
    ("", []),
    ("5.0", ["5.0"]),
    ("≈ 3.5 s", ["3.5"]),
    ("`foo()`", ["foo"]),
    ("`foo.ts`, `bar.ts`", ["foo.ts`", "`bar.ts"]),
    ("foo — bar", ["foo - bar"]),
    ("foo – bar", ["foo - bar"]),
    ("f()", ["f"]),
    ("v1.2.3", ["1.2.3"]),
    ("V1.2", ["V1.2"]),
    ("1.2", ["1.2"]),
    ("16px", ["16"]),
    ("200 ms", ["200"]),
    ("1.5 MB", ["1.5"]),
    ("12 Layers", ["12"]),
    ("3 bytes", []),
    ("~/x → ~/y", []),
    ("~/ab → ~/cd", ["ab", "cd"]),
    ("a / b", []),
    ("ab / cd", ["ab", "cd"]),
    ("  'quoted  text'  ", ["quoted text"]),
    ("((x))", ["((x"]),
    ("~ 12 rows", ["12"]),
]


@pytest.mark.parametrize("t,expected", ATOMS, ids=ids(ATOMS))
def test_atoms(V, t, expected):
    assert fn(V, "_atoms")(t) == expected


CLEAN = [
    ("` a `", " a "),
    ("~/x", "~/x"),
    ("~5", "5"),
    ("≈ 3.5", "3.5"),
    ("a ~ 5", "a 5"),
    ("src/app.ts:42", "src/app.ts"),
    ("src/app.ts:10-20", "src/app.ts"),
    ("foo.tar.gz:12", "foo.tar.gz"),
    ("app.toolong:3", "app.toolong:3"),
    ("a\t\n b", "a b"),
    ("x–y—z", "x-y-z"),
    ("\"'`x`'\"", "x"),
]


@pytest.mark.parametrize("t,expected", CLEAN, ids=ids(CLEAN))
def test_clean(V, t, expected):
    assert fn(V, "_clean")(t) == expected


KIND_OF = [
    ("src/app", "path"),
    ("app.ts", "path"),
    ("foo.tar.gz", "path"),
    ("example.com", "path"),
    ("README.MD", "phrase"),
    ("MAX_RETRIES", "key"),
    ("max-retries", "key"),
    ("a=b", "key"),
    ("--flag", "key"),
    ("a = b", "phrase"),
    ("x_y z", "phrase"),
    ("x_y\u00a0z", "key"),
    ("1,234", "number"),
    ("1.5", "number"),
    ("12", "number"),
    (",5", "number"),
    ("v1.2", "phrase"),
    ("1.2.3", "phrase"),
    ("hello world", "phrase"),
    ("a.toolong", "phrase"),
    ("\uff11\uff12", "number"),
]


@pytest.mark.parametrize("lit,expected", KIND_OF, ids=ids(KIND_OF))
def test_kind_of(V, lit, expected):
    assert fn(V, "_kind_of")(lit) == expected


NORM = [
    ("  `Hello   World`  ", "hello world"),
    ("~/Foo/Bar.ts", "/home/u/foo/bar.ts"),
    ("1,234.50", "1234.50"),
    ("1,000x", "1,000"),
    ("3x", "3"),
    ("0x1F", "0x1f"),
    ("a\u00a0b", "a b"),
    ('  "  a  "  ', " a "),
    ("total 1,234 rows", "total 1,234 rows"),
    ("1,234", "1234"),
    ("x", "x"),
    ("", ""),
    ("\u0130", "i\u0307"),
    ("\u03a3\u00df", "\u03c3\u00df"),
]


@pytest.mark.parametrize("s,expected", NORM, ids=ids(NORM))
def test_norm(V, s, expected):
    assert fn(V, "_norm")(s) == expected


# ---------------------------------------------------------------------------
# literal variants (order free)
# ---------------------------------------------------------------------------

VARIANTS = [
    ("hello world", {"hello world", "helloworld"}),
    ("app.ts", {"app.ts"}),
    ("foo: bar", {"foo: bar", "foo:bar"}),
    ("1,234", {"1234"}),
    ("a = b", {"a = b", "a=b", "a  =  b", "a: b", "a: 'b'", '"a": b', 'a: "b"', '"a": "b"'}),
    (
        "MAX_RETRIES=5",
        {"max_retries=5", "max_retries = 5", "max_retries: 5", '"max_retries": 5', "max_retries: '5'", 'max_retries: "5"', '"max_retries": "5"'},
    ),
    ("k=v=w", {"k=v=w", "k = v = w", "k: v=w", '"k": v=w', "k: 'v=w'", 'k: "v=w"', '"k": "v=w"'}),
    ("a b = d", {"a b = d", "a b=d", "a b  =  d", "ab=d"}),
    ("é=1", {"é=1", "é = 1", "é: 1", '"é": 1', "é: '1'", 'é: "1"', '"é": "1"'}),
    ("x", set()),
    ("3x", set()),
    ("", set()),
]


@pytest.mark.parametrize("lit,expected", VARIANTS, ids=ids(VARIANTS))
def test_variants(V, lit, expected):
    got = fn(V, "_variants")(lit)
    assert len(got) == len(set(got))
    assert set(got) == expected


# ---------------------------------------------------------------------------
# matching in texts
# ---------------------------------------------------------------------------

IN = [
    ("MAX_RETRIES=5", ['{"max_retries": 5}'], True),
    ("a = b", ["A=B"], True),
    ("hello world", ["HelloWorld"], True),
    ("1,234", ["total 1234 rows"], True),
    ("1234", ["total 1,234 rows"], False),
    ("3x", ["speedup 3"], False),
    ("x", ["x"], False),
    ("log", ["blogging"], True),
    ("~/a.txt", ["/home/u/A.txt"], True),
    ("ab", ["", "xaby"], True),
    ("ab", [None, "xaby"], True),
    ("ab", [], False),
    ("12", ["2012"], True),
    ("timeout=30", ["x timeout: '30' y"], True),
    ("timeout=30", ["timeout: '30'"], False),
]


@pytest.mark.parametrize("lit,texts,expected", IN, ids=ids(IN))
def test_in(V, lit, texts, expected):
    assert fn(V, "_in")(lit, texts) is expected


TOKENS = [
    ("Added retry logic to fetch_user", ["added", "retry", "logic", "fetch_user"]),
    ("the 123 tests", ["the", "tests"]),
    ("ab cd", []),
    ("snake_case-thing", ["snake_case", "thing"]),
    ("über straße", ["über", "straße"]),
    ("x\u00b2\u00b2\u00b2 \u00b2\u00b2\u00b2 abc", ["x\u00b2\u00b2\u00b2", "abc"]),
    ("\uff11\uff12\uff13 abc", ["abc"]),
]


@pytest.mark.parametrize("lit,expected", TOKENS, ids=ids(TOKENS))
def test_tokens(V, lit, expected):
    assert fn(V, "_tokens")(lit) == expected


WORDS_IN = [
    ("retry logic", ["Added Retry and logic"], True),
    ("retry logic", ["retry", "logic"], False),
    ("retry", ["retry"], False),
    ("the retry logic", ["other logic retry"], True),
    ("retry logic", [None, "", "logic retry"], True),
]


@pytest.mark.parametrize("lit,texts,expected", WORDS_IN, ids=ids(WORDS_IN))
def test_words_in(V, lit, texts, expected):
    assert fn(V, "_words_in")(lit, texts) is expected


ADDITIVE = [
    ("Added a new file", True),
    ("We set up CI", True),
    ("address the issue", True),
    ("No new files were created", True),
    ("not really sure we added", True),
    ("never, ever add", True),
    ("cannot add", True),
    ("I didn\u2019t add", True),
    ("can not add", False),
    ("I did not add anything", False),
    ("DO NOT ADD", False),
    ("Did not create or modify files", False),
    ("without adding tests", False),
    ("didnt add", False),
    ("no need to add it", False),
    ("did not add but created", False),
    ("rewrite", False),
    ("setup", False),
    ("recreate", False),
    ("", False),
    ("won't add", True),
    ("set  up", False),
    ("introducing newline", True),
]


@pytest.mark.parametrize("text,expected", ADDITIVE, ids=ids(ADDITIVE))
def test_additive(V, text, expected):
    assert fn(V, "_additive")(text) is expected


@pytest.mark.parametrize("name", ["_in", "_words_in"])
@pytest.mark.parametrize("lit,texts", [("abc", None), ("abc", ["x", 5]), (None, ["x"])])
def test_matcher_type_errors(V, name, lit, texts):
    with pytest.raises(TypeError):
        fn(V, name)(lit, texts)


# ---------------------------------------------------------------------------
# run log views and verdicts
# ---------------------------------------------------------------------------


def ev(tool, output="", wrote=False, payload=None, command=None):
    e = {"tool": tool, "wrote": wrote, "payload": payload, "output": output}
    if command is not None:
        e["command"] = command
    return e




def claim(kind, text, targets):
    return {"text": text, "kind": kind, "targets": targets}


NF = " not found in any write, command or output"
RO = " seen only in read output; no write or command touched it"
PE = " appears only in content the agent read; never in anything it wrote or ran"
MN = "a mention, not a claim of work: "
NL = " not in this turn's log"

VERIFY = [
    # --- 4.1 views -------------------------------------------------------
    ("wrote false payload", claim("result_observed", "Observed the value", ["magic-token"]),
     log([ev("write_file", output="ok", wrote=False, payload="magic-token")]), ("unverified", "`magic-token`" + NF)),
    ("wrote false output", claim("result_observed", "Observed the value", ["magic-token"]),
     log([ev("write_file", output="got magic-token", wrote=False, payload="magic-token")]), ("verified", "`magic-token` in output")),
    ("wrote truthy 1", claim("file_changed", "Updated it", ["magic-token"]),
     log([ev("patch", output="", wrote=1, payload="x magic-token y")]), ("verified", "`magic-token` in write")),
    ("wrote truthy str", claim("file_changed", "Updated it", ["magic-token"]),
     log([ev("patch", output="", wrote="no", payload="x magic-token y")]), ("verified", "`magic-token` in write")),
    ("search_files read", claim("file_changed", "Updated src/app.py", ["src/app.py"]),
     log([ev("search_files", output="src/app.py:1: x", wrote=True, payload="")]), ("unverified", "`src/app.py`" + RO)),
    ("search_files read additive", claim("file_changed", "Added src/app.py", ["src/app.py"]),
     log([ev("search_files", output="src/app.py:1: x")]), ("pre-existing", "`src/app.py`" + PE)),
    ("terminal cat redirect read", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="cat notes.md > copy.md")]), ("pre-existing", "`config.yaml`" + PE)),
    ("terminal leading blanks grep", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="  \tgrep -rn x .")]), ("pre-existing", "`config.yaml`" + PE)),
    ("terminal ls", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="config.yaml", command="ls")]), ("pre-existing", "`config.yaml`" + PE)),
    ("terminal sudo cat", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="sudo cat f")]), ("unverified", "`config.yaml`" + NF)),
    ("terminal cd && cat", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="cd d && cat f")]), ("unverified", "`config.yaml`" + NF)),
    ("terminal lsof", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="lsof")]), ("unverified", "`config.yaml`" + NF)),
    ("terminal catalog", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("terminal", output="see config.yaml", command="catalog")]), ("unverified", "`config.yaml`" + NF)),
    ("read tool case", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("Read_File", output="see config.yaml")]), ("unverified", "`config.yaml`" + NF)),
    ("skill_view read", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("skill_view", output="see config.yaml")]), ("pre-existing", "`config.yaml`" + PE)),
    ("exec read_file + rm", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="read_file('a.txt')\nos.system('rm -rf x')")]), ("unverified", "`config.yaml`" + NF)),
    ("exec sqlite select", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="c = sqlite3.connect('d.db')\nc.execute('select * from t')")]), ("pre-existing", "`config.yaml`" + PE)),
    ("exec SELECT upper", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="db.run('SELECT * FROM t')")]), ("unverified", "`config.yaml`" + NF)),
    ("exec cat space redirect", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="cat f > out")]), ("pre-existing", "`config.yaml`" + PE)),
    ("exec cat tight redirect", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="cat f>out")]), ("unverified", "`config.yaml`" + NF)),
    ("exec heredoc", claim("file_changed", "Created config.yaml", ["config.yaml"]),
     log([ev("execute_code", output="config.yaml", command="cat <<EOF")]), ("unverified", "`config.yaml`" + NF)),
    ("args non-ascii", claim("external_action", "Sent the h\u00e9llo message", ["h\u00e9llo"]),
     log(external=[{"tool": "msg", "args": {"msg": "h\u00e9llo"}}]), ("unverified", "`h\u00e9llo`" + NF)),
    ("args escaped form", claim("external_action", "Sent the message", ["h\\u00e9llo"]),
     log(external=[{"tool": "msg", "args": {"msg": "h\u00e9llo"}}]), ("verified", "`h\\u00e9llo` in external action")),
    ("args ascii", claim("external_action", "Sent the hello message", ["hello"]),
     log(external=[{"tool": "msg", "args": {"msg": "hello"}}]), ("verified", "`hello` in external action")),
    ("args insertion order", claim("external_action", "Sent it", ["null]}"]),
     log(external=[{"args": {"b": 1, "a": [True, None]}}]), ("verified", "`null]}` in external action")),
    ("args key types", claim("external_action", "Sent it", ['"1.5": "y"', '"true": "z"', '{"2": "x"', '"null": "w"}']),
     log(external=[{"args": {2: "x", 1.5: "y", True: "z", None: "w"}}]),
     ("verified", "`1.5\": \"y` in external action; `true\": \"z` in external action; `{\"2\": \"x` in external action; `null\": \"w\"}` in external action")),
    ("args floats", claim("external_action", "Sent it", ["1e+16,", "[1.0", "1e-05", "-Infinity]", ": NaN}"]),
     log(external=[{"args": {"v": [1.0, 1e16, 1e-05, float("-inf")], "n": float("nan")}}]), None),
    ("args escapes", claim("external_action", "Sent it", ['a\\"b\\\\c\\nd\\t\\u0001\\u007f']),
     log(external=[{"args": 'a"b\\c\nd\t\x01\x7f'}]), ("verified", '`a\\"b\\\\c\\nd\\t\\u0001\\u007f` in external action')),
    ("args slash", claim("external_action", "Sent it", ["x/y/z.md"]),
     log(external=[{"args": ["x/y/z.md"]}]), ("verified", "`x/y/z.md` in external action")),
    ("empty events", claim("result_observed", "Observed the value", ["magic-token"]),
     log(), ("unverified", "`magic-token`" + NF)),
    # --- 4.1 successful-command rule (command_ran) -------------------------
    *[
        ("exit ok %r" % (x,), claim("command_ran", "Ran it", ["make build"]), log(commands=[cmd("make build", x)]),
         ("verified", "`make build` in command (exit ok)"))
        for x in [None, 0, 0.0, -0.0, False, "0"]
    ],
    *[
        ("exit bad %r" % (x,), claim("command_ran", "Ran it", ["make build"]), log(commands=[cmd("make build", x)]),
         ("contradicted", "`make build` ran but FAILED (exit %s)" % text))
        for x, text in [(1, "1"), (-1, "-1"), (127, "127"), (2, "2"), (True, "True"), ("1", "1"), ("00", "00"),
                        (" 0", " 0"), ("", ""), (1.0, "1.0"), (2.5, "2.5")]
    ],
    # --- 4.1 empty-search test --------------------------------------------
    ("empty search blank lines", claim("result_observed", "grep found no matches for it", ["foo_bar"]),
     log(commands=[cmd("grep -rn foo src", 1, "\n \n\t\n")]), ("verified", "empty search result matches claim")),
    ("empty search with output", claim("result_observed", "grep found no matches for it", ["foo_bar"]),
     log(commands=[cmd("grep -rn foo src", 0, "src/a.md:1: foo")]), ("unverified", "`foo_bar`" + NF)),
    ("empty search git grep", claim("result_observed", "grep found no matches for it", ["foo_bar"]),
     log(commands=[cmd("git grep foo", 1, "")]), ("verified", "empty search result matches claim")),
    ("empty search in atom", claim("result_observed", "Searched for it", ["0 hits here"]),
     log(commands=[cmd("rg foo", 1, " ")]), ("verified", "empty search result matches claim")),
    ("empty search no tool", claim("result_observed", "grep found no matches for it", ["foo_bar"]),
     log(commands=[cmd("ack foo", 1, "")]), ("unverified", "`foo_bar`" + NF)),
    ("empty search no wording", claim("result_observed", "grep found it", ["foo_bar"]),
     log(commands=[cmd("grep foo", 1, "")]), ("unverified", "`foo_bar`" + NF)),
    # --- 4.2 ---------------------------------------------------------------
    ("no targets", {"text": "Updated it", "kind": "file_changed"}, {}, ("unchecked", "nothing literal to check")),
    ("empty targets", claim("file_changed", "Updated it", ["", None, 0, [], False]), {}, ("unchecked", "nothing literal to check")),
    ("short phrases", claim("file_changed", "Updated it", ["abc", "x y", "a", "5"]), {}, ("unchecked", "nothing literal to check")),
    ("kind absent mention", {"text": "`foo_bar_baz`", "targets": ["foo_bar_baz"]}, log(), ("unchecked", MN + "`foo_bar_baz`" + NL)),
    ("kind null", {"text": "`foo_bar_baz`", "kind": None, "targets": ["foo_bar_baz"]}, log(), ("unverified", "`foo_bar_baz`" + NF)),
    ("text absent mention", {"kind": "mention", "targets": ["foo_bar_baz"]}, log(), ("unchecked", MN + "`foo_bar_baz`" + NL)),
    ("cmd failed and ok", claim("command_ran", "Ran `pytest -q`", ["pytest -q"]),
     log(commands=[cmd("pytest -q", 2), cmd("pytest -q", 0)]), ("verified", "`pytest -q` in command (exit ok)")),
    ("cmd failed only", claim("command_ran", "Ran `pytest -q`", ["pytest -q"]),
     log(commands=[cmd("pytest -q", 2)]), ("contradicted", "`pytest -q` ran but FAILED (exit 2)")),
    ("failed before write", claim("command_ran", "Ran `pytest -q`", ["pytest -q"]),
     log([ev("write_file", wrote=True, payload="pytest -q")], commands=[cmd("pytest -q", 1), cmd("pytest -q", 3)]),
     ("contradicted", "`pytest -q` ran but FAILED (exit 1)")),
    ("failed but result_observed", claim("result_observed", "Saw `pytest -q`", ["pytest -q"]),
     log(commands=[cmd("pytest -q", 2)]), ("unverified", "`pytest -q`" + NF)),
    ("one failure outweighs", claim("command_ran", "Ran it", ["pytest -q", "app.py", "make all"]),
     log([ev("write_file", wrote=True, payload="app.py")], commands=[cmd("pytest -q", 1), cmd("make all", 2)]),
     ("contradicted", "`pytest -q` ran but FAILED (exit 1); `make all` ran but FAILED (exit 2)")),
    ("duplicate atoms", claim("file_changed", "Updated app.py", ["app.py", "app.py"]),
     log([ev("write_file", wrote=True, payload="import app.py")]), ("verified", "`app.py` in write; `app.py` in write")),
    ("duplicate row 10", claim("result_observed", "no results for it", ["zzz_qqq", "zzz_qqq"]),
     log(commands=[cmd("rg zzz", 1, "")]), ("verified", "empty search result matches claim; empty search result matches claim")),
    ("short base written", claim("file_changed", "Updated src/x.h", ["src/x.h"]),
     log(written=["lib/fix.html"]), ("verified", "`src/x.h` in write")),
    ("base via lits", claim("file_changed", "Updated it", ["~/proj/main.rs"]),
     log([ev("patch", wrote=True, payload="fn main() in main.rs")]), ("verified", "`~/proj/main.rs` in write")),
    ("base home written", claim("file_changed", "Updated it", ["~/proj/main.rs"]),
     log(written=["/HOME/U/PROJ/MAIN.RS"]), ("verified", "`~/proj/main.rs` in write")),
    ("build log file_changed", claim("file_changed", "Updated src/app.py", ["src/app.py", "MAX_RETRIES", "4242"]),
     log([ev("terminal", output="building src/app.py MAX_RETRIES 4242", command="make")]),
     ("verified", "`4242` in output · unchecked: `src/app.py`, `MAX_RETRIES`")),
    ("read-only not additive", claim("file_changed", "Updated src/app.py", ["src/app.py"]),
     log([ev("read_file", output="src/app.py")]), ("unverified", "`src/app.py`" + RO)),
    ("read-only additive", claim("file_changed", "Created src/app.py", ["src/app.py"]),
     log([ev("read_file", output="src/app.py")]), ("pre-existing", "`src/app.py`" + PE)),
    ("read-only negated additive", claim("file_changed", "Did not create src/app.py", ["src/app.py"]),
     log([ev("read_file", output="src/app.py")]), ("unverified", "`src/app.py`" + RO)),
    ("read-only other kind", claim("result_observed", "Saw src/app.py", ["src/app.py"]),
     log([ev("read_file", output="src/app.py")]), ("verified", "`src/app.py` in output")),
    ("mention backticked", claim("other", "`make deploy`", ["make deploy"]), log(), ("unchecked", MN + "`make deploy`" + NL)),
    ("mention with is", claim("other", "`make deploy` is the way", ["make deploy"]), log(), ("unverified", "`make deploy`" + NF)),
    ("other read output", claim("other", "`src/app.py`", ["src/app.py"]),
     log([ev("read_file", output="src/app.py")]), ("verified", "`src/app.py` in output")),
    ("mention read-only", claim("other", "`src/deep/app_main.py`", ["zz_top", "src/deep/app_main.py"]),
     log([ev("read_file", output="app_main.py")]), ("unchecked", MN + "`src/deep/app_main.py`, `zz_top`" + NL)),
    ("mention found in write", claim("other", "`make deploy`", ["make deploy"]),
     log([ev("write_file", wrote=True, payload="make deploy")]), ("verified", "`make deploy` in write")),
    ("write and ok command", claim("command_ran", "Ran `make deploy`", ["make deploy"]),
     log([ev("write_file", wrote=True, payload="make deploy")], commands=[cmd("make deploy", 0)]), ("verified", "`make deploy` in write")),
    ("worked example", claim("file_changed", "Changed things", ["alpha_one", "src/beta.py", "gamma_three"]),
     log([ev("write_file", wrote=True, payload="alpha_one = 1"), ev("read_file", output="src/beta.py")]),
     ("verified", "`alpha_one` in write · unchecked: `src/beta.py`, `gamma_three`")),
    ("row 3 shell write", claim("result_observed", "Copied it", ["report final"]),
     log(commands=[cmd("cp report final /tmp", 0)]), ("verified", "`report final` in command (exit ok)")),
    ("row 3 no shell write phrase", claim("result_observed", "Saw it", ["report final"]),
     log(commands=[cmd("echo report final", 0)]), ("verified", "words of `report final` in command (exit ok)")),
    ("row 3 key", claim("result_observed", "Saw it", ["MAX_RETRIES"]),
     log(commands=[cmd("echo MAX_RETRIES", 0)]), ("verified", "`MAX_RETRIES` in command (exit ok)")),
    ("row 3 first ok only", claim("result_observed", "Saw it", ["report final"]),
     log(commands=[cmd("echo report final", 0), cmd("cp report final x", 0)]), ("verified", "words of `report final` in command (exit ok)")),
    ("row 6 file_changed number", claim("file_changed", "Changed it", ["4242"]),
     log([ev("terminal", output="4242", command="make")]), ("verified", "`4242` in output")),
    ("row 8 file_changed", claim("file_changed", "Changed it", ["report final"]),
     log(commands=[cmd("echo report final", 0)]), ("unverified", "`report final`" + NF)),
    ("row 9 words in output", claim("result_observed", "Saw it", ["final report"]),
     log([ev("browser", output="the report is final")]), ("verified", "words of `final report` in output")),
    ("row 4 ext", claim("result_observed", "Saw it", ["final report"]),
     log([ev("browser", output="final report")], external=[{"args": {"text": "final report"}}]), ("verified", "`final report` in external action")),
    ("targets numbers", claim("result_observed", "Saw it", [4242, 3.5, True]),
     log([ev("x", output="4242 and 3.5")]), ("verified", "`4242` in output; `3.5` in output · unchecked: `True`")),
    ("dot base", claim("result_observed", "Saw it", ["src/./."]),
     log([ev("x", output="zzz")], written=["zz"]), ("unverified", "`src/./.`" + NF)),
]


@pytest.mark.parametrize("name,claim_,L,expected", VERIFY, ids=[r[0] for r in VERIFY])
def test_verify(V, name, claim_, L, expected):
    got = V.verify(claim_, L)
    if expected is None:  # the float case: computed from the documented JSON text
        assert got == (
            "verified",
            "; ".join("`%s` in external action" % a for a in ["1e+16", "[1.0", "1e-05", "-Infinity]", ": NaN}"]),
        )
    else:
        assert tuple(got) == expected


def test_verify_returns_pair(V):
    got = V.verify(claim("other", "x", []), {})
    assert got == ("unchecked", "nothing literal to check")
    assert len(got) == 2


KEY_ERRORS = [
    ("events", log(), None),
    ("external", {"events": []}, None),
    ("written", {"events": [], "external": []}, None),
    ("commands", {"events": [ev("w", wrote=True, payload="magic-token")], "external": []}, None),
    ("commands", {"events": [], "external": [], "written": []}, None),
    ("wrote", log([{"tool": "x", "output": ""}]), None),
    ("tool", log([{"wrote": False, "output": ""}]), None),
    ("payload", log([{"tool": "x", "wrote": True, "output": ""}]), None),
    ("command", log([{"tool": "terminal", "wrote": False, "output": ""}]), None),
    ("command", log([{"tool": "execute_code", "wrote": False, "output": ""}]), None),
    ("output", log([{"tool": "x", "wrote": False}]), None),
    ("output", log([{"tool": "read_file", "wrote": False}, {"wrote": False, "output": ""}]), None),
    ("args", log(external=[{"tool": "x"}]), None),
    ("command", log(commands=[{"exit_code": 0, "output": ""}]), None),
    ("exit_code", log(commands=[{"command": "magic-token", "output": ""}]), None),
    ("output", log(commands=[{"command": "grep x", "exit_code": 1}]), "no matches"),
]


@pytest.mark.parametrize("key,L,text", KEY_ERRORS, ids=["%s-%d" % (r[0], i) for i, r in enumerate(KEY_ERRORS)])
def test_verify_key_errors(V, key, L, text):
    c = claim("result_observed", text or "Observed it", ["magic-token"])
    if key == "events":
        L = {}
    with pytest.raises(KeyError) as ei:
        V.verify(c, L)
    assert ei.value.args[0] == key


def test_verify_lazy_keys(V):
    # no atoms: the log is never looked at
    assert V.verify(claim("other", "x", ["ab"]), {}) == ("unchecked", "nothing literal to check")
    # found in a write: "written" is never read
    L = {"events": [ev("w", wrote=True, payload="magic-token")], "external": [], "commands": []}
    assert V.verify(claim("file_changed", "Updated it", ["magic-token"]), L) == ("verified", "`magic-token` in write")
    # no search wording: no "output" of the commands is read
    L = log(commands=[{"command": "grep x", "exit_code": 1}])
    assert V.verify(claim("result_observed", "Observed it", ["magic-token"]), L) == ("unverified", "`magic-token`" + NF)


@pytest.mark.parametrize(
    "args,param",
    [
        (([], {}), "claim"),
        (({}, []), "L"),
        ((None, {}), "claim"),
        (({}, None), "L"),
        ((collections.OrderedDict(), {}), "claim"),
        (({}, collections.OrderedDict()), "L"),
    ],
)
def test_verify_argument_types(V, args, param):
    with pytest.raises(TypeError) as ei:
        V.verify(*args)
    assert param in str(ei.value)


def test_verify_keywords(V):
    assert V.verify(claim={}, L={}) == ("unchecked", "nothing literal to check")


@pytest.mark.parametrize(
    "c",
    [
        {"text": None, "kind": "other", "targets": ["magic-token"]},
        {"text": 5, "kind": "other", "targets": ["magic-token"]},
        {"text": "x", "kind": "other", "targets": None},
        {"text": "x", "kind": "other", "targets": 5},
    ],
)
def test_verify_claim_type_errors(V, c):
    with pytest.raises(TypeError):
        V.verify(c, log())


def test_verify_constants(V):
    assert set(V.READ_TOOLS) == {"read_file", "search_files", "skill_view"}
