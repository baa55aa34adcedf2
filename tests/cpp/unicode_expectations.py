"""Prints, for every code point, what this interpreter's str methods say,
one line each, for tests/cpp/test_unicode_host.cpp:

    FLAGS LOWER AFTER_CHAR AFTER_CASED_CHAR BEFORE_CHAR

FLAGS: bit 0 isalnum() or "_", 1 isdecimal(), 2 isdigit(), 3 isprintable(),
4 isspace(), 5 \\w in `re`, 6 \\d in `re`; LOWER: the code points of
ch.lower() in hex, comma-separated; then 1/0 for whether a capital sigma
lower-cases to the final form in ch+"Σ", "A"+ch+"Σ" and "AΣ"+ch.
"""

import re
import sys

SIGMA, FINAL = "\u03a3", "\u03c2"
word, digit = re.compile(r"\w"), re.compile(r"\d")
out = []
for c in range(0x110000):
    ch = chr(c)
    flags = ((ch.isalnum() or ch == "_") | ch.isdecimal() << 1 | ch.isdigit() << 2 | ch.isprintable() << 3
             | ch.isspace() << 4 | bool(word.fullmatch(ch)) << 5 | bool(digit.fullmatch(ch)) << 6)
    low = ",".join(f"{ord(x):x}" for x in ch.lower())
    after = (ch + SIGMA).lower()[-1] == FINAL
    after_cased = ("A" + ch + SIGMA).lower()[-1] == FINAL
    before = ("A" + SIGMA + ch).lower()[1] == FINAL
    out.append(f"{flags} {low} {after:d} {after_cased:d} {before:d}\n")
sys.stdout.write("".join(out))
