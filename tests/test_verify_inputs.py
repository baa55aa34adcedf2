"""verify(): the arguments as a Python program sees them.

Argument types; how targets, text and kind are read from the claim; which
error a broken run log raises, and when (the order in which keys are first
read); errors raised by the caller's own objects reaching the caller
unchanged.  Runs against the compiled module and tests/reference.py.
"""

import collections

import pytest

from runlog_builders import ev, log


NF = " not found in any write, command or output"




class Boom(Exception):
    pass


class BadBool:
    def __bool__(self):
        raise Boom("truth")


class BadStr:
    def __str__(self):
        raise Boom("str")


class BadEq:
    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = object.__hash__


class LoudMapping(collections.abc.Mapping):
    """A mapping whose lookup of one key raises."""

    def __init__(self, data, bad):
        self.data, self.bad = data, bad

    def __getitem__(self, k):
        if k == self.bad:
            raise Boom(k)
        return self.data[k]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


# ---------------------------------------------------------------------------
# Argument types

class TestArguments:
    @pytest.mark.parametrize("claim", [None, [], "x", collections.OrderedDict(), collections.defaultdict(list)])
    def test_claim_must_be_a_dict(self, V, claim):
        with pytest.raises(TypeError, match="argument 'claim' must be dict"):
            V.verify(claim, {})

    @pytest.mark.parametrize("L", [None, [], "x", collections.OrderedDict(), collections.Counter()])
    def test_log_must_be_a_dict(self, V, L):
        with pytest.raises(TypeError, match="argument 'L' must be dict"):
            V.verify({"targets": ["zeta_key"]}, L)

    def test_claim_checked_first(self, V):
        with pytest.raises(TypeError, match="argument 'claim' must be dict"):
            V.verify([], [])

    def test_checked_before_any_work(self, V):
        # A claim without literals needs no log, but the log's type is
        # still checked.
        with pytest.raises(TypeError, match="argument 'L' must be dict"):
            V.verify({}, None)

    def test_keywords(self, V):
        assert tuple(V.verify(L={}, claim={"targets": []})) == ("unchecked", "nothing literal to check")

    def test_result_is_a_pair_of_str(self, V):
        r = V.verify({"targets": ["zeta_key"], "kind": "result_observed", "text": "x"}, log())
        assert isinstance(r, tuple) and len(r) == 2 and all(type(x) is str for x in r)


# ---------------------------------------------------------------------------
# The claim's values

class TestTargets:
    def test_falsy_targets_are_skipped(self, V):
        c = {"kind": "result_observed", "text": "x", "targets": ["", None, 0, 0.0, False, [], {}, (), "zeta_key"]}
        assert tuple(V.verify(c, log())) == ("unverified", "`zeta_key`" + NF)

    def test_non_text_targets_are_converted_with_str(self, V):
        class Named:
            def __str__(self):
                return "zeta_named"

        c = {"kind": "result_observed", "text": "x", "targets": [4242, 2.5, True, Named(), ["ab_c"]]}
        assert tuple(V.verify(c, log())) == ("unverified", "`4242`, `2.5`, `True`, `zeta_named`, `['ab_c']`" + NF)

    def test_str_subclass_is_taken_as_it_is(self, V):
        class S(str):
            def __str__(self):
                return "other_value"

        c = {"kind": "result_observed", "text": "x", "targets": [S("zeta_key")]}
        assert tuple(V.verify(c, log())) == ("unverified", "`zeta_key`" + NF)

    def test_any_iterable(self, V):
        c = {"kind": "result_observed", "text": "x", "targets": ("zeta_key",)}
        assert tuple(V.verify(c, log())) == ("unverified", "`zeta_key`" + NF)
        c["targets"] = (t for t in ["zeta_key"])
        assert tuple(V.verify(c, log())) == ("unverified", "`zeta_key`" + NF)
        c["targets"] = {"zeta_key": 1}
        assert tuple(V.verify(c, log())) == ("unverified", "`zeta_key`" + NF)
        # A text is iterated character by character: no atom is long enough.
        c["targets"] = "zeta_key"
        assert tuple(V.verify(c, {})) == ("unchecked", "nothing literal to check")

    @pytest.mark.parametrize("targets", [None, 5, 2.5, True])
    def test_not_iterable(self, V, targets):
        with pytest.raises(TypeError):
            V.verify({"targets": targets}, {})

    def test_errors_of_the_callers_objects_propagate(self, V):
        with pytest.raises(Boom, match="truth"):
            V.verify({"targets": [BadBool()]}, {})
        with pytest.raises(Boom, match="str"):
            V.verify({"targets": [BadStr()]}, {})

    def test_short_phrases_are_dropped(self, V):
        # Phrases of 1 to 3 characters go, other kinds of 2 or 3 stay.
        c = {"kind": "result_observed", "text": "x", "targets": ["a b", "x;y", "10", "a=b", "a/b", "x.py"]}
        assert tuple(V.verify(c, log())) == ("unverified", "`10`, `a=b`, `a/b`, `x.py`" + NF)


