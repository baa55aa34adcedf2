"""The run log as verify() reads it: the read rule, the written payloads, the
successful-command rule with the text form of failed exit codes, the JSON
texts of external-action arguments (compared with json.dumps), and logs that
change between calls (the compiled module reuses conversions of unchanged
lists, so every kind of change must be seen).
"""

import collections
import decimal
import fractions
import json

import pytest

from conftest import compiled
from runlog_builders import log


from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

NF = " not found in any write, command or output"
RO = " seen only in read output; no write or command touched it"
CV = compiled("vorlane_core.verify", "verify")


def needs_compiled():
    return CV


def event(tool, output, command=None, wrote=False, payload=None):
    e = {"tool": tool, "wrote": wrote, "output": output, "payload": payload}
    if command is not None:
        e["command"] = command
    return e


# ---------------------------------------------------------------------------
# The read rule, seen through a file_changed claim about a path: a read
# output gives the read-only note, any other output nothing.

PATH = "lib/zeta.py"
CHANGED = {"kind": "file_changed", "text": "Touched it", "targets": [PATH]}
READ_NOTE = ("unverified", "`lib/zeta.py`" + RO)
NO_NOTE = ("unverified", "`lib/zeta.py`" + NF)

READS = [
    ("read_file", None), ("search_files", None), ("skill_view", None), ("read_file", "rm -rf /"),
    ("terminal", "cat notes.md > copy.md"), ("terminal", "  grep -rn x ."), ("terminal", "ls"),
    ("terminal", "\tls -la"), ("terminal", "\x1cls"), ("terminal", "\u3000head f"), ("terminal", "sed -n 1p f"),
    ("terminal", "rg x"), ("terminal", "less f"), ("terminal", "tail -f x"), ("terminal", "find ."),
    ("terminal", "cat-file"), ("terminal", "grep"),
    ("execute_code", "read_file('a')"), ("execute_code", "sqlite3.connect('d').execute('select * from t')"),
    ("execute_code", "subprocess.run('cat f')"), ("execute_code", "header = 1"),
    ("execute_code", "os.system('cat f > out')"), ("execute_code", "run('ls ')"),
    ("execute_code", "grep('x', git_commit=1)"),
]
NOT_READS = [
    ("Read_File", None), ("write_file", None), ("browser", None), ("terminal ", "cat f"),
    ("terminal", "sudo cat f"), ("terminal", "cd d && cat f"), ("terminal", "lsof"), ("terminal", "catalog"),
    ("terminal", "sed -i s/a/b/ f"), ("terminal", "\u180els"), ("terminal", "\u200bls"), ("terminal", "echo ls"),
    ("execute_code", "read_file('a'); os.system('rm x')"), ("execute_code", "SELECT * FROM t"),
    ("execute_code", "print(open('f').read())"), ("execute_code", "os.system('cat f>out')"),
    ("execute_code", "run('cat <<EOF')"), ("execute_code", "run('ls; pip install x')"),
    ("execute_code", "run('ls | tee f')"), ("execute_code", "run('tail x.log'); run('mkdir d')"),
    ("execute_code", "grep('x'); run('git commit -m y')"),
]


class TestReadRule:
    @pytest.mark.parametrize("tool,command", READS)
    def test_reads(self, V, tool, command):
        assert tuple(V.verify(CHANGED, log([event(tool, "lib/zeta.py", command)]))) == READ_NOTE

    @pytest.mark.parametrize("tool,command", NOT_READS)
    def test_not_reads(self, V, tool, command):
        assert tuple(V.verify(CHANGED, log([event(tool, "lib/zeta.py", command)]))) == NO_NOTE

    def test_a_read_that_also_wrote(self, V):
        # Its output is a read output and its payload a write.
        e = event("read_file", "lib/zeta.py", wrote=True, payload="nothing here")
        assert tuple(V.verify(CHANGED, log([e]))) == READ_NOTE
        e["payload"] = "lib/zeta.py"
        assert tuple(V.verify(CHANGED, log([e]))) == ("verified", "`lib/zeta.py` in write")


