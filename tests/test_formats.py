"""GitHub workflow commands, SARIF, JUnit XML and Markdown, each read back
the way its consumer reads it, on the examples, the corpus and a hostile run."""

import json
import re
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from format_checks import REPORT, RUN, RUNS, VERDICTS, all_claims, hostile_run, inputs, json_doc, vorlane, workdir  # noqa: F401

FAIL_ON = {"contradicted": {"contradicted"}, "unverified": {"contradicted", "unverified"}, "never": set()}


@pytest.fixture(scope="module")
def cases(workdir):
    """(label, args, the JSON document of the same run) for every input."""
    return [(label, args, json_doc(args, workdir)) for label, args in inputs(workdir)]


def output(args, fmt, cwd, **kw):
    p = vorlane(*args, "--format", fmt, cwd=cwd, **kw)
    assert p.returncode in (0, 1, 2) and b"Traceback" not in p.stderr, p.stderr
    return p


def report_path(args, run):
    if run is not None:
        return str(Path(run["name"]))
    return str(args[0] if args[0] == REPORT else args[args.index("--log") + 1])


# ---------------------------------------------------------------------------
# GitHub workflow commands
# ---------------------------------------------------------------------------

COMMAND = re.compile(r"^::(error|warning|notice)(?: ([^:]*))?::(.*)$")
PROPERTY = re.compile(r"^(file|line|endLine|col|endColumn|title)=([^,:\r\n]*)$")


def unescape(s):
    return re.sub(r"%(25|0D|0A|3A|2C)", lambda m: {"25": "%", "0D": "\r", "0A": "\n", "3A": ":", "2C": ","}[m.group(1)], s)


def parse_commands(text):
    """Each workflow command as (level, properties, message); any other line is
    plain log text, which must not look like a command."""
    out = []
    for line in text.splitlines():
        m = COMMAND.match(line)
        if not m:
            assert not line.startswith("::"), line
            continue
        props = {}
        for part in (m.group(2) or "").split(","):
            pm = PROPERTY.match(part)
            assert pm, (part, line)
            assert not re.search(r"%(?!25|0D|0A|3A|2C)", pm.group(2)), part
            props[pm.group(1)] = unescape(pm.group(2))
        assert "\r" not in m.group(3) and not re.search(r"%(?!25|0D|0A)", m.group(3))
        out.append((m.group(1), props, unescape(m.group(3))))
    return out


def test_github_annotations(cases, workdir):
    for label, args, doc in cases:
        text = output(args, "github", workdir).stdout.decode("utf-8")
        commands = parse_commands(text)
        claims = [(r, c) for r, c in all_claims(doc) if c["verdict"] != "verified"]
        errors = [r for r in doc.get("runs", ()) if "error" in r]
        assert len(commands) == len(claims) + len(errors), label
        claim_cmds = [c for c in commands if c[1]["title"] != "vorlane: run could not be checked"]
        for (level, props, message), (run, claim) in zip(claim_cmds, claims):
            assert level == ("error" if claim["verdict"] in FAIL_ON["contradicted"] else "warning")
            assert props["title"] == f"vorlane: {claim['verdict']} claim"
            assert props["file"] == report_path(args, run)
            if args[0] == REPORT:  # the report is the file: the claim's own lines
                assert (int(props["line"]), int(props["endLine"])) == (claim["position"]["line"], claim["position"]["end_line"])
            else:  # a report inside a run file has no line of that file
                assert "line" not in props
            assert message.split("\n")[1].startswith(claim["verdict"] + ": ")


