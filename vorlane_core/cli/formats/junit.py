"""``--format junit``: JUnit XML for CI test reports.

One ``<testsuite>`` per run (per report), one ``<testcase>`` per claim; a claim
that fails the ``--fail-on`` rule is a ``<failure>``, a run that could not be
checked a suite holding one ``<error>``.  The verdict and note of every claim
are in its ``<system-out>``.  Characters that XML 1.0 cannot hold (control
characters, lone surrogates) are written as escapes such as ``\\x1b``.  The
document is written as the runs arrive.
"""

from __future__ import annotations

import re
from typing import Any, Mapping
from xml.sax.saxutils import escape, quoteattr

from vorlane_core.cli.formats.base import Output

_NOT_XML = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def xml_safe(text: Any) -> str:
    return _NOT_XML.sub(lambda m: ascii(m.group())[1:-1], str(text))


def attr(text: Any) -> str:
    return quoteattr(xml_safe(text), {"\n": "&#10;", "\r": "&#13;", "\t": "&#9;"})


def text(s: Any) -> str:
    return escape(xml_safe(s))


class JunitOutput(Output):
    def _suite(self, result: Mapping[str, Any]) -> str:
        source = self.source_of(result)
        name = result.get("name") or source["path"]
        if "error" in result:
            return (
                f'  <testsuite name={attr(name)} tests="1" failures="0" errors="1" skipped="0">\n'
                f'    <testcase classname={attr(name)} name="check">\n'
                f'      <error message={attr(result["error"])} type="input"/>\n'
                "    </testcase>\n  </testsuite>\n"
            )
        claims = result["claims"]
        failures = sum(1 for c in claims if self.fails_gate(c["verdict"]))
        out = [f'  <testsuite name={attr(name)} tests="{len(claims)}" failures="{failures}" errors="0" skipped="0">\n']
        for n, c in enumerate(claims, start=1):
            pos = c.get("position")
            where = ""
            if pos is not None:
                where = f"line {pos['line']}" if not source["embedded"] else f"report line {pos['line']}"
            label = f"claim {n}" + (f" ({where})" if where else "") + f": {c['text']}"
            line = pos["line"] if pos is not None and not source["embedded"] else source.get("line")
            line_attr = f' line="{line}"' if line else ""
            out.append(f"    <testcase classname={attr(name)} name={attr(label)} file={attr(source['path'])}{line_attr}>\n")
            if self.fails_gate(c["verdict"]):
                out.append(f"      <failure message={attr(c['note'])} type={attr(c['verdict'])}>{text(c['verdict'] + ': ' + c['note'])}</failure>\n")
            out.append(f"      <system-out>{text(c['verdict'] + ': ' + c['note'])}</system-out>\n")
            out.append("    </testcase>\n")
        out.append("  </testsuite>\n")
        return "".join(out)

    def single(self, result: Mapping[str, Any]) -> None:
        s = result["summary"]
        failures = sum(1 for c in result["claims"] if self.fails_gate(c["verdict"]))
        self.stream.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        self.stream.write(f'<testsuites name="vorlane" tests="{s["total"]}" failures="{failures}" errors="0">\n')
        self.stream.write(self._suite(result))
        self.stream.write("</testsuites>\n")

    def batch_start(self) -> None:
        self.stream.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites name="vorlane">\n')

    def batch_run(self, result: Mapping[str, Any]) -> None:
        self.stream.write(self._suite(result))

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        self.stream.write("</testsuites>\n")
