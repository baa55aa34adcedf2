"""``--format github``: GitHub Actions workflow commands.

A claim that fails the ``--fail-on`` rule becomes an ``::error`` annotation
and every other claim that is not verified a ``::warning``, located at the
claim in the report file; a run that could not be checked is an ``::error``
on its file.  When ``GITHUB_STEP_SUMMARY`` names a file, the Markdown of
``--format markdown`` is appended to it.

Escaping follows the runner's rules: in the message "%", CR and LF become
%25, %0D and %0A; in a property value ":" and "," also become %3A and %2C.
"""

from __future__ import annotations

import os
import sys
from typing import Any, Mapping

from vorlane_core.check import FAIL_ON
from vorlane_core.cli.formats.base import Output
from vorlane_core.cli.formats.markdown import BatchMarkdown, single_markdown
from vorlane_core.cli.table import summary_text
from vorlane_core.cli.terminal import Style, one_line, visible


def escape_data(s: str) -> str:
    return s.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")


def escape_property(s: str) -> str:
    return escape_data(s).replace(":", "%3A").replace(",", "%2C")


def command(name: str, props: Mapping[str, Any], message: str) -> str:
    """One workflow command line: ``::name key=value,...::message``."""
    shown = ",".join(f"{k}={escape_property(str(v))}" for k, v in props.items() if v is not None)
    return f"::{name}{' ' + shown if shown else ''}::{escape_data(message)}"


def location(source: Mapping[str, Any], position: Mapping[str, Any] | None) -> dict[str, Any]:
    """The file, line and column properties of an annotation.  A report held
    inside a run file has no line of that file (its positions count in the
    report text), except a run on one line of a .jsonl file: that line."""
    props: dict[str, Any] = {"file": source["path"]}
    if source.get("embedded") or position is None:
        props["line"] = source.get("line")
        return props
    props["line"] = position["line"]
    props["endLine"] = position["end_line"]
    if position["line"] == position["end_line"]:
        props["col"] = position["column"]
        props["endColumn"] = position["end_column"]
    return props


class GithubOutput(Output):
    def _annotate(self, result: Mapping[str, Any]) -> None:
        source = self.source_of(result)
        out = []
        if "error" in result:
            props = {**location(source, None), "title": "vorlane: run could not be checked"}
            out.append(command("error", props, visible(str(result["error"]))))
        for c in result.get("claims", ()):
            if c["verdict"] == "verified":
                continue
            level = "error" if self.fails_gate(c["verdict"]) else "warning"
            props = {**location(source, c.get("position")), "title": f"vorlane: {c['verdict']} claim"}
            message = f"{one_line(c['text'])}\n{c['verdict']}: {one_line(c['note'])}"
            out.append(command(level, props, message))
        if out:
            self.stream.write("\n".join(out) + "\n")

    def _step_summary(self, text: str) -> None:
        path = os.environ.get("GITHUB_STEP_SUMMARY")
        if not path:
            return
        try:
            with open(path, "a", encoding="utf-8", errors="backslashreplace") as f:
                f.write(text + "\n")
        except OSError as e:
            print(f"vorlane: cannot write the step summary to {path}: {e.strerror or e}", file=sys.stderr)

    def single(self, result: Mapping[str, Any]) -> None:
        self._annotate(result)
        self.stream.write(summary_text(result["summary"], Style(False)) + "\n")
        self._step_summary(single_markdown(result, self.source_of(result)["path"], self.fail_on))

    def batch_start(self) -> None:
        self.summary = BatchMarkdown(self.fail_on, FAIL_ON.get(self.fail_on) or ("contradicted",))
        self.runs = 0

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self._annotate(result)
        if os.environ.get("GITHUB_STEP_SUMMARY"):
            self.summary.add(result)
        self.runs += 1

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        tail = f", {bad} could not be checked" if bad else ""
        self.stream.write(f"{self.runs} runs{tail}; " + summary_text(totals, Style(False)) + "\n")
        self._step_summary(self.summary.text(totals, bad, self.runs))
