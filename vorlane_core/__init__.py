"""vorlane_core: checks what an AI coding agent says it did against what its run did.

``vorlane_core.extract`` cuts a final report into claims; ``vorlane_core.verify``
judges one claim against the run log of the turn.
"""

from pkgutil import extend_path

# A source checkout on sys.path (the current directory, say) comes before the
# installed package but has no compiled modules; searching every copy of the
# package on sys.path lets the compiled ones be found all the same.
__path__ = extend_path(__path__, __name__)

__version__ = "0.1.0"
__all__ = ["__version__"]
