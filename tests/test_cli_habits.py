"""Everyday command-line habits: run files as a positional, standard input,
hints for common slips, --quiet, --color, and settings kept in the project."""

import json
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
REPORT = ROOT / "examples" / "report.md"
LOG = ROOT / "examples" / "run.json"
ANSI = "\x1b["


@pytest.fixture
def project(tmp_path):
    """A folder with a run file holding report and log; commands run in it."""
    run = {"report": REPORT.read_text(encoding="utf-8"), "log": json.loads(LOG.read_text(encoding="utf-8"))}
    (tmp_path / "run.json").write_text(json.dumps(run), encoding="utf-8")
    return tmp_path


def vorlane(cwd, *args, stdin=None, env=None, **kw):
    full_env = {k: v for k, v in __import__("os").environ.items() if k not in ("NO_COLOR", "FORCE_COLOR", "COLUMNS")}
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", *map(str, args)],
        input=stdin, capture_output=True, text=True, cwd=cwd, env=full_env, timeout=120, **kw,
    )


def test_every_form_of_one_run_gives_the_same_verdicts(project):
    expected = vorlane(project, REPORT, "--log", LOG, "--json")
    assert expected.returncode == 1
    forms = [
        (["run.json"], None),
        (["--log", "run.json"], None),
        (["-", "--log", LOG], REPORT.read_text(encoding="utf-8")),
        ([REPORT, "--log", "-"], LOG.read_text(encoding="utf-8")),
        (["-"], (project / "run.json").read_text(encoding="utf-8")),
    ]
    for args, stdin in forms:
        p = vorlane(project, *args, "--json", stdin=stdin)
        assert (p.returncode, p.stdout, p.stderr) == (1, expected.stdout, ""), args


@pytest.mark.parametrize(
    "args, needles",
    [
        (["run.json", "--log", REPORT], ["look swapped", "REPORT --log RUN.json"]),
        ([REPORT, "--log", "batch.jsonl"], ["--runs batch.jsonl"]),
        ([REPORT], ["no run file", "--log", "usage:"]),
        ([LOG], ["holds only a run log", "REPORT"]),
        (["-", "--log", "-"], ["standard input", "not both"]),
        ([], ["usage:", "--runs"]),
    ],
)
def test_slips_get_a_hint(project, args, needles):
    line = (project / "run.json").read_text(encoding="utf-8").replace("\n", " ") + "\n"
    (project / "batch.jsonl").write_text(line * 2, encoding="utf-8")
    p = vorlane(project, *args, stdin="")
    assert p.returncode == 2 and p.stdout == "" and "Traceback" not in p.stderr
    for n in needles:
        assert n in p.stderr, (n, p.stderr)


def test_report_given_over_a_stored_report_is_warned_of(project):
    other = project / "other.md"
    other.write_text("Ran `pytest -q`: 41 passed.\n", encoding="utf-8")
    p = vorlane(project, other, "--log", "run.json")
    assert "warning" in p.stderr and "other.md" in p.stderr and "run.json" in p.stderr
    assert p.stdout.splitlines()[-1].startswith("1 claim:")
    assert vorlane(project, other, "--log", "run.json", "-q").stderr == ""


def test_quiet_prints_nothing_and_keeps_the_status(project):
    for args in (["run.json"], ["--runs", "run.json"]):
        p = vorlane(project, *args, "--quiet")
        assert (p.returncode, p.stdout, p.stderr) == (1, "", "")


@pytest.mark.parametrize(
    "flag, env, coloured",
    [
        ([], {}, False),  # a pipe
        ([], {"FORCE_COLOR": "1"}, True),
        ([], {"FORCE_COLOR": "0"}, False),
        ([], {"FORCE_COLOR": "1", "NO_COLOR": "1"}, False),
        (["--color", "always"], {"NO_COLOR": "1"}, True),
        (["--color", "never"], {"FORCE_COLOR": "1"}, False),
    ],
)
def test_colour_choice(project, flag, env, coloured):
    p = vorlane(project, "run.json", *flag, env=env)
    assert p.returncode == 1 and (ANSI in p.stdout) is coloured


@pytest.mark.parametrize(
    "name, text",
    [
        ("pyproject.toml", '[project]\nname = "x"\n[tool.vorlane]\nfail-on = "never"\nformat = "json"\n'),
        ("vorlane.toml", 'fail-on = "never"\nformat = "json"\n'),
        ("vorlane.toml", '[tool.vorlane]\nfail-on = "never"\nformat = "json"\njobs = 2\n'),
    ],
)
def test_settings_found_upward_and_overridden_by_the_command_line(project, name, text):
    (project / name).write_text(text, encoding="utf-8")
    sub = project / "a" / "b"
    sub.mkdir(parents=True)
    p = vorlane(sub, project / "run.json")
    assert p.returncode == 0 and json.loads(p.stdout)["summary"]["contradicted"] == 1
    p = vorlane(sub, project / "run.json", "--fail-on", "contradicted", "--format", "table")
    assert p.returncode == 1 and p.stdout.startswith("VERDICT")


@pytest.mark.parametrize(
    "text, needles",
    [
        ('[tool.vorlane]\nfail-on = "sometimes"\n', ["pyproject.toml", "fail-on", "sometimes"]),
        ("[tool.vorlane]\ncolour = 1\n", ["unknown setting", "colour"]),
        ("[tool.vorlane]\njobs = 0\n", ["jobs", "at least 1"]),
        ("[tool.vorlane\n", ["invalid TOML"]),
    ],
)
def test_bad_settings_are_named(project, text, needles):
    (project / "pyproject.toml").write_text(text, encoding="utf-8")
    p = vorlane(project, "run.json")
    assert p.returncode == 2 and "Traceback" not in p.stderr
    for n in needles:
        assert n in p.stderr


def test_closed_standard_output_exits_quietly(project):
    p = subprocess.run(
        f'"{sys.executable}" -m vorlane_core check run.json >&-; echo "status $?" >&2',
        shell=True, cwd=project, capture_output=True, text=True, timeout=120,
    )
    assert "Traceback" not in p.stderr and "status 2" in p.stderr


def test_llm_timeout_bounds_a_dripping_model_and_masks_credentials(project):
    """A server that sends a byte every 0.2 s forever: --llm-timeout ends the
    request at its deadline, and the password in the URL is never shown."""
    from fake_model_server import FakeModel, drip

    server = FakeModel()
    try:
        server.respond = lambda req: drip(server.gate)
        url = server.url.replace("http://", "http://user:s3cret@")
        p = vorlane(project, "run.json", "--llm", "--llm-timeout", "1.5", env={"VESKARD_LLM_URL": url}, )
    finally:
        server.close()
    assert p.returncode == 2 and "Traceback" not in p.stderr
    assert "in time" in p.stderr and "s3cret" not in p.stderr and "user:***@" in p.stderr
