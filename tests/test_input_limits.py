"""Hostile inputs to the command's readers: files that are no regular files,
inputs past the size limit, duplicate keys and over-long integers.

Each must end in a clear input error (exit status 2, one line naming the file
and the problem, no traceback) for a single run, and in one error row for a
run of a batch, the other runs being checked as usual."""

import json
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from vorlane_core.input_files import InputError, max_input_bytes
from vorlane_core.json_input import parse_json

ROOT = Path(__file__).resolve().parent.parent
GOOD = ROOT / "examples" / "runs" / "01-readme-typo.json"
LOG = {"events": [], "external": [], "written": [], "commands": []}


def vorlane(*args, cwd, env=None, input=None, timeout=60):
    full = {k: v for k, v in os.environ.items() if k != "VORLANE_MAX_INPUT_MB"}
    full.update(env or {})
    return subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", *map(str, args)],
        capture_output=True, text=True, encoding="utf-8", cwd=cwd, env=full, input=input, timeout=timeout,
    )


def assert_input_error(p, *needles):
    assert p.returncode == 2, (p.returncode, p.stdout, p.stderr)
    assert "Traceback" not in p.stderr and p.stdout == ""
    (line,) = [l for l in p.stderr.splitlines() if l.startswith("vorlane:")]
    for n in needles:
        assert n in line, (n, line)


def run_text(log_text, report="Ran `make`."):
    return '{"report": %s, "log": %s}' % (json.dumps(report), log_text)


BIG_INT = "1" * 5000
HOSTILE = {
    # name: (file text, needles of the error)
    "duplicate exit_code": (
        run_text('{"events": [], "external": [], "written": [], '
                 '"commands": [{"command": "make", "exit_code": 1, "output": "", "exit_code": 0}]}'),
        ['log.commands[0]: duplicate key "exit_code"'],
    ),
    "duplicate at the top": ('{"report": "a", "report": "b", "log": %s}' % json.dumps(LOG), ['duplicate key "report"']),
    "duplicate in args": (
        run_text('{"events": [], "written": [], "commands": [], '
                 '"external": [{"args": {"to": ["x", {"a b": 1, "a b": 2}]}}]}'),
        ['log.external[0].args.to[1]: duplicate key "a b"'],
    ),
    "integer of 5000 digits": (run_text('{"events": [], "external": [{"args": %s}], "written": [], "commands": []}' % BIG_INT),
                               ["line 1, column", "5000 digits"]),
    "nested too deeply": (run_text("[" * 100000 + "]" * 100000), ["nested too deeply"]),
}


@pytest.fixture
def hostile_dir(tmp_path):
    """A folder of runs: one good, one FIFO, and one of each hostile text."""
    d = tmp_path / "runs"
    d.mkdir()
    (d / "00-good.json").write_bytes(GOOD.read_bytes())
    os.mkfifo(d / "fifo.json")
    os.symlink("/dev/zero", d / "zero.json")
    for i, (text, _) in enumerate(HOSTILE.values(), start=1):
        (d / f"{i:02d}.json").write_text(text, encoding="utf-8")
    return d


