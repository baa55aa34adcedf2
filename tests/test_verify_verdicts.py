"""verify(): every row of the evidence table and of the verdict table, with
the exact note texts, and the order in which the rows are tried.

Each case is worked out by hand from the rules; every test runs against the
compiled module and against tests/reference.py, so a wrong expectation shows
up as a failure of the reference run too.  For each row there is a case
where the row is the first that holds, and a case where an earlier row wins
over it or one of its conditions fails.
"""


from runlog_builders import cmd, ev, log


HOME = "/home/u"
NF = " not found in any write, command or output"
RO = " seen only in read output; no write or command touched it"
PRE = " appears only in content the agent read; never in anything it wrote or ran"
MN = "a mention, not a claim of work: "
NL = " not in this turn's log"
SEP = " \u00b7 unchecked: "


def write(payload):
    return ev("write_file", wrote=True, payload=payload, output="ok")


def read(output):
    return ev("read_file", output=output)




def claim(kind, text, targets):
    return {"text": text, "kind": kind, "targets": list(targets)}


def check(V, c, L, expected):
    assert tuple(V.verify(c, L)) == expected


# ---------------------------------------------------------------------------
# Evidence rows (step 10), in table order.

class TestRow1Failed:
    def test_failed_command_only(self, V):
        L = log(commands=[cmd("make zeta_build", 2)])
        check(V, claim("command_ran", "Ran the build", ["zeta_build"]), L,
              ("contradicted", "`zeta_build` ran but FAILED (exit 2)"))

    def test_wins_over_a_write(self, V):
        L = log([write("zeta_build")], commands=[cmd("make zeta_build", 2)])
        check(V, claim("command_ran", "Ran the build", ["zeta_build"]), L,
              ("contradicted", "`zeta_build` ran but FAILED (exit 2)"))

    def test_a_successful_match_cancels_it(self, V):
        L = log(commands=[cmd("make zeta_build", 2), cmd("make zeta_build again", 0)])
        check(V, claim("command_ran", "Ran the build", ["zeta_build"]), L,
              ("verified", "`zeta_build` in command (exit ok)"))

    def test_only_for_command_ran(self, V):
        L = log(commands=[cmd("make zeta_build", 2)])
        check(V, claim("result_observed", "The build", ["zeta_build"]), L, ("unverified", "`zeta_build`" + NF))

    def test_first_failed_command_gives_the_code(self, V):
        L = log(commands=[cmd("echo other", 9), cmd("make zeta_build", 3), cmd("make zeta_build", 4)])
        check(V, claim("command_ran", "Ran it", ["zeta_build"]), L,
              ("contradicted", "`zeta_build` ran but FAILED (exit 3)"))

    def test_matched_through_the_base_name(self, V):
        L = log(commands=[cmd("python3 zeta_main.py", 1)])
        check(V, claim("command_ran", "Ran it", ["src/deep/zeta_main.py"]), L,
              ("contradicted", "`src/deep/zeta_main.py` ran but FAILED (exit 1)"))

    def test_one_failure_outweighs_found_atoms(self, V):
        L = log([write("alpha_key")], commands=[cmd("run zeta_one", 1), cmd("run zeta_two", 5)])
        check(V, claim("command_ran", "Ran them", ["alpha_key", "zeta_one", "zeta_two"]), L,
              ("contradicted", "`zeta_one` ran but FAILED (exit 1); `zeta_two` ran but FAILED (exit 5)"))


