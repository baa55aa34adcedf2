"""Writes the core's character tables from the running interpreter's own
character database, so that the C++ text rules are exactly this Python's.

    python tools/gen_unicode_tables.py OUT.inc [PCRE2_CLASSES]

cpp/text/unicode.cpp includes OUT.inc (the build puts it in its own
directory) after defining the Record type.

Every property is read from the str methods themselves (isalnum, isdecimal,
isdigit, isprintable, isspace, lower), and the two properties behind
str.lower()'s final-sigma rule (cased, case-ignorable) are read from how this
interpreter lower-cases a capital sigma next to each character.  The output is
a two-stage table: the code point's high bits pick a block, the low bits an
entry of that block, and the entry indexes a small array of distinct records
(flags and lower-case mapping).

The same file carries the word and decimal sets as PCRE2 class members, for
the pattern layer: PCRE2's own \\p{L}\\p{N}_ and \\p{Nd}, plus the code points
this interpreter's (newer) Unicode adds to them.  PCRE2_CLASSES is what
tools/pcre2_classes.cpp prints for the linked library; without it, or when
the library's Unicode is newer than the host's (so that only removals would
make the sets equal, which a PCRE2 class cannot express), the library's sets
are used as they are and a note says so.
"""

import sys
import unicodedata

MAX = 0x110000
WORD, DECIMAL, DIGIT, PRINTABLE, SPACE, CASED, IGNORABLE, MULTI = (1 << i for i in range(8))
SIGMA = "\u03a3"


def final_sigma_classes():
    """Per code point: (cased, case_ignorable) as str.lower() uses them.

    "xΣ".lower() ends in a final sigma exactly when x is cased and not
    case-ignorable; "AxΣ" does when x is case-ignorable or cased.  Both
    kinds are what the lower-casing rule skips or stops at, so nothing else
    about them matters.
    """
    final = "\u03c2"
    cased = bytearray(MAX)
    ignorable = bytearray(MAX)
    for c in range(MAX):
        ch = chr(c)
        alone = (ch + SIGMA).lower()[-1] == final
        after_letter = ("A" + ch + SIGMA).lower()[-1] == final
        cased[c] = alone
        ignorable[c] = after_letter and not alone
    return cased, ignorable


def records():
    """The record of every code point: (flags, lower mapping value)."""
    cased, ignorable = final_sigma_classes()
    multi = []  # lower-case mappings longer than one code point
    out = []
    for c in range(MAX):
        ch = chr(c)
        flags = 0
        if ch.isalnum() or ch == "_":
            flags |= WORD
        if ch.isdecimal():
            flags |= DECIMAL
        if ch.isdigit():
            flags |= DIGIT
        if ch.isprintable():
            flags |= PRINTABLE
        if ch.isspace():
            flags |= SPACE
        if cased[c]:
            flags |= CASED
        if ignorable[c]:
            flags |= IGNORABLE
        low = ch.lower() if c != 0x3A3 else "\u03c3"  # the sigma's context is decided by the core
        if len(low) == 1:
            value = ord(low) - c
        else:
            flags |= MULTI
            value = len(multi)
            multi.append(low)
        out.append((flags, value))
    return out, multi


def two_stage(values, shift):
    """(index, blocks) with values[c] == blocks[index[c >> shift] * size + (c & (size - 1))]."""
    size = 1 << shift
    seen = {}
    index, blocks = [], []
    for start in range(0, len(values), size):
        block = tuple(values[start:start + size])
        if block not in seen:
            seen[block] = len(seen)
            blocks.extend(block)
        index.append(seen[block])
    return index, blocks


def ctype(limit):
    return "uint8_t" if limit < 256 else "uint16_t" if limit < 65536 else "uint32_t"


def c_array(name, kind, values, per_line=24):
    lines = [f"constexpr {kind} {name}[{len(values)}] = {{"]
    for i in range(0, len(values), per_line):
        lines.append("  " + ", ".join(str(v) for v in values[i:i + per_line]) + ",")
    lines.append("};")
    return "\n".join(lines)


