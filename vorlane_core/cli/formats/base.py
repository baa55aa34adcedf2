"""What every output format is told, and what it is given to write with."""

from __future__ import annotations

import argparse
from typing import Any, Mapping, TextIO


class Output:
    """One format.  ``stream`` is where it writes (standard output);
    ``args`` the parsed command line (fail-on rule, width settings...)."""

    def __init__(self, stream: TextIO, args: argparse.Namespace):
        self.stream = stream
        self.args = args

    def single(self, result: Mapping[str, Any]) -> None:
        """One run: ``result`` holds "claims" and "summary" (and "name" when known)."""
        raise NotImplementedError

    def batch_start(self) -> None:
        """A batch begins; runs follow through :meth:`batch_run`."""

    def batch_run(self, result: Mapping[str, Any]) -> None:
        """One run of the batch, in input order: "name" and either "claims" and
        "summary", or "error"."""
        raise NotImplementedError

    def batch_end(self, totals: Mapping[str, int], bad: int) -> None:
        """The batch is over: the verdict counts over all runs, and how many
        runs could not be checked."""
        raise NotImplementedError
