"""The table on a terminal: it fits the width (measured in screen columns,
with wide CJK characters and emoji), wraps instead of cutting, and never
sends the terminal a character that acts on it or hides text."""

import json
import re
import subprocess
import sys

import pytest
from wcwidth import wcswidth

from format_checks import env
from pty_run import run_on_pty


ANSI = re.compile(r"\x1b\[[0-9;]*m")

CJK_REPORT = (
    "# 報告\n\n"
    "- 設定ファイル `config/設定.toml` を更新して、タイムアウトを三十秒に変更し、再試行の回数も五回に増やしました。\n"
    "- Ran `pytest -q` 🚀✅ and all 42 tests passed on the first try 👨\u200d👩\u200d👧 without any flaky failures.\n"
    "- Ran `ruff check 模块/` — clean, no warnings at all in the whole package tree.\n"
    "- Wrote `docs/averyveryveryveryveryveryveryveryveryverylongfilenamewithoutanybreaks.md` for the team.\n"
)
CJK_LOG = {
    "events": [{"tool": "write_file", "wrote": True, "payload": "timeout = 30", "output": ""}],
    "external": [],
    "written": ["config/設定.toml"],
    "commands": [
        {"command": "pytest -q", "exit_code": 0, "output": "42 passed"},
        {"command": "ruff check 模块/", "exit_code": 1, "output": "E501 行が長すぎます"},
    ],
}
WIDTHS = [40, 60, 100, 200]


def run_pty(argv, columns, extra_env=None, cwd=None):
    """``argv`` with standard output on a pseudo-terminal ``columns`` wide."""
    _, out, err = run_on_pty(argv, columns, env=env(extra_env), cwd=cwd)
    assert "Traceback" not in err, err
    return out.replace("\r\n", "\n")


def check_cmd(*args):
    return [sys.executable, "-m", "vorlane_core", "check", *map(str, args)]


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    d = tmp_path_factory.mktemp("runs")
    (d / "01-絵文字-run.json").write_text(json.dumps({"report": CJK_REPORT, "log": CJK_LOG}), encoding="utf-8")
    ok = {**CJK_LOG, "commands": [dict(c, exit_code=0) for c in CJK_LOG["commands"]]}
    (d / "02-passing.json").write_text(json.dumps({"report": CJK_REPORT, "log": ok}), encoding="utf-8")
    (d / "03-broken.json").write_text('{"report": "x", "log": {"events": 1}}', encoding="utf-8")
    return d


def lines_of(out):
    return [ANSI.sub("", l) for l in out.split("\n")]


def squeeze(s):
    return "".join(s.split())


@pytest.mark.parametrize("columns", WIDTHS)
def test_single_table_fits(runs, tmp_path, columns):
    run = runs / "01-絵文字-run.json"
    claims = [c["text"] for c in json.loads(subprocess.run(check_cmd("--log", run, "--json"), capture_output=True, cwd=tmp_path, env=env()).stdout)["claims"]]
    for extra in ([], ["--full"]):
        out = run_pty(check_cmd("--log", run, *extra), columns, cwd=tmp_path)
        lines = lines_of(out)
        assert max(wcswidth(l) for l in lines) <= columns, (extra, [l for l in lines if wcswidth(l) > columns])
        assert ("KIND" in lines[0]) == (columns >= 80 or bool(extra))
        if extra:  # everything shown, wrapped, nothing cut
            assert all(squeeze(c) in squeeze(out) for c in claims) and "…" not in out
        assert "4 claims:" in out and "pre-existing" in out  # the summary, whole


@pytest.mark.parametrize("columns", WIDTHS)
def test_batch_table_fits_and_lists_failing_claims(runs, tmp_path, columns):
    out = run_pty(check_cmd("--runs", runs), columns, cwd=tmp_path)
    lines = lines_of(out)
    assert max(wcswidth(l) for l in lines) <= columns, [l for l in lines if wcswidth(l) > columns]
    # The numbers of every run row and of TOTAL end where their column names end.
    def ends(line):
        return [wcswidth(line[: m.end()]) for m in re.finditer(r"\S+", line)][-6:]
    header = ends(lines[0])
    rows = [l for l in lines if re.search(r"(\s+\d+){6}$", l)]
    assert len(rows) == 3 and rows[-1].startswith("TOTAL")  # two runs and the totals
    assert all(ends(r) == header for r in rows)
    # The contradicted claim is listed under its run, before the next run.
    i_run = next(i for i, l in enumerate(lines) if "json" in l and re.search(r"(\s+\d+){6}$", l))
    i_next = next(i for i, l in enumerate(lines) if i > i_run and ("02-passing" in l or "…sing.json" in l))
    listed = " ".join(lines[i_run + 1 : i_next])
    assert "contradicted" in listed and "ruff" in listed and "FAILED" in listed
    assert "couldnotbechecked" in squeeze(out)


