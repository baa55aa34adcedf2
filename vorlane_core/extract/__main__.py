"""Inspection command: ``python -m vorlane_core.extract REPORT``.

Prints every Unit of the report with its literal targets and heuristic kind.
"""

import sys

from vorlane_core.extract import _inspection_record, split_units
from vorlane_core.safe_text import visible


def _on_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    if not args:
        print("usage: python -m vorlane_core.extract REPORT", file=sys.stderr)
        return 1
    path = args[0]
    try:
        # Universal newlines: CR LF and a lone CR are read as LF.
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except UnicodeDecodeError as e:
        print(f"error: {path}: not valid UTF-8 text ({e.reason} at byte {e.start})", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"error: {path}: {e.strerror or e}", file=sys.stderr)
        return 1
    out = "".join(_inspection_record(u) for u in split_units(text))
    if _on_terminal(sys.stdout):
        # A report must not drive the terminal (escape sequences) nor hide or
        # reorder what is shown (bidi overrides): on a terminal such
        # characters are shown escaped.  Files and pipes get the text as it is.
        out = visible(out, keep="\n")
    sys.stdout.buffer.write(out.encode("utf-8", "surrogatepass"))
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
