"""Atoms, kinds and normalisation: the home directory that "~" stands for,
normalisation of long and non-ASCII texts (the compiled module has a
byte-level fast path that must give exactly the same text), and argument
types.  Expected values come from the rules worked by hand or from
tests/reference.py.
"""

import os
import pwd
import random

import pytest

from conftest import compiled

import reference as R

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

CV = compiled("vorlane_core.verify", "verify")

WHITE = "\t\n\x0b\x0c\r\x1c\x1d\x1e\x1f \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + \
    "\u2028\u2029\u202f\u205f\u3000"
NOT_WHITE = "\u180e\u200b\ufeff\x00"


class TestHome:
    def test_home_variable(self, monkeypatch):
        monkeypatch.setenv("HOME", "/Home/Some User//")
        assert CV._norm("~/Notes.md") == "/home/some user/notes.md"
        assert CV._norm("a~b~") == "a/home/some userb/home/some user"

    def test_empty_or_root_home_reads_as_root(self, monkeypatch):
        for value in ["", "/", "///"]:
            monkeypatch.setenv("HOME", value)
            assert CV._norm("~/x") == "//x"
            assert CV._norm("~") == "/"

    def test_account_database_without_home_variable(self, monkeypatch):
        monkeypatch.delenv("HOME", raising=False)
        expected = pwd.getpwuid(os.getuid()).pw_dir.rstrip("/") or "/"
        assert CV._norm("~") == R._norm("~") == expected.lower()

    def test_tilde_in_home_is_not_expanded_again(self, monkeypatch):
        monkeypatch.setenv("HOME", "/h/~x")
        assert CV._norm("~") == "/h/~x"

    def test_home_goes_through_the_same_normalisation(self, monkeypatch):
        monkeypatch.setenv("HOME", "/H\u00c9\u00a0\u00a0ME/\u0130")
        for s in ["~", "~/a", "\u03a3~", "~~", " ~ "]:
            assert CV._norm(s) == R._norm(s), s

    def test_undecodable_home(self, monkeypatch):
        if not hasattr(os, "environb"):
            pytest.skip("no bytes environment")
        monkeypatch.setitem(os.environb, b"HOME", b"/home/\xff\xfeu")
        assert CV._norm("~/x") == R._norm("~/x") == "/home/\udcff\udcfeu/x"

    def test_home_read_at_each_call(self, monkeypatch):
        monkeypatch.setenv("HOME", "/a")
        assert CV._norm("~") == "/a"
        assert sorted(CV._variants("~=1")) == sorted(R._variants("~=1"))
        monkeypatch.setenv("HOME", "/beta")
        assert CV._norm("~") == "/beta"
        assert CV._tokens("~/alpha") == ["beta", "alpha"]
        assert CV._in("~/x", ["/beta/x"]) and not CV._in("~/x", ["/a/x"])