class TestSingleRun:
    @pytest.mark.parametrize("case", list(HOSTILE))
    def test_hostile_text(self, tmp_path, case):
        text, needles = HOSTILE[case]
        f = tmp_path / "run.json"
        f.write_text(text, encoding="utf-8")
        assert_input_error(vorlane("--log", f, cwd=tmp_path), "run.json", *needles)

    @pytest.mark.parametrize("kind", ["/dev/zero", "link to /dev/zero", "fifo", "directory"])
    def test_not_a_regular_file(self, tmp_path, kind):
        if kind == "/dev/zero":
            path, needle = "/dev/zero", "character device"
        elif kind == "link to /dev/zero":
            path, needle = tmp_path / "z.json", "character device"
            os.symlink("/dev/zero", path)
        elif kind == "fifo":
            path, needle = tmp_path / "f.json", "FIFO"
            os.mkfifo(path)  # no writer: opening it must not wait for one
        else:
            path, needle = tmp_path, "is a directory"
        assert_input_error(vorlane("--log", path, cwd=tmp_path, timeout=30), str(path), needle)
        assert_input_error(vorlane(path, "--log", GOOD, cwd=tmp_path, timeout=30), str(path), needle)

    def test_size_limit(self, tmp_path):
        sparse = tmp_path / "sparse.json"
        with open(sparse, "wb") as f:
            f.truncate(3 << 20)
        assert_input_error(vorlane("--log", sparse, "--max-input-mb", "2", cwd=tmp_path), "sparse.json", "3 MiB", "limit of 2 MiB")
        p = vorlane("--log", sparse, cwd=tmp_path, env={"VORLANE_MAX_INPUT_MB": "1.5"})
        assert_input_error(p, "limit of 1.5 MiB", "VORLANE_MAX_INPUT_MB")
        # Under the limit, it is read (and is no JSON).
        assert_input_error(vorlane("--log", sparse, "--max-input-mb", "4", cwd=tmp_path), "invalid JSON")
        assert_input_error(vorlane("--log", GOOD, cwd=tmp_path, env={"VORLANE_MAX_INPUT_MB": "lots"}), "VORLANE_MAX_INPUT_MB", "lots")

    def test_standard_input(self, tmp_path):
        """Standard input is read, also through /dev/stdin when it is a pipe, and with the limit."""
        text = run_text(json.dumps(LOG))
        for path in ("-", "/dev/stdin"):
            p = vorlane("--log", path, "--format", "jsonl", cwd=tmp_path, input=text)
            assert p.returncode == 0, p.stderr
            assert json.loads(p.stdout)["summary"]["total"] == 1
        p = vorlane("--log", "-", "--max-input-mb", "0.001", cwd=tmp_path, input=text + " " * 2000)
        assert_input_error(p, "too large", "limit of 0.001 MiB")


class TestBatch:
    def test_one_error_row_each(self, tmp_path, hostile_dir):
        p = vorlane("--runs", hostile_dir, "--format", "jsonl", cwd=tmp_path, timeout=60)
        assert p.returncode == 2 and "Traceback" not in p.stderr, p.stderr
        rows = {Path(r["name"]).name: r for r in map(json.loads, p.stdout.splitlines())}
        assert rows["00-good.json"]["summary"]["total"] == 3
        assert "FIFO" in rows["fifo.json"]["error"]
        assert "character device" in rows["zero.json"]["error"]
        for i, (_, needles) in enumerate(HOSTILE.values(), start=1):
            for n in needles:
                assert n in rows[f"{i:02d}.json"]["error"]
        assert len(rows) == 3 + len(HOSTILE)

    def test_size_limit_per_run(self, tmp_path):
        good = json.dumps(json.loads(GOOD.read_text(encoding="utf-8")))
        f = tmp_path / "runs.jsonl"
        f.write_text("\n".join([good, run_text(json.dumps(LOG), "x" * 40000), good]) + "\n", encoding="utf-8")
        p = vorlane("--runs", f, "--format", "jsonl", "--max-input-mb", "0.03", cwd=tmp_path)
        rows = [json.loads(l) for l in p.stdout.splitlines()]
        assert [r["name"].rsplit(":", 1)[1] for r in rows] == ["1", "2", "3"]
        assert "too large" in rows[1]["error"] and "summary" in rows[0] and rows[2]["summary"] == rows[0]["summary"]
        # The same limit reaches the workers that read the files of a folder.
        d = tmp_path / "runs"
        d.mkdir()
        for i, line in enumerate(f.read_text(encoding="utf-8").splitlines()):
            (d / f"{i}.json").write_text(line, encoding="utf-8")
        p = vorlane("--runs", d, "--format", "jsonl", "--max-input-mb", "0.03", cwd=tmp_path)
        assert [("error" in json.loads(l)) for l in p.stdout.splitlines()] == [False, True, False]

    def test_runs_path_that_is_no_regular_file(self, tmp_path):
        os.mkfifo(tmp_path / "runs.jsonl")
        assert_input_error(vorlane("--runs", tmp_path / "runs.jsonl", cwd=tmp_path, timeout=30), "runs.jsonl", "FIFO")