def read_pcre2_classes(path):
    """(Unicode version, {"word": set, "decimal": set}) of the linked PCRE2."""
    version, sets = None, {"word": set(), "decimal": set()}
    with open(path, encoding="ascii") as f:
        for line in f:
            name, *rest = line.split()
            if name == "unicode":
                version = rest[0]
            else:
                a, b = map(int, rest)
                sets[name].update(c for c in range(a, b + 1) if not 0xD800 <= c <= 0xDFFF)
    return version, sets


def ranges_text(points):
    """Code points as PCRE2 class members: \\x{a}-\\x{b}..."""
    ranges = []
    for c in sorted(points):
        if ranges and ranges[-1][1] == c - 1:
            ranges[-1][1] = c
        else:
            ranges.append([c, c])
    return "".join(f"\\x{{{a:x}}}" if a == b else f"\\x{{{a:x}}}-\\x{{{b:x}}}" for a, b in ranges)


def class_members(flag, recs, native, library):
    """The host's set of `flag` as PCRE2 class members: the library's own
    `native` class text, plus what the host adds to the `library` set."""
    if library is None:
        return native, 0, 0
    host = {c for c in range(MAX) if recs[c][0] & flag and not 0xD800 <= c <= 0xDFFF}
    added, removed = host - library, library - host
    if removed:
        return native, len(added), len(removed)
    return native + ranges_text(added), len(added), 0


def cpp_string(text):
    return '"' + text.replace("\\", "\\\\") + '"'


def utf8_escaped(text):
    """A C++ string literal of `text`'s UTF-8 bytes."""
    return '"' + "".join(f"\\x{b:02x}" for b in text.encode("utf-8", "surrogatepass")) + '"'


def main(path, classes_path=None):
    recs, multi = records()
    pcre2_version, library = read_pcre2_classes(classes_path) if classes_path else (None, {})
    word, word_added, word_removed = class_members(WORD, recs, "\\p{L}\\p{N}_", library.get("word"))
    decimal, dec_added, dec_removed = class_members(DECIMAL, recs, "\\p{Nd}", library.get("decimal"))
    distinct = sorted(set(recs))
    number = {r: i for i, r in enumerate(distinct)}
    entries = [number[r] for r in recs]
    # The block size that gives the smallest pair of arrays.
    best = None
    for shift in range(4, 11):
        index, blocks = two_stage(entries, shift)
        size = len(index) * (1 if max(index) < 256 else 2) + len(blocks) * (1 if len(distinct) < 256 else 2)
        if best is None or size < best[0]:
            best = (size, shift, index, blocks)
    size, shift, index, blocks = best
    parts = [
        "// Generated by tools/gen_unicode_tables.py from Python "
        f"{sys.version.split()[0]}'s character database; do not edit.",
        "",
        f'constexpr char kUnicodeVersion[] = "{unicodedata.unidata_version}";',
        f"constexpr unsigned kShift = {shift};",
        c_array("kRecords", "Record", [f"{{{f}, {v}}}" for f, v in distinct], per_line=8),
        c_array("kIndex", ctype(max(index) + 1), index),
        c_array("kBlocks", ctype(len(distinct)), blocks),
        "constexpr std::string_view kMultiLower[] = {"
        + ", ".join(f"std::string_view({utf8_escaped(m)}, {len(m.encode())})" for m in multi) + "};",
        f"constexpr std::size_t kMultiLowerCount = {len(multi)};",
        f"constexpr std::string_view kWordMembers = {cpp_string(word)};",
        f"constexpr std::string_view kDecimalMembers = {cpp_string(decimal)};",
        f"constexpr bool kPatternClassesExact = {'true' if classes_path and not word_removed and not dec_removed else 'false'};",
        "",
    ]
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(parts))
    print(f"unicode tables: Unicode {unicodedata.unidata_version}, {len(distinct)} records, "
          f"{len(index)}+{len(blocks)} entries ({size} bytes, block {1 << shift})")
    if classes_path:
        print(f"pattern classes: PCRE2's Unicode {pcre2_version}; \\w adds {word_added}, \\d adds {dec_added} code points")
        if word_removed or dec_removed:
            print(f"note: PCRE2's Unicode {pcre2_version} is newer than the host's {unicodedata.unidata_version}: "
                  f"\\w and \\d in patterns follow PCRE2's ({word_removed + dec_removed} code points differ)")


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: gen_unicode_tables.py OUT.inc [PCRE2_CLASSES]")
    main(*sys.argv[1:])
