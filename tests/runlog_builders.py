"""Small builders for run logs in tests: an event, a command record and the
run log mapping itself."""

ABSENT = object()


def ev(tool="write_file", wrote=False, payload=ABSENT, output="", command=ABSENT):
    """A tool event; "payload" and "command" are left out unless given."""
    e = {"tool": tool, "wrote": wrote, "output": output}
    if payload is not ABSENT:
        e["payload"] = payload
    if command is not ABSENT:
        e["command"] = command
    return e


def cmd(command, exit_code=0, output=""):
    return {"command": command, "exit_code": exit_code, "output": output}


def log(events=(), external=(), written=(), commands=()):
    return {"events": list(events), "external": list(external), "written": list(written), "commands": list(commands)}