class TestTextAndKind:
    @pytest.mark.parametrize("text", [None, 5, b"bytes", ["x"]])
    def test_text_must_be_str_once_there_are_atoms(self, V, text):
        with pytest.raises(TypeError):
            V.verify({"text": text, "targets": ["zeta_key"]}, log())
        # Without atoms the text is never looked at.
        assert tuple(V.verify({"text": text, "targets": ["ab"]}, {})) == ("unchecked", "nothing literal to check")

    def test_text_error_comes_before_log_errors(self, V):
        with pytest.raises(TypeError):
            V.verify({"text": None, "targets": ["zeta_key"]}, {})

    def test_absent_text_is_empty(self, V):
        assert tuple(V.verify({"kind": "other", "targets": ["zeta_key"]}, log())) == (
            "unchecked", "a mention, not a claim of work: `zeta_key` not in this turn's log")

    def test_kind_values(self, V):
        L = log([ev("browser", output="zeta_key")])
        # Any kind but file_changed finds a key in an output (row 5).
        for kind in ["command_ran", "result_observed", "other", None, 5, ("file_changed",), "FILE_CHANGED"]:
            assert tuple(V.verify({"kind": kind, "text": "x", "targets": ["zeta_key"]}, L)) == (
                "verified", "`zeta_key` in output")
        assert tuple(V.verify({"kind": "file_changed", "text": "x", "targets": ["zeta_key"]}, L)) == (
            "unverified", "`zeta_key`" + NF)


# ---------------------------------------------------------------------------
# Errors of the run log: which, and when

def key_error(V, c, L):
    with pytest.raises(KeyError) as ei:
        V.verify(c, L)
    return ei.value.args[0]


ATOM = {"kind": "result_observed", "text": "x", "targets": ["zeta_key"]}


class TestKeyOrder:
    def test_lists_in_order(self, V):
        assert key_error(V, ATOM, {}) == "events"
        assert key_error(V, ATOM, {"events": []}) == "external"
        # "written" is read at the first atom not found in a write, before
        # "commands".
        assert key_error(V, ATOM, {"events": [], "external": []}) == "written"
        assert key_error(V, ATOM, {"events": [], "external": [], "written": []}) == "commands"

    def test_written_not_read_when_found_in_a_write(self, V):
        L = {"events": [ev(wrote=True, payload="zeta_key")], "external": []}
        assert key_error(V, ATOM, L) == "commands"
        L["commands"] = []
        assert tuple(V.verify(ATOM, L)) == ("verified", "`zeta_key` in write")

    def test_written_is_read_even_without_a_base_name(self, V):
        # A key has no base name, yet "written" is looked up; its entries
        # are only read for a path.
        L = {"events": [], "external": [], "written": 5, "commands": []}
        assert tuple(V.verify(ATOM, L)) == ("unverified", "`zeta_key`" + NF)
        with pytest.raises(TypeError):
            V.verify(dict(ATOM, targets=["lib/zeta.py"]), L)

    def test_writes_before_reads_before_outputs(self, V):
        # Every event is read for the writes view first ("wrote", then
        # "payload"), then for the reads ("tool", "command", "output" of a
        # read), then for all outputs.
        e0 = {"tool": "read_file", "wrote": False}  # no output
        e1 = {"wrote": False, "output": ""}  # no tool
        assert key_error(V, ATOM, log([e0, e1])) == "output"
        assert key_error(V, ATOM, log([e1, e0])) == "tool"
        e2 = {"tool": "x", "output": ""}  # no wrote
        assert key_error(V, ATOM, log([e1, e2])) == "wrote"
        e3 = {"tool": "x", "wrote": True, "output": ""}  # no payload
        assert key_error(V, ATOM, log([e1, e3])) == "payload"
        e4 = {"tool": "terminal", "wrote": False, "output": ""}  # no command
        assert key_error(V, ATOM, log([e4, {"tool": "x", "wrote": False}])) == "command"

    def test_event_keys_read_only_when_needed(self, V):
        # No payload when nothing was written, no command for other tools.
        L = log([{"tool": "browser", "wrote": False, "output": "zeta_key"}])
        assert tuple(V.verify(ATOM, L)) == ("verified", "`zeta_key` in output")

    def test_external_after_all_event_views(self, V):
        L = {"events": [{"tool": "x", "wrote": False}], "external": [{}]}
        assert key_error(V, ATOM, L) == "output"
        L = {"events": [], "external": [{"tool": "send"}]}
        assert key_error(V, ATOM, L) == "args"

    def test_command_record_keys(self, V):
        base = {"events": [], "external": [], "written": []}
        assert key_error(V, ATOM, dict(base, commands=[{"exit_code": 0}])) == "command"
        # exit_code is read for the commands that mention the literal...
        assert key_error(V, ATOM, dict(base, commands=[{"command": "zeta_key"}])) == "exit_code"
        # ... and for every command once row 8 needs the successful command
        # texts, whatever the atom (the list is built before its words are
        # counted); file_changed claims never reach row 8.
        L = dict(base, commands=[{"command": "other"}])
        assert key_error(V, ATOM, L) == "exit_code"
        assert key_error(V, dict(ATOM, targets=["zeta alpha"]), L) == "exit_code"
        assert tuple(V.verify(dict(ATOM, kind="file_changed"), L)) == ("unverified", "`zeta_key`" + NF)

    def test_output_of_search_commands_only(self, V):
        base = {"events": [], "external": [], "written": []}
        c = dict(ATOM, text="no matches")
        assert key_error(V, c, dict(base, commands=[{"command": "grep x", "exit_code": 1}])) == "output"
        L = dict(base, commands=[{"command": "make x", "exit_code": 1}])
        assert tuple(V.verify(c, L)) == ("unverified", "`zeta_key`" + NF)


