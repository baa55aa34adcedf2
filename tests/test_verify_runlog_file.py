"""The run-log file checker of the command (vorlane_core.runlog_file): the
"wrote" flag of an event must be a JSON boolean.  verify() itself takes any
value by its truth value, so a text such as "false" would count as a write;
a run file is where such a value comes from, and it is refused there, with
the path of the field."""

import pytest

from runlog_builders import ev, log
from vorlane_core import runlog_file


@pytest.mark.parametrize("wrote", ["false", "true", "", 0, 1, None, [], {}])
def test_wrote_must_be_a_boolean(wrote):
    L = log([ev(wrote=False), ev(wrote=False), ev(wrote=False), ev(wrote=wrote, payload="x")])
    with pytest.raises(runlog_file.InputError, match=r"^log\.events\[3\]\.wrote: expected a boolean, got "):
        runlog_file.check_log(L)
    with pytest.raises(runlog_file.InputError, match=r"^run\.json: log\.events\[3\]\.wrote: expected a boolean"):
        runlog_file.parse_run({"report": "r", "log": L}, "run.json")


@pytest.mark.parametrize("wrote", [True, False])
def test_booleans_pass(wrote):
    L = log([ev(wrote=wrote, payload="x")])
    runlog_file.check_log(L)
    assert runlog_file.parse_run(L, "run.json").log is L
