"""The ``vorlane`` command.

``vorlane check REPORT.md --log RUN.json`` extracts the claims of an agent's
final report, verifies each one against the run log of the turn and prints a
verdict table.  ``vorlane check --runs DIR_OR_JSONL`` does the same for many
runs at once and prints one summary row per run.

Exit status: 0 when no claim fails the ``--fail-on`` rule (by default: no
claim is contradicted), 1 when one does, 2 for bad usage, bad input or a
model that cannot be used.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import sys
import textwrap
import unicodedata
from concurrent.futures import ThreadPoolExecutor, as_completed
from typing import Callable, TextIO

from vorlane_core import __version__
from vorlane_core.runlog_file import InputError, batch_sources, load_json_file, parse_run, read_report

VERDICTS = ("verified", "unverified", "contradicted", "unchecked", "pre-existing")
FAIL_ON = {
    "contradicted": ("contradicted",),
    "unverified": ("contradicted", "unverified"),
    "never": (),
}
EXIT_OK, EXIT_FAIL, EXIT_BAD = 0, 1, 2

_VERDICT_COLOUR = {
    "verified": "32",  # green
    "unverified": "33",  # yellow
    "contradicted": "1;31",  # bold red
    "unchecked": "2",  # dim
    "pre-existing": "36",  # cyan
}
_VERDICT_W = max(map(len, VERDICTS))  # "pre-existing"
_KIND_W = len("external_action")
_DEFAULT_WIDTH = 100  # when stdout is no terminal and COLUMNS is unset


class CheckError(Exception):
    """A run that could not be checked; ``str(error)`` is the message to show."""


# ---------------------------------------------------------------------------
# Checking
# ---------------------------------------------------------------------------


def _engine() -> tuple[Callable, Callable, str]:
    """extract_claims, verify and the model URL, from the compiled modules."""
    try:
        from vorlane_core import extract, verify
    except ImportError as e:
        raise CheckError(f"cannot load the checker modules: {e}") from None
    url = getattr(extract, "LLM_URL", None)
    if url is None:
        url = os.environ.get("VESKARD_LLM_URL", "http://127.0.0.1:8000/v1/chat/completions")
    return extract.extract_claims, verify.verify, url


def _one_line(text: str) -> str:
    """``text`` on one line, with runs of white space as one space and control
    characters (which could drive the terminal) written as escapes."""
    text = " ".join(text.split())
    if text.isprintable():
        return text
    return "".join(ch if ch.isprintable() or unicodedata.category(ch) != "Cc" else ascii(ch)[1:-1] for ch in text)


def _short(text: str, width: int = 60) -> str:
    return _shorten(_one_line(text), width)


def check_run(report: str, log: dict, use_llm: bool, engine: tuple) -> list[dict]:
    """The claims of ``report`` with their verdicts against ``log``."""
    extract_claims, verify, url = engine
    try:
        claims = extract_claims(report, use_llm=use_llm)
    except TimeoutError as e:
        raise CheckError(_model_message("the model did not answer in time", e, url)) from None
    except OSError as e:  # unreachable, refused, bad URL, HTTP error status
        raise CheckError(_model_message("the model request failed", e, url)) from None
    except (ValueError, KeyError, IndexError, TypeError, RuntimeError) as e:
        if not use_llm:
            raise
        if isinstance(e, KeyError) and e.args:
            e = ValueError(f"no {e.args[0]!r} in the reply")
        raise CheckError(_model_message("the model's reply is unusable", e, url)) from None
    rows = []
    for n, claim in enumerate(claims, start=1):
        try:
            verdict, note = verify(claim, log)
        except Exception as e:  # a log the checks above let through
            raise CheckError(
                f"claim {n} ({_short(claim['text'])!r}) could not be verified: {type(e).__name__}: {e}"
            ) from None
        rows.append(
            {
                "text": claim["text"],
                "kind": claim["kind"],
                "targets": list(claim["targets"]),
                "verdict": verdict,
                "note": note,
            }
        )
    return rows


def _model_message(what: str, e: BaseException, url: str) -> str:
    detail = str(e) or type(e).__name__
    if url in detail:
        return f"{what}: {detail}"
    return f"{what} at {url}: {detail}"


def summarize(rows: list[dict]) -> dict:
    counts = {"total": len(rows)}
    counts.update({v: 0 for v in VERDICTS})
    for r in rows:
        counts[r["verdict"]] = counts.get(r["verdict"], 0) + 1
    return counts


def _fails(summary: dict, fail_on: str) -> bool:
    return any(summary.get(v, 0) for v in FAIL_ON[fail_on])


# ---------------------------------------------------------------------------
# Terminal output
# ---------------------------------------------------------------------------


def _clusters(s: str) -> list[tuple[str, int]]:
    """``s`` as (characters, columns) pieces, each a base character with the
    combining marks and variation selectors after it.  Wide East Asian
    characters take two columns, as does a symbol shown as an emoji (followed
    by U+FE0F); marks and format characters take none."""
    out: list[tuple[str, int]] = []
    for ch in s:
        if ch == "\ufe0f" and out:
            text, w = out[-1]
            out[-1] = (text + ch, max(w, 2) if w else 0)
        elif out and (unicodedata.combining(ch) or unicodedata.category(ch) in ("Mn", "Me", "Cf")):
            text, w = out[-1]
            out[-1] = (text + ch, w)
        elif unicodedata.category(ch) in ("Mn", "Me", "Cf"):
            out.append((ch, 0))
        else:
            out.append((ch, 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1))
    return out


def _cell_width(s: str) -> int:
    """Columns that ``s`` takes on a terminal."""
    if s.isascii():
        return len(s)
    return sum(w for _, w in _clusters(s))


def _shorten(s: str, width: int) -> str:
    """``s`` cut to at most ``width`` columns, ending in "…" when cut."""
    if _cell_width(s) <= width:
        return s
    out, w = [], 0
    for text, cw in _clusters(s):
        if w + cw > width - 1:
            break
        out.append(text)
        w += cw
    return "".join(out).rstrip() + "…"


def _shorten_left(s: str, width: int) -> str:
    """``s`` cut to at most ``width`` columns from the left (the end of a path is what tells runs apart)."""
    if _cell_width(s) <= width:
        return s
    out, w = [], 0
    for text, cw in reversed(_clusters(s)):
        if w + cw > width - 1:
            break
        out.append(text)
        w += cw
    return "…" + "".join(reversed(out))


def _pad(s: str, width: int) -> str:
    return s + " " * max(0, width - _cell_width(s))


class _Style:
    def __init__(self, enabled: bool):
        self.enabled = enabled

    def __call__(self, s: str, code: str) -> str:
        return f"\x1b[{code}m{s}\x1b[0m" if self.enabled and code else s

    def verdict(self, v: str, width: int = 0) -> str:
        return self(v, _VERDICT_COLOUR.get(v, "")) + " " * max(0, width - len(v))


def _colour_wanted(stream: TextIO) -> bool:
    if os.environ.get("NO_COLOR", "") != "" or os.environ.get("TERM") == "dumb":
        return False
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def _width(stream: TextIO) -> int:
    try:
        if stream.isatty():
            return shutil.get_terminal_size((_DEFAULT_WIDTH, 24)).columns
    except (AttributeError, ValueError):
        pass
    try:
        return int(os.environ["COLUMNS"])
    except (KeyError, ValueError):
        return _DEFAULT_WIDTH


def _summary_text(summary: dict, style: _Style) -> str:
    n = summary["total"]
    parts = [f"{summary[v]} {style.verdict(v) if summary[v] else v}" for v in VERDICTS]
    return f"{n} claim{'s' if n != 1 else ''}: " + ", ".join(parts)


def render_claims(rows: list[dict], width: int, style: _Style) -> list[str]:
    """One row per claim: verdict, kind, claim text (cut to fit) and note.

    When every note fits beside its claim the table has one line per claim;
    otherwise each note goes on the line below its claim, wrapped to the width."""
    lead = _VERDICT_W + 2 + _KIND_W + 2
    room = max(20, width - lead)
    texts = [_one_line(r["text"]) for r in rows]
    notes = [_one_line(r["note"]) for r in rows]
    longest_claim = max(map(_cell_width, texts), default=0)
    longest_note = max(map(_cell_width, notes), default=0)
    claim_w = min(longest_claim, room - longest_note - 2)
    one_line = claim_w >= min(longest_claim, 40)
    header = _pad("VERDICT", _VERDICT_W) + "  " + _pad("KIND", _KIND_W) + "  "
    header += (_pad("CLAIM", claim_w) + "  NOTE") if one_line else "CLAIM / NOTE"
    lines = [style(header.rstrip(), "1")]
    for r, text, note in zip(rows, texts, notes):
        head = style.verdict(r["verdict"], _VERDICT_W) + "  " + _pad(str(r["kind"]), _KIND_W) + "  "
        if one_line:
            lines.append(head + _pad(_shorten(text, claim_w), claim_w) + "  " + note)
        else:
            lines.append(head + _shorten(text, room))
            for part in textwrap.wrap(note, room - 2, break_on_hyphens=False, break_long_words=False):
                lines.append(" " * (lead + 2) + part)
    return lines


def _common_dir(names: list[str]) -> str:
    """The directory that all run names lie in ("" when there is none)."""
    dirs = [os.path.dirname(n) for n in names]
    if not all(dirs):
        return ""
    try:
        return os.path.commonpath(dirs)
    except ValueError:  # absolute and relative names mixed
        return ""


def render_batch(results: list[dict], totals: dict, width: int, style: _Style) -> list[str]:
    """One row per run (name, claim count, count per verdict), then the totals.

    Runs are named relative to the directory they all lie in."""
    heads = ["CLAIMS"] + [v.upper() for v in VERDICTS]
    good = [r for r in results if "error" not in r]
    total_label = "TOTAL" if len(good) == len(results) else f"TOTAL ({len(good)} of {len(results)} runs)"
    common = _common_dir([r["name"] for r in results])
    names = [_one_line(os.path.relpath(r["name"], common) if common else r["name"]) for r in results]
    room = width - sum(len(h) + 2 for h in heads)
    name_w = min(max([_cell_width(n) for n in names] + [len("RUN"), len(total_label)]), max(16, room))
    col_w = [len(h) for h in heads]

    def numbers(summary: dict) -> str:
        cells = [str(summary["total"]).rjust(col_w[0])]
        for v, w in zip(VERDICTS, col_w[1:]):
            n = summary[v]
            cells.append(style(str(n).rjust(w), _VERDICT_COLOUR[v] if n else ""))
        return "  ".join(cells)

    lines = [style(_pad("RUN", name_w) + "  " + "  ".join(heads), "1")]
    for r, name in zip(results, names):
        name = _pad(_shorten_left(name, name_w), name_w)
        if "error" in r:
            lines.append(name + "  " + style("error: ", "1;31") + _one_line(r["error"]))
        else:
            lines.append(name + "  " + numbers(r["summary"]))
    lines.append(style(_pad(total_label, name_w), "1") + "  " + numbers(totals))
    return lines


class _Progress:
    """A one-line progress bar on a terminal; silent otherwise."""

    def __init__(self, stream: TextIO, total: int):
        try:
            self.on = stream.isatty() and total > 0
        except (AttributeError, ValueError):
            self.on = False
        self.stream, self.total, self.done = stream, total, 0
        self.width = min(40, max(10, shutil.get_terminal_size((80, 24)).columns - 30))
        self._draw()

    def step(self) -> None:
        self.done += 1
        self._draw()

    def _draw(self) -> None:
        if not self.on:
            return
        filled = self.width * self.done // self.total
        bar = "#" * filled + "-" * (self.width - filled)
        self.stream.write(f"\rchecking [{bar}] {self.done}/{self.total} runs")
        self.stream.flush()

    def close(self) -> None:
        if self.on:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


# ---------------------------------------------------------------------------
# The check command
# ---------------------------------------------------------------------------


def _error(msg: str) -> None:
    print(f"vorlane: {_one_line(msg)}", file=sys.stderr)


def _print_json(doc: dict) -> None:
    sys.stdout.write(json.dumps(doc, ensure_ascii=False, indent=2) + "\n")


def _check_one(args: argparse.Namespace) -> int:
    try:
        run = parse_run(load_json_file(args.log), args.log)
        if args.report is not None:
            report = read_report(args.report)
        elif run.report is not None:
            report = run.report
        else:
            raise InputError(f'{args.log}: holds only a run log; give the REPORT file too (or use {{"report": ..., "log": ...}})')
        rows = check_run(report, run.log, args.llm, _engine())
    except (InputError, CheckError) as e:
        _error(str(e))
        return EXIT_BAD
    summary = summarize(rows)
    if args.json:
        _print_json({"claims": rows, "summary": summary})
    else:
        style = _Style(_colour_wanted(sys.stdout))
        lines = render_claims(rows, _width(sys.stdout), style) if rows else ["no claims found in the report"]
        lines += ["", _summary_text(summary, style)]
        sys.stdout.write("\n".join(lines) + "\n")
    return EXIT_FAIL if _fails(summary, args.fail_on) else EXIT_OK


def _check_source(src, use_llm: bool, engine: tuple) -> dict:
    try:
        run = src.load()
        rows = check_run(run.report, run.log, use_llm, engine)
    except (InputError, CheckError) as e:
        msg = str(e)
        if msg.startswith(src.name + ": "):
            msg = msg[len(src.name) + 2 :]
        return {"name": src.name, "error": msg}
    return {"name": src.name, "claims": rows, "summary": summarize(rows)}


def _check_batch(args: argparse.Namespace) -> int:
    try:
        sources = [s for path in args.runs for s in batch_sources(path)]
        engine = _engine()
    except (InputError, CheckError) as e:
        _error(str(e))
        return EXIT_BAD
    if not sources:
        _error("no runs found in " + ", ".join(args.runs))
        return EXIT_BAD
    jobs = args.jobs or os.cpu_count() or 1
    results: list[dict | None] = [None] * len(sources)
    progress = _Progress(sys.stderr, len(sources))
    pool = ThreadPoolExecutor(max_workers=min(jobs, len(sources)))
    try:
        futures = {pool.submit(_check_source, s, args.llm, engine): i for i, s in enumerate(sources)}
        for f in as_completed(futures):
            results[futures[f]] = f.result()
            progress.step()
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
        progress.close()

    totals = summarize([row for r in results if "claims" in r for row in r["claims"]])
    bad = sum(1 for r in results if "error" in r)
    if args.json:
        _print_json({"runs": results, "summary": totals, "bad_runs": bad})
    else:
        style = _Style(_colour_wanted(sys.stdout))
        lines = render_batch(results, totals, _width(sys.stdout), style)
        common = _common_dir([r["name"] for r in results])
        lines += ["", f"{len(results)} run{'s' if len(results) != 1 else ''}"
                  + (f" in {common}" if common else "")
                  + (f", {bad} could not be checked" if bad else "") + "; " + _summary_text(totals, style)]
        sys.stdout.write("\n".join(lines) + "\n")
    if bad:
        return EXIT_BAD
    return EXIT_FAIL if _fails(totals, args.fail_on) else EXIT_OK


def _positive_int(s: str) -> int:
    try:
        n = int(s)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {s!r}") from None
    if n < 1:
        raise argparse.ArgumentTypeError(f"expected at least 1, got {n}")
    return n


def build_parser() -> argparse.ArgumentParser:
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
            "2 for bad usage, bad input or a model that cannot be used."
        ),
    )
    check.add_argument("report", nargs="?", metavar="REPORT", help="the agent's final report (Markdown or text)")
    check.add_argument("--log", metavar="RUN.json", help="the run log, or a run holding report and log")
    check.add_argument(
        "--runs",
        nargs="+",
        metavar="DIR_OR_JSONL",
        help="check many runs: a directory of .json runs, a .jsonl file with one run per line, or .json run files",
    )
    check.add_argument("-j", "--jobs", type=_positive_int, metavar="N", help="runs checked at once with --runs (default: all cores)")
    check.add_argument("--json", action="store_true", help="print one JSON document instead of the table")
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
    check.set_defaults(parser=check)
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:  # --help, --version, usage errors
        return e.code if isinstance(e.code, int) else EXIT_BAD
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="backslashreplace")
        except (AttributeError, ValueError):
            pass

    check = args.parser
    if args.runs is not None:
        if args.report is not None or args.log is not None:
            check.print_usage(sys.stderr)
            _error("check: --runs takes no REPORT and no --log")
            return EXIT_BAD
        run = _check_batch
    elif args.log is None:
        check.print_usage(sys.stderr)
        _error("check: give the run log with --log RUN.json (or a batch with --runs)")
        return EXIT_BAD
    else:
        run = _check_one

    try:
        code = run(args)
        sys.stdout.flush()
        return code
    except BrokenPipeError:
        # The reader went away (| head): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