class TestRow2Write:
    def test_payload(self, V):
        check(V, claim("file_changed", "Changed it", ["zeta_key"]), log([write("x = zeta_key")]),
              ("verified", "`zeta_key` in write"))

    def test_key_value_variant_in_payload(self, V):
        check(V, claim("file_changed", "Set it", ["MAX_RETRIES=5"]), log([write('{"max_retries": 5}')]),
              ("verified", "`MAX_RETRIES=5` in write"))

    def test_base_name_in_payload(self, V):
        check(V, claim("file_changed", "Changed it", ["src/deep/zeta_main.py"]),
              log([write("see zeta_main.py")], written=[]), ("verified", "`src/deep/zeta_main.py` in write"))

    def test_short_base_name_only_through_written_paths(self, V):
        # "x.h" (3 characters) is not looked up in payloads, but it is a
        # substring of the written path lib/fix.html.
        c = claim("file_changed", "Changed it", ["src/x.h"])
        check(V, c, log([write("x.h")], written=["lib/other.c"]), ("unverified", "`src/x.h`" + NF))
        check(V, c, log(written=["lib/fix.html"]), ("verified", "`src/x.h` in write"))

    def test_written_paths_are_normalised(self, V):
        check(V, claim("file_changed", "Changed it", ["Zeta_Main.py"]), log(written=["~/Work/ZETA_MAIN.PY"]),
              ("verified", "`Zeta_Main.py` in write"))

    def test_not_when_wrote_is_falsy(self, V):
        L = log([ev("write_file", wrote=0, payload="zeta_key", output="")])
        check(V, claim("file_changed", "Changed it", ["zeta_key"]), L, ("unverified", "`zeta_key`" + NF))

    def test_wins_over_an_ok_command(self, V):
        L = log([write("zeta_key")], commands=[cmd("set zeta_key", 0)])
        check(V, claim("command_ran", "Ran it", ["zeta_key"]), L, ("verified", "`zeta_key` in write"))


class TestRow3Command:
    def test_command_ran(self, V):
        L = log(commands=[cmd("echo zeta alpha", 0)])
        check(V, claim("command_ran", "Ran it", ["zeta alpha"]), L, ("verified", "`zeta alpha` in command (exit ok)"))

    def test_shell_write_in_the_command(self, V):
        L = log(commands=[cmd("cp zeta alpha /tmp", 0)])
        check(V, claim("result_observed", "Saw it", ["zeta alpha"]), L,
              ("verified", "`zeta alpha` in command (exit ok)"))

    def test_path_or_key_atom(self, V):
        L = log(commands=[cmd("echo zeta_key", 0)])
        check(V, claim("result_observed", "Saw it", ["zeta_key"]), L, ("verified", "`zeta_key` in command (exit ok)"))
        L = log(commands=[cmd("echo lib/zeta", 0)])
        check(V, claim("result_observed", "Saw it", ["lib/zeta"]), L, ("verified", "`lib/zeta` in command (exit ok)"))

    def test_phrase_without_shell_write_falls_through(self, V):
        # Not row 3: the words of the phrase are then found by row 8.
        L = log(commands=[cmd("echo zeta alpha", 0)])
        check(V, claim("result_observed", "Saw it", ["zeta alpha"]), L,
              ("verified", "words of `zeta alpha` in command (exit ok)"))

    def test_only_the_first_ok_command_is_tested_for_writes(self, V):
        c = claim("result_observed", "Saw it", ["zeta alpha"])
        check(V, c, log(commands=[cmd("cp zeta alpha x", 0), cmd("echo zeta alpha", 0)]),
              ("verified", "`zeta alpha` in command (exit ok)"))
        check(V, c, log(commands=[cmd("echo zeta alpha", 0), cmd("cp zeta alpha x", 0)]),
              ("verified", "words of `zeta alpha` in command (exit ok)"))

    def test_number_of_a_file_changed_claim(self, V):
        # A number is neither a path nor a key, and file_changed is not
        # command_ran: row 3 needs a shell write.
        c = claim("file_changed", "Changed it", ["4242"])
        check(V, c, log(commands=[cmd("echo 4242", 0)]), ("unverified", "`4242`" + NF))
        check(V, c, log(commands=[cmd("echo 4242 > f", 0)]), ("unverified", "`4242`" + NF))
        # ">" needs a word character on both sides to count as a redirection.
        check(V, c, log(commands=[cmd("echo 4242>f", 0)]), ("verified", "`4242` in command (exit ok)"))

    def test_wins_over_external_action(self, V):
        L = log(external=[{"args": {"t": "zeta_key"}}], commands=[cmd("echo zeta_key", 0)])
        check(V, claim("result_observed", "Saw it", ["zeta_key"]), L, ("verified", "`zeta_key` in command (exit ok)"))


