"""Benchmark of the session importers on large generated sessions.

A long agent session reaches hundreds of megabytes (tool outputs and file
contents are stored in full).  This generates a Claude Code session JSONL and
a Codex rollout of the given size (default 200 MB): many turns, each with
shell commands (successes and failures), writes, edits and reads with
outputs of a few kilobytes to a megabyte, and imports each with ``--turn
last`` (the default) and ``--turn all``.  It prints per case:

- the import time, and its ratio to the 5 s target;
- peak memory: the child process's peak resident size minus its size before
  the import, as a multiple of the file size (target: under 2x), and the
  child's whole peak resident size (interpreter and modules included).

Run:  python3 bench/bench_import.py [--mb 200] [--keep DIR]
(with the package installed, or PYTHONPATH pointing at the source tree).
Each import runs in a child process so that its peak memory is measured alone.
"""

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile

WORDS = ("the a of to in and build test run error warning session config value cache worker queue record "
         "update select from where table index file path line module import return result status ok failed").split()


def text(rnd, n):
    """About ``n`` characters of log-like text."""
    out, size = [], 0
    while size < n:
        ln = " ".join(rnd.choice(WORDS) for _ in range(rnd.randint(4, 14))) + f" {rnd.randint(0, 99999)}"
        out.append(ln)
        size += len(ln) + 1
    return "\n".join(out)


def big(rnd):
    r = rnd.random()
    return text(rnd, 1_000_000 if r < 0.02 else 60_000 if r < 0.2 else 3_000)


def claude_records(rnd, turn, cwd):
    base = {"sessionId": "bench", "cwd": cwd, "version": "2.1.3", "isSidechain": False}
    yield {"type": "user", "message": {"role": "user", "content": f"turn {turn}: fix the build"}, **base}
    for k in range(rnd.randint(3, 8)):
        tid = f"toolu_{turn}_{k}"
        kind = rnd.random()
        if kind < 0.5:
            code = 0 if rnd.random() < 0.8 else 1
            out = big(rnd)
            inp = {"command": f"pytest tests/test_{k}.py -q"}
            block = {"type": "tool_result", "tool_use_id": tid, "content": out if code == 0 else f"Exit code 1\n{out}"}
            if code:
                block["is_error"] = True
            res = {"stdout": out, "stderr": "", "interrupted": False} if code == 0 else f"Error: Exit code 1\n{out}"
            name = "Bash"
        elif kind < 0.7:
            content = big(rnd)
            name, inp = "Write", {"file_path": f"{cwd}/src/mod_{turn}_{k}.py", "content": content}
            block = {"type": "tool_result", "tool_use_id": tid, "content": "File created successfully"}
            res = {"type": "create", "filePath": inp["file_path"], "content": content}
        elif kind < 0.85:
            name, inp = "Edit", {"file_path": f"{cwd}/src/app.py", "old_string": "x = 1", "new_string": text(rnd, 400)}
            block = {"type": "tool_result", "tool_use_id": tid, "content": "The file has been updated."}
            res = {"filePath": inp["file_path"]}
        else:
            content = big(rnd)
            numbered = "\n".join(f"{i + 1:6}\u2192{ln}" for i, ln in enumerate(content.split("\n")))
            name, inp = "Read", {"file_path": f"{cwd}/src/lib_{k}.py"}
            block = {"type": "tool_result", "tool_use_id": tid, "content": numbered}
            res = {"type": "text", "file": {"filePath": inp["file_path"], "content": content}}
        yield {"type": "assistant", "message": {"role": "assistant", "content": [
            {"type": "tool_use", "id": tid, "name": name, "input": inp}]}, **base}
        yield {"type": "user", "message": {"role": "user", "content": [block]}, "toolUseResult": res, **base}
    yield {"type": "assistant", "message": {"role": "assistant", "content": [
        {"type": "text", "text": f"Turn {turn}: ran `pytest` and fixed `src/app.py`."}]}, **base}