class TestNormalisation:
    @pytest.fixture(autouse=True)
    def home(self, monkeypatch):
        monkeypatch.setenv("HOME", "/home/u")

    def test_every_white_space_character(self):
        for c in WHITE:
            assert CV._norm("a" + c + c + "b") == "a b", repr(c)
            assert CV._norm(c + "'a'" + c) == "a", repr(c)
        for c in NOT_WHITE:
            assert CV._norm("a" + c + "b") == "a" + c + "b", repr(c)

    def test_strip_order(self):
        # White space first, then quotes; a space inside the quotes stays.
        assert CV._norm(' \t"` a  b `"\n') == " a b "
        assert CV._norm("'\u3000'") == " "
        assert CV._norm("`'\"") == ""
        assert CV._norm("' x") == " x"

    def test_lower_case_is_full_unicode(self):
        # Final sigma depends on its neighbours within a word, not across a space.
        for s in ["\u03a3", "A\u03a3", "A\u03a3 B", "A\u03a3B", "A\u03a3'", "\u03a3A", "AB\u03a3\u03a3 \u03a3"]:
            assert CV._norm(s) == s.strip().strip("`'\"").lower(), s
        assert CV._norm("\u0130stanbul") == "i\u0307stanbul"
        assert CV._norm("STRASSE \u1e9e") == "strasse \u00df"

    def test_lengthening_lower_case_in_a_long_text(self):
        # U+0130 grows from two to three bytes when lower-cased.
        s = ("\u0130" * 3000 + " ab ") * 50 + "~"
        assert CV._norm(s) == R._norm(s)

    def test_bare_numbers(self):
        assert CV._norm("1,234.50") == "1234.50"
        assert CV._norm(" ,1,, ") == "1"
        assert CV._norm("\u0661,\u0662\u0663.\u0664") == "\u0661\u0662\u0663.\u0664"  # Arabic-Indic digits
        assert CV._norm("\u00b2,3") == "\u00b2,3"  # a superscript is no decimal digit
        assert CV._norm("1,2.") == "1,2."
        assert CV._norm("1,2 3") == "1,2 3"

    def test_x_after_a_final_digit(self):
        assert CV._norm("3X") == "3"
        assert CV._norm("\u0663x") == "\u0663"
        assert CV._norm("\u00b2x") == "\u00b2x"
        assert CV._norm("3xx") == "3xx"
        assert CV._norm("1,000x") == "1,000"
        assert CV._norm("1,000 x") == "1,000 x"

    def test_surrogates_survive(self):
        s = "A\ud800B \udfff ~"
        assert CV._norm(s) == R._norm(s) == "a\ud800b \udfff /home/u"

    def test_long_random_texts(self):
        rnd = random.Random(1)
        alphabet = list(WHITE + NOT_WHITE) + list("aZ~`'\",.x09") + ["\u03a3", "\u0130", "\u00c9", "\U0001F600",
                                                                      "\ud800", "\u0661", "\u00df", "\u1e9e", "\u01c5"]
        for n in [0, 1, 7, 100, 5000, 70000]:
            for _ in range(3):
                s = "".join(rnd.choice(alphabet) for _ in range(n))
                assert CV._norm(s) == R._norm(s)

    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.lists(st.sampled_from([" ", "\u3000", "\x1c", "'", "`", '"', "~", "A", "b", "\u03a3", "\u0130", "9",
                                     ",", ".", "x", "X", "\u00e9", "\U00010400", "\ud800", "\n"]), max_size=40)
           .map("".join),
           st.sampled_from(["/home/u", "/R\u00f6\u00d6t", "/a b", "/"]))
    def test_same_as_reference(self, s, h):
        os.environ["HOME"] = h
        assert CV._norm(s) == R._norm(s)


class TestAtomsAndKinds:
    def test_kinds(self):
        cases = {"a.ts\n": "path", "x/": "path", ".py": "path", "A.PY": "phrase", "a-b c": "phrase",
                 "a\u00a0-b": "key", "12\n": "number", ",": "number", "\u0661,\u0662": "number", "1.": "phrase",
                 "\u00b2": "phrase"}
        for lit, kind in cases.items():
            assert CV._kind_of(lit) == R._kind_of(lit) == kind, repr(lit)

    def test_atoms_of_unicode_separators(self):
        # Only the listed separators cut; their look-alikes do not.
        for t in ["a\u2192b, c", "a \u2215 b, c", "x\u00a0and\u00a0y, z", "p\u2014q, r", "1\u20262, 3", "A\u2013B"]:
            assert CV._atoms(t) == R._atoms(t), t

    def test_units_ignore_case_by_simple_folding(self):
        # U+017F (long s) folds to "s"; U+212A (Kelvin) to "k".
        assert CV._atoms("12 \u017f") == ["12"]
        assert CV._atoms("12 \u212ab") == ["12"]
        assert CV._atoms("12 MS") == ["12"]

    @pytest.mark.parametrize("name", ["_clean", "_atoms", "_kind_of", "_norm", "_variants", "_tokens", "_additive"])
    @pytest.mark.parametrize("value", [None, 5, b"x", ["x"]], ids=repr)
    def test_text_arguments(self, name, value):
        with pytest.raises(TypeError):
            getattr(CV, name)(value)
        with pytest.raises(TypeError):
            getattr(R, name)(value)


class TestModuleConstants:
    def test_patterns_are_the_documented_ones(self):
        names = ["NUM_RE", "NEGATED_RE", "ADDITIVE_RE", "EMPTY_RE", "PREDICATE_RE", "READ_CODE_RE", "SHELL_WRITE_RE"]
        for name in names:
            mine, ref = getattr(CV, name), getattr(R.verify_module, name)
            assert (mine.pattern, mine.flags) == (ref.pattern, ref.flags), name
        assert CV.READ_TOOLS == frozenset({"read_file", "search_files", "skill_view"})
        assert type(CV.READ_TOOLS) is frozenset

    def test_work_verb_pattern_is_the_extract_modules_own(self):
        import sys

        import vorlane_core.extract as extract

        assert "vorlane_core.extract" in sys.modules
        assert CV.WORK_VERB_RE is extract.WORK_VERB_RE
        assert CV.WORK_VERB_RE.pattern == R.WORK_VERB_RE.pattern