class TestExportedWords:
    """The core's word lists as the module exports them, against what verify() does."""

    def test_read_tools(self):
        V = needs_compiled()
        import reference

        assert V.READ_TOOLS == reference.READ_TOOLS
        for tool in V.READ_TOOLS:
            assert tuple(V.verify(CHANGED, log([event(tool, PATH)]))) == READ_NOTE

    @pytest.mark.parametrize("tool", ["terminal", "execute_code", "read_file", "write_file", "Terminal", "terminal "])
    def test_command_tools(self, tool):
        # The "command" of an event is read exactly for the command tools.
        V = needs_compiled()
        if tool in V.COMMAND_TOOLS:
            with pytest.raises(KeyError, match="command"):
                V.verify(CHANGED, log([event(tool, PATH)]))
        else:
            assert tuple(V.verify(CHANGED, log([event(tool, PATH)]))) in (READ_NOTE, NO_NOTE)
        assert set(V.COMMAND_TOOLS) == {"terminal", "execute_code"}

    def test_verdicts(self):
        V = needs_compiled()
        assert V.VERDICTS == ("verified", "unverified", "contradicted", "unchecked", "pre-existing")
        assert V.verify({"targets": []}, {})[0] in V.VERDICTS


class TestWrites:
    @pytest.mark.parametrize("wrote", [True, 1, -1, 0.5, "x", "False", [0], {"a": 1}, object()])
    def test_truthy(self, V, wrote):
        L = log([event("any", "", wrote=wrote, payload="lib/zeta.py")])
        assert tuple(V.verify(CHANGED, L)) == ("verified", "`lib/zeta.py` in write")

    @pytest.mark.parametrize("wrote", [False, 0, 0.0, -0.0, "", None, [], {}, (), decimal.Decimal(0)])
    def test_falsy(self, V, wrote):
        L = log([event("any", "", wrote=wrote, payload="lib/zeta.py")])
        assert tuple(V.verify(CHANGED, L)) == NO_NOTE

    def test_custom_truth_value(self, V):
        class Flag:
            def __init__(self, v):
                self.v = v

            def __bool__(self):
                return self.v

        for v, expected in [(True, ("verified", "`lib/zeta.py` in write")), (False, NO_NOTE)]:
            L = log([event("any", "", wrote=Flag(v), payload="lib/zeta.py")])
            assert tuple(V.verify(CHANGED, L)) == expected


# ---------------------------------------------------------------------------
# Exit codes: success (None, == 0 unless a text, == "0") and the text form of
# a failure in the contradiction note.

RAN = {"kind": "command_ran", "text": "Ran it", "targets": ["zeta_job"]}
OK = ("verified", "`zeta_job` in command (exit ok)")

SUCCESS = [None, 0, 0.0, -0.0, False, "0", decimal.Decimal("0.00"), fractions.Fraction(0), 0 + 0j]
FAILURE = [
    (1, "1"), (-1, "-1"), (127, "127"), (True, "True"), ("1", "1"), ("00", "00"), (" 0", " 0"), ("0 ", "0 "),
    ("", ""), (1.0, "1.0"), (2.5, "2.5"), (1e16, "1e+16"), (1e-05, "1e-05"), (float("nan"), "nan"),
    (float("-inf"), "-inf"), (10**20, "100000000000000000000"), (decimal.Decimal("1.50"), "1.50"), ([], "[]"),
    (b"0", "b'0'"), ("\u0660", "\u0660"),
]


