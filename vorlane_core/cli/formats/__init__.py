"""Output formats of ``vorlane check``.

Every format is an :class:`~vorlane_core.cli.formats.base.Output`: it is told
about one checked run (``single``), or about a batch as it goes (``batch_start``,
one ``batch_run`` per run in input order, ``batch_end``).  The command picks
the class from :data:`FORMATS` by the ``--format`` name.
"""

from __future__ import annotations

import argparse

from vorlane_core.cli.formats.base import Output, Silent
from vorlane_core.cli.formats.github import GithubOutput
from vorlane_core.cli.formats.html import HtmlOutput
from vorlane_core.cli.formats.json_doc import JsonOutput
from vorlane_core.cli.formats.junit import JunitOutput
from vorlane_core.cli.formats.markdown import MarkdownOutput
from vorlane_core.cli.formats.sarif import SarifOutput
from vorlane_core.cli.formats.jsonl import JsonlOutput
from vorlane_core.cli.formats.table import TableOutput

FORMATS: dict[str, type[Output]] = {
    "table": TableOutput,
    "json": JsonOutput,
    "github": GithubOutput,
    "sarif": SarifOutput,
    "junit": JunitOutput,
    "markdown": MarkdownOutput,
    "html": HtmlOutput,
    "jsonl": JsonlOutput,
}

__all__ = ["FORMATS", "Output", "output_for"]


def output_for(args: argparse.Namespace) -> type[Output]:
    """The format the command line asks for (nothing at all with --quiet)."""
    if getattr(args, "quiet", False):
        return Silent
    return FORMATS[args.format]
