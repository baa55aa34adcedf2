"""Report texts built to defeat a backtracking matcher: long runs that a
pattern retried at every start position walks again and again.

SHAPES maps a name to a function giving a text of about n characters.
Shared by tests/test_extract_adversarial.py (equality with the pure-Python
model, hang guards) and bench/bench_extract.py (growth table).
"""

SENTENCE = "Updated `src/app.py` to 1.2.3 and ran 42 tests in 3.5 s. "


def _times(piece, n, head="", tail=""):
    return head + piece * max(1, n // len(piece)) + tail


SHAPES = {
    # Runs of [\w.-]: the path and key=value patterns start at every boundary.
    "word_run": lambda n: _times("a-b_c.d", n, "The name ", " stays."),
    "dots": lambda n: _times("a.", n, "The name ", " stays."),
    "dotted_digits": lambda n: _times("1.1.", n, "Measured ", " ms."),
    "progress_line": lambda n: _times("..F.s..E..", n, "tests/test_x.py ", " [100%]"),
    "dotted_tail": lambda n: _times("x.", n, "Edited a.py.", " done."),
    # The tidying step's parenthesis count.
    "parens_in_code": lambda n: _times(")", n, "Ran `x", "` fine."),
    "backticks": lambda n: _times("`", n, "Ran ", " ok."),
    "code_spans": lambda n: _times("`a` ", n, "Ran ", "ok."),
    "stars": lambda n: _times("*", n, "Ran ", " ok."),
    "bold_openers": lambda n: _times("**a ", n, "Ran ", "ok."),
    "list_markers": lambda n: _times("- ", n, "", "Ran the tests."),
    "numbered_items": lambda n: _times("1. ", n, "", "Ran the tests."),
    "negated_verbs": lambda n: _times("did not set ", n, "", "`a.py`."),
    "keyval_chain": lambda n: _times("a=b=", n, "Set ", " ok."),
    "keyval_run": lambda n: _times("a.b-c", n, "Set ", " =x ok."),
    "comma_groups": lambda n: _times(",000", n, "Measured 1", "x ms."),
    "slashes": lambda n: _times("a/", n, "Edited /", " ok."),
    "spaces_after_stop": lambda n: _times(" ", n, "Done.", "x"),
    "table_rows": lambda n: _times("|a.py|1|\n", n),
    "table_cells": lambda n: _times("| Fixed `a.py` | 12 |\n", n),
    "blank_lines": lambda n: _times("\n", n, "Ran it.", "Ran it."),
    "single_line": lambda n: _times(SENTENCE, n),
}