class TestExitCodes:
    @pytest.mark.parametrize("code", SUCCESS, ids=repr)
    def test_success(self, V, code):
        L = log(commands=[{"command": "run zeta_job", "exit_code": code, "output": ""}])
        assert tuple(V.verify(RAN, L)) == OK

    @pytest.mark.parametrize("code,text", FAILURE, ids=lambda x: repr(x))
    def test_failure_and_its_text(self, V, code, text):
        L = log(commands=[{"command": "run zeta_job", "exit_code": code, "output": ""}])
        assert tuple(V.verify(RAN, L)) == ("contradicted", "`zeta_job` ran but FAILED (exit %s)" % text)

    def test_int_subclass_compares_as_it_says(self, V):
        class Always(int):
            def __eq__(self, other):
                return True

            __hash__ = int.__hash__

            def __str__(self):
                return "seven"

        class Never(int):
            def __eq__(self, other):
                return False

            __hash__ = int.__hash__

            def __str__(self):
                return "zero-ish"

        L = log(commands=[{"command": "run zeta_job", "exit_code": Always(7), "output": ""}])
        assert tuple(V.verify(RAN, L)) == OK
        L = log(commands=[{"command": "run zeta_job", "exit_code": Never(0), "output": ""}])
        assert tuple(V.verify(RAN, L)) == ("contradicted", "`zeta_job` ran but FAILED (exit zero-ish)")

    def test_successful_command_texts_use_the_same_rule(self, V):
        c = {"kind": "result_observed", "text": "Saw it", "targets": ["alpha zeta"]}
        for code, expected in [(0.0, ("verified", "words of `alpha zeta` in command (exit ok)")),
                               ("0", ("verified", "words of `alpha zeta` in command (exit ok)")),
                               (True, ("unverified", "`alpha zeta`" + NF)),
                               ("00", ("unverified", "`alpha zeta`" + NF))]:
            L = log(commands=[{"command": "echo zeta, alpha", "exit_code": code, "output": ""}])
            assert tuple(V.verify(c, L)) == expected


# ---------------------------------------------------------------------------
# JSON texts of external-action arguments

def floats():
    return st.one_of(st.floats(allow_nan=True, allow_infinity=True),
                     st.sampled_from([0.0, -0.0, 1.0, 1e16, 1e-05, 1e-7, 123456789012345678.0, 5e-324, 1.7976931348623157e308,
                                      0.1, 1 / 3, 1e22, 1e21, 9007199254740993.0]))


def texts():
    return st.one_of(st.text(max_size=8),
                     st.text(alphabet=st.characters(min_codepoint=0, max_codepoint=0x3FF), max_size=8),
                     st.sampled_from(["\ud800", "a\udc00b", "\U0001F600", "\x7f", "\u2028", "/", '"\\', "\x00\x1f"]))


SCALARS = st.one_of(st.none(), st.booleans(), st.integers(), st.integers(min_value=-2**70, max_value=2**70), floats(),
                    texts())
KEYS = st.one_of(texts(), st.integers(), floats(), st.booleans(), st.none())
JSON_VALUES = st.recursive(
    SCALARS,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.lists(inner, max_size=3).map(tuple),
                            st.dictionaries(KEYS, inner, max_size=4)),
    max_leaves=20,
)