def test_hidden_characters_escaped_on_a_terminal(tmp_path):
    """Bidi overrides and isolates, other format characters, zero-width
    characters, controls and lone surrogates from a report or log are shown
    escaped, and measured as shown."""
    hidden = "\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069\u200b\u200e\u2060\ufeff\u00ad"
    report = f"- Ran `make evil\u202egnp.exe` and {hidden} it passed.\n- Ran `make " + "\ud800" * 30 + "` and it passed fine.\n"
    log = {"events": [], "external": [], "written": [], "commands": [{"command": "make x", "exit_code": 0, "output": "ok"}]}
    run = tmp_path / "run.json"
    run.write_text(json.dumps({"report": report, "log": log}), encoding="utf-8")
    for columns in (60, 200):
        out = run_pty(check_cmd("--log", run), columns, cwd=tmp_path)
        assert not set(hidden + "\ud800") & set(out)
        assert "evil\\u202egnp.exe" in out and "\\u2066" in out and "\\u200b" in out and "\\ufeff" in out
        assert max(wcswidth(l) for l in lines_of(out)) <= columns
        assert squeeze("\\ud800" * 30) in squeeze(out)


def test_inspection_command_escapes_on_a_terminal_only(tmp_path):
    from vorlane_core.extract import _inspection_record, split_units

    report = tmp_path / "report.md"
    text = "- Ran `make \x1b]0;pwned\x07all` and set \u202etitle\u2069 in `a.txt`.\n- Updated `b.txt` with \u200bzero width.\n"
    report.write_text(text, encoding="utf-8")
    argv = [sys.executable, "-m", "vorlane_core.extract", str(report)]
    piped = subprocess.run(argv, capture_output=True, cwd=tmp_path, env=env()).stdout
    assert piped == "".join(_inspection_record(u) for u in split_units(text)).encode("utf-8", "surrogatepass")
    assert b"\x1b]0;pwned\x07" in piped  # a file or pipe gets the text as it is
    shown = run_pty(argv, 100, cwd=tmp_path)
    assert "\x1b" not in shown and "\x07" not in shown and "\u202e" not in shown and "\u200b" not in shown
    assert "make \\x1b]0;pwned\\x07all" in shown and "\\u202etitle\\u2069" in shown and "\\u200bzero" in shown


@pytest.mark.parametrize(
    "text, columns",
    [
        ("abc", 3),
        ("日本語", 6),
        ("👨\u200d👩\u200d👧", 2),
        ("e\u0301", 1),
        ("\u2764\ufe0f", 2),
        ("\\ud800", 6),
    ],
)
def test_cell_width(text, columns):
    from vorlane_core.cli.terminal import cell_width, wrap

    assert cell_width(text) == columns
    assert all(cell_width(part) <= 2 for part in wrap(text * 3, 2))
    assert "".join(wrap(text * 3, 2)) == text * 3


@pytest.mark.parametrize("columns", [40, 60])
def test_examples_and_corpus_fit(tmp_path, columns):
    """Every claim of every run of the examples and of the corpus, listed
    with --full, within the width."""
    from format_checks import CORPUS_RUNS, RUNS

    for runs in [RUNS] + ([CORPUS_RUNS] if CORPUS_RUNS.is_dir() else []):
        p = subprocess.run(check_cmd("--runs", runs, "--full"), capture_output=True, cwd=tmp_path, env=env({"COLUMNS": str(columns)}), timeout=300)
        assert p.returncode in (1, 2) and b"Traceback" not in p.stderr
        lines = p.stdout.decode("utf-8").splitlines()
        assert len(lines) > 10 and max(wcswidth(l) for l in lines) <= columns, [l for l in lines if wcswidth(l) > columns]
