"""Small hand-made session files of each agent tool, for the importer tests.

Each builder returns the records (or document) of a session; ``write_session``
puts them in a file the way the tool does (JSON lines, one JSON document, or
text).
"""

import itertools
import json

_ids = itertools.count(1)


def write_session(tmp_path, name, content):
    """``content``: a list of records (JSON lines), a dict/list (one document) or text."""
    p = tmp_path / name
    if isinstance(content, str):
        p.write_text(content, encoding="utf-8")
    elif name.endswith(".jsonl"):
        p.write_text("".join(json.dumps(r) + "\n" for r in content), encoding="utf-8")
    else:
        p.write_text(json.dumps(content), encoding="utf-8")
    return p


# -- Claude Code -------------------------------------------------------------


def cc_user(text, **extra):
    return {"type": "user", "sessionId": "s1", "cwd": "/home/u/proj", "version": "2.1.3",
            "message": {"role": "user", "content": text}, **extra}


def cc_say(text):
    return {"type": "assistant", "sessionId": "s1", "message": {"role": "assistant", "content": [{"type": "text", "text": text}]}}


def cc_tool(name, inp, result, structured=None, is_error=False, stream=False):
    """The assistant's tool_use record and the user record carrying its result."""
    tid = f"toolu_{next(_ids)}"
    call = {"type": "assistant", "sessionId": "s1",
            "message": {"role": "assistant", "content": [{"type": "tool_use", "id": tid, "name": name, "input": inp}]}}
    block = {"type": "tool_result", "tool_use_id": tid, "content": result}
    if is_error:
        block["is_error"] = True
    res = {"type": "user", "sessionId": "s1", "message": {"role": "user", "content": [block]}}
    if structured is not None:
        res["tool_use_result" if stream else "toolUseResult"] = structured
    return [call, res]


def cc_bash(command, output, code):
    """A Bash call as Claude Code records it: ``Exit code N`` on failure, stdout/stderr on success,
    code None for a call that was interrupted."""
    if code is None:
        return cc_tool("Bash", {"command": command}, output, {"stdout": output, "stderr": "", "interrupted": True})
    if code == 0:
        return cc_tool("Bash", {"command": command}, output, {"stdout": output, "stderr": "", "interrupted": False})
    return cc_tool("Bash", {"command": command}, f"Exit code {code}\n{output}", f"Error: Exit code {code}\n{output}", is_error=True)


def claude_session(*turns, prompt="do it"):
    """Records of a session: one prompt, then the given tool records and messages."""
    recs = [cc_user(prompt)]
    for t in turns:
        recs += t if isinstance(t, list) else [t]
    return recs


# -- Codex -------------------------------------------------------------------


def cx(type_, payload):
    return {"timestamp": "2026-01-01T00:00:00Z", "type": type_, "payload": payload}


def codex_head(cwd="/home/u/proj"):
    return [cx("session_meta", {"id": "x", "cwd": cwd, "cli_version": "0.125.0"}),
            cx("turn_context", {"cwd": cwd})]


def codex_prompt(text):
    return [cx("response_item", {"type": "message", "role": "user", "content": [{"type": "input_text", "text": text}]}),
            cx("event_msg", {"type": "user_message", "message": text})]


def codex_call(name, args, cid=None):
    cid = cid or f"call_{next(_ids)}"
    return cid, cx("response_item", {"type": "function_call", "name": name, "arguments": json.dumps(args), "call_id": cid})


def codex_output(cid, output):
    return cx("response_item", {"type": "function_call_output", "call_id": cid, "output": output})


def codex_final(text):
    return cx("event_msg", {"type": "task_complete", "last_agent_message": text})


# -- Gemini CLI ----------------------------------------------------------------


def gemini_session(*messages):
    return {"sessionId": "g1", "projectHash": "abc", "startTime": "2026-01-01T00:00:00Z", "messages": list(messages)}


def gm_user(text):
    return {"id": f"u{next(_ids)}", "type": "user", "content": text}


def gm_reply(text, *calls):
    return {"id": f"m{next(_ids)}", "type": "gemini", "content": text, "toolCalls": list(calls)}


def gm_call(name, args, output, status="success"):
    cid = f"{name}-{next(_ids)}"
    return {"id": cid, "name": name, "args": args, "status": status,
            "result": [{"functionResponse": {"id": cid, "name": name, "response": {"output": output}}}]}
