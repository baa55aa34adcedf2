"""Agent session files on the command line.

``vorlane check SESSION_FILE`` and ``--log SESSION_FILE`` take a session file
of any supported tool where a run file is expected: a file that is not a run
file is detected and imported (``--from`` names the format, ``--turn`` the
turn).  ``vorlane import SESSION_FILE [-o RUN.json]`` writes the imported run
so that it can be read or edited.  ``--runs`` takes session files mixed with
run files.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Any, Iterator

from vorlane_core.cli.output import EXIT_BAD, EXIT_OK, error, warn
from vorlane_core.importers import FORMATS, detect_format, import_session
from vorlane_core.runlog_file import Batch, InputError, Run, RunSource

# Files of a directory given to --runs that may be sessions (besides .json).
SESSION_EXTENSIONS = (".jsonl", ".traj", ".md", ".log")


def _turn(s: str) -> str | int:
    if s in ("last", "all"):
        return s
    if s.isdigit() and int(s) >= 1:
        return int(s)
    raise argparse.ArgumentTypeError(f"expected last, all or a prompt number from 1, got {s!r}")


def add_session_options(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--from",
        dest="from_format",
        metavar="FORMAT",
        help=f"the format of the session files (default: detected): {', '.join(FORMATS)}",
    )
    p.add_argument(
        "--turn",
        type=_turn,
        default="last",
        metavar="last|all|N",
        help="the turn of a session to check: the last prompt to the end (default), the whole session, or the N-th prompt's turn",
    )


def add_import_parser(sub) -> None:
    p = sub.add_parser(
        "import",
        help="read an agent session file as a run (report + run log)",
        description=(
            "Read the session file of an agent tool and write the run the checker sees: "
            '{"report", "log", "meta"}, meta naming the format, the tool version, the turn and '
            "what the import could not map."
        ),
        epilog="exit status: 0 when imported, 2 when the file cannot be imported.",
    )
    p.add_argument("session", metavar="SESSION_FILE", help="a session file (or a Cline task folder)")
    p.add_argument("-o", "--output", metavar="RUN.json", help="write the run here instead of standard output")
    add_session_options(p)
    p.set_defaults(parser=p)


def _is_session(path: str) -> bool:
    # Only regular files and folders are sniffed: reading the head of a pipe
    # (standard input as /dev/stdin) would take it from the run-file reader.
    if not (os.path.isfile(path) or os.path.isdir(path)):
        return False
    try:
        detect_format(path)
    except (InputError, OSError, ValueError, RecursionError):
        return False
    return True


def import_if_session(path: str, args: argparse.Namespace) -> Run | None:
    """The run of ``path`` when it is a session file (or ``--from`` says it is one),
    else None: the file is then read as a run file.  What the import noticed is
    kept in ``args.import_meta`` for the output and the warnings."""
    if path == "-" or (args.from_format is None and not _is_session(path)):
        return None
    imported = import_session(path, fmt=args.from_format, turn=args.turn)
    args.import_meta, args.import_source = imported.meta, path
    return Run(imported.report, imported.log)


def _tell(name: str, meta: dict | None, args: argparse.Namespace) -> None:
    # In the JSON output the warnings are in the document; in the table they go to stderr.
    if meta and getattr(args, "format", "table") != "json":
        for w in meta["warnings"]:
            warn(f"{name}: {w}")


def warn_import(args: argparse.Namespace) -> None:
    _tell(getattr(args, "import_source", ""), getattr(args, "import_meta", None), args)


def warn_batch_import(args: argparse.Namespace, results: list) -> None:
    for r in results:
        _tell(r["name"], r.get("import"), args)


class SessionSource(RunSource):
    """One run of a batch: a session file (imported) or a run file.

    ``fmt`` and ``turn`` are those of the command line; what the import
    noticed is left in ``meta`` for the result row."""

    def __init__(self, path: str, fmt: str | None, turn: Any):
        super().__init__(path, path)
        self.fmt, self.turn, self.meta = fmt, turn, None

    def load(self, max_bytes: int | None = None) -> Run:
        if self.fmt is None and not _is_session(self.path):
            return super().load(max_bytes)
        imported = import_session(self.path, fmt=self.fmt, turn=self.turn)
        self.meta = imported.meta
        return Run(imported.report, imported.log)


def _is_cline_folder(path: str) -> bool:
    return os.path.isdir(path) and os.path.isfile(os.path.join(path, "ui_messages.json"))


def _folder_sources(path: str, fmt: str | None, turn: Any) -> list[RunSource]:
    """The runs of a folder: its .json files (runs or sessions), its other
    session files and its Cline task folders, by name; not recursive."""
    try:
        names = sorted(os.listdir(path))
    except OSError as e:
        raise InputError(f"{path}: cannot list: {e.strerror or e}") from None
    out: list[RunSource] = []
    for n in names:
        p = os.path.join(path, n)
        if n.endswith(".json") and not os.path.isdir(p):
            out.append(SessionSource(p, fmt, turn))  # special files are refused when read
        elif _is_cline_folder(p):
            out.append(SessionSource(p, fmt, turn))
        elif n.endswith(SESSION_EXTENSIONS) and os.path.isfile(p) and (fmt or _is_session(p)):
            out.append(SessionSource(p, fmt, turn))
    return out


class SessionBatch:
    """The runs at the paths of ``--runs``: what :class:`~vorlane_core.runlog_file.Batch`
    takes (folders of .json runs, .jsonl files, standard input, .json files),
    with session files of any supported tool mixed in."""

    def __init__(self, paths: list[str], fmt: str | None, turn: Any):
        self._parts: list[Batch | list[RunSource]] = []
        for path in paths:
            if path == "-" or (path.endswith(".jsonl") and not (fmt or _is_session(path))):
                self._parts.append(Batch([path]))  # JSON Lines of runs
            elif _is_cline_folder(path):
                self._parts.append([SessionSource(path, fmt, turn)])
            elif os.path.isdir(path):
                self._parts.append(_folder_sources(path, fmt, turn))
            elif not os.path.exists(path):
                raise InputError(f"{path}: no such file or directory")
            elif path.endswith(".json") or fmt or _is_session(path):
                self._parts.append([SessionSource(path, fmt, turn)])
            else:
                raise InputError(
                    f"{path}: expected a directory of runs, a .jsonl file, a .json run or a session file of a known format"
                )

    @property
    def count(self) -> int | None:
        """How many runs there are, when known without reading (no .jsonl file)."""
        counts = [len(p) if isinstance(p, list) else p.count for p in self._parts]
        return None if None in counts else sum(c for c in counts if c is not None)

    def sources(self, max_bytes: int | None = None) -> Iterator[RunSource]:
        for part in self._parts:
            if isinstance(part, list):
                yield from part
            else:
                yield from part.sources(max_bytes)


def run_import(args: argparse.Namespace) -> int:
    try:
        imported = import_session(args.session, fmt=args.from_format, turn=args.turn)
    except InputError as e:
        error(str(e))
        return EXIT_BAD
    for w in imported.meta["warnings"]:
        print(f"vorlane: warning: {args.session}: {w}", file=sys.stderr)
    text = json.dumps(imported.to_json(), ensure_ascii=False, indent=2) + "\n"
    if args.output in (None, "-"):
        sys.stdout.write(text)
        return EXIT_OK
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as e:
        error(f"{args.output}: cannot write: {e.strerror or e}")
        return EXIT_BAD
    return EXIT_OK
