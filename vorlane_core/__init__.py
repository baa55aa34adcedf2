"""vorlane_core: checks what an AI coding agent says it did against what its run did.

``vorlane_core.extract`` cuts a final report into claims; ``vorlane_core.verify``
judges one claim against the run log of the turn.
"""

__version__ = "0.1.0"
__all__ = ["__version__"]
