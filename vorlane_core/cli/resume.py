"""Resuming a batch: what an earlier run of the job wrote to its JSON Lines output.

Every complete line of the output file is one run's result (see
``formats/jsonl.py``).  The runs named there are skipped when the job is run
again, and their counts go into the job's totals and exit status, so that a
job stopped and resumed ends as if it had run straight through.

A last line without its line end is what a job killed in the middle of a
write leaves: it is cut off (that run is checked again) unless it is a
whole result that only lacks the line end.  Any other line that is not a
result refuses the file: it is not this command's output, and appending to
it would damage it.
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass, field
from typing import Any

from vorlane_core.check import add_summaries
from vorlane_core.input_files import InputError


_LONGEST = 1 << 28  # no result line comes near this; a foreign file's may


@dataclass
class Written:
    names: set[str] = field(default_factory=set)
    totals: dict[str, int] = field(default_factory=dict)
    bad: int = 0
    needs_newline: bool = False  # the file ends in a whole result without its line end

    @property
    def count(self) -> int:
        return len(self.names)


def _result(line: bytes) -> dict[str, Any] | None:
    try:
        obj = json.loads(line)
    except ValueError:
        return None
    if not isinstance(obj, dict) or not isinstance(obj.get("name"), str):
        return None
    if isinstance(obj.get("error"), str):
        return obj
    summary = obj.get("summary")
    if isinstance(summary, dict) and all(type(n) is int for n in summary.values()):
        return obj
    return None


def read_written(path: str) -> Written:
    """The runs already in the output file ``path`` (nothing when there is none)."""
    w = Written()
    try:
        f = open(path, "r+b")
    except FileNotFoundError:
        return w
    except OSError as e:
        raise InputError(f"{path}: cannot open the output to resume it: {e.strerror or e}") from None
    with f:
        if not os.path.isfile(path):
            raise InputError(f"{path}: the output is not a regular file")
        end_of_whole = 0  # where the last whole line ends
        for n, line in enumerate(iter(lambda: f.readline(_LONGEST), b""), start=1):
            whole = line.endswith(b"\n") or len(line) == _LONGEST  # (a line too long to be a result)
            if not line.strip():
                end_of_whole += len(line)
                continue
            result = _result(line)
            if result is None:
                if whole:
                    raise InputError(
                        f"{path}:{n}: not a result line of --format jsonl; refusing to append to this file"
                    )
                f.truncate(end_of_whole)  # a line cut short by a stopped job
                break
            w.names.add(result["name"])
            if "error" in result:
                w.bad += 1
            else:
                add_summaries(w.totals, result["summary"])
            end_of_whole += len(line)
            if not whole:
                w.needs_newline = True
    return w
