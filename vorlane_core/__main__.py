"""``python -m vorlane_core``: the ``vorlane`` command."""

import sys

from vorlane_core.cli import main

if __name__ == "__main__":
    sys.exit(main())