class TestRow4External:
    def test_args(self, V):
        L = log(external=[{"args": {"text": "zeta alpha"}}])
        check(V, claim("result_observed", "Sent it", ["zeta alpha"]), L,
              ("verified", "`zeta alpha` in external action"))

    def test_key_value_through_json_quotes(self, V):
        L = log(external=[{"args": {"max_retries": 5}}])
        check(V, claim("file_changed", "Set it", ["MAX_RETRIES=5"]), L,
              ("verified", "`MAX_RETRIES=5` in external action"))

    def test_non_ascii_is_escaped_in_the_json_text(self, V):
        L = log(external=[{"args": {"msg": "h\u00e9llo_x"}}])
        check(V, claim("result_observed", "Sent it", ["h\u00e9llo_x"]), L, ("unverified", "`h\u00e9llo_x`" + NF))
        check(V, claim("result_observed", "Sent it", ["h\\u00e9llo_x"]), L,
              ("verified", "`h\\u00e9llo_x` in external action"))

    def test_wins_over_output(self, V):
        L = log([ev("browser", output="zeta_key")], external=[{"args": ["zeta_key"]}])
        check(V, claim("result_observed", "Saw it", ["zeta_key"]), L, ("verified", "`zeta_key` in external action"))


class TestRows5And6Output:
    def test_row5_any_kind_but_file_changed(self, V):
        L = log([ev("terminal", command="make", output="built zeta_key")])
        for kind in ["result_observed", "command_ran", "other", None, "mention"]:
            check(V, claim(kind, "Saw it", ["zeta_key"]), L, ("verified", "`zeta_key` in output"))

    def test_row6_numbers_and_phrases_of_file_changed(self, V):
        L = log([ev("terminal", command="make", output="4242 zeta alpha")])
        check(V, claim("file_changed", "Changed it", ["4242"]), L, ("verified", "`4242` in output"))
        check(V, claim("file_changed", "Changed it", ["zeta alpha"]), L, ("verified", "`zeta alpha` in output"))

    def test_paths_and_keys_of_file_changed_are_not_output_evidence(self, V):
        L = log([ev("terminal", command="make", output="zeta_key lib/zeta")])
        check(V, claim("file_changed", "Changed it", ["zeta_key"]), L, ("unverified", "`zeta_key`" + NF))
        check(V, claim("file_changed", "Changed it", ["lib/zeta"]), L, ("unverified", "`lib/zeta`" + NF))

    def test_output_is_searched_for_the_atom_only(self, V):
        # The base name is not looked for in outputs by rows 5 and 6.
        L = log([ev("browser", output="zeta_main.py")])
        check(V, claim("result_observed", "Saw it", ["src/deep/zeta_main.py"]), L,
              ("unverified", "`src/deep/zeta_main.py`" + NF))


class TestRow7ReadOnly:
    def test_path_in_read_output_of_a_file_changed_claim(self, V):
        check(V, claim("file_changed", "Changed it", ["lib/zeta.py"]), log([read("lib/zeta.py")]),
              ("unverified", "`lib/zeta.py`" + RO))

    def test_base_name_in_read_output(self, V):
        # in_read looks for the base name too, in_out for the atom only, so
        # row 7 applies to a result_observed claim.
        check(V, claim("result_observed", "Saw it", ["src/deep/zeta_main.py"]), log([read("x zeta_main.py")]),
              ("unverified", "`src/deep/zeta_main.py`" + RO))

    def test_key_in_read_output(self, V):
        check(V, claim("file_changed", "Changed it", ["zeta_key"]), log([ev("search_files", output="zeta_key")]),
              ("unverified", "`zeta_key`" + RO))

    def test_read_output_of_a_non_read_tool_does_not_count(self, V):
        check(V, claim("file_changed", "Changed it", ["zeta_key"]), log([ev("browser", output="zeta_key")]),
              ("unverified", "`zeta_key`" + NF))


