"""Text semantics of the extract module on the inputs that break naive ports:
Unicode letters and digits, white space beyond ASCII, NUL, line separators,
lone surrogates, and arguments of the wrong type.

Expected values come from the pure-Python reference (Python's own `re` and
`str` rules), which the compiled module must agree with exactly."""

import pytest

import reference as R

from vorlane_core import extract

FUNCS = ["split_units", "literal_targets", "strong_kind", "heuristic_kind", "_sentences", "_strip_fences", "_tidy"]

UNICODE_REPORTS = [
    # é and ß in words and paths; full-width digits are decimal digits.
    "Updated caf\u00e9.py and stra\u00dfe.md with 42 fixes.",
    "Ran `pytest` on \uff11\uff12 files; \uff13\uff14\uff15 passed.",
    # Dotted capital I lower-cases to two code points in duplicate keys.
    "Fixed the \u0130stanbul locale in config.yaml.\n\nfixed the i\u0307stanbul locale in config.yaml!",
    # Greek capital sigma: final-sigma lower-casing in keys.
    "Renamed \u039f\u0394\u039f\u03a3 to odos.py.\n\nrenamed \u03bf\u03b4\u03bf\u03c2 to odos.py.",
    # NUL comes out of sentence splitting as a full stop.
    "Fixed it.\x00 Then ran `make` with 12 jobs.",
    # U+2028 and U+0085 end lines; U+00A0 and U+3000 are white space.
    "Updated /etc/app.conf\u2028today.\u0085Ran `ls`\u00a0twice\u3000now.",
    # Information separators are white space and line ends.
    "Edited conf.toml\x1c\x1dSet DEBUG=1 in .env\x1e\x1fdone",
    "| Step\u00a0| R\u00e9sultat |\n|---|---|\n| Build | 42 \u00d7 7 \u2714 |",
    "\u2705 **D\u00e9ploy\u00e9** version 2.4.1 to staging \u2014 \u03a3 42.",
]


@pytest.mark.parametrize("report", UNICODE_REPORTS)
def test_unicode_reports_match_python_rules(report):
    units = extract.split_units(report)
    assert units == R.split_units(report)
    for u in units:
        assert extract.literal_targets(u) == R.literal_targets(u)
        assert extract.strong_kind(u) == R.strong_kind(u)
        assert extract.heuristic_kind(u) == R.heuristic_kind(u)


def test_unicode_details():
    # Full-width digits count as numbers; U+00D7 forms a dimension.
    assert extract.literal_targets("Resized to \uff11\uff19\uff12\uff10x1080 today") == ["\uff11\uff19\uff12\uff10x1080"]
    # The dotted capital I and its lower-case form share one duplicate key.
    assert extract.literal_targets("`\u0130x` and `i\u0307x`") == ["\u0130x"]
    # NUL already in a paragraph comes out as ".".
    assert extract._sentences("a\x00b fixed") == ["a.b fixed"]
    # U+2028 is white space for trimming and splitting sentences.
    assert extract._sentences("Done.\u2028Then ran it.") == ["Done.", "Then ran it."]


SURROGATE_TEXTS = [
    "Fixed \ud800 in `a\udfffb` and /tmp/x\ud83d\ude00y today.",
    "Updated config\udcff.yaml; ran `pytest \udc80` with 12 tests.",
    "\ud800\udc00 Set KEY\ud800=1 and wrote 2024-01-15.",
    "- Edited \udce9t\u00e9.py\n- Ran `ls \ud800`\n\nI think \ud800 will fix it.",
]


@pytest.mark.parametrize("text", SURROGATE_TEXTS)
def test_lone_surrogates_are_kept_and_matched_like_python(text):
    """A lone surrogate is one ordinary non-word character: never an error,
    never replaced in the results."""
    for name in FUNCS:
        assert getattr(extract, name)(text) == getattr(R, name)(text), name
    for u in extract.split_units(text):
        assert extract.literal_targets(u) == R.literal_targets(u)
    assert extract._inspection_record(text) == R.inspection_record(text)


@pytest.mark.parametrize("name", FUNCS + ["_inspection_record", "extract_claims"])
@pytest.mark.parametrize("bad", [None, 3, b"report", ["a"], bytearray(b"x")])
def test_non_str_argument_names_it(name, bad):
    with pytest.raises(TypeError) as info:
        getattr(extract, name)(bad)
    arg = {"split_units": "final", "extract_claims": "final", "_sentences": "par", "_strip_fences": "text", "_tidy": "x"}.get(name, "unit")
    assert arg in str(info.value)


def test_str_subclass_is_text():
    class S(str):
        pass

    assert extract.literal_targets(S("Edited conf.toml")) == ["conf.toml"]


def test_keyword_arguments():
    assert extract.split_units(final="Edited conf.toml today") == ["Edited conf.toml today"]
    assert extract.heuristic_kind(unit="Tests pass.") == "result_observed"


def test_large_inputs_complete():
    """Linear work on big inputs: a multi-megabyte report, one long line and
    many bullets (no timing asserted here; see bench/)."""
    report = "Updated `config.yaml` to set timeout=30. Ran `pytest -q`: 42 passed.\n\n" * 40000
    assert extract.split_units(report) == ["Updated `config.yaml` to set timeout=30.", "Ran `pytest -q`: 42 passed."]
    line = "Updated config.yaml and ran 12 tests " * 100000
    assert len(extract.split_units(line)) == 1
    bullets = "".join(f"- Fixed bug {i} in mod{i}.py\n" for i in range(100000))
    units = extract.split_units(bullets)
    assert len(units) == 100000 and units[-1] == "Fixed bug 99999 in mod99999.py"


def test_inspection_command_from_a_checkout():
    """Run from the project root, where the source package (without compiled
    modules) comes first on sys.path, the command still finds the compiled
    module and prints one two-line record per Unit."""
    import pathlib
    import subprocess
    import sys

    root = pathlib.Path(__file__).resolve().parents[1]
    report = root / "examples" / "report.md"
    p = subprocess.run([sys.executable, "-m", "vorlane_core.extract", "examples/report.md"],
                       cwd=root, capture_output=True, timeout=60)
    assert p.returncode == 0, p.stderr
    expected = "".join(extract._inspection_record(u) for u in extract.split_units(report.read_text(encoding="utf-8")))
    assert p.stdout.decode("utf-8") == expected
    assert p.stdout.count(b"\n") == 2 * len(extract.split_units(report.read_text(encoding="utf-8"))) > 0


def test_sequence_constants_are_immutable_lists():
    abbr = ["e.g.", "i.e.", "vs.", "etc.", "approx.", "cf.", "no.", "fig."]
    kinds = ["file_changed", "command_ran", "result_observed", "external_action", "other"]
    assert extract.ABBR == abbr and extract.ABBR == tuple(abbr) and list(extract.ABBR) == abbr
    assert extract.KINDS == kinds and extract.KINDS != kinds[:4] and extract.KINDS != kinds[::-1]
    with pytest.raises((TypeError, AttributeError)):
        extract.KINDS[0] = "x"
    with pytest.raises(AttributeError):
        extract.KINDS.append("x")
    assert {extract.KINDS: 1}[tuple(kinds)] == 1  # hashable like a tuple
