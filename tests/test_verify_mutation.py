"""verify() while the caller's own objects change the run log under it.

Any Python code that runs while the compiled module reads the log (an exit
code's __eq__, an argument mapping's items(), a flag's __bool__, a tool's
__hash__) may change or drop anything, from this thread or another one.  The
answer is then a verdict or an exception, never a crash: each case runs in
a child interpreter (a crash there fails the case instead of ending the
run), under a time limit.
"""

import subprocess
import sys
import threading

import pytest

from conftest import TESTS, child_env, compiled
from runlog_builders import cmd, ev, log

CV = compiled("vorlane_core.verify", "verify")

RAN = {"kind": "command_ran", "text": "Ran it", "targets": ["zeta_job"]}
SEEN = {"kind": "result_observed", "text": "Saw it", "targets": ["zeta_key"]}


class ExitCode:
    """An exit code whose comparison runs `action` (and equals nothing)."""

    def __init__(self, action):
        self.action = action

    def __eq__(self, other):
        self.action()
        return False

    __hash__ = object.__hash__

    def __str__(self):
        return "9"


class Flag:
    """A "wrote" flag whose truth value runs `action` (and is false)."""

    def __init__(self, action):
        self.action = action

    def __bool__(self):
        self.action()
        return False


class Tool:
    """A tool name whose hash runs `action`."""

    def __init__(self, action):
        self.action = action

    def __hash__(self):
        self.action()
        return 0


class Args(dict):
    """Action arguments whose items() runs `action` first."""

    def __init__(self, action, **members):
        super().__init__(**members)
        self.action = action

    def items(self):
        self.action()
        return super().items()


def in_thread(action):
    """`action`, run by another thread while this one waits for it."""

    def run():
        t = threading.Thread(target=action)
        t.start()
        t.join(10)

    return run


def exit_code_empties_commands(V):
    L = log(commands=[cmd("make zeta_job"), cmd("make zeta_job", 0)])
    L["commands"][0]["exit_code"] = ExitCode(lambda: L["commands"].clear())
    return V.verify(RAN, L)


def exit_code_empties_its_record(V):
    L = log(commands=[cmd("make zeta_job")])
    L["commands"][0]["exit_code"] = ExitCode(lambda: L["commands"][0].clear())
    return V.verify(RAN, L)


def args_items_empty_external(V):
    L = log(external=[{"args": None}, {"args": {"msg": "zeta_key"}}])
    L["external"][0]["args"] = Args(lambda: L["external"].clear(), a=1)
    return V.verify(SEEN, L)


def args_items_empty_the_list_being_written(V):
    args = [None, "x", "y"]
    args[0] = Args(lambda: args.clear(), a=1)
    return V._json_text(args)


def wrote_lets_a_thread_clear_events(V):
    L = log([ev(), ev(wrote=True, payload="zeta_key")])
    L["events"][0]["wrote"] = Flag(in_thread(lambda: L["events"].clear()))
    return V.verify(SEEN, L)


def wrote_empties_its_event(V):
    L = log([ev(), ev(output="zeta_key")])
    L["events"][0]["wrote"] = Flag(lambda: L["events"][0].clear())
    return V.verify(SEEN, L)


def tool_hash_replaces_the_lists(V):
    L = log([ev(), ev(output="zeta_key")], written=["a"], commands=[cmd("make zeta_key", 1)])

    def replace():  # the old events list loses its last reference but one
        L["events"] = []
        L["commands"] = []

    L["events"][0]["tool"] = Tool(replace)
    return V.verify(SEEN, L)


CASES = [
    (exit_code_empties_commands, ("verified", "`zeta_job` in command (exit ok)")),
    (exit_code_empties_its_record, ("contradicted", "`zeta_job` ran but FAILED (exit 9)")),
    (args_items_empty_external, ("verified", "`zeta_key` in external action")),
    (args_items_empty_the_list_being_written, '[{"a": 1}]'),
    (wrote_lets_a_thread_clear_events, ("verified", "`zeta_key` in write")),
    (wrote_empties_its_event, ("raises", "KeyError", "'output'")),
    (tool_hash_replaces_the_lists, ("verified", "`zeta_key` in output")),
]


def outcome(name):
    """The result of the case `name` against the compiled module, as text."""
    import vorlane_core.verify as V

    try:
        r = globals()[name](V)
    except Exception as e:
        return repr(("raises", type(e).__name__, str(e)))
    return repr(tuple(r) if isinstance(r, tuple) else r)


@pytest.mark.parametrize("case, expected", CASES, ids=[c.__name__ for c, _ in CASES])
def test_answer_or_exception_never_a_crash(case, expected):
    code = f"import test_verify_mutation as T; print(T.outcome({case.__name__!r}))"
    p = subprocess.run(
        [sys.executable, "-c", code], cwd=TESTS, env=child_env(), capture_output=True, text=True, timeout=60
    )
    assert p.returncode == 0, f"child ended with status {p.returncode}:\n{p.stderr[-2000:]}"
    assert p.stdout.strip() == repr(expected)
