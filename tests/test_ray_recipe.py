"""The Ray recipe (docs/ray.md, examples/ray_check.py) on a local Ray
cluster: a few thousand runs give the same rows as the command's own batch.

Needs the ``ray[data]`` package (a test dependency: it has wheels for
CPython 3.11 to 3.14 on Linux x86-64)."""

import hashlib
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import CORPUS

pytest.importorskip("ray.data", reason="ray[data] is not installed (pip install 'ray[data]')")
if "libasan" in os.environ.get("LD_PRELOAD", ""):
    # Ray's own daemons would run with the sanitizer runtime preloaded; the
    # rows the recipe writes come from run_check, which test_batch_stream
    # runs under the sanitizers.
    pytest.skip("not under the sanitizer build", allow_module_level=True)

ROOT = Path(__file__).resolve().parent.parent
RUNS = 2000


def test_ray_recipe_agrees_with_the_batch(tmp_path):
    files = sorted(CORPUS.glob("runs/[0-9]*.json")) if CORPUS.is_dir() else []
    files = files or sorted((ROOT / "examples" / "runs").glob("*.json"))
    runs = [json.loads(f.read_text(encoding="utf-8")) for f in files]
    lines = [json.dumps({**runs[i % len(runs)], "name": f"run-{i}"}, ensure_ascii=False) for i in range(RUNS)]
    lines[7] = '{"report": "x", "log": '  # no JSON: named by its digest
    lines[11] = '{"name": "dup", "report": "x", "report": "y", "log": {}}'
    dataset = tmp_path / "runs.jsonl"
    dataset.write_text("\n".join(lines) + "\n", encoding="utf-8")

    env = {**os.environ, "RAY_USAGE_STATS_ENABLED": "0", "RAY_ADDRESS": ""}
    p = subprocess.run(
        [sys.executable, ROOT / "examples" / "ray_check.py", dataset, "--out", tmp_path / "out"],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300,
    )
    assert p.returncode == 0, p.stderr[-3000:]
    by_ray = {}
    for f in (tmp_path / "out").iterdir():
        for line in f.read_text(encoding="utf-8").splitlines():
            row = json.loads(line)
            by_ray[row.pop("name")] = row

    b = subprocess.run(
        [sys.executable, "-m", "vorlane_core", "check", "--runs", dataset, "--format", "jsonl"],
        capture_output=True, text=True, cwd=tmp_path, timeout=300,
    )
    assert b.returncode == 2 and "Traceback" not in b.stderr
    batch = [json.loads(line) for line in b.stdout.splitlines()]
    assert len(batch) == len(by_ray) == RUNS

    digest = {i: "sha256:" + hashlib.sha256(lines[i].encode()).hexdigest()[:16] for i in (7, 11)}
    for i, row in enumerate(batch):
        name = digest.get(i, f"run-{i}")  # a run that cannot be read is named by its digest
        expected = {"error": row.get("error"), "summary": row.get("summary"), "claims": row.get("claims", [])}
        assert by_ray[name] == expected, (i, name)
    assert by_ray[digest[11]]["error"] == 'duplicate key "report" (a key may appear once in an object)'
    assert sum(1 for r in by_ray.values() if r["error"] is None) > RUNS // 2