def test_github_escaping_and_step_summary(tmp_path, workdir):
    odd = tmp_path / "we,ird:100%.md"
    odd.write_text("- Ran `ruff check feedsync` with 100% coverage: a, b.\n", encoding="utf-8")
    summary = tmp_path / "summary.md"
    summary.write_text("earlier step\n", encoding="utf-8")
    p = output([odd, "--log", RUN], "github", workdir, extra_env={"GITHUB_STEP_SUMMARY": str(summary)})
    ((level, props, message),) = parse_commands(p.stdout.decode("utf-8"))
    assert "file=" + str(odd).replace("%", "%25").replace(":", "%3A").replace(",", "%2C") in p.stdout.decode()
    assert (level, props["file"]) == ("error", str(odd))
    assert message.startswith("Ran `ruff check feedsync` with 100% coverage: a, b.\ncontradicted: ")
    md = summary.read_text(encoding="utf-8")
    assert md.startswith("earlier step\n### vorlane: 1 claim in ") and "| ❌ contradicted | 1 |" in md
    output(["--runs", RUNS], "github", workdir, extra_env={"GITHUB_STEP_SUMMARY": str(summary)})
    batch = summary.read_text(encoding="utf-8")[len(md):]
    totals = json_doc(["--runs", RUNS], workdir)["summary"]
    assert batch.startswith(f"### vorlane: 4 runs, {totals['total']} claims — **fails**")
    assert f"| **Total** | {totals['total']} | " + " | ".join(str(totals[v]) for v in VERDICTS) + " |" in batch
    assert "alembic upgrade head" in batch.partition("#### Claims that fail the gate")[2]
    hostile = output(["--log", hostile_run(tmp_path)], "github", workdir).stdout.decode("utf-8")
    assert "\u202e" not in hostile and "\x1b" not in hostile and "\\u202e" in hostile


# ---------------------------------------------------------------------------
# SARIF
# ---------------------------------------------------------------------------

# What a SARIF 2.1.0 consumer (GitHub code scanning) requires of a log.
SARIF_REQUIRED = {
    "type": "object",
    "required": ["version", "runs"],
    "properties": {
        "version": {"const": "2.1.0"},
        "$schema": {"type": "string", "pattern": "sarif-2\\.1\\.0"},
        "runs": {"type": "array", "minItems": 1, "items": {
            "type": "object",
            "required": ["tool", "results"],
            "properties": {
                "tool": {"type": "object", "required": ["driver"], "properties": {"driver": {
                    "type": "object", "required": ["name", "rules"],
                    "properties": {"name": {"type": "string"}, "rules": {"type": "array", "items": {
                        "type": "object", "required": ["id", "shortDescription"],
                        "properties": {"id": {"type": "string"}, "shortDescription": {"type": "object", "required": ["text"]},
                                       "defaultConfiguration": {"type": "object", "properties": {"level": {"enum": ["none", "note", "warning", "error"]}}}},
                    }}},
                }}},
                "columnKind": {"enum": ["utf16CodeUnits", "unicodeCodePoints"]},
                "results": {"type": "array", "items": {
                    "type": "object", "required": ["ruleId", "message", "locations"],
                    "properties": {
                        "ruleId": {"type": "string"},
                        "ruleIndex": {"type": "integer", "minimum": 0},
                        "level": {"enum": ["none", "note", "warning", "error"]},
                        "message": {"type": "object", "required": ["text"], "properties": {"text": {"type": "string", "minLength": 1}}},
                        "locations": {"type": "array", "minItems": 1, "items": {
                            "type": "object", "required": ["physicalLocation"],
                            "properties": {"physicalLocation": {
                                "type": "object", "required": ["artifactLocation", "region"],
                                "properties": {
                                    "artifactLocation": {"type": "object", "required": ["uri"], "properties": {"uri": {"type": "string", "minLength": 1}}},
                                    "region": {"type": "object", "required": ["startLine"], "properties": {
                                        k: {"type": "integer", "minimum": 1} for k in ("startLine", "startColumn", "endLine", "endColumn")}},
                                },
                            }},
                        }},
                    },
                }},
            },
        }},
    },
}


def test_sarif(cases, workdir):
    import jsonschema
    for label, args, doc in cases:
        sarif = json.loads(output(args, "sarif", workdir).stdout.decode("utf-8"))
        jsonschema.validate(sarif, SARIF_REQUIRED)
        (run,) = sarif["runs"]
        rules = run["tool"]["driver"]["rules"]
        assert [r["id"] for r in rules] == list(VERDICTS)
        claims = [(r, c) for r, c in all_claims(doc) if c["verdict"] != "verified"]
        assert len(run["results"]) == len(claims), label
        for res, (r, claim) in zip(run["results"], claims):
            assert rules[res["ruleIndex"]]["id"] == res["ruleId"] == claim["verdict"]
            assert res["level"] == ("error" if claim["verdict"] == "contradicted" else "warning")
            loc = res["locations"][0]["physicalLocation"]
            assert loc["artifactLocation"]["uri"] == report_path(args, r).replace("%", "%25").replace(" ", "%20") or loc["artifactLocation"]["uri"].startswith("file://")
            if args[0] == REPORT:
                p = claim["position"]
                assert loc["region"] == {"startLine": p["line"], "startColumn": p["column"], "endLine": p["end_line"], "endColumn": p["end_column"]}
            else:
                assert res["properties"]["reportPosition"] == claim["position"]
        bad = [r for r in doc.get("runs", ()) if "error" in r]
        notes = run["invocations"][0].get("toolExecutionNotifications", [])
        assert len(notes) == len(bad) and run["invocations"][0]["executionSuccessful"] == (not bad)