class TestParseRules:
    @pytest.mark.parametrize(
        "text, value",
        [
            ('{"a": 18446744073709551616, "b": -1e400, "c": NaN}', None),  # big ints exact; NaN, Infinity as json reads them
            ('[{"a": 1}, {"a": 2}]', [{"a": 1}, {"a": 2}]),  # the same key in two objects is fine
            ("9" * 4300, int("9" * 4300)),
        ],
    )
    def test_accepted(self, text, value):
        got = parse_json(text, "x")
        if value is None:
            assert got["a"] == 2**64 and type(got["a"]) is int and got["b"] == float("-inf") and got["c"] != got["c"]
        else:
            assert got == value

    @pytest.mark.parametrize(
        "text, message",
        [
            ('{"a": {"b": 1, "b": 1}, "a": 2}', 'x: a: duplicate key "b"'),  # the first in the text is named
            ('{"a": [0, {"": 1, "": 2}]}', 'x: a[1]: duplicate key ""'),
            ('{"k\\n": 1, "k\\n": 2}', 'x: duplicate key "k\\n"'),
            ('\n\n  [1, -%s]' % ("2" * 4301), "x: invalid JSON at line 3, column 7: an integer of 4301 digits"),
        ],
    )
    def test_refused(self, text, message):
        with pytest.raises(InputError) as e:
            parse_json(text, "x")
        assert str(e.value).startswith(message), str(e.value)

    def test_limit_setting(self, monkeypatch):
        monkeypatch.delenv("VORLANE_MAX_INPUT_MB", raising=False)
        assert max_input_bytes() == 512 << 20 and max_input_bytes(0.5) == 1 << 19
        monkeypatch.setenv("VORLANE_MAX_INPUT_MB", "2")
        assert max_input_bytes() == 2 << 20
        for bad in ("0", "-1", "nan", "inf", "x"):
            monkeypatch.setenv("VORLANE_MAX_INPUT_MB", bad)
            with pytest.raises(InputError):
                max_input_bytes()


MEMORY_CHILD = textwrap.dedent(
    """
    import resource, sys
    from vorlane_core.runlog_file import load_json_file, read_report, InputError
    what, path, limit = sys.argv[1], sys.argv[2], int(sys.argv[3])
    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    try:
        (read_report if what == "report" else load_json_file)(path, limit)
    except InputError:
        pass
    print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base) * 1024)
    """
)


@pytest.mark.parametrize("what", ["report", "log", "refused log"])
def test_peak_memory_is_a_small_multiple_of_the_input(tmp_path, what):
    """Reading 64 MiB takes less than 3 times as much: the bytes and the text,
    or the text and its parsed value, never more copies."""
    size = 64 << 20
    f = tmp_path / "input"
    if what == "report":
        f.write_bytes(b"Ran `make`.\r\n" * (size // 13))
    elif what == "log":
        f.write_text(json.dumps({**LOG, "written": ["x" * size]}), encoding="utf-8")
    else:
        with open(f, "wb") as out:
            out.truncate(size)  # zeros: no JSON, found only once read
    p = subprocess.run([sys.executable, "-c", MEMORY_CHILD, what.split()[-1], f, str(2 * size)],
                       capture_output=True, text=True, timeout=120)
    assert p.returncode == 0, p.stderr
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # ASan's quarantine keeps freed memory
        assert int(p.stdout) < 3 * size, (int(p.stdout) / size)