class TestRow8WordsInCommands:
    def test_words_in_a_successful_command(self, V):
        L = log(commands=[cmd("echo zeta then alpha", 0)])
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), L,
              ("verified", "words of `alpha zeta` in command (exit ok)"))

    def test_failed_commands_do_not_count(self, V):
        L = log(commands=[cmd("echo zeta then alpha", 1)])
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), L, ("unverified", "`alpha zeta`" + NF))

    def test_words_must_share_one_command(self, V):
        L = log(commands=[cmd("echo zeta", 0), cmd("echo alpha", 0)])
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), L, ("unverified", "`alpha zeta`" + NF))

    def test_not_for_file_changed(self, V):
        L = log(commands=[cmd("echo zeta then alpha", 0)])
        check(V, claim("file_changed", "Changed it", ["alpha zeta"]), L, ("unverified", "`alpha zeta`" + NF))

    def test_one_significant_word_is_not_enough(self, V):
        L = log(commands=[cmd("echo zeta 123 ab", 0)])
        check(V, claim("result_observed", "Saw it", ["zeta 123 ab"]), L, ("unverified", "`zeta 123 ab`" + NF))

    def test_wins_over_words_in_output(self, V):
        L = log([ev("browser", output="alpha, zeta")], commands=[cmd("echo zeta then alpha", 0)])
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), L,
              ("verified", "words of `alpha zeta` in command (exit ok)"))


class TestRow9WordsInOutput:
    def test_words_in_one_output(self, V):
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), log([ev("browser", output="zeta; then alpha")]),
              ("verified", "words of `alpha zeta` in output"))

    def test_not_for_file_changed(self, V):
        check(V, claim("file_changed", "Changed it", ["alpha zeta"]), log([ev("browser", output="zeta; then alpha")]),
              ("unverified", "`alpha zeta`" + NF))

    def test_words_split_over_outputs(self, V):
        L = log([ev("browser", output="zeta"), ev("browser", output="alpha")])
        check(V, claim("result_observed", "Saw it", ["alpha zeta"]), L, ("unverified", "`alpha zeta`" + NF))


class TestRow10EmptySearch:
    def test_empty_wording_in_text(self, V):
        L = log(commands=[cmd("grep -rn zeta_key src", 1, "  \n\t")])
        check(V, claim("result_observed", "grep found no matches", ["zeta_key"]), L,
              ("verified", "empty search result matches claim"))

    def test_empty_wording_in_atom(self, V):
        L = log(commands=[cmd("rg foo", 1, "")])
        check(V, claim("result_observed", "The search", ["0 hits"]), L,
              ("verified", "empty search result matches claim"))

    def test_search_tool_anywhere_in_the_command(self, V):
        L = log(commands=[cmd("git grep foo", 0, "")])
        check(V, claim("file_changed", "Nothing found", ["zeta_key"]), L,
              ("verified", "empty search result matches claim"))

    def test_needs_blank_output(self, V):
        L = log(commands=[cmd("grep -rn foo src", 0, "src/a.md:1: foo")])
        check(V, claim("result_observed", "no matches", ["zeta_key"]), L, ("unverified", "`zeta_key`" + NF))

    def test_needs_a_search_tool(self, V):
        L = log(commands=[cmd("ls src", 0, "")])
        check(V, claim("result_observed", "no matches", ["zeta_key"]), L, ("unverified", "`zeta_key`" + NF))

    def test_needs_empty_wording(self, V):
        L = log(commands=[cmd("grep foo", 1, "")])
        check(V, claim("result_observed", "grep ran", ["zeta_key"]), L, ("unverified", "`zeta_key`" + NF))

    def test_note_once_per_atom(self, V):
        L = log(commands=[cmd("find . -name q", 0, "")])
        check(V, claim("result_observed", "it returns nothing", ["zeta_one", "zeta_two"]), L,
              ("verified", "empty search result matches claim; empty search result matches claim"))


class TestRow11Missing:
    def test_missing(self, V):
        check(V, claim("result_observed", "Saw it", ["zeta_key", "4242"]), log(),
              ("unverified", "`zeta_key`, `4242`" + NF))

    def test_duplicates_are_kept(self, V):
        check(V, claim("result_observed", "Saw it", ["zeta_key", "zeta_key"]), log(),
              ("unverified", "`zeta_key`, `zeta_key`" + NF))


# ---------------------------------------------------------------------------
# Verdict rows (step 11).

