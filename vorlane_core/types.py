"""The records the compiled modules take and give, as types usable at run time.

``vorlane_core.extract`` gives :class:`Claim` and :class:`UnitRecord` dicts;
``vorlane_core.verify`` takes a :class:`Claim` (or any dict with its keys)
and a :class:`RunLog`.  They are plain ``TypedDict`` classes: at run time the
values are ordinary dicts, and these names serve annotations, ``isinstance``
-free schema checks and documentation alike.
"""

from __future__ import annotations

from typing import Any, TypedDict

__all__ = ["Claim", "UnitRecord", "ModelLimits", "Event", "Command", "RunLog"]


class Claim(TypedDict):
    """One claim sentence of a report: its text, its kind (one of
    ``vorlane_core.extract.KINDS``) and the literal strings it rests on."""

    text: str
    kind: str
    targets: list[str]


class UnitRecord(TypedDict):
    """The model's classification of one Unit: its kind and the literal
    strings the model named."""

    kind: str
    model_targets: list[str]


class ModelLimits(TypedDict):
    """The limits of a model request (``extract.set_model_limits``): seconds
    of silence allowed, seconds for the whole request, largest reply body."""

    timeout: float
    deadline: float
    max_reply_bytes: int


class Event(TypedDict, total=False):
    """One tool call of the run: the tool's name, whether it wrote, what it
    was given (``payload``, ``command``) and what it returned."""

    tool: str
    wrote: bool
    payload: Any
    command: str | None
    output: str | None


class Command(TypedDict, total=False):
    """One shell command of the run with its exit code and output."""

    command: str
    exit_code: int | str | None
    output: str | None


class RunLog(TypedDict):
    """What ``vorlane_core.verify.verify`` judges a claim against."""

    events: list[Event]
    external: list[dict[str, Any]]
    written: list[str]
    commands: list[Command]
