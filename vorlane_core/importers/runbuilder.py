"""The rules that turn what an agent tool recorded into a run log.

Every importer reads its own format and calls the same few methods here, so
that a shell command, a file write, a read or an external action means the
same thing whatever tool recorded it:

* a shell command becomes a ``terminal`` event, and a ``commands`` record
  only when its exit code is known (the checker counts a null exit code as a
  success, so an unknown outcome must never become one);
* a file write or edit becomes an event with ``wrote`` true, the new text as
  ``payload``, and its path in ``written`` (also relative to the session's
  working directory when that is known);
* reads, searches and listings become ``read_file`` / ``search_files``
  events whose output is the clean content;
* web fetches and searches, MCP tool calls, ``git push`` and pull-request or
  issue creation become ``external`` actions.

A :class:`RunBuilder` also cuts the session into turns: :meth:`prompt` starts
a new one, and only the turns asked for are kept.
"""

from __future__ import annotations

import posixpath
import re
from dataclasses import dataclass, field
from typing import Any

from vorlane_core.runlog_file import InputError
from vorlane_core.verify import COMMAND_TOOLS, READ_TOOLS

# The tool names the events get.  The reads (whose output is only what was
# already there) and the shell and code tools (whose events carry what ran)
# must be names the verdict core knows as such: checked against its lists
# when this module loads.  Writes and edits may go by any other name.
READ_TOOL = "read_file"
SEARCH_TOOL = "search_files"
SKILL_TOOL = "skill_view"
SHELL_TOOL = "terminal"
CODE_TOOL = "execute_code"
WRITE_TOOL = "write_file"
EDIT_TOOL = "patch"
if {READ_TOOL, SEARCH_TOOL, SKILL_TOOL} != set(READ_TOOLS) or (SHELL_TOOL, CODE_TOOL) != tuple(COMMAND_TOOLS):
    raise ImportError(f"the importers' tool names differ from the verdict core's: {sorted(READ_TOOLS)}, {COMMAND_TOOLS}")

# Shell commands whose effect lies outside the machine.
_EXTERNAL_SHELL = re.compile(
    r"(?:^|[;&|(]\s*|\s)(git\s+push\b|gh\s+pr\s+(?:create|merge|comment|review)\b|"
    r"gh\s+issue\s+(?:create|comment|close)\b|gh\s+release\s+create\b|glab\s+mr\s+create\b)"
)
# cat <<'EOF' > path   or   cat > path <<EOF   (the body up to the delimiter line)
_HEREDOC = re.compile(
    r"""(?:^|[;&|]\s*|\n)\s*cat\s+(?:
          <<-?\s*(?P<q1>['"]?)(?P<d1>\w+)(?P=q1)\s*>{1,2}\s*(?P<p1>[^\s;&|<>]+)
        | >{1,2}\s*(?P<p2>[^\s;&|<>]+)\s*<<-?\s*(?P<q2>['"]?)(?P<d2>\w+)(?P=q2)
        )[^\n]*\n""",
    re.X,
)


_SLASH_COMMAND = re.compile(r"\s*(?:/[A-Za-z][\w:.-]*|\?)(?:\s|$)")


def is_slash_command(text: str) -> bool:
    """Whether a user message is a command to the tool (``/compact``, ``/run make``),
    not a prompt; ``/etc/hosts is wrong`` is a prompt."""
    return _SLASH_COMMAND.match(text) is not None


class SessionImportError(InputError):
    """A session file that cannot be imported; ``str(error)`` is the message to show."""


@dataclass
class ImportedRun:
    """One imported turn (or several): the report, the run log and what the import noticed."""

    report: str
    log: dict
    meta: dict

    @property
    def warnings(self) -> list[str]:
        return self.meta["warnings"]

    def to_json(self) -> dict:
        return {"report": self.report, "log": self.log, "meta": self.meta}


def _wanted_turn(turn: Any) -> str | int:
    if turn in (None, "last"):
        return "last"
    if turn == "all":
        return "all"
    if isinstance(turn, str) and turn.strip().isdigit():
        turn = int(turn)
    if isinstance(turn, int) and not isinstance(turn, bool) and turn >= 1:
        return turn
    raise SessionImportError(f"turn: expected last, all or a prompt number from 1, got {turn!r}")


