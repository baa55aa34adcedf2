"""Shared by the output-format tests: running ``vorlane check``, the inputs
every format must handle, and a hostile run."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
REPORT = EXAMPLES / "report.md"
RUN = EXAMPLES / "run.json"
RUNS = EXAMPLES / "runs"
CORPUS_RUNS = ROOT.parent / "shared" / "corpus" / "runs"
VERDICTS = ("verified", "unverified", "contradicted", "unchecked", "pre-existing")

# Text that every format must carry safely: markup of each format, pipes and
# backslashes, workflow-command syntax, a bidi override, a zero-width space,
# an escape sequence, wide characters and an emoji.
HOSTILE_REPORT = (
    "# Report\n\n"
    "- Ran `make a|b \\\\|c` and <script>alert(1)</script> & it passed: 100% ok, no::errors.\n"
    "- Ran `tox -e lint` \u202eevil\u202c and \u200bzero \x1b[2J width.\n"
    "- Updated `設定/ファイル.toml` with 🚀 launch settings \ud800 done.\n"
)
HOSTILE_LOG = {
    "events": [],
    "external": [],
    "written": [],
    "commands": [
        {"command": "make a|b \\\\|c", "exit_code": 1, "output": "boom"},
        {"command": "pytest -q", "exit_code": 0, "output": "1 passed"},
    ],
}


def env(extra=None):
    e = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "COLUMNS", "TERM", "GITHUB_STEP_SUMMARY", "FORCE_COLOR")}
    e.update(extra or {})
    return e


def vorlane(*args, cwd, extra_env=None, timeout=300):
    """``vorlane check ARGS`` with piped output, run in ``cwd`` (an empty
    directory, so that no source tree shadows the installed package)."""
    return subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", *map(str, args)],
        capture_output=True,
        cwd=cwd,
        env=env(extra_env),
        timeout=timeout,
    )


def hostile_run(directory):
    """A run file holding the hostile report and a log (JSON can hold a lone surrogate)."""
    path = Path(directory) / "hostile.json"
    path.write_text(json.dumps({"report": HOSTILE_REPORT, "log": HOSTILE_LOG}), encoding="utf-8")
    return path


@pytest.fixture(scope="session")
def workdir(tmp_path_factory):
    return tmp_path_factory.mktemp("formats-cwd")


def inputs(workdir):
    """(label, arguments) of the runs every format is tried on."""
    cases = [
        ("example", [REPORT, "--log", RUN]),
        ("example-run-file", ["--log", RUNS / "02-add-column.json"]),
        ("examples-batch", ["--runs", RUNS]),
        ("hostile", ["--log", hostile_run(workdir)]),
    ]
    if CORPUS_RUNS.is_dir():
        cases.append(("corpus-batch", ["--runs", CORPUS_RUNS]))
    return cases


def json_doc(args, cwd, fail_on="contradicted"):
    p = vorlane(*args, "--format", "json", "--fail-on", fail_on, cwd=cwd)
    assert p.returncode in (0, 1, 2), p.stderr
    return json.loads(p.stdout.decode("utf-8"))


def all_claims(doc):
    """(run or None, claim) for every claim of a single or batch document."""
    if "runs" in doc:
        return [(r, c) for r in doc["runs"] for c in r.get("claims", ())]
    return [(None, c) for c in doc["claims"]]
