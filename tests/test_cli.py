"""End-to-end tests of the ``vorlane`` command (run as ``python -m vorlane_core``)."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import unicodedata
from pathlib import Path

import pytest
from pty_run import run_on_pty

from fake_model_server import FakeModel, SilentListener, refused_url

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
REPORT = EXAMPLES / "report.md"
RUN = EXAMPLES / "run.json"
RUNS = EXAMPLES / "runs"
VERDICTS = ("verified", "unverified", "contradicted", "unchecked", "pre-existing")
ANSI_RE = re.compile(r"\x1b\[[0-9;]*[A-Za-z]")

# What the example report's claims come to against examples/run.json.
EXPECTED = {
    "Set `timeout = 15`": "verified",
    "Added the `--offline` flag": "pre-existing",
    "Created `tests/test_retry.py`": "verified",
    "Failed attempts are now logged": "unchecked",
    "Ran `pytest -q`": "verified",
    "Ran `ruff check feedsync`": "contradicted",
    "The back-off starts at 0.5 seconds": "unverified",
    "The Atom parser": "unverified",
    "Posted a short summary": "verified",
    "See also `docs/configuration.md`": "unchecked",
}


_CWD = None  # an empty directory to run in, so no source tree shadows the package


@pytest.fixture(autouse=True, scope="session")
def _run_directory(tmp_path_factory):
    global _CWD
    _CWD = tmp_path_factory.mktemp("cwd")


def _env(extra=None):
    env = dict(os.environ)
    for k in ("NO_COLOR", "COLUMNS", "VESKARD_LLM_URL", "VESKARD_LLM_MODEL", "TERM"):
        env.pop(k, None)
    env.update(extra or {})
    return env


def vorlane(*args, env=None, timeout=120):
    """Run ``vorlane check ARGS`` with piped output, in an empty directory."""
    return subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", *map(str, args)],
        capture_output=True,
        text=True,
        encoding="utf-8",
        cwd=_CWD,
        env=_env(env),
        timeout=timeout,
    )


def run_json(*args, **kw):
    p = vorlane(*args, "--json", **kw)
    return p, json.loads(p.stdout)


def assert_clean_error(p, *needles):
    """Exit 2, nothing on stdout, one error line naming the problem, no traceback."""
    assert p.returncode == 2, (p.returncode, p.stdout, p.stderr)
    assert p.stdout == ""
    assert "Traceback" not in p.stderr
    lines = [l for l in p.stderr.splitlines() if l.startswith("vorlane:")]
    assert len(lines) == 1, p.stderr
    for n in needles:
        assert n in lines[0], (n, lines[0])
    return lines[0]


def cells(s):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in s)


@pytest.fixture
def log():
    return json.loads(RUN.read_text(encoding="utf-8"))


def write_json(path, obj):
    path.write_text(json.dumps(obj), encoding="utf-8")
    return path


# ---------------------------------------------------------------------------
# Output on the example
# ---------------------------------------------------------------------------


class TestExampleOutput:
    def test_json_document(self):
        p, doc = run_json(REPORT, "--log", RUN)
        assert p.returncode == 1, p.stderr
        claims = doc["claims"]
        for c in claims:
            assert list(c) == ["text", "kind", "targets", "verdict", "note", "evidence", "position"]
            assert c["verdict"] in VERDICTS and c["note"]
        got = {}
        for prefix, verdict in EXPECTED.items():
            match = [c for c in claims if c["text"].startswith(prefix)]
            assert len(match) == 1, prefix
            got[prefix] = match[0]["verdict"]
        assert got == EXPECTED
        assert {c["verdict"] for c in claims} == set(VERDICTS)
        counts = {v: sum(c["verdict"] == v for c in claims) for v in VERDICTS}
        assert doc["summary"] == {"total": len(claims), **counts}

    def test_json_notes_name_the_evidence(self):
        _, doc = run_json(REPORT, "--log", RUN)
        by_text = {c["text"]: c for c in doc["claims"]}
        ruff = next(c for t, c in by_text.items() if "ruff" in t)
        assert ruff["note"] == "`ruff check feedsync` ran but FAILED (exit 1)"
        assert ruff["kind"] == "command_ran"
        assert "ruff check feedsync" in ruff["targets"]
        offline = next(c for t, c in by_text.items() if "--offline" in t)
        assert "only in content the agent read" in offline["note"]

    def test_table(self):
        p = vorlane(REPORT, "--log", RUN)
        assert p.returncode == 1 and p.stderr == ""
        assert not ANSI_RE.search(p.stdout), "no colour when stdout is a pipe"
        lines = p.stdout.splitlines()
        assert lines[0].split()[:2] == ["VERDICT", "KIND"]
        assert lines[-1] == "12 claims: 6 verified, 2 unverified, 1 contradicted, 2 unchecked, 1 pre-existing"
        rows = [l for l in lines if l.split() and l.split()[0] in VERDICTS]
        assert len(rows) == 12
        for prefix, verdict in EXPECTED.items():
            (row,) = [r for r in rows if prefix[:30] in r]
            assert row.split()[0] == verdict
        assert "`ruff check feedsync` ran but FAILED (exit 1)" in p.stdout

    def test_table_report_from_run_file(self, tmp_path, log):
        run = write_json(tmp_path / "run.json", {"report": REPORT.read_text(encoding="utf-8"), "L": log})
        a = vorlane("--log", run)
        b = vorlane(REPORT, "--log", RUN)
        assert (a.returncode, a.stdout) == (b.returncode, b.stdout)

    @pytest.mark.parametrize("columns", [60, 80, 132])
    def test_claims_wrapped_to_width(self, columns):
        """Claims and notes are wrapped, not cut, to the width."""
        p = vorlane(REPORT, "--log", RUN, env={"COLUMNS": str(columns)})
        rows = [l for l in p.stdout.splitlines() if l.split() and l.split()[0] in VERDICTS]
        assert rows and all(cells(r) <= columns for r in p.stdout.splitlines())
        assert "…" not in p.stdout
        words = " ".join(p.stdout.split())
        assert all(" ".join(c.split()) in words for c in (*EXPECTED, "`ruff check feedsync` ran but FAILED (exit 1)"))

    def test_wide_terminal_keeps_everything_on_one_line(self):
        p = vorlane(REPORT, "--log", RUN, env={"COLUMNS": "400"})
        lines = p.stdout.splitlines()
        assert "…" not in p.stdout
        assert lines[0].split() == ["VERDICT", "KIND", "CLAIM", "NOTE"]
        (row,) = [l for l in lines if "ruff check" in l]
        assert row.startswith("contradicted") and row.endswith("ran but FAILED (exit 1)")

    def test_control_characters_are_not_sent_to_the_terminal(self, tmp_path):
        report = tmp_path / "report.md"
        report.write_text("- Ran `make \x1b[2J\x1b]0;pwned\x07all` and the build passed.\n", encoding="utf-8")
        p = vorlane(report, "--log", RUN)
        assert "make \\x1b[2J\\x1b]0;pwned\\x07all" in p.stdout
        assert "\x1b" not in p.stdout and "\x07" not in p.stdout
        assert "\x1b" in run_json(report, "--log", RUN)[1]["claims"][0]["text"]

    def test_model_not_used_without_llm(self, stub_model):
        url, requests = stub_model(lambda body: _answer(body, kind="result_observed"))
        p = vorlane(REPORT, "--log", RUN, "--json", env={"VESKARD_LLM_URL": url})
        assert p.returncode == 1 and requests == []

    def test_inputs_unchanged(self, tmp_path):
        files = [REPORT, RUN, *sorted(RUNS.iterdir())]
        before = {f: (hashlib.sha256(f.read_bytes()).hexdigest(), f.stat().st_mtime_ns) for f in files}
        vorlane(REPORT, "--log", RUN)
        vorlane("--runs", RUNS)
        assert before == {f: (hashlib.sha256(f.read_bytes()).hexdigest(), f.stat().st_mtime_ns) for f in files}


# ---------------------------------------------------------------------------
# Colour and progress on a terminal
# ---------------------------------------------------------------------------


def run_on_terminal(args, env=None, stream="stdout", columns=120):
    """Run with stdout or stderr on a pseudo-terminal; the other stream piped."""
    argv = [sys.executable, "-m", "vorlane_core", "check", *map(str, args)]
    return run_on_pty(argv, columns, env=_env(env), cwd=_CWD, stream=stream, rows=40, timeout=60)


@pytest.mark.skipif(sys.platform == "win32", reason="needs a pseudo-terminal")
class TestTerminal:
    def test_colour_on_terminal(self):
        code, out, _ = run_on_terminal([REPORT, "--log", RUN])
        assert code == 1
        assert "\x1b[1;31mcontradicted\x1b[0m" in out
        assert "\x1b[32mverified\x1b[0m" in out

    @pytest.mark.parametrize("env", [{"NO_COLOR": "1"}, {"TERM": "dumb"}])
    def test_no_colour_when_asked(self, env):
        code, out, _ = run_on_terminal([REPORT, "--log", RUN], env=env)
        assert code == 1 and "contradicted" in out
        assert not ANSI_RE.search(out)

    def test_terminal_width_used(self):
        _, out, _ = run_on_terminal([REPORT, "--log", RUN], env={"NO_COLOR": "1"}, columns=70)
        rows = [l for l in out.splitlines() if l.split() and l.split()[0] in VERDICTS]
        assert rows and all(cells(r) <= 70 for r in rows)

    def test_progress_bar_on_terminal_stderr(self):
        code, err, out = run_on_terminal(["--runs", RUNS], stream="stderr")
        assert code == 2
        assert "checking [" in err and "4/4 runs" in err
        assert "4/4" not in out

    def test_no_progress_bar_when_piped(self):
        p = vorlane("--runs", RUNS / "01-readme-typo.json", RUNS / "03-nightly-cron.json")
        assert p.returncode == 0 and p.stderr == ""


# ---------------------------------------------------------------------------
# Exit status
# ---------------------------------------------------------------------------


class TestExitStatus:
    @pytest.fixture
    def no_contradiction(self, tmp_path, log):
        """The example log with ruff passing: unverified claims, nothing contradicted."""
        for rec in log["commands"]:
            if rec["command"] == "ruff check feedsync":
                rec["exit_code"], rec["output"] = 0, "All checks passed!\n"
        return write_json(tmp_path / "run.json", log)

    @pytest.mark.parametrize(
        "fail_on, with_failed_ruff, with_passing_ruff",
        [(None, 1, 0), ("contradicted", 1, 0), ("unverified", 1, 1), ("never", 0, 0)],
    )
    def test_fail_on(self, no_contradiction, fail_on, with_failed_ruff, with_passing_ruff):
        extra = ["--fail-on", fail_on] if fail_on else []
        assert vorlane(REPORT, "--log", RUN, *extra).returncode == with_failed_ruff
        p = vorlane(REPORT, "--log", no_contradiction, *extra)
        assert p.returncode == with_passing_ruff
        assert "0 contradicted" in p.stdout and "2 unverified" in p.stdout

    def test_exit_code_as_text_zero_is_success(self, tmp_path, log):
        for rec in log["commands"]:
            if rec["command"] == "ruff check feedsync":
                rec["exit_code"] = "0"
        assert vorlane(REPORT, "--log", write_json(tmp_path / "r.json", log)).returncode == 0

    def test_all_verified_run(self):
        p = vorlane("--log", RUNS / "03-nightly-cron.json", "--fail-on", "unverified")
        assert p.returncode == 0 and p.stdout.splitlines()[-1].startswith("2 claims: 2 verified,")

    @pytest.mark.parametrize(
        "args, needle",
        [
            ([REPORT], "--log"),
            (["--runs", RUNS, "--log", RUN], "--runs"),
            ([REPORT, "--log", RUN, "--fail-on", "sometimes"], "--fail-on"),
            (["--runs", RUNS, "-j", "0"], "-j"),
            ([REPORT, "--log", RUN, "--colour"], "unrecognized"),
        ],
    )
    def test_bad_usage(self, args, needle):
        p = vorlane(*args)
        assert p.returncode == 2 and p.stdout == "" and "Traceback" not in p.stderr
        assert needle in p.stderr and "usage:" in p.stderr

    def test_no_subcommand(self):
        p = subprocess.run([sys.executable, "-m", "vorlane_core"], capture_output=True, text=True, cwd=_CWD, env=_env())
        assert p.returncode == 2 and "usage:" in p.stderr

    def test_help(self):
        p = vorlane("--help")
        assert p.returncode == 0 and "--fail-on" in p.stdout and "exit status" in p.stdout

    @pytest.mark.skipif(shutil.which("vorlane") is None, reason="console script not installed on PATH")
    def test_console_script(self):
        p = subprocess.run(["vorlane", "check", REPORT, "--log", RUN], capture_output=True, text=True, cwd=_CWD, env=_env())
        assert p.returncode == 1 and p.stdout == vorlane(REPORT, "--log", RUN).stdout


# ---------------------------------------------------------------------------
# Bad input
# ---------------------------------------------------------------------------


def _drop(key):
    return lambda d: d.pop(key)


class TestBadInput:
    def test_missing_files(self, tmp_path):
        assert_clean_error(vorlane(REPORT, "--log", tmp_path / "nope.json"), "nope.json", "no such file")
        assert_clean_error(vorlane(tmp_path / "nope.md", "--log", RUN), "nope.md", "no such file")

    def test_directory_given(self, tmp_path):
        assert_clean_error(vorlane(REPORT, "--log", tmp_path), str(tmp_path), "directory")

    @pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() == 0, reason="root reads every file")
    def test_unreadable_file(self, tmp_path):
        f = tmp_path / "locked.json"
        shutil.copy(RUN, f)
        f.chmod(0)
        assert_clean_error(vorlane(REPORT, "--log", f), "locked.json", "permission denied")

    def test_invalid_utf8(self, tmp_path):
        report = tmp_path / "report.md"
        report.write_bytes(b"# Report\n\nRan `make` and it \xff passed.\n")
        assert_clean_error(vorlane(report, "--log", RUN), "report.md", "not valid UTF-8", "0xff", "line 3, column 19")
        log = tmp_path / "run.json"
        log.write_bytes(RUN.read_bytes().replace(b'"events"', b'"ev\xc3ents"', 1))
        assert_clean_error(vorlane(REPORT, "--log", log), "run.json", "not valid UTF-8", "line 2")

    def test_invalid_json(self, tmp_path):
        f = tmp_path / "run.json"
        f.write_text('{\n  "events": [],\n  "external": [] "written": []\n}\n', encoding="utf-8")
        assert_clean_error(vorlane(REPORT, "--log", f), "run.json", "invalid JSON", "line 3, column 18")
        f.write_text("", encoding="utf-8")
        assert_clean_error(vorlane(REPORT, "--log", f), "invalid JSON", "line 1, column 1")

    @pytest.mark.parametrize(
        "mutate, path, problem",
        [
            (lambda d: d.pop("commands"), "log", 'missing "commands"'),
            (lambda d: d.update(events={}), "log.events", "expected an array, got an object"),
            (lambda d: d["events"].__setitem__(3, "patch"), "log.events[3]", "expected an object, got a string"),
            (lambda d: d["events"][3].pop("tool"), "log.events[3]", 'missing "tool"'),
            (lambda d: d["events"][3].update(tool=7), "log.events[3].tool", "expected a string, got a number"),
            (lambda d: d["events"][3].pop("wrote"), "log.events[3]", 'missing "wrote"'),
            (lambda d: d["events"][0].pop("output"), "log.events[0]", 'missing "output"'),
            (lambda d: d["events"][0].update(output=["x"]), "log.events[0].output", "expected a string or null, got an array"),
            (lambda d: d["events"][3].update(payload=12), "log.events[3].payload", "expected a string or null, got a number"),
            (lambda d: d["events"][3].pop("payload"), "log.events[3]", 'missing "payload"'),
            (lambda d: d["events"][1].pop("command"), "log.events[1]", 'missing "command"'),
            (lambda d: d["events"][1].update(command=None), "log.events[1].command", "expected a string, got null"),
            (lambda d: d["external"][0].pop("args"), "log.external[0]", 'missing "args"'),
            (lambda d: d["written"].append(None), "log.written[3]", "expected a string, got null"),
            (lambda d: d["commands"][2].update(exit_code=[1]), "log.commands[2].exit_code", "expected a number, a string, a boolean or null, got an array"),
            (lambda d: d["commands"][0].pop("exit_code"), "log.commands[0]", 'missing "exit_code"'),
            (lambda d: d["commands"][0].update(command=0), "log.commands[0].command", "expected a string, got a number"),
            (lambda d: d["commands"][0].update(output=False), "log.commands[0].output", "expected a string or null, got a boolean"),
        ],
    )
    def test_log_of_wrong_shape(self, tmp_path, log, mutate, path, problem):
        mutate(log)
        f = write_json(tmp_path / "run.json", log)
        line = assert_clean_error(vorlane(REPORT, "--log", f), "run.json")
        assert f"{path}: {problem}" in line

    def test_shape_paths_follow_the_file(self, tmp_path, log):
        log["events"][3]["tool"] = None
        f = write_json(tmp_path / "run.json", {"report": "Ran `make`.", "L": log})
        assert "L.events[3].tool: expected a string, got null" in assert_clean_error(vorlane("--log", f))

    def test_accepted_variants_of_fields(self, tmp_path, log):
        """Fields the log may legitimately hold: null texts and any exit code type."""
        log["events"][0]["output"] = None
        log["events"][0]["payload"] = None
        log["events"][0]["tool"] = "terminal-ish"  # no command needed for other tools
        for rec, code in zip(log["commands"], [None, 1.0, True]):
            rec["exit_code"] = code
        log["commands"][0]["output"] = None
        p = vorlane(REPORT, "--log", write_json(tmp_path / "run.json", log))
        assert p.returncode in (0, 1) and "Traceback" not in p.stderr, p.stderr

    @pytest.mark.parametrize(
        "doc, needles",
        [
            ([1, 2], ["expected a JSON object", "got an array"]),
            ({"report": "x"}, ["not a run"]),
            ({"report": 5, "log": {}}, ["report: expected a string, got a number"]),
            ({"log": {}, "L": {}}, ['both "log" and "L"']),
            ({"report": "Ran `make`.", "log": []}, ["log: expected an object, got an array"]),
        ],
    )
    def test_run_file_of_wrong_shape(self, tmp_path, doc, needles):
        f = write_json(tmp_path / "run.json", doc)
        assert_clean_error(vorlane(REPORT, "--log", f), "run.json", *needles)

    def test_log_only_file_needs_report(self):
        assert_clean_error(vorlane("--log", RUN), "run.json", "REPORT")

    def test_report_argument_wins_over_report_in_file(self, tmp_path, log):
        f = write_json(tmp_path / "run.json", {"report": "Ran `make clean` and it worked.", "log": log})
        _, doc = run_json(REPORT, "--log", f)
        assert len(doc["claims"]) == 12

    def test_unpaired_surrogates_in_json_strings(self, tmp_path):
        """JSON may escape half a surrogate pair; such text is checked and shown escaped."""
        f = tmp_path / "run.json"
        f.write_text(
            '{"report": "- Ran `make \\ud800x` and it passed.\\n", "log": {"events": [], "external": [],'
            ' "written": [], "commands": [{"command": "make \\ud800x", "exit_code": 0, "output": "ok"}]}}',
            encoding="ascii",
        )
        p = vorlane("--log", f)
        assert p.returncode == 0 and "Traceback" not in p.stderr, p.stderr
        assert "`make \\ud800x` in command (exit ok)" in p.stdout
        doc = run_json("--log", f)[1]
        assert doc["claims"][0]["text"] == "Ran `make \ud800x` and it passed."
        assert doc["claims"][0]["verdict"] == "verified"

    def test_crlf_report(self, tmp_path):
        report = tmp_path / "report.md"
        report.write_bytes(REPORT.read_bytes().replace(b"\n", b"\r\n"))
        assert run_json(report, "--log", RUN)[1] == run_json(REPORT, "--log", RUN)[1]


# ---------------------------------------------------------------------------
# Batches
# ---------------------------------------------------------------------------


class TestBatch:
    def test_directory_with_a_broken_run(self):
        p = vorlane("--runs", RUNS)
        assert p.returncode == 2 and "Traceback" not in p.stderr
        lines = p.stdout.splitlines()
        rows = {l.split()[0]: l for l in lines if ".json" in l}
        assert len(rows) == 4
        broken = next(v for k, v in rows.items() if k.endswith("04-broken-log.json"))
        assert 'error: log.events[2]: missing "tool"' in broken
        good = [v for k, v in rows.items() if not k.endswith("04-broken-log.json")]
        numbers = [list(map(int, r.split()[1:])) for r in good]
        assert all(len(n) == 6 and n[0] == sum(n[1:]) for n in numbers)
        (total,) = [l for l in lines if l.startswith("TOTAL")]
        assert list(map(int, total.split()[-6:])) == [sum(col) for col in zip(*numbers)]
        assert "1 could not be checked" in lines[-1]

    def test_batch_json_matches_single_runs(self):
        p, doc = run_json("--runs", RUNS, "-j", "2")
        assert p.returncode == 2
        names = [Path(r["name"]).name for r in doc["runs"]]
        assert names == sorted(x.name for x in RUNS.iterdir())
        assert doc["bad_runs"] == 1
        for r in doc["runs"]:
            if "error" in r:
                assert r["error"] == 'log.events[2]: missing "tool"'
                continue
            single = run_json("--log", r["name"])[1]
            assert r["claims"] == single["claims"] and r["summary"] == single["summary"]
        good = [r for r in doc["runs"] if "claims" in r]
        assert doc["summary"] == {k: sum(r["summary"][k] for r in good) for k in doc["summary"]}

    def test_jobs_do_not_change_the_result(self):
        assert vorlane("--runs", RUNS, "-j", "1").stdout == vorlane("--runs", RUNS, "-j", "3").stdout

    def test_jsonl(self, tmp_path, log):
        runs = [json.loads(f.read_text(encoding="utf-8")) for f in sorted(RUNS.glob("0[123]*.json"))]
        lines = [json.dumps(r) for r in runs]
        lines.insert(1, "")  # blank lines are skipped
        lines.insert(2, '{"report": "Ran `make`.", "log": ')  # cut short
        lines.append(json.dumps({"report": REPORT.read_text(encoding="utf-8"), "log": log}))
        f = tmp_path / "runs.jsonl"
        f.write_bytes("\n".join(lines).encode() + b"\n\xff\n")
        p, doc = run_json("--runs", f)
        assert p.returncode == 2
        by_name = {r["name"].rsplit(":", 1)[1]: r for r in doc["runs"]}
        assert sorted(by_name, key=int) == ["1", "3", "4", "5", "6", "7"]
        assert by_name["3"]["error"].startswith("invalid JSON at line 1, column")
        assert "not valid UTF-8" in by_name["7"]["error"]
        assert by_name["6"]["summary"]["contradicted"] == 1 and by_name["6"]["summary"]["total"] == 12

    def test_fail_on_over_all_runs(self):
        ok = [RUNS / "01-readme-typo.json", RUNS / "03-nightly-cron.json"]
        assert vorlane("--runs", *ok).returncode == 0
        assert vorlane("--runs", *ok, RUNS / "02-add-column.json").returncode == 1
        assert vorlane("--runs", *ok, RUNS / "02-add-column.json", "--fail-on", "never").returncode == 0

    def test_batch_run_needs_report(self, tmp_path):
        shutil.copy(RUN, tmp_path / "only-log.json")
        p, doc = run_json("--runs", tmp_path)
        assert p.returncode == 2 and "no report" in doc["runs"][0]["error"]

    def test_bad_batch_paths(self, tmp_path):
        assert_clean_error(vorlane("--runs", tmp_path / "nope"), "nope", "no such file")
        assert_clean_error(vorlane("--runs", tmp_path), "no runs found")
        (tmp_path / "runs.txt").write_text("x")
        assert_clean_error(vorlane("--runs", tmp_path / "runs.txt"), "runs.txt", ".jsonl")


# ---------------------------------------------------------------------------
# The model (--llm)
# ---------------------------------------------------------------------------


def _answer(body, kind, targets_for=None):
    """A model answer giving every numbered line of the request ``kind`` and,
    where the line holds a word of ``targets_for``, that word as a target."""
    content = body["messages"][0]["content"]
    units = {}
    for m in re.finditer(r"^(\d+)\. (.*)$", content, re.M):
        targets = [w for w in (targets_for or []) if w in m.group(2)]
        units[m.group(1)] = {"kind": kind, "targets": targets}
    return json.dumps({"units": units})


@pytest.fixture
def stub_model():
    """Start a chat-completions stub on 127.0.0.1; returns (url, requests seen)."""
    servers = []

    def start(answer, status=200, envelope=True):
        seen = []

        def respond(req):
            body = req.json()
            seen.append(body)
            if status != 200:
                reply = b'{"error": "overloaded"}'
            elif not envelope:
                reply = answer(body).encode()
            else:
                reply = json.dumps({"choices": [{"message": {"role": "assistant", "content": answer(body)}}]}).encode()
            return status, reply

        server = FakeModel()
        server.respond = respond
        servers.append(server)
        return server.url, seen

    yield start
    for s in servers:
        s.close()


class TestModel:
    def test_llm_classifies_with_the_model(self, stub_model):
        url, seen = stub_model(lambda body: _answer(body, "result_observed", targets_for=["warning"]))
        env = {"VESKARD_LLM_URL": url, "VESKARD_LLM_MODEL": "stub-model-1"}
        p, doc = run_json(REPORT, "--log", RUN, "--llm", env=env)
        assert p.returncode == 1, p.stderr
        assert len(seen) == 1 and seen[0]["model"] == "stub-model-1"
        by_text = {c["text"]: c for c in doc["claims"]}
        # No unambiguous heuristic kind: the model's kind is taken, so the bare
        # mention becomes a claim of its own and is no longer a mere mention.
        see_also = next(c for t, c in by_text.items() if t.startswith("See also"))
        assert see_also["kind"] == "result_observed" and see_also["verdict"] == "unverified"
        # The model's target gives the literal-free claim something to check.
        logged = next(c for t, c in by_text.items() if t.startswith("Failed attempts"))
        assert logged["targets"] == ["warning"] and logged["verdict"] != "unchecked"
        # Unambiguous heuristic kinds win over the model.
        ruff = next(c for t, c in by_text.items() if "ruff" in t)
        assert ruff["kind"] == "command_ran" and ruff["verdict"] == "contradicted"

    def test_llm_unusable_answer_falls_back_to_heuristics(self, stub_model):
        url, seen = stub_model(lambda body: "sorry, I cannot help with that")
        p, doc = run_json(REPORT, "--log", RUN, "--llm", env={"VESKARD_LLM_URL": url})
        assert len(seen) == 1
        assert doc == run_json(REPORT, "--log", RUN)[1]

    def test_llm_endpoint_down(self):
        url = refused_url()
        line = assert_clean_error(vorlane(REPORT, "--log", RUN, "--llm", env={"VESKARD_LLM_URL": url}), url)
        assert "model" in line

    def test_llm_http_error(self, stub_model):
        url, seen = stub_model(lambda body: "", status=503)
        assert_clean_error(vorlane(REPORT, "--log", RUN, "--llm", env={"VESKARD_LLM_URL": url}), url)
        assert len(seen) == 1

    @pytest.mark.parametrize("reply", ['{"id": "x", "object": "chat.completion"}', '{"choices": []}', "<html>busy</html>"])
    def test_llm_reply_without_an_answer(self, stub_model, reply):
        url, seen = stub_model(lambda body: reply, envelope=False)
        line = assert_clean_error(vorlane(REPORT, "--log", RUN, "--llm", env={"VESKARD_LLM_URL": url}), url)
        assert "reply" in line and len(seen) == 1

    def test_llm_time_out(self):
        """A server that takes the connection and never answers: the request times
        out (shortened here from its 300 seconds through the module's setting)."""
        listener = SilentListener()
        url = listener.url
        script = (
            "import sys\n"
            "from vorlane_core import cli, extract\n"
            f"extract.LLM_URL = {url!r}\n"
            "extract._TIMEOUT = 0.5\n"
            "sys.exit(cli.main(sys.argv[1:]))\n"
        )
        try:
            p = subprocess.run(
                [sys.executable, "-c", script, "check", REPORT, "--log", RUN, "--llm"],
                capture_output=True, text=True, cwd=_CWD, env=_env(), timeout=60,
            )
        finally:
            listener.close()
        line = assert_clean_error(p, url)
        assert "did not answer in time" in line

    def test_llm_endpoint_down_in_batch(self):
        url = refused_url()
        p, doc = run_json("--runs", RUNS / "01-readme-typo.json", RUNS / "03-nightly-cron.json", "--llm", env={"VESKARD_LLM_URL": url})
        assert p.returncode == 2 and "Traceback" not in p.stderr
        assert [url in r["error"] for r in doc["runs"]] == [True, True]