@dataclass
class Turn:
    """The events of one turn; a turn that is not kept drops everything."""

    keep: bool
    prompt: str | None = None
    events: list = field(default_factory=list)
    external: list = field(default_factory=list)
    written: list = field(default_factory=list)
    commands: list = field(default_factory=list)
    report: str | None = None
    unknown_exit: int = 0


class RunBuilder:
    """Collects the run log of the turns asked for while an importer reads a session."""

    def __init__(self, fmt: str, turn: Any = "last", cwd: str | None = None):
        self.fmt = fmt
        self.wanted = _wanted_turn(turn)
        self.cwd = cwd
        self.version: str | None = None
        self.warnings: list[str] = []
        self.skipped: dict[str, int] = {}
        self.prompts = 0
        self.turns: list[Turn] = []
        self.current = Turn(keep=self.wanted in ("all", "last"))  # before the first prompt
        self.turns.append(self.current)
        self.notes: dict[str, int] = {}

    # -- turns ---------------------------------------------------------------

    def prompt(self, text: str | None) -> Turn:
        """A real user prompt: the next turn starts here."""
        self.prompts += 1
        if self.wanted == "last":
            keep = True
            for t in self.turns:  # only the newest turn is ever needed
                t.keep = False
                t.events, t.external, t.written, t.commands = [], [], [], []
            self.turns = []
        else:
            keep = self.wanted == "all" or self.prompts == self.wanted
        self.current = Turn(keep=keep, prompt=text)
        self.turns.append(self.current)
        return self.current

    def message(self, text: Any, turn: Turn | None = None) -> None:
        """An agent message: the latest one of a turn is its report."""
        if isinstance(text, str) and text.strip():
            (turn or self.current).report = text

    # -- what the import noticed -------------------------------------------

    def warn(self, text: str) -> None:
        if text not in self.warnings:
            self.warnings.append(text)

    def note(self, text: str) -> None:
        """A warning that happens many times: counted, reported once."""
        self.notes[text] = self.notes.get(text, 0) + 1

    def skip(self, record_type: str) -> None:
        """An unknown record type, skipped."""
        self.skipped[record_type] = self.skipped.get(record_type, 0) + 1

    # -- paths ---------------------------------------------------------------

    def _paths(self, path: str) -> list[str]:
        out = [path]
        cwd = (self.cwd or "").rstrip("/\\")
        if cwd and path.startswith(cwd + "/"):
            out.append(path[len(cwd) + 1 :])
        elif cwd and "\\" in cwd and path.startswith(cwd + "\\"):
            out.append(path[len(cwd) + 1 :])
        elif path.startswith("./"):
            out.append(posixpath.normpath(path))
        return out

    # -- the mapping rules ---------------------------------------------------

    def command(
        self,
        command: str,
        output: str | None,
        exit_code: int | None,
        known: bool,
        turn: Turn | None = None,
        tool: str = SHELL_TOOL,
    ) -> None:
        """A shell command (or code cell for ``execute_code``) with its exit code when known."""
        t = turn or self.current
        if not isinstance(command, str):
            command = str(command)
        if not t.keep:
            return
        t.events.append({"tool": tool, "command": command, "output": output, "wrote": False})
        if known:
            t.commands.append({"command": command, "exit_code": exit_code, "output": output or ""})
        else:
            t.unknown_exit += 1
        self._shell_effects(t, command, exit_code if known else None, known)

    def _shell_effects(self, t: Turn, command: str, exit_code: Any, known: bool) -> None:
        ok = known and exit_code in (0, "0")
        failed = known and not ok
        m = _EXTERNAL_SHELL.search(command)
        if m:
            if ok:
                t.external.append({"tool": "shell", "args": {"command": command}})
            else:
                self.note(
                    f"a {' '.join(m.group(1).split()[:2])} command {'failed' if failed else 'has no exit code'}: "
                    "not recorded as an external action"
                )
        if failed:
            return
        for hm in _HEREDOC.finditer(command):
            delim = hm.group("d1") or hm.group("d2")
            path = hm.group("p1") or hm.group("p2")
            body_start = hm.end()
            end = re.search(rf"(?m)^\s*{re.escape(delim)}\s*$", command[body_start:])
            body = command[body_start : body_start + end.start()] if end else command[body_start:]
            path = path.strip("'\"")
            t.events.append({"tool": WRITE_TOOL, "path": path, "payload": body, "output": None, "wrote": True})
            self._written(t, path)

    def _written(self, t: Turn, path: str) -> None:
        for p in self._paths(path):
            if p not in t.written:
                t.written.append(p)

    def write(
        self,
        path: str | None,
        payload: str | None,
        output: str | None = None,
        tool: str = WRITE_TOOL,
        applied: bool = True,
        turn: Turn | None = None,
    ) -> dict | None:
        """A file written (whole content) or edited (new side): ``applied`` false for a
        write the tool refused, which is kept as an event that wrote nothing."""
        t = turn or self.current
        if not t.keep:
            return None
        ev = {"tool": tool, "payload": payload, "output": output, "wrote": bool(applied)}
        if path:
            ev["path"] = path
        t.events.append(ev)
        if applied and path:
            self._written(t, path)
        return ev

    def read(self, output: str | None, path: str | None = None, tool: str = READ_TOOL, turn: Turn | None = None) -> dict | None:
        """A read, search or listing, with the content it returned."""
        t = turn or self.current
        if not t.keep:
            return None
        ev = {"tool": tool, "output": output, "wrote": False}
        if path:
            ev["path"] = path
        t.events.append(ev)
        return ev

    def external(self, tool: str, args: Any, output: str | None = None, turn: Turn | None = None) -> None:
        """An action outside the machine (web, MCP, pushes), with its arguments."""
        t = turn or self.current
        if not t.keep:
            return
        t.external.append({"tool": tool, "args": args})
        t.events.append({"tool": tool, "output": output, "wrote": False})

    def other(self, tool: str, output: str | None, turn: Turn | None = None) -> None:
        """Any other tool call: only its output is kept."""
        t = turn or self.current
        if t.keep:
            t.events.append({"tool": tool, "output": output, "wrote": False})

    # -- the result ----------------------------------------------------------

    def finish(self, source: str) -> ImportedRun:
        if isinstance(self.wanted, int) and self.wanted > self.prompts:
            raise SessionImportError(
                f"{source}: --turn {self.wanted}: the session has {self.prompts} prompt"
                f"{'' if self.prompts == 1 else 's'}"
            )
        kept = [t for t in self.turns if t.keep]
        log = {"events": [], "external": [], "written": [], "commands": []}
        report = None
        unknown = 0
        for t in kept:
            log["events"] += t.events
            log["external"] += t.external
            for p in t.written:
                if p not in log["written"]:
                    log["written"].append(p)
            log["commands"] += t.commands
            unknown += t.unknown_exit
            if t.report is not None:
                report = t.report
        warnings = list(self.warnings)
        if unknown:
            warnings.append(
                f"{unknown} shell command{' has' if unknown == 1 else 's have'} no exit code in the session: "
                "kept as events only, not as command records (an unknown outcome is not a success)"
            )
        for text, n in self.notes.items():
            warnings.append(text if n == 1 else f"{text} ({n} times)")
        if self.skipped:
            kinds = ", ".join(f"{k} ({n})" for k, n in sorted(self.skipped.items()))
            total = sum(self.skipped.values())
            warnings.append(f"{total} record{'' if total == 1 else 's'} of unknown type skipped: {kinds}")
        if report is None:
            warnings.append("no agent message in the turn: the report is empty")
            report = ""
        turn_label = self.wanted if self.wanted != "last" else ("last" if self.prompts else "all")
        meta = {
            "format": self.fmt,
            "tool_version": self.version,
            "source": source,
            "cwd": self.cwd,
            "turn": turn_label,
            "prompts": self.prompts,
            "warnings": warnings,
        }
        return ImportedRun(report, log, meta)
