"""The command line of ``vorlane``."""

from __future__ import annotations

import argparse
from typing import Any, Mapping

from vorlane_core import __version__
from vorlane_core.check import FAIL_ON
from vorlane_core.cli.formats import FORMATS
from vorlane_core.cli.sessions import add_import_parser, add_session_options


def _positive_int(s: str) -> int:
    try:
        n = int(s)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {s!r}") from None
    if n < 1:
        raise argparse.ArgumentTypeError(f"expected at least 1, got {n}")
    return n


def _positive(unit: str):
    """An argument type: a finite number above 0, counted in ``unit``."""

    def parse(s: str) -> float:
        try:
            n = float(s)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a number of {unit}, got {s!r}") from None
        if not 0 < n < float("inf"):
            raise argparse.ArgumentTypeError(f"expected a number of {unit} above 0, got {s}")
        return n

    return parse


_positive_seconds = _positive("seconds")
_positive_mb = _positive("MiB")


def build_parser(defaults: Mapping[str, Any] | None = None) -> argparse.ArgumentParser:
    """The parser of the command line; ``defaults`` (from a settings file)
    replace the built-in defaults of ``check``."""
    parser = argparse.ArgumentParser(
        prog="vorlane",
        description="Check what an AI coding agent says it did against what its run actually did.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    check = sub.add_parser(
        "check",
        help="verify the claims of a report against its run log",
        description=(
            "Extract the claims of an agent's final report and verify each against the run log "
            "of the turn. RUN.json holds the run log itself, or {\"report\": ..., \"log\": {...}} "
            "(the key \"L\" may stand for \"log\"), in which case REPORT may be left out."
        ),
        epilog=(
            "exit status: 0 when no claim fails the --fail-on rule, 1 when one does, "
            "2 for bad usage, bad input or a model that cannot be used. "
            "settings (fail-on, format, jobs, model, llm-timeout) may be kept under [tool.vorlane] "
            "in pyproject.toml or in a vorlane.toml, found upward from the current folder; "
            "the command line overrides them."
        ),
    )
    check.add_argument(
        "report",
        nargs="?",
        metavar="REPORT",
        help="the agent's final report (Markdown or text), a run file holding report and log, or an agent session file; - reads standard input",
    )
    check.add_argument("--log", metavar="RUN.json", help="the run log, a run holding report and log, or an agent session file; - reads standard input")
    check.add_argument(
        "--runs",
        nargs="+",
        metavar="DIR_OR_JSONL",
        help=(
            "check many runs: a directory of .json runs and session files, a .jsonl file with one run per line "
            "(- for standard input), run files or session files"
        ),
    )
    check.add_argument("-j", "--jobs", type=_positive_int, metavar="N", help="runs checked at once with --runs (default: all cores)")
    check.add_argument(
        "--format",
        choices=tuple(FORMATS),
        default="table",
        help="what to print: the verdict table (default), one JSON document, JSON Lines (one line per run as it "
        "is checked: the format for big batches, see -o), GitHub workflow commands, SARIF 2.1.0, JUnit XML, "
        "a Markdown table or one self-contained HTML page (see docs/output.md)",
    )
    check.add_argument(
        "--full",
        action="store_true",
        help="in the table, every claim whole and every column at any width; with --runs, every claim of every run",
    )
    check.add_argument(
        "-o",
        "--output",
        metavar="FILE",
        help=(
            "write to FILE instead of standard output; with --runs and --format jsonl the results are "
            "appended and runs already in FILE are skipped, so a stopped batch resumes where it stopped"
        ),
    )
    check.add_argument(
        "--max-input-mb",
        type=_positive_mb,
        metavar="MB",
        help="refuse any input file (or .jsonl line) larger than this (default: $VORLANE_MAX_INPUT_MB, else 512)",
    )
    check.add_argument("--json", dest="format", action="store_const", const="json", help="same as --format json")
    check.add_argument(
        "--llm",
        action="store_true",
        help="classify claims with the chat-completions model at $VESKARD_LLM_URL (default: word heuristics, offline)",
    )
    check.add_argument(
        "--fail-on",
        choices=tuple(FAIL_ON),
        default="contradicted",
        help="exit 1 when a claim is contradicted (default), contradicted or unverified, or never",
    )
    check.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors; the exit status tells the outcome")
    check.add_argument(
        "--color",
        choices=("auto", "always", "never"),
        default="auto",
        help="colour the table: auto (default: on a terminal, unless NO_COLOR is set or FORCE_COLOR asks for it), always or never",
    )
    check.add_argument(
        "--llm-timeout",
        type=_positive_seconds,
        metavar="SECONDS",
        help="give up on a model request after this many seconds (default: 300)",
    )
    check.add_argument(
        "--model",
        metavar="NAME",
        help="the model to ask with --llm (default: $VESKARD_LLM_MODEL)",
    )
    add_session_options(check)
    check.set_defaults(parser=check, **(defaults or {}))
    add_import_parser(sub)
    return parser
