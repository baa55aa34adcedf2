"""The streaming batch (``vorlane check --runs``): the same results as
checking each run on its own, JSON Lines output that resumes, memory that
does not grow with the number of runs, one Ctrl-C to stop, and worker
processes whose faults cost one run."""

import json
import os
import signal
import socket
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest
from conftest import CORPUS

from vorlane_core.check import check
from vorlane_core.cli.workers import OrderedPool
from vorlane_core.input_files import line_spans
from vorlane_core.runlog_file import parse_run

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE_RUNS = ROOT / "examples" / "runs"
# Under the sanitizer build freed memory sits in ASan's quarantine: the
# commands still run there, but their peak memory says nothing.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")



def _interruptible():
    """In the child: Ctrl-C's default disposition.  A shell starts background
    jobs with SIGINT ignored, and Python then installs no handler for it, so a
    suite run from one would send its SIGINTs to a deaf command."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)

def vorlane(*args, cwd, env=None, timeout=120):
    return subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", *map(str, args)],
        capture_output=True, text=True, encoding="utf-8", cwd=cwd, env={**os.environ, **(env or {})}, timeout=timeout,
    )


def run_files():
    """The corpus runs when present, else the examples (one of them broken)."""
    files = sorted(CORPUS.glob("runs/[0-9]*.json")) if CORPUS.is_dir() else []
    return files or sorted(EXAMPLE_RUNS.glob("*.json"))


@pytest.fixture(scope="module")
def runs_jsonl(tmp_path_factory):
    """All the runs on one line each, then a bad line and a duplicate key."""
    lines = [json.dumps(json.loads(f.read_text(encoding="utf-8")), ensure_ascii=False) for f in run_files()]
    lines += ['{"report": "x", "log": ', '{"report": "x", "report": "y", "log": {}}']
    path = tmp_path_factory.mktemp("batch") / "runs.jsonl"
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return path


def by_line(rows):
    return {int(r["name"].rsplit(":", 1)[1]): {k: v for k, v in r.items() if k != "name"} for r in rows}


def jsonl_rows(text):
    return [json.loads(line) for line in text.splitlines()]


class TestSameResults:
    def test_stream_document_and_check_per_run(self, tmp_path, runs_jsonl):
        stream = vorlane("--runs", runs_jsonl, "--format", "jsonl", "-j", "2", cwd=tmp_path)
        doc = vorlane("--runs", runs_jsonl, "--json", "-j", "1", cwd=tmp_path)
        assert stream.returncode == doc.returncode == 2 and "Traceback" not in stream.stderr
        streamed = by_line(jsonl_rows(stream.stdout))
        assert streamed == by_line(json.loads(doc.stdout)["runs"])
        lines = runs_jsonl.read_text(encoding="utf-8").splitlines()
        assert sorted(streamed) == list(range(1, len(lines) + 1))
        for n, line in enumerate(lines[:-2], start=1):  # the old path: check() on each run
            run = parse_run(json.loads(line), "x")
            if run.report is None:
                assert "no report" in streamed[n]["error"]
                continue
            try:
                expected = check(run.report, run.log)
            except Exception as e:
                assert streamed[n]["error"].endswith(str(e)), (n, streamed[n])
                continue
            assert streamed[n] == {"summary": expected["summary"], "claims": expected["claims"]}, n
        assert streamed[len(lines) - 1]["error"].startswith("invalid JSON")
        assert 'duplicate key "report"' in streamed[len(lines)]["error"]

    def test_standard_input_streams_like_the_file(self, tmp_path, runs_jsonl):
        from_file = jsonl_rows(vorlane("--runs", runs_jsonl, "--format", "jsonl", cwd=tmp_path).stdout)
        p = subprocess.run(
            [sys.executable, "-m", "vorlane_core", "check", "--runs", "-", "--format", "jsonl"],
            input=runs_jsonl.read_bytes(), capture_output=True, cwd=tmp_path, timeout=120,
        )
        from_stdin = jsonl_rows(p.stdout.decode())
        assert [r["name"] for r in from_stdin] == [f"-:{n}" for n in sorted(by_line(from_file))]
        assert by_line(from_stdin) == by_line(from_file)

    def test_directory_streams_like_the_jsonl(self, tmp_path):
        d = vorlane("--runs", EXAMPLE_RUNS, "--format", "jsonl", cwd=tmp_path)
        rows = jsonl_rows(d.stdout)
        assert [Path(r["name"]).name for r in rows] == sorted(f.name for f in EXAMPLE_RUNS.glob("*.json"))
        doc = json.loads(vorlane("--runs", EXAMPLE_RUNS, "--json", cwd=tmp_path).stdout)
        assert rows == doc["runs"]


class TestResume:
    def test_resume_skips_what_was_written(self, tmp_path, runs_jsonl):
        full = vorlane("--runs", runs_jsonl, "--format", "jsonl", "-o", tmp_path / "full.jsonl", cwd=tmp_path)
        full_lines = (tmp_path / "full.jsonl").read_text(encoding="utf-8").splitlines(keepends=True)
        assert full.stdout == "" and len(full_lines) == len(runs_jsonl.read_text().splitlines())
        out = tmp_path / "out.jsonl"
        for cut in (
            "".join(full_lines[:3]) + full_lines[3][:25],  # a job killed in the middle of a line
            "".join(full_lines[:3]) + full_lines[3].rstrip("\n"),  # a whole last line without its end
            "",
            "".join(full_lines),  # all done already: nothing to check, the same outcome
        ):
            out.write_text(cut, encoding="utf-8")
            p = vorlane("--runs", runs_jsonl, "--format", "jsonl", "-o", out, "-j", "2", cwd=tmp_path)
            assert p.returncode == full.returncode and "Traceback" not in p.stderr, p.stderr
            got = out.read_text(encoding="utf-8").splitlines(keepends=True)
            assert sorted(got) == sorted(full_lines), cut[-40:]
            assert got[: cut.count("\n")] == full_lines[: cut.count("\n")]
            done = cut.count("\n") + (cut.endswith("}") and not cut.endswith("\n"))
            assert (f"{done} runs already in" in p.stderr) == bool(done)

    def test_interrupted_job_resumes(self, tmp_path, runs_jsonl):
        """Ctrl-C in the middle of a job, then the same command again: every
        run once, as a job that ran straight through writes it."""
        big = tmp_path / "big.jsonl"
        big.write_text(runs_jsonl.read_text(encoding="utf-8") * 60, encoding="utf-8")
        out = tmp_path / "out.jsonl"
        cmd = [sys.executable, "-m", "vorlane_core", "check", "--runs", big, "--format", "jsonl", "-o", out, "-j", "2"]
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp_path,
                             preexec_fn=_interruptible)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and (not out.exists() or out.stat().st_size < 20000):
            time.sleep(0.02)
        p.send_signal(signal.SIGINT)
        _, err = p.communicate(timeout=30)
        assert p.returncode == 130 and "Traceback" not in err, err
        stopped_at = len(out.read_text(encoding="utf-8").splitlines())
        total = len(big.read_text(encoding="utf-8").splitlines())
        assert 0 < stopped_at < total
        again = subprocess.run(cmd, capture_output=True, text=True, cwd=tmp_path, timeout=300)
        assert f"{stopped_at} runs already in" in again.stderr
        straight = vorlane("--runs", big, "--format", "jsonl", cwd=tmp_path)
        assert again.returncode == straight.returncode
        assert sorted(out.read_text(encoding="utf-8").splitlines()) == sorted(straight.stdout.splitlines())

    def test_foreign_file_is_not_appended_to(self, tmp_path, runs_jsonl):
        before = runs_jsonl.read_bytes()
        p = vorlane("--runs", runs_jsonl, "--format", "jsonl", "-o", runs_jsonl, cwd=tmp_path)
        assert p.returncode == 2 and "refusing to append" in p.stderr and "Traceback" not in p.stderr
        assert runs_jsonl.read_bytes() == before


# The command's own peak (VmHWM: ru_maxrss would start from the RSS of the
# process that started this one) and its largest worker's, in KiB.
MEMORY_CHILD = textwrap.dedent(
    """
    import re, resource, sys
    from vorlane_core.cli import main
    code = main(sys.argv[1:])
    hwm = re.search(r"VmHWM:\\s*(\\d+)", open("/proc/self/status").read()).group(1)
    print(hwm, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, code)
    """
)


def test_memory_does_not_grow_with_the_number_of_runs(tmp_path):
    """Ten times the runs (about 100 MB more input) leave the peak of the
    command and of its workers where it was; the old batch kept every run."""
    lines = [json.dumps(json.loads(f.read_text(encoding="utf-8"))) for f in run_files()]
    lines = [l for l in lines if '"report"' in l] or lines
    peaks = []
    for n in (300, 3000):
        src = tmp_path / f"runs{n}.jsonl"
        with open(src, "w", encoding="utf-8") as f:
            for i in range(n):
                f.write(lines[i % len(lines)] + "\n")
        out = tmp_path / f"out{n}.jsonl"
        p = subprocess.run([sys.executable, "-c", MEMORY_CHILD, "check", "--runs", src, "--format", "jsonl",
                            "-o", out, "-j", "2"], capture_output=True, text=True, timeout=300)
        assert p.returncode == 0, p.stderr
        main_kb, worker_kb, code = map(int, p.stdout.split())
        assert sum(1 for _ in open(out, encoding="utf-8")) == n
        peaks.append((main_kb, worker_kb, src.stat().st_size))
    (m1, w1, s1), (m2, w2, s2) = peaks
    assert s2 - s1 > 50 << 20
    if not UNDER_ASAN:
        assert m2 - m1 < 16 << 10 and w2 - w1 < 16 << 10, peaks


# ---------------------------------------------------------------------------
# Ctrl-C
# ---------------------------------------------------------------------------


def test_one_ctrl_c_stops_a_batch_waiting_on_the_model(tmp_path):
    """The model takes the requests and never answers: one SIGINT ends the
    batch at once with status 130, no traceback, and no worker left."""
    runs = tmp_path / "runs-ctrl-c"
    runs.mkdir()
    for i in range(6):
        (runs / f"{i}.json").write_bytes((EXAMPLE_RUNS / "01-readme-typo.json").read_bytes())
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        url = f"http://127.0.0.1:{listener.getsockname()[1]}/v1/chat/completions"
        p = subprocess.Popen(
            [sys.executable, "-m", "vorlane_core", "check", "--runs", runs, "--llm", "-j", "3"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            env={**os.environ, "VESKARD_LLM_URL": url}, cwd=tmp_path, preexec_fn=_interruptible,
        )
        listener.settimeout(60)
        held = [listener.accept()[0] for _ in range(3)]  # every worker waits on the model
        time.sleep(0.2)
        started = time.monotonic()
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=30)
        stopped_in = time.monotonic() - started
        for c in held:
            c.close()
    assert p.returncode == 130, (p.returncode, err)
    assert "Traceback" not in err and stopped_in < 5, (stopped_in, err)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and _processes_naming(str(runs)):
        time.sleep(0.1)
    assert not _processes_naming(str(runs))


def _processes_naming(arg):
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if arg.encode() in f.read().split(b"\0"):
                    found.append(pid)
        except OSError:
            pass
    return found


def test_line_spans_across_blocks(tmp_path):
    """Lines are found by offset, across the reader's 1 MiB blocks, with
    blank and white-space lines told apart, and a last line without its end."""
    lines = [b"x" * 3000000, b"", b" \t\r", b"{}", b"y" * 1048575, b"\x0c", b"z" * 1048576, b"  {", b"end"]
    f = tmp_path / "spans.jsonl"
    data = b"\n".join(lines)
    f.write_bytes(data)
    got = list(line_spans(str(f)))
    assert [data[o : o + n] for _, o, n, _ in got] == lines
    assert [i for i, *_ in got] == list(range(1, len(lines) + 1))
    assert [blank for *_, blank in got] == [not line.strip() for line in lines]


# ---------------------------------------------------------------------------
# The worker pool
# ---------------------------------------------------------------------------


def _square_or_die(n):
    if n == 7:
        os.kill(os.getpid(), signal.SIGKILL)
    if n == 11:
        raise MemoryError("out of memory")
    return n * n


# The suite's process has threads of its own (the command forks only when
# it has none); the pool itself is what is tested here.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded, use of fork:DeprecationWarning")
@pytest.mark.parametrize("start_method", ["fork", "forkserver"])
def test_pool_order_window_and_faults(start_method):
    taken = []

    def items():
        for i in range(40):
            taken.append(i)
            yield i

    pool = OrderedPool(_square_or_die, lambda item, why: ("failed", item, why), workers=2, window=5,
                       start_method=start_method)
    got = []
    for result in pool.map(items()):
        got.append(result)
        assert len(taken) - len(got) <= 5  # never more than the window in flight
    pool.close()
    assert got[7] == ("failed", 7, "the checker process was killed by SIGKILL")
    assert got[11] == ("failed", 11, "MemoryError: out of memory")
    assert [g for i, g in enumerate(got) if i not in (7, 11)] == [i * i for i in range(40) if i not in (7, 11)]