class TestJsonText:
    @settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(JSON_VALUES)
    def test_same_text_as_json_dumps(self, value):
        assert needs_compiled()._json_text(value) == json.dumps(value)

    def test_fixed_forms(self):
        V = needs_compiled()
        value = {"b": 1, "a": [True, None], 1: 1.0, 1.5: 1e16, None: 1e-05, False: float("nan"),
                 "\u00e9": [float("inf"), -float("inf"), "\U0001F600\n\t\"\\/"], "e": {}, "f": [], "g": ()}
        assert V._json_text(value) == (
            '{"b": 1, "a": [true, null], "1": 1.0, "1.5": 1e+16, "null": 1e-05, "false": NaN, '
            '"\\u00e9": [Infinity, -Infinity, "\\ud83d\\ude00\\n\\t\\"\\\\/"], "e": {}, "f": [], "g": []}')

    def test_subclasses(self):
        V = needs_compiled()

        class I(int):
            def __repr__(self):
                return "nope"

        class F(float):
            def __repr__(self):
                return "nope"

        class S(str):
            def __str__(self):
                return "nope"

        class D(dict):
            pass

        class Items(dict):
            def items(self):
                return [("z", 1)]

        Pair = collections.namedtuple("Pair", "a b")

        class L(list):
            pass

        for value in [I(5), F(2.5), S("x"), D(a=1), Items(a=1), Pair(1, 2), L([1, I(2)]), {I(3): F(0.5)},
                      collections.OrderedDict([("b", 1), ("a", 2)]), True, {True: False}]:
            assert V._json_text(value) == json.dumps(value)

    @pytest.mark.parametrize("value", [{1, 2}, b"x", object(), {(1,): 2}, {"a": [bytearray()]}, 10**5000,
                                       {frozenset(): 1}, complex(1, 2), decimal.Decimal(1)],
                             ids=lambda v: type(v).__name__)
    def test_same_errors_as_json_dumps(self, value):
        V = needs_compiled()
        with pytest.raises(Exception) as expected:
            json.dumps(value)
        with pytest.raises(type(expected.value)) as got:
            V._json_text(value)
        assert str(got.value) == str(expected.value)

    def test_circular(self):
        V = needs_compiled()
        a = []
        a.append(a)
        d = {}
        d["self"] = [d]
        for value in [a, d, [1, {"x": a}]]:
            with pytest.raises(ValueError, match="Circular reference detected"):
                V._json_text(value)
        # A repeated object that is not its own ancestor is fine.
        shared = [1]
        assert V._json_text([shared, shared, {"k": shared}]) == "[[1], [1], {\"k\": [1]}]"

    def test_deep_nesting_fails_without_crashing(self):
        V = needs_compiled()
        for make in (lambda x: [x], lambda x: {"k": x}):
            value = deep = make(None)
            for _ in range(100_000):
                deep = make(deep)
            with pytest.raises(RecursionError):
                V._json_text(deep)
            del value, deep
        # Moderate nesting is written.
        value = 0
        for _ in range(200):
            value = [value]
        assert V._json_text(value) == json.dumps(value)

    def test_through_verify(self, V):
        c = {"kind": "result_observed", "text": "Sent it", "targets": ["1e+16", "max_retries=5", "h\u00e9llo_x"]}
        L = log(external=[{"args": {"n": 1e16, "max_retries": 5, "m": "h\u00e9llo_x"}}])
        assert tuple(V.verify(c, L)) == (
            "verified", "`1e+16` in external action; `max_retries=5` in external action"
                        " \u00b7 unchecked: `h\u00e9llo_x`")

    def test_errors_through_verify(self, V):
        c = {"kind": "result_observed", "text": "Sent it", "targets": ["zeta_key"]}
        a = []
        a.append(a)
        with pytest.raises(ValueError):
            V.verify(c, log(external=[{"args": a}]))
        with pytest.raises(TypeError):
            V.verify(c, log(external=[{"args": {1, 2}}]))
        deep = []
        for _ in range(100_000):
            deep = [deep]
        with pytest.raises(RecursionError):
            V.verify(c, log(external=[{"args": deep}]))
        # No atoms: the log is not read at all.
        assert tuple(V.verify({"targets": ["ab"]}, log(external=[{"args": a}]))) == (
            "unchecked", "nothing literal to check")


# ---------------------------------------------------------------------------
# A run log that changes between calls

