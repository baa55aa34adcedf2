"""Check a JSON Lines dataset of runs on a Ray cluster, with Ray Data.

    pip install "ray[data]" .
    python examples/ray_check.py runs.jsonl [more.jsonl or s3://... ] --out results/

Ray reads the lines, maps the checker over them on every core of every node
and writes the results as JSON Lines files under --out: one row per run,
``{"name", "error", "summary", "claims"}`` (``error`` is null for a checked
run; ``summary`` and ``claims`` are null and [] for a run that could not be
checked).  Nothing here distributes work: Ray does.  See docs/ray.md.
"""

from __future__ import annotations

import argparse
import hashlib
import json
from typing import Any

import ray

from vorlane_core.run_check import check_run_json


def run_name(text: str) -> str:
    """The name of a run without a name of its own: its content's digest,
    stable from one job to the next."""
    return "sha256:" + hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()[:16]


def check_row(row: dict[str, Any], name_key: str = "name", use_llm: bool = False) -> dict[str, Any]:
    """One line of the dataset (``{"text": ...}``) to its result row."""
    text = row["text"]
    result = check_run_json(text, run_name(text), use_llm, name_key=name_key)
    # One schema for every row, so that blocks of checked and failed runs
    # write alike.
    return {
        "name": result["name"],
        "error": result.get("error"),
        "summary": result.get("summary"),
        "claims": result.get("claims", []),
    }


def check_dataset(paths: list[str], out: str, *, name_key: str = "name", use_llm: bool = False) -> None:
    ds = ray.data.read_text(paths)  # one row per non-empty line; the JSON is parsed by the checker
    ds = ds.map(check_row, fn_kwargs={"name_key": name_key, "use_llm": use_llm})
    ds.write_json(out)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("paths", nargs="+", help="JSON Lines files of runs (local paths or any filesystem Ray reads)")
    ap.add_argument("--out", required=True, help="directory for the result files")
    ap.add_argument("--address", default=None, help="the cluster to join (default: RAY_ADDRESS, else a local one)")
    ap.add_argument("--name-key", default="name", help='key of a run\'s own name (default "name")')
    ap.add_argument("--llm", action="store_true", help="classify claims with the model at $VESKARD_LLM_URL")
    args = ap.parse_args()
    ray.init(address=args.address)
    check_dataset(args.paths, args.out, name_key=args.name_key, use_llm=args.llm)
    print(json.dumps({"written": args.out}))


if __name__ == "__main__":
    main()