class TestTypeErrors:
    def test_non_text_in_a_searched_list_fails_even_after_a_match(self, V):
        # The whole list is checked before it is searched.
        L = log([ev(wrote=True, payload="zeta_key"), ev(wrote=True, payload=5)])
        with pytest.raises(TypeError):
            V.verify(ATOM, L)

    def test_null_texts_are_skipped(self, V):
        L = log([ev(wrote=True, payload=None, output=None), ev(wrote=True, payload="zeta_key")])
        assert tuple(V.verify(ATOM, L)) == ("verified", "`zeta_key` in write")

    def test_read_rule_needs_a_text_command(self, V):
        for command in [None, 5]:
            with pytest.raises(TypeError):
                V.verify(ATOM, log([ev("terminal", command=command)]))

    def test_written_entries(self, V):
        c = dict(ATOM, targets=["lib/zeta.py"])
        with pytest.raises(TypeError):
            V.verify(c, log(written=[None]))
        with pytest.raises(TypeError):
            V.verify(c, log(written=[5]))
        # Entries after the first match are not read.
        assert tuple(V.verify(c, log(written=["/w/zeta.py", None]))) == ("verified", "`lib/zeta.py` in write")

    def test_command_texts(self, V):
        with pytest.raises(TypeError):
            V.verify(ATOM, log(commands=[{"command": 5, "exit_code": 0, "output": ""}]))
        # A null command matches nothing.
        assert tuple(V.verify(ATOM, log(commands=[{"command": None, "exit_code": 0, "output": ""}]))) == (
            "unverified", "`zeta_key`" + NF)

    def test_unhashable_tool(self, V):
        with pytest.raises(TypeError):
            V.verify(ATOM, log([ev(tool=["read_file"])]))

    @pytest.mark.parametrize("value", [5, None, "x", {"a": 1}])
    def test_lists_must_be_lists(self, V, value):
        # Not iterable, or iterable into texts that cannot be looked up.
        with pytest.raises(TypeError):
            V.verify(ATOM, {"events": value, "external": [], "written": [], "commands": []})


class TestCallersExceptions:
    def test_lookup_error_of_a_mapping_element(self, V):
        e = LoudMapping({"tool": "x", "wrote": False, "output": ""}, "wrote")
        with pytest.raises(Boom):
            V.verify(ATOM, log([e]))

    def test_mapping_elements_work(self, V):
        e = LoudMapping({"tool": "x", "wrote": True, "payload": "zeta_key", "output": ""}, "nothing")
        assert tuple(V.verify(ATOM, log([e]))) == ("verified", "`zeta_key` in write")

    def test_truth_value_of_wrote(self, V):
        with pytest.raises(Boom):
            V.verify(ATOM, log([ev(wrote=BadBool())]))

    def test_exit_code_comparison(self, V):
        L = log(commands=[{"command": "zeta_key", "exit_code": BadEq(), "output": ""}])
        with pytest.raises(Boom):
            V.verify(ATOM, L)

    def test_exit_code_text(self, V):
        class Code:
            def __eq__(self, other):
                return False

            __hash__ = object.__hash__

            def __str__(self):
                raise Boom("code")

        L = log(commands=[{"command": "zeta_key", "exit_code": Code(), "output": ""}])
        with pytest.raises(Boom):
            V.verify(dict(ATOM, kind="command_ran"), L)
        # Only the failure note needs the text.
        assert tuple(V.verify(ATOM, L)) == ("unverified", "`zeta_key`" + NF)

    def test_errors_raised_only_where_read(self, V):
        # A faulty value that the rules never reach raises nothing.
        L = log([ev(wrote=True, payload="zeta_key")],
                commands=[{"command": "zeta_key", "exit_code": 0, "output": BadStr()}])
        assert tuple(V.verify(ATOM, L)) == ("verified", "`zeta_key` in write")
        L = log(commands=[{"command": "other", "exit_code": BadEq(), "output": ""}])
        assert tuple(V.verify(dict(ATOM, kind="file_changed"), L)) == ("unverified", "`zeta_key`" + NF)
        # Row 8 compares every exit code with 0.
        with pytest.raises(Boom):
            V.verify(ATOM, L)
