"""docs/run-log.schema.json agrees with the checks the command makes on a run
log, and describes what ``vorlane import`` writes.  Needs jsonschema (a test
dependency)."""

import json
from pathlib import Path

import pytest
from runlog_builders import cmd, ev, log
from session_builders import cc_bash, cc_say, cc_tool, claude_session, write_session

from vorlane_core.importers import import_session
from vorlane_core.runlog_file import InputError, check_log

SCHEMA = Path(__file__).resolve().parents[1] / "docs" / "run-log.schema.json"


def validators():
    """Validators of the run log and of an imported run."""
    import jsonschema
    schema = json.loads(SCHEMA.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    run_schema = {"$schema": schema["$schema"], "$defs": schema["$defs"], "$ref": "#/$defs/run"}
    return jsonschema.Draft202012Validator(schema), jsonschema.Draft202012Validator(run_schema)


LOGS = [
    ("empty", log(), True),
    ("full", log([ev("terminal", command="ls", output="a"), ev("write_file", True, "x = 1", None)],
                 [{"tool": "web", "args": {"url": "u"}}], ["a.py"], [cmd("ls", 0, "a"), cmd("make", "2")]), True),
    ("missing list", {"events": [], "external": [], "written": []}, False),
    ("list of the wrong type", dict(log(), written={}), False),
    ("event without tool", log([{"wrote": False, "output": ""}]), False),
    ("event without output", log([{"tool": "x", "wrote": False}]), False),
    ("write without payload", log([{"tool": "write_file", "wrote": True, "output": None}]), False),
    ("terminal without command", log([ev("terminal", output="x")]), False),
    ("command without exit code", log(commands=[{"command": "ls"}]), False),
    ("exit code of an object", log(commands=[{"command": "ls", "exit_code": {}}]), False),
    ("external without args", log(external=[{"tool": "web"}]), False),
    ("written path not text", log(written=[None]), False),
]


@pytest.mark.parametrize("name, run_log, valid", LOGS, ids=[x[0] for x in LOGS])
def test_schema_agrees_with_the_log_checks(name, run_log, valid):
    log_schema, _ = validators()
    assert log_schema.is_valid(run_log) == valid
    if valid:
        check_log(run_log)
    else:
        with pytest.raises(InputError):
            check_log(run_log)


def test_an_imported_run_matches_the_schema(tmp_path):
    _, run_schema = validators()
    session = claude_session(cc_bash("make", "ok", 0), cc_bash("sleep 99", "", None),
                             cc_tool("Write", {"file_path": "/p/a.py", "content": "x"}, "ok"), cc_say("built"))
    run = import_session(str(write_session(tmp_path, "s.jsonl", session)), turn="all")
    run_schema.validate(run.to_json())
    assert not run_schema.is_valid(dict(run.to_json(), meta=dict(run.meta, turn=0)))
