"""mini-swe-agent runs: the trajectory JSON it saves (``info`` + ``messages``,
``trajectory_format`` mini-swe-agent-1) and the terminal log of a run
(``mini-swe-agent (step N, $cost):`` blocks, as in Terminal-Bench logs).

Each step is one assistant message with a THOUGHT and one ```` ```bash ````
block, answered by ``<returncode>N</returncode>`` and the ``<output>``.
``echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT`` ends the run.
"""

from __future__ import annotations

import json
import re

from vorlane_core.importers.reading import json_document, need, text_of
from vorlane_core.importers.runbuilder import RunBuilder, SessionImportError

NAME = "mini_swe_agent"
TITLE = "mini-swe-agent trajectory JSON or terminal log"
LOOKS_FOR = '"trajectory_format": "mini-swe-agent-..." (or "mini_version"), or "mini-swe-agent (step N" lines'

_BASH = re.compile(r"```(?:bash|sh)\s*\n(.*?)\n```", re.S)
_RC = re.compile(r"<returncode>(-?\d+)</returncode>")
_OUT = re.compile(r"<output>\n?(.*?)</output>", re.S)
_HEAD_TAIL = re.compile(r"<output_head>\n?(.*?)</output_head>.*?<output_tail>\n?(.*?)</output_tail>", re.S)
_SUBMIT = ("COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT", "MINI_SWE_AGENT_FINAL_OUTPUT")
_ANSI = re.compile(r"\x1b\[[0-?]*[ -/]*[@-~]|\x1b\][^\x07]*\x07|\x1b[()][AB012]|\x1b[=>]")
_STEP = re.compile(r"(?m)^mini-swe-agent \(step (\d+), \$[0-9.]+\):[ \t]*$")
_VERSION = re.compile(r"This is mini-swe-agent version (\d[\w+-]*(?:\.\w+)*)")
_SPINNER = re.compile(r"(?m)^[\u2800-\u28ff] Waiting for the LM to respond\.\.\.\s*")


def sniff(head: list[dict], text: str) -> bool:
    if re.search(r'"trajectory_format"\s*:\s*"mini-swe-agent', text) or '"mini_version"' in text:
        return True
    if text.lstrip().startswith(("{", "[")):
        return False
    plain = (_ANSI.sub("", text) if "\x1b" in text else text).replace("\r", "")
    return _STEP.search(plain) is not None or re.search(r"(?m)^This is mini-swe-agent version \d", plain) is not None


def _observation(text: str) -> tuple[str, int | None]:
    rc = _RC.search(text)
    m = _OUT.search(text)
    if m:
        out = m.group(1)
    else:
        ht = _HEAD_TAIL.search(text)
        out = ht.group(1) + "\n...\n" + ht.group(2) if ht else text
    return out, int(rc.group(1)) if rc else None


def _step(b: RunBuilder, assistant: str, answer: str | None) -> None:
    thought = assistant.split("```", 1)[0].strip()
    if thought.startswith("THOUGHT:"):
        thought = thought[len("THOUGHT:"):].strip()
    b.message(thought)
    m = _BASH.search(assistant)
    cmd = m.group(1) if m else None
    if cmd is not None and cmd.strip().startswith("echo") and any(s in cmd for s in _SUBMIT):
        b.other("submit", answer)
    elif answer is None:
        if cmd is not None:  # the run ended before the command's answer
            b.command(cmd, None, None, False)
    elif cmd is None or _RC.search(answer) is None:  # a format error: nothing ran
        b.other("harness_message", answer.strip())
    else:
        out, code = _observation(answer)
        b.command(cmd, out, code, True)


def import_file(path: str, b: RunBuilder) -> None:
    with open(path, "rb") as f:
        start = f.read(1).lstrip()
    if start == b"{":
        return _import_json(path, b)
    return _import_log(path, b)


def _import_json(path: str, b: RunBuilder) -> None:
    doc = json_document(path)
    if not isinstance(doc, dict):
        raise SessionImportError(f"{path}: expected a JSON object")
    info = doc.get("info") if isinstance(doc.get("info"), dict) else {}
    b.version = info.get("mini_version") or b.version
    messages = need(doc, "messages", path, "the trajectory")
    prompted = False
    for i, m in enumerate(messages):
        role = need(m, "role", f"{path}: messages[{i}]", "message")
        text = text_of(m.get("content")) or ""
        if role == "assistant" and m.get("tool_calls"):
            _tool_calls(b, m, messages[i + 1:])
        elif role == "assistant":
            nxt = messages[i + 1] if i + 1 < len(messages) else None
            answer = text_of(nxt.get("content")) if isinstance(nxt, dict) and nxt.get("role") in ("user", "tool") else None
            _step(b, text, answer)
        elif role == "user" and not prompted and "<returncode>" not in text:
            b.prompt(text)
            prompted = True
    if isinstance(info.get("submission"), str) and info["submission"].strip():
        b.other("submission", info["submission"])


def _tool_calls(b: RunBuilder, m: dict, rest: list) -> None:
    """An assistant message whose commands are tool calls, answered by ``tool`` messages."""
    b.message(text_of(m.get("content")))
    answers = {r.get("tool_call_id"): text_of(r.get("content")) or "" for r in rest
               if isinstance(r, dict) and r.get("role") == "tool"}
    for call in m["tool_calls"]:
        fn = call.get("function") or {}
        try:
            args = json.loads(fn.get("arguments") or "{}")
        except ValueError:
            args = {}
        cmd = args.get("command") if isinstance(args, dict) else None
        if not isinstance(cmd, str):
            b.other(fn.get("name") or "tool", answers.get(call.get("id")))
            continue
        answer = answers.get(call.get("id"))
        if answer is not None and _RC.search(answer) is None:
            b.command(cmd, answer, None, False)  # the output, but no return code
        else:
            _step(b, f"```bash\n{cmd}\n```", answer)


def _import_log(path: str, b: RunBuilder) -> None:
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-8", errors="replace")
    text = _SPINNER.sub("", _ANSI.sub("", text).replace("\r", ""))
    v = _VERSION.search(text)
    if v:
        b.version = v.group(1)
        text = text[v.start():]
    marks = list(_STEP.finditer(text))
    if not marks:
        raise SessionImportError(f"{path}: no mini-swe-agent steps found")
    b.prompt(text[: marks[0].start()].strip())
    for i, mk in enumerate(marks):
        seg = text[mk.end(): marks[i + 1].start() if i + 1 < len(marks) else len(text)]
        at = seg.find("\nUser:\n")
        assistant = seg if at < 0 else seg[:at]
        answer = None if at < 0 else seg[at + len("\nUser:\n"):]
        _step(b, assistant, answer)
