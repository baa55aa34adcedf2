"""The JSON document (--format json) against its published JSON Schema, and
the positions of the claims in their report."""

import json
import re

import pytest

from format_checks import CORPUS_RUNS, REPORT, ROOT, RUN, RUNS, all_claims, hostile_run, inputs, json_doc, vorlane, workdir  # noqa: F401

import jsonschema

from vorlane_core import __version__  # noqa: E402
from vorlane_core.check import check, fails  # noqa: E402
from vorlane_core.positions import locate  # noqa: E402

SCHEMA_PATH = ROOT / "docs" / "check-result.schema.json"


@pytest.fixture(scope="module")
def schema():
    schema = json.loads(SCHEMA_PATH.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    return schema


def validator(schema, ref=None):
    if ref is not None:
        schema = {**schema, "$ref": f"#/$defs/{ref}"}
        schema.pop("oneOf")
    return jsonschema.Draft202012Validator(schema)


def report_of(args):
    """The report text a case's positions count in."""
    if "--runs" in args:
        return None
    if args[0] == REPORT:
        return REPORT.read_text(encoding="utf-8")
    return json.loads(args[args.index("--log") + 1].read_text(encoding="utf-8"))["report"]


_SKIPPED = re.compile(r"[\s*|\u00b7]+")


def test_every_input_gives_a_valid_document(schema, workdir):
    """Each input, under each fail-on rule: valid against the schema, versioned,
    "failed" as the exit status says, positions that point at the claim."""
    check_doc = validator(schema)
    run_line = validator(schema, "run")
    for label, args in inputs(workdir):
        report = report_of(args)
        for rule in ("contradicted", "unverified", "never"):
            p = vorlane(*args, "--format", "json", "--fail-on", rule, cwd=workdir)
            doc = json.loads(p.stdout.decode("utf-8"))
            check_doc.validate(doc)
            assert (doc["schema_version"], doc["tool"], doc["fail_on"]) == (1, {"name": "vorlane", "version": __version__}, rule)
            assert p.returncode == (2 if doc.get("bad_runs") else 1 if doc["failed"] else 0), (label, rule)
            assert doc["failed"] == fails(doc["summary"], rule)
            for run in doc.get("runs", ()):
                run_line.validate(run)  # the shape of one line of --format jsonl
        for run, claim in all_claims(doc):
            text = report if run is None else None
            pos = claim["position"]
            assert pos is not None, (label, claim["text"])
            if text is not None:
                found = text[pos["offset"] : pos["end_offset"]]
                assert _SKIPPED.sub("", found).replace("\x00", ".") == _SKIPPED.sub("", claim["text"]), label
                lines = re.split(r"\r\n?|\n", text)
                assert lines[pos["line"] - 1][pos["column"] - 1 :].startswith(found.splitlines()[0])
                assert (pos["end_line"] - pos["line"]) == len(re.findall(r"\r\n?|\n", found))


def test_schema_rejects_what_the_document_must_not_be(schema, workdir):
    """The schema is no blank cheque: drift in the document is caught."""
    doc = json_doc([REPORT, "--log", RUN], workdir)
    check_doc = validator(schema)
    broken = [
        lambda d: d.pop("schema_version"),
        lambda d: d["claims"][0].pop("position"),
        lambda d: d["claims"][0].update(verdict="maybe"),
        lambda d: d["claims"][0]["position"].update(line=0),
        lambda d: d["summary"].update(extra=1),
        lambda d: d.update(failed="yes"),
    ]
    for mutate in broken:
        d = json.loads(json.dumps(doc))
        mutate(d)
        assert not check_doc.is_valid(d), d
    run_line = validator(schema, "run")
    assert not run_line.is_valid({"name": "x", "error": "e", "claims": []})
    assert not run_line.is_valid({"name": "x", "summary": doc["summary"]})


def test_json_flag_is_format_json(workdir):
    a = vorlane(REPORT, "--log", RUN, "--json", cwd=workdir)
    b = vorlane(REPORT, "--log", RUN, "--format", "json", cwd=workdir)
    assert (a.returncode, a.stdout) == (b.returncode, b.stdout) and a.stdout.startswith(b"{")


# ---------------------------------------------------------------------------
# Positions
# ---------------------------------------------------------------------------

P = lambda line, col, eline, ecol, exact=True: (line, col, eline, ecol, exact)  # noqa: E731


@pytest.mark.parametrize(
    "report, claims, expected",
    [
        # bold and list markers dropped, lines joined
        ("# T\n\n- **Ran** `make`\n  and it passed.\n", ["Ran `make` and it passed."], [P(3, 5, 4, 17)]),
        # table cells joined with " · "; CR LF and lone CR as line ends
        ("a\r\n| x | Built `y` | ok |\rz\n", ["Built `y` · ok"], [P(2, 7, 2, 21)]),
        # wide characters count one column each
        ("日本語: 設定を更新した `a.toml`.\n", ["設定を更新した `a.toml`."], [P(1, 6, 1, 23)]),
        # the second of two equal sentences is the second claim
        ("Ran `make` twice.\nRan `make` twice.\n", ["Ran `make` twice.", "Ran `make` twice."], [P(1, 1, 1, 18), P(2, 1, 2, 18)]),
        # in order: a claim is looked for after the one before it
        ("B was set to `2`. A was set to `1`.\n", ["A was set to `1`.", "B was set to `2`."], [P(1, 19, 1, 36), None]),
        # a fence inside the claim: its beginning and its end are found
        ("Ran `make` ```x``` and then built `docs` fully.\n", ["Ran `make` and then built `docs` fully."], [P(1, 1, 1, 48, False)]),
        # not in the report at all, empty, a NUL read as "."
        ("Nothing here.\n", ["Completely different sentence here.", ""], [None, None]),
        ("Bumped to v1\x002 now.\n", ["Bumped to v1.2 now."], [P(1, 1, 1, 20)]),
        # a lone surrogate is one character like any other
        ("x \ud800 Ran `a` ok.\n", ["\ud800 Ran `a` ok."], [P(1, 3, 1, 16)]),
    ],
)
def test_locate(report, claims, expected):
    got = [None if p is None else (p["line"], p["column"], p["end_line"], p["end_column"], p["exact"]) for p in locate(report, claims)]
    assert got == expected


def test_locate_stays_linear():
    """Many claims, claims that are nowhere in a large report, a very long
    claim, a first word that occurs everywhere: all end promptly (a hang
    guard, not a timing)."""
    report = "word " * 400_000
    got = list(locate(report, [f"Claim number {i} with `code{i}` not there." for i in range(300)]))
    assert got == [None] * 300
    long_claim = " ".join(f"**w{i}**" for i in range(50_000))
    report = "Ran it. " * 5_000 + "Ran " + long_claim + ".\n"
    claims = [f"Ran {' '.join(f'w{i}' for i in range(50_000))}."] + ["Ran it."] * 3
    got = list(locate(report, claims))
    assert got[0] is not None and got[0]["exact"] and got[0]["end_offset"] == len(report) - 1
    assert got[1:] == [None] * 3  # in order: nothing after the long claim
    lines = "".join(f"- Ran `make t{i}` and it passed.\n" for i in range(50_000))
    got = list(locate(lines, [f"Ran `make t{i}` and it passed." for i in range(50_000)]))
    assert [p["line"] for p in got] == list(range(1, 50_001))


def test_check_result_carries_positions():
    report = REPORT.read_text(encoding="utf-8")
    result = check(report, json.loads(RUN.read_text(encoding="utf-8")))
    offsets = [c["position"]["offset"] for c in result["claims"]]
    assert offsets == sorted(offsets) and len(set(offsets)) == len(offsets) == 12
    ruff = next(c for c in result["claims"] if "ruff" in c["text"])
    assert report.splitlines()[ruff["position"]["line"] - 1] == "- Ran `ruff check feedsync` — clean."