# ---------------------------------------------------------------------------
# JUnit XML
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("fail_on", ["contradicted", "unverified"])
def test_junit(cases, workdir, fail_on):
    for label, args, doc in cases:
        root = ET.fromstring(output(args, "junit", workdir).stdout)  # an XML parser: well-formed or it raises
        assert root.tag == "testsuites"
        runs = doc["runs"] if "runs" in doc else [doc]
        suites = root.findall("testsuite")
        assert len(suites) == len(runs), label
        for suite, run in zip(suites, runs):
            cases_ = suite.findall("testcase")
            if "error" in run:
                assert suite.get("errors") == "1" and cases_[0].find("error") is not None
                continue
            assert len(cases_) == len(run["claims"]) == int(suite.get("tests"))
            failing = [c.find("failure") is not None for c in cases_]
            assert failing == [c["verdict"] in FAIL_ON["contradicted"] for c in run["claims"]]
            assert int(suite.get("failures")) == sum(failing)
        if fail_on != "contradicted":
            break  # the rule itself: once is enough
    root = ET.fromstring(output([REPORT, "--log", RUN, "--fail-on", fail_on], "junit", workdir).stdout)
    assert int(root.get("failures")) == sum(1 for c in json_doc([REPORT, "--log", RUN], workdir)["claims"] if c["verdict"] in FAIL_ON[fail_on])


def test_junit_keeps_hostile_text(tmp_path, workdir):
    root = ET.fromstring(output(["--log", hostile_run(tmp_path)], "junit", workdir).stdout)
    names = [c.get("name") for c in root.iter("testcase")]
    assert any("<script>alert(1)</script>" in n for n in names)
    assert any("\\x1b[2J" in n and "\u202e" in n for n in names)  # XML cannot hold ESC; bidi is text to XML
    assert any("\\ud800" in n and "設定/ファイル.toml" in n for n in names)


# ---------------------------------------------------------------------------
# Markdown
# ---------------------------------------------------------------------------


def cells_of(row):
    """The cells of a GFM table row: split at pipes that no backslash escapes."""
    parts = re.findall(r"(?:\\.|[^|\\])+|\|", row.strip().strip("|"))
    cells, cur = [], ""
    for p in parts:
        if p == "|":
            cells.append(cur)
            cur = ""
        else:
            cur += p
    return cells + [cur]


def test_markdown(cases, workdir, tmp_path):
    for label, args, doc in cases:
        md = output(args, "markdown", workdir).stdout.decode("utf-8")
        rows = [l for l in md.splitlines() if l.startswith("| ") and not l.startswith("| ---")]
        widths = {len(cells_of(r)) for r in rows}
        claims = doc["claims"] if "claims" in doc else None
        if claims is not None:
            assert widths == {4} and len(rows) == len(claims) + 1, label
            for row, c in zip(rows[1:], claims):
                assert cells_of(row)[0].strip().endswith(c["verdict"])
        else:  # a row per run (and the header and the totals), then the failing claims
            head, _, listed = md.partition("#### Claims that fail the gate")
            run_rows = [r for r in rows if r in head.splitlines()]
            assert len(run_rows) == len(doc["runs"]) + 2 and {len(cells_of(r)) for r in run_rows} == {2 + len(VERDICTS)}
            claim_rows = [r for r in rows if r in listed.splitlines() and not r.startswith("| Verdict")]
            failing = [c for _, c in all_claims(doc) if c["verdict"] == "contradicted"]
            assert len(claim_rows) == min(200, len(failing)) and {len(cells_of(r)) for r in claim_rows} <= {4}
    md = output(["--log", hostile_run(tmp_path)], "markdown", workdir).stdout.decode("utf-8")
    assert "<script>" not in md and "&lt;script&gt;" in md and "\x1b" not in md and "\u202e" not in md
    row = next(l for l in md.splitlines() if "make a" in l)
    assert len(cells_of(row)) == 4 and "a\\|b \\\\\\\\\\|c" in row