def codex_records(rnd, turn, cwd):
    def rec(t, p):
        return {"timestamp": "2026-01-01T00:00:00Z", "type": t, "payload": p}
    if turn == 0:
        yield rec("session_meta", {"id": "bench", "cwd": cwd, "cli_version": "0.125.0"})
    yield rec("response_item", {"type": "message", "role": "user", "content": [{"type": "input_text", "text": f"turn {turn}"}]})
    for k in range(rnd.randint(3, 8)):
        cid = f"call_{turn}_{k}"
        out = big(rnd)
        yield rec("response_item", {"type": "function_call", "name": "exec_command", "call_id": cid,
                                    "arguments": json.dumps({"cmd": f"pytest tests/test_{k}.py", "workdir": cwd})})
        yield rec("response_item", {"type": "function_call_output", "call_id": cid,
                                    "output": f"Chunk ID: 1\nProcess exited with code 0\nOutput:\n{out}"})
        yield rec("event_msg", {"type": "exec_command_end", "call_id": cid, "aggregated_output": out,
                                "exit_code": rnd.choice([0, 0, 0, 1])})
    yield rec("event_msg", {"type": "task_complete", "last_agent_message": f"Turn {turn}: ran `pytest`."})


def generate(path, records, mb, seed=1):
    rnd = random.Random(seed)
    target = mb * 1_000_000
    size = turn = 0
    with open(path, "w", encoding="utf-8") as f:
        while size < target:
            for r in records(rnd, turn, "/home/dev/project"):
                line = json.dumps(r) + "\n"
                f.write(line)
                size += len(line.encode("utf-8"))
            turn += 1
    return size, turn


CHILD = r"""
import json, resource, sys, time
from vorlane_core.importers import import_session
from vorlane_core.runlog_file import check_log
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
t = time.perf_counter()
run = import_session(sys.argv[1], turn=sys.argv[2])
elapsed = time.perf_counter() - t
check_log(run.log)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": elapsed, "grown_kb": peak - before, "peak_kb": peak, "events": len(run.log["events"]),
                  "commands": len(run.log["commands"]), "prompts": run.meta["prompts"]}))
"""


def measure(path, turn):
    p = subprocess.run([sys.executable, "-c", CHILD, path, turn], capture_output=True, text=True, check=True)
    return json.loads(p.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--mb", type=int, default=200, help="size of each generated session in MB (default 200)")
    ap.add_argument("--keep", metavar="DIR", help="generate the sessions in DIR and keep them (reused when present)")
    args = ap.parse_args()
    where = args.keep or tempfile.mkdtemp(prefix="vorlane-bench-")
    os.makedirs(where, exist_ok=True)
    print(f"sessions of {args.mb} MB in {where}; targets: < 5 s, peak memory < 2x the file size")
    print(f"{'format':12} {'turn':5} {'size MB':>8} {'turns':>6} {'seconds':>8} {'x 5 s':>6} {'grown MB':>8} {'x size':>7} {'RSS MB':>7} {'events':>7}")
    try:
        for name, records in (("claude_code", claude_records), ("codex", codex_records)):
            path = os.path.join(where, f"{name}-{args.mb}mb.jsonl")
            if not os.path.exists(path):
                generate(path, records, args.mb)
            size = os.path.getsize(path)
            for turn in ("last", "all"):
                m = measure(path, turn)
                peak = m["grown_kb"] * 1024
                print(f"{name:12} {turn:5} {size / 1e6:8.1f} {m['prompts']:6d} {m['seconds']:8.2f} "
                      f"{m['seconds'] / 5:6.2f} {peak / 1e6:8.1f} {peak / size:7.2f} {m['peak_kb'] / 1024:7.0f} {m['events']:7d}")
    finally:
        if not args.keep:
            for n in os.listdir(where):
                os.remove(os.path.join(where, n))
            os.rmdir(where)


if __name__ == "__main__":
    main()
