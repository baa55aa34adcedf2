"""Hostile and very large inputs.

Long runs that make backtracking patterns work hard (a "/a/a/a/..." path, a
"1,000,000,..." number, a "1.2.2.2..." version, white-space runs for the atom
cut, deeply nested action arguments, 100,000 bullets) and very large
ordinary reports must finish in bounded time, never come back with a
result computed from a failed match (an engine limit turns into an error),
and give the answers of the pure-Python reference (tests/reference.py) at
the sizes where the reference itself is fast enough (1 MB).

The larger sizes (10 MB, 50 MB, 64 MB) are checked against the answer the
reference gives at 1 MB for the same shape, since the shape decides it.

Time bounds are generous (they hold under the sanitizer build, several
times slower than release): they catch a quadratic or exponential blow-up,
not a slow machine.  Tests whose name holds "slow" build inputs of 50 MB or
more; `-k "not slow"` leaves them out.
"""

import time

import pytest

from conftest import compiled

import reference as R

X = compiled("vorlane_core.extract", "split_units")
V = compiled("vorlane_core.verify", "verify")


MB = 1_000_000


def timed(f, *args):
    t0 = time.perf_counter()
    r = f(*args)
    return r, time.perf_counter() - t0


def path_run(n):
    return "/a" * (n // 2) + "/b"


def number_run(n):
    return "1" + ",000" * (n // 4)


def version_run(n):
    return "1" + ".2" * (n // 2)


SHAPES = [("path", path_run), ("number", number_run), ("version", version_run)]


class TestBacktrackingRuns:
    """Runs that drive PATH_RE, NUM_RE and VERSION_RE through millions of
    repetitions: the JIT stack overflows on the longer ones and the match is
    redone by the interpreter, with the same answer."""

    @pytest.mark.parametrize("name,make", SHAPES)
    @pytest.mark.parametrize("n", [1_000, 20_000, MB])
    def test_literal_targets_match_reference(self, name, make, n):
        s = make(n)
        got, dt = timed(X.literal_targets, s)
        assert got == R.literal_targets(s)
        assert got == [s], "the whole run is the one literal target"
        assert dt < 10

    @pytest.mark.parametrize("name,make", SHAPES)
    def test_split_units_match_reference(self, name, make):
        report = "Bumped " + make(MB) + " today."
        got, dt = timed(X.split_units, report)
        assert got == R.split_units(report)
        assert dt < 10

    @pytest.mark.parametrize("name,make", SHAPES)
    def test_ten_megabytes(self, name, make):
        # Far past the 32 KiB default JIT stack and past what the 64 MiB
        # per-thread stack holds for VERSION_RE: still the whole run, found
        # in linear time.
        s = make(10 * MB)
        got, dt = timed(X.literal_targets, s)
        assert got == [s]
        assert dt < 60
        units, dt = timed(X.split_units, "Bumped " + s + " today.")
        assert units == ["Bumped " + s + " today."]
        assert dt < 60

    def test_runs_inside_a_sentence_keep_their_neighbours(self):
        # Matches that end on a huge run must still stop exactly there.
        s = "See " + path_run(200_000) + ", 1,234 rows and v" + version_run(200_000) + "-rc.1 done."
        assert X.literal_targets(s) == R.literal_targets(s)
        assert X.heuristic_kind(s) == R.heuristic_kind(s)
        assert X.strong_kind(s) == R.strong_kind(s)

    def test_kinds_on_long_runs(self):
        for _, make in SHAPES:
            unit = "Fixed `" + make(100_000) + "` and ran it"
            assert X.strong_kind(unit) == R.strong_kind(unit)
            assert X.heuristic_kind(unit) == R.heuristic_kind(unit)


class TestAtomCut:
    """The atom cut pattern is quadratic on long white-space runs in every
    engine; the cleaning before it collapses them, so targets with 10,000
    white-space characters are cut like short ones."""

    SPACES = [" " * 10_000, "\u00a0\t\u3000 " * 2_500, "\u2028" * 10_000]

    @pytest.mark.parametrize("ws", SPACES, ids=["spaces", "mixed", "line-separators"])
    @pytest.mark.parametrize(
        "shape",
        ["a{ws}and b", "{ws},{ws}", "src/app.ts{ws}->{ws}tests/app.ts", "{ws}x{ws}", "one{ws}then{ws}two, three",
         "~ {ws}5 ms"],
    )
    def test_atoms_match_reference(self, ws, shape):
        t = shape.format(ws=ws)
        got, dt = timed(V._atoms, t)
        assert got == R._atoms(t)
        assert dt < 5

    def test_verify_with_white_space_targets(self):
        ws = " " * 10_000
        claim = {"text": "Edited the config", "kind": "file_changed",
                 "targets": ["config.toml" + ws + "," + ws + "timeout=30", ws]}
        L = {"events": [{"tool": "patch", "wrote": True, "payload": "timeout = 30", "output": "ok"}],
             "external": [], "written": ["config.toml"], "commands": []}
        got, dt = timed(V.verify, claim, L)
        assert got == R.verify(claim, L)
        assert dt < 5


def nested(depth, leaf="foo.txt"):
    root = cur = []
    for _ in range(depth):
        nxt = []
        cur.append(nxt)
        cur = nxt
    cur.append(leaf)
    return root


def nested_dicts(depth, leaf="foo.txt"):
    root = cur = {}
    for i in range(depth):
        nxt = {}
        cur["k%d" % (i % 3)] = nxt
        cur = nxt
    cur["path"] = leaf
    return root


class TestNestedArguments:
    CLAIM = {"text": "Posted foo.txt", "kind": "external_action", "targets": ["foo.txt"]}

    def log(self, args):
        return {"events": [], "external": [{"args": args}], "written": [], "commands": []}

    @pytest.mark.parametrize("make", [nested, nested_dicts])
    @pytest.mark.parametrize("depth", [1, 50, 200])
    def test_moderate_depth_matches_reference(self, make, depth):
        L = self.log(make(depth))
        assert V.verify(self.CLAIM, L) == R.verify(self.CLAIM, L) == (
            "verified", "`foo.txt` in external action")

    @pytest.mark.parametrize("make", [nested, nested_dicts])
    def test_deep_nesting_is_a_recursion_error(self, make):
        # json.dumps refuses it; so must the compiled writer, without crashing.
        L = self.log(make(100_000))
        with pytest.raises(RecursionError):
            R.verify(self.CLAIM, L)
        t0 = time.perf_counter()
        with pytest.raises(RecursionError):
            V.verify(self.CLAIM, L)
        assert time.perf_counter() - t0 < 10

    def test_many_wide_arguments(self):
        args = {"items": [{"id": i, "name": "n\u00e9%d" % i, "v": i / 7} for i in range(50_000)], "path": "foo.txt"}
        L = self.log(args)
        got, dt = timed(V.verify, self.CLAIM, L)
        assert got == R.verify(self.CLAIM, L)
        assert dt < 20


def bullets(n):
    return "\n".join("- Fixed item %d in file_%d.py (was %d ms)" % (k, k, k % 997) for k in range(n))


class TestManyBlocks:
    def test_hundred_thousand_bullets(self):
        report = bullets(100_000)
        units, dt = timed(X.split_units, report)
        assert dt < 30
        assert units == R.split_units(report)

    def test_hundred_thousand_bullets_claims(self):
        report = bullets(100_000)
        claims, dt = timed(X.extract_claims, report, False)
        assert dt < 60
        assert len(claims) == 100_000
        sample = bullets(2_000)
        assert X.extract_claims(sample, False) == R.extract_claims(sample, use_llm=False)

    def test_hundred_thousand_table_rows(self):
        report = "| step | result |\n|---|---|\n" + "\n".join(
            "| build %d | passed in %d s |" % (k, k % 60) for k in range(100_000))
        units, dt = timed(X.split_units, report)
        assert dt < 30
        assert units == R.split_units(report)

    def test_hundred_thousand_fences(self):
        report = "Ran `make` today.\n" + "```\nx\n```\n" * 100_000 + "```\nUpdated src/a.py after the run."
        units, dt = timed(X.split_units, report)
        assert dt < 30
        assert units == R.split_units(report)


WORDS = ("the build cache was updated and tests passed in module config after we changed parser "
         "output for every request while logs showed nothing unusual").split()


OPENERS = ("Updated", "Fixed", "Ran", "Checked", "Measured")


def prose(n_chars, seed=0):
    """Ordinary report prose: paragraphs of five sentences with paths,
    versions, numbers and code spans.  Every sentence is a distinct Unit (it
    opens with a work verb, holds no intent or imperative wording, and its
    running number makes its key unique), so a report of N sentences has N
    Units."""
    import random

    rng = random.Random(seed)
    out, size, i = [], 0, 0
    while size < n_chars:
        sents = []
        for _ in range(5):
            w = rng.sample(WORDS, 6)
            sents.append("%s %s in src/mod_%d.py to %d.%d.%d, ran `pytest -k t%d` and saw %d,%03d rows." % (
                OPENERS[i % 5], " ".join(w), i, i % 9, i % 7, i % 5, i, i % 1000, i % 997))
            i += 1
        p = " ".join(sents)
        out.append(p)
        size += len(p) + 2
    return "\n\n".join(out)


class TestLargeReports:
    def test_one_megabyte_report_matches_reference(self):
        report = prose(MB)
        units, dt = timed(X.split_units, report)
        assert dt < 20
        assert units == R.split_units(report)

    def test_single_line_matches_reference(self):
        line = prose(MB, seed=1).replace("\n\n", " ")
        assert X.split_units(line) == R.split_units(line)

    def test_single_ten_megabyte_line(self):
        line = prose(10 * MB, seed=2).replace("\n\n", " ")
        units, dt = timed(X.split_units, line)
        assert dt < 60
        assert len(units) == line.count(" rows.")
        first = line[: line.index(" rows.") + 6]
        last = line[line.rindex(". ", 0, len(line) - 1) + 2:]
        assert units[0] == first and units[-1] == last

    def test_slow_fifty_megabyte_report(self):
        report = prose(50 * MB, seed=3)
        units, dt = timed(X.split_units, report)
        assert dt < 120
        assert len(units) == report.count(" rows.")
        # The start and the end are cut as in a small report.
        head = report[: report.index("\n\n", 100_000)]
        assert units[: len(R.split_units(head))] == R.split_units(head)
        tail = report[report.rindex("\n\n", 0, len(report) - 100_000) + 2:]
        ref_tail = R.split_units(tail)
        assert units[-len(ref_tail):] == ref_tail


class TestLargeLogs:
    def test_slow_sixty_four_megabyte_output(self):
        big = "x" * (64 * 2**20 - 40) + " needle=42 end"
        L = {"events": [{"tool": "terminal", "wrote": False, "command": "make", "output": big}],
             "external": [], "written": [], "commands": []}
        claim = {"text": "The build printed needle=42", "kind": "result_observed", "targets": ["needle=42"]}
        got, dt = timed(V.verify, claim, L)
        assert got == ("verified", "`needle=42` in output")
        assert dt < 60
        miss = {"text": "The build printed needle=43", "kind": "result_observed", "targets": ["needle=43"]}
        assert V.verify(miss, L)[0] == "unverified"

    def test_long_log_matches_reference(self):
        out = prose(200_000, seed=4)
        half = len(out) // 2
        L = {"events": [{"tool": "terminal", "wrote": False, "command": "pytest", "output": out},
                        {"tool": "read_file", "wrote": False, "output": out[:half]},
                        {"tool": "patch", "wrote": True, "payload": out[half:], "output": "ok"}],
             "external": [{"args": {"log": out[:20_000]}}], "written": ["src/mod_3.py"],
             "commands": [{"command": "pytest -k t17", "exit_code": 0, "output": out[:1000]}]}
        claims = R.extract_claims(prose(3_000, seed=4) + "\n\n" + prose(3_000, seed=5), use_llm=False)
        assert len(claims) > 20
        for claim in claims:
            assert V.verify(claim, L) == R.verify(claim, L)
