"""Seed corpora for the fuzz targets, written into fuzz/corpus-<target>/.

    python3 fuzz/seeds.py TARGET OUTDIR

Seeds come from examples/ and, when present, ../shared/corpus (reports and
runs); they are written at fuzz time into a git-ignored directory and never
committed.  The claims of a run are found with the pure-Python reference
(tests/reference.py, heuristic path), so no compiled module is needed.

Input layouts are those documented at the top of each fuzz_<target>.cpp.
"""

import hashlib
import json
import random
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "corpus"
sys.path.insert(0, str(ROOT / "tests"))

import reference as R  # noqa: E402

KINDS = ["file_changed", "command_ran", "result_observed", "external_action", "other", "mention"]
TOOLS = ["read_file", "search_files", "skill_view", "terminal", "execute_code", "write_file", "patch", "browser"]
FAIL_TEXTS = ["1", "2", "127", "-1", "True", "00", "", " 0"]
FIELD_MAX = 400  # bytes kept of one log text
EVENTS_MAX = 10


def reports():
    """(name, text) of every example and corpus report."""
    out = [("example", (ROOT / "examples" / "report.md").read_text(encoding="utf-8"))]
    for p in sorted((CORPUS / "reports").glob("*.md")) if CORPUS.is_dir() else []:
        out.append((p.stem, p.read_text(encoding="utf-8")))
    return out


def runs():
    """(name, report, log) of every example and corpus run."""
    out = []
    example = json.loads((ROOT / "examples" / "run.json").read_text(encoding="utf-8"))
    out.append(("example", (ROOT / "examples" / "report.md").read_text(encoding="utf-8"), example))
    for p in sorted((ROOT / "examples" / "runs").glob("*.json")):
        d = json.loads(p.read_text(encoding="utf-8"))
        log = d.get("L", d.get("log")) if isinstance(d, dict) else None
        if isinstance(log, dict):
            out.append((p.stem, d.get("report", ""), log))
    if CORPUS.is_dir():
        for p in sorted((CORPUS / "runs").glob("*.json")):
            if p.name == "index.json":
                continue
            d = json.loads(p.read_text(encoding="utf-8"))
            out.append((p.stem, d.get("report", ""), d["L"]))
    return out


def b(s, limit=FIELD_MAX):
    if s is None:
        return b""
    if not isinstance(s, str):
        s = json.dumps(s, ensure_ascii=False)
    return s.encode("utf-8", "surrogatepass")[:limit]


def mentions(text, targets):
    low = (text or "").lower() if isinstance(text, str) else ""
    return any(t.lower() in low for t in targets if t)


def verify_seed(claim, log):
    kind = KINDS.index(claim["kind"]) if claim["kind"] in KINDS else 4
    out = bytearray([kind, 0, 0, 0])
    out += b(claim["text"]) + b"\xff"
    out += b"\xfe".join(b(t, 200) for t in claim["targets"]) + b"\xff"
    targets = claim["targets"]
    events = log.get("events") or []
    picked = [e for e in events if mentions(e.get("output"), targets) or mentions(e.get("payload"), targets)]
    picked = (picked + [e for e in events if e not in picked])[:EVENTS_MAX]
    items = []
    for e in picked:
        tool = e.get("tool")
        meta = (TOOLS.index(tool) if tool in TOOLS else 7) | (8 if e.get("wrote") else 0)
        meta |= 0x10 if e.get("payload") is None else 0
        meta |= 0x20 if e.get("output") is None else 0
        items.append(bytes([meta, 0]) + b"\xfd" + b(e.get("command")) + b"\xfd" + b(e.get("payload")) + b"\xfd" + b(e.get("output")))
    out += b"\xfe".join(items) + b"\xff"
    out += b"\xfe".join(bytes([1]) + b"\xfd" + b(x.get("args"), 200) for x in (log.get("external") or [])[:4]) + b"\xff"
    out += b"\xfe".join(b(w, 200) for w in (log.get("written") or [])[:8]) + b"\xff"
    cmds = []
    for c in (log.get("commands") or [])[:EVENTS_MAX]:
        code = c.get("exit_code")
        if code is None or code == 0 or code == "0":
            meta = 0
        else:
            text = str(code)
            meta = 1 | (FAIL_TEXTS.index(text) << 1 if text in FAIL_TEXTS else 0)
        cmds.append(bytes([meta]) + b"\xfd" + b(c.get("command")) + b"\xfd" + b(c.get("output")))
    out += b"\xfe".join(cmds)
    return bytes(out)


def classify_seeds(rng):
    seeds = []
    for name, text in reports():
        units = R.split_units(text)[:8]
        if not units:
            continue
        answer = {"units": {}}
        for i, u in enumerate(units):
            words = u.split()
            answer["units"][str(i + 1)] = {
                "kind": rng.choice(R.KINDS + ("File_changed", "")),
                "targets": rng.sample(words, min(2, len(words))) + ["not in the unit"],
            }
        body = json.dumps({"choices": [{"index": 0, "message": {"role": "assistant", "content": json.dumps(answer)}}]})
        unit_bytes = b"\xfe".join(u.encode("utf-8", "surrogatepass") for u in units)
        seeds.append(bytes([0]) + unit_bytes + b"\xff" + body.encode())
        fenced = "```json\n" + json.dumps(answer, ensure_ascii=False) + "\n```"
        seeds.append(bytes([1]) + unit_bytes + b"\xff" + fenced.encode("utf-8", "surrogatepass"))
        seeds.append(bytes([2]) + unit_bytes + b"\xff" + json.dumps(answer).encode())
    return seeds


def main():
    target, outdir = sys.argv[1], Path(sys.argv[2])
    outdir.mkdir(parents=True, exist_ok=True)
    rng = random.Random(20240601)
    if target == "extract":
        seeds = [t.encode("utf-8", "surrogatepass") for _, t in reports()]
    elif target == "verify":
        seeds = []
        for name, report, log in runs():
            for claim in R.extract_claims(report, use_llm=False):
                seeds.append(verify_seed(claim, log))
    elif target == "classify":
        seeds = classify_seeds(rng)
    elif target == "json":
        seeds = [bytes(rng.randrange(256) for _ in range(rng.randrange(8, 400))) for _ in range(64)]
        for _, _, log in runs():
            for x in log.get("external") or []:
                seeds.append(json.dumps(x.get("args"), ensure_ascii=False).encode("utf-8", "surrogatepass")[:2000])
    else:
        raise SystemExit("unknown target %r" % target)
    for s in seeds:
        (outdir / ("seed-" + hashlib.sha1(s).hexdigest()[:16])).write_bytes(s)
    print("%s: %d seeds in %s" % (target, len(seeds), outdir))


if __name__ == "__main__":
    main()