class TestVerdictRows:
    def test_row1_contradicted_lists_failures_only(self, V):
        L = log([write("alpha_key")], commands=[cmd("run zeta_key", 7)])
        check(V, claim("command_ran", "Ran it", ["alpha_key", "zeta_key", "omega_key"]), L,
              ("contradicted", "`zeta_key` ran but FAILED (exit 7)"))

    def test_row2_found_then_unchecked_read_only_before_missing(self, V):
        # Atom order: missing, read-only, found; the note puts read-only
        # atoms before missing ones.
        L = log([write("alpha_key"), read("lib/beta.py")])
        check(V, claim("file_changed", "Changed it", ["omega_key", "lib/beta.py", "alpha_key"]), L,
              ("verified", "`alpha_key` in write" + SEP + "`lib/beta.py`, `omega_key`"))

    def test_row2_without_unchecked_part(self, V):
        L = log([write("alpha_key beta_key")])
        check(V, claim("file_changed", "Changed it", ["alpha_key", "beta_key"]), L,
              ("verified", "`alpha_key` in write; `beta_key` in write"))

    def test_row3_pre_existing(self, V):
        L = log([read("lib/beta.py zeta_key")])
        check(V, claim("file_changed", "Added the module", ["lib/beta.py", "omega_key", "zeta_key"]), L,
              ("pre-existing", "`lib/beta.py`, `zeta_key`" + PRE))

    def test_row3_needs_adding_wording(self, V):
        L = log([read("lib/beta.py")])
        check(V, claim("file_changed", "Did not add the module", ["lib/beta.py"]), L,
              ("unverified", "`lib/beta.py`" + RO))
        check(V, claim("file_changed", "Touched the module", ["lib/beta.py"]), L, ("unverified", "`lib/beta.py`" + RO))

    def test_row3_needs_file_changed(self, V):
        L = log([read("zeta_main.py")])
        check(V, claim("result_observed", "Added the module", ["src/deep/zeta_main.py"]), L,
              ("unverified", "`src/deep/zeta_main.py`" + RO))

    def test_row4_mention_lists_read_only_then_missing(self, V):
        L = log([read("zeta_main.py")])
        check(V, claim("other", "`omega_key` or `src/deep/zeta_main.py`", ["omega_key", "src/deep/zeta_main.py"]), L,
              ("unchecked", MN + "`src/deep/zeta_main.py`, `omega_key`" + NL))

    def test_row4_mention_kinds(self, V):
        for kind in ["other", "external_action", "mention"]:
            check(V, claim(kind, "the omega_key setting", ["omega_key"]), log(), ("unchecked", MN + "`omega_key`" + NL))
        c = {"text": "the omega_key setting", "targets": ["omega_key"]}  # kind absent: "other"
        check(V, c, log(), ("unchecked", MN + "`omega_key`" + NL))
        for kind in [None, "result_observed", "command_ran", "Other"]:
            check(V, claim(kind, "the omega_key setting", ["omega_key"]), log(), ("unverified", "`omega_key`" + NF))

    def test_row4_verbs_outside_code_spans_make_it_a_claim(self, V):
        check(V, claim("other", "`omega_key` works", ["omega_key"]), log(), ("unverified", "`omega_key`" + NF))
        check(V, claim("other", "the omega_key was set", ["omega_key"]), log(), ("unverified", "`omega_key`" + NF))
        check(V, claim("other", "`omega_key is set`", ["omega_key"]), log(), ("unchecked", MN + "`omega_key`" + NL))

    def test_row5_read_only_note_omits_missing(self, V):
        L = log([read("lib/beta.py")])
        check(V, claim("file_changed", "Touched it", ["omega_key", "lib/beta.py"]), L,
              ("unverified", "`lib/beta.py`" + RO))

    def test_row6_missing(self, V):
        check(V, claim("file_changed", "Changed it", ["omega_key", "lib/beta.py"]), log(),
              ("unverified", "`omega_key`, `lib/beta.py`" + NF))

    def test_mention_with_found_evidence_is_verified(self, V):
        check(V, claim("other", "`omega_key`", ["omega_key"]), log([write("omega_key")]),
              ("verified", "`omega_key` in write"))

    def test_no_atoms(self, V):
        for targets in [[], ["", None, 0, [], False], ["ab", "x y"], ["5", "~5ms", "a -> b"]]:
            check(V, claim("file_changed", "Added it", targets), {}, ("unchecked", "nothing literal to check"))
        check(V, {}, {}, ("unchecked", "nothing literal to check"))
