"""Aider chat histories (``.aider.chat.history.md`` in the repository).

Markdown: ``#### `` lines are what the user typed, ``> `` lines what aider
printed (``Applied edit to PATH``, command output, commits), everything else
is the model's answer, with its edits as SEARCH/REPLACE (older:
ORIGINAL/UPDATED) blocks under the file's name.  Aider records neither exit
codes nor the text of the files in the chat.
"""

from __future__ import annotations

import re

from vorlane_core.importers.runbuilder import EDIT_TOOL, RunBuilder, SessionImportError

NAME = "aider"
TITLE = "Aider chat history Markdown"
LOOKS_FOR = '"# aider chat started at", or "#### " prompt lines with "> Applied edit to" or SEARCH/REPLACE blocks'

_START = re.compile(r"^<{5,9} (SEARCH|ORIGINAL)\s*$")
_MID = re.compile(r"^={5,9}\s*$")
_END = re.compile(r"^>{5,9} (REPLACE|UPDATED)\s*$")
_PROMPT_COMMANDS = ("/ask", "/code", "/architect", "/context", "/help")
_RUN_COMMANDS = ("/run", "/test", "/lint")
_ADD_OUTPUT = re.compile(r"^(Add (the |command )?output to the chat\?|Add \d+ tokens of command output to the chat\?)")


def sniff(head: list[dict], text: str) -> bool:
    if "# aider chat started at" in text:
        return True
    if not re.search(r"(?m)^#### \S", text):
        return False
    return bool(re.search(r"(?m)^> (Applied edit to|Aider v\d)|^(<{7} SEARCH|>{7} REPLACE|>{7} UPDATED)\s*$", text))


class _Reader:
    def __init__(self, b: RunBuilder):
        self.b = b
        self.text: list[str] = []
        self.edits: list[list] = []  # [path, replace lines] of the current answer
        self.block: list | None = None  # [path, stage, lines] while inside a block
        self.cmd: list | None = None  # [command, output lines]
        self.prev = ""
        self._last_user = False

    def line(self, ln: str) -> None:
        ln = ln.rstrip("\n")
        if ln.endswith("  "):
            ln = ln[:-2]
        if self.block is not None:
            return self._in_block(ln)
        if ln.startswith("#### ") or ln == "####":
            return self._user(ln[5:])
        self._last_user = False
        if ln.startswith(">") and (ln == ">" or ln.startswith("> ")):
            return self._tool(ln[2:])
        if self.cmd is not None and not ln.strip():
            return  # blank lines around a command's output
        self._end_cmd()
        if re.match(r"^</?div\b", ln.strip()) or ln.startswith("# aider chat started at"):
            return self._flush_text()
        m = _START.match(ln)
        if m:
            path = self.prev.strip().strip("`").strip()
            self.block = [path, "search", []]
            return
        self.text.append(ln)
        if ln.strip() and not ln.startswith("```"):
            self.prev = ln

    def _in_block(self, ln: str) -> None:
        if self.block[1] == "search" and _MID.match(ln):
            self.block[1] = "replace"
        elif _END.match(ln):
            self.edits.append([self.block[0], self.block[2]])
            self.block = None
        elif self.block[1] == "replace":
            self.block[2].append(ln)

    def _user(self, text: str) -> None:
        self._end_cmd()
        self._flush_text()
        self._end_answer()
        s = text.strip()
        if s.startswith(_RUN_COMMANDS):
            cmd = s.split(" ", 1)[1] if " " in s else ""
            self.cmd = [cmd, []]
        elif s.startswith("/") and not (s.startswith(_PROMPT_COMMANDS) and " " in s):
            pass  # /add, /drop, /undo, /commit ...: not prompts
        elif s:
            if self.b.current.prompt is not None and self._last_user:
                self.b.current.prompt += "\n" + s  # a prompt of several lines
            else:
                self.b.prompt(s)
            self._last_user = True
            return
        self._last_user = False

    def _tool(self, text: str) -> None:
        self._last_user = False
        self._flush_text()
        if text.startswith("Applied edit to "):
            self._applied(text[len("Applied edit to "):].strip())
        elif text.startswith("Aider v") and self.b.version is None:
            self.b.version = text.split()[1].lstrip("v")
        elif text.startswith("Running ") and self.cmd is None:
            self.cmd = [text[len("Running "):], []]
        elif self.cmd is not None:
            if not _ADD_OUTPUT.match(text) and not text.startswith("Run shell command"):
                self.cmd[1].append(text)

    def _applied(self, path: str) -> None:
        mine = [e for e in self.edits if e[0] == path]
        self.edits = [e for e in self.edits if e[0] != path]
        payload = "\n".join("\n".join(e[1]) for e in mine) if mine else None
        self.b.write(path, payload, "Applied edit to " + path, tool=EDIT_TOOL)

    def _end_cmd(self) -> None:
        if self.cmd is not None:
            out = "\n".join(self.cmd[1]).strip("\n")
            if out.startswith("```") and out.endswith("```"):
                out = out[3:-3].strip("\n")
            self.b.command(self.cmd[0], out, None, False)
            self.cmd = None

    def _flush_text(self) -> None:
        if any(t.strip() for t in self.text):
            self.b.message("\n".join(self.text).strip("\n"))
        self.text = []

    def _end_answer(self) -> None:
        for path, lines in self.edits:
            self.b.write(path, "\n".join(lines), None, tool=EDIT_TOOL, applied=False)
            self.b.note("an edit block with no \"Applied edit\" line after it was not counted as written")
        self.edits = []

    def finish(self) -> None:
        self._end_cmd()
        self._flush_text()
        self._end_answer()


def import_file(path: str, b: RunBuilder) -> None:
    r = _Reader(b)
    try:
        with open(path, encoding="utf-8", errors="strict") as f:
            for ln in f:
                r.line(ln)
    except UnicodeDecodeError as e:
        raise SessionImportError(f"{path}: not valid UTF-8 text ({e.reason})") from None
    r.finish()