class TestChangingLog:
    """Every change to the log between two calls shows in the second."""

    def setup_method(self):
        self.L = log([event("write_file", "ok", wrote=True, payload="alpha_key"), event("read_file", "beta_key")],
                     written=["/w/x.c"], commands=[{"command": "run gamma_key", "exit_code": 0, "output": ""}])

    def claim(self, target, kind="command_ran"):
        return {"kind": kind, "text": "Ran it", "targets": [target]}

    def test_payload_changed_in_place(self, V):
        assert tuple(V.verify(self.claim("alpha_key"), self.L))[0] == "verified"
        self.L["events"][0]["payload"] = "other"
        assert tuple(V.verify(self.claim("alpha_key"), self.L)) == ("unverified", "`alpha_key`" + NF)

    def test_event_appended_replaced_deleted(self, V):
        c = self.claim("delta_key")
        assert tuple(V.verify(c, self.L)) == ("unverified", "`delta_key`" + NF)
        self.L["events"].append(event("browser", "delta_key"))
        assert tuple(V.verify(c, self.L)) == ("verified", "`delta_key` in output")
        self.L["events"][2] = event("browser", "nothing")
        assert tuple(V.verify(c, self.L)) == ("unverified", "`delta_key`" + NF)
        self.L["events"][1] = event("browser", "delta_key")
        assert tuple(V.verify(c, self.L)) == ("verified", "`delta_key` in output")
        del self.L["events"][1]
        assert tuple(V.verify(c, self.L)) == ("unverified", "`delta_key`" + NF)

    def test_flag_changed(self, V):
        c = self.claim("alpha_key")
        self.L["events"][0]["wrote"] = False
        assert tuple(V.verify(c, self.L)) == ("unverified", "`alpha_key`" + NF)
        flag = []
        self.L["events"][0]["wrote"] = flag
        assert tuple(V.verify(c, self.L)) == ("unverified", "`alpha_key`" + NF)
        flag.append(1)  # same object, now truthy
        assert tuple(V.verify(c, self.L)) == ("verified", "`alpha_key` in write")

    def test_exit_code_and_command_changed(self, V):
        c = self.claim("gamma_key")
        assert tuple(V.verify(c, self.L)) == ("verified", "`gamma_key` in command (exit ok)")
        self.L["commands"][0]["exit_code"] = 3
        assert tuple(V.verify(c, self.L)) == ("contradicted", "`gamma_key` ran but FAILED (exit 3)")
        self.L["commands"][0]["command"] = "run other"
        assert tuple(V.verify(c, self.L)) == ("unverified", "`gamma_key`" + NF)

    def test_key_removed(self, V):
        c = self.claim("beta_key")
        del self.L["events"][1]["output"]
        with pytest.raises(KeyError):
            V.verify(c, self.L)
        self.L["events"][1]["output"] = "beta_key"
        assert tuple(V.verify(c, self.L)) == ("verified", "`beta_key` in output")

    def test_written_changed(self, V):
        c = self.claim("src/zeta.c", kind="file_changed")
        assert tuple(V.verify(c, self.L)) == ("unverified", "`src/zeta.c`" + NF)
        self.L["written"].append("/w/zeta.c")
        assert tuple(V.verify(c, self.L)) == ("verified", "`src/zeta.c` in write")
        self.L["written"][1] = "/w/other.c"
        assert tuple(V.verify(c, self.L)) == ("unverified", "`src/zeta.c`" + NF)

    def test_lists_replaced_by_other_kinds(self, V):
        c = self.claim("delta_key")
        self.L["events"] = tuple(self.L["events"]) + (event("browser", "delta_key"),)
        assert tuple(V.verify(c, self.L)) == ("verified", "`delta_key` in output")
        self.L["events"] = [dict(e) for e in self.L["events"][:2]]
        assert tuple(V.verify(c, self.L)) == ("unverified", "`delta_key`" + NF)

    def test_custom_mapping_element_changed(self, V):
        class Event(collections.abc.Mapping):
            def __init__(self, d):
                self.d = d

            def __getitem__(self, k):
                return self.d[k]

            def __iter__(self):
                return iter(self.d)

            def __len__(self):
                return len(self.d)

        e = Event({"tool": "browser", "wrote": False, "output": "nothing"})
        self.L["events"].append(e)
        c = self.claim("delta_key")
        assert tuple(V.verify(c, self.L)) == ("unverified", "`delta_key`" + NF)
        e.d["output"] = "delta_key"
        assert tuple(V.verify(c, self.L)) == ("verified", "`delta_key` in output")

    def test_home_changed(self, V, monkeypatch):
        self.L["events"].append(event("browser", "~/notes/zeta.md"))
        c = {"kind": "result_observed", "text": "Saw it", "targets": ["/home/u/notes/zeta.md"]}
        assert tuple(V.verify(c, self.L)) == ("verified", "`/home/u/notes/zeta.md` in output")
        monkeypatch.setenv("HOME", "/root")
        assert tuple(V.verify(c, self.L)) == ("unverified", "`/home/u/notes/zeta.md`" + NF)
