// Character properties and case mapping with the host's (Python's) meaning:
// the tables come from the building interpreter's character database
// (tools/gen_unicode_tables.py), so every rule here is that Python's.
#pragma once

#include <string>
#include <string_view>

namespace vorlane::uni {

// str.isspace(): U+0009..000D, U+001C..001F, U+0020, U+0085, U+00A0,
// U+1680, U+2000..200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_space(char32_t c);

// Word character: a letter or number of any kind (str.isalnum()) or "_".
bool is_word(char32_t c);

// Decimal digit (general category Nd, str.isdecimal()).
bool is_decimal(char32_t c);

// Numeric type Decimal or Digit (str.isdigit()), superscripts included.
bool is_digit(char32_t c);

// str.isprintable() for one character.
bool is_printable(char32_t c);

// The Unicode version of the character database the tables come from
// (unicodedata.unidata_version of the building interpreter).
std::string_view unicode_version();

// Python's \w (isalnum() or "_") and \d (isdecimal()) as PCRE2 class members
// (ranges of \x{...}, no brackets), from the same database.
std::string_view word_class_members();
std::string_view decimal_class_members();

// True when the text holds a decimal digit (\d); an exact, cheap test
// that lets callers skip patterns which need one.
bool has_decimal(std::string_view s);

// str.lower(): full lower-case mapping, final sigma handled, U+0130 becomes
// two code points.  Lone surrogates map to themselves.
std::string lower(std::string_view s);

// White space removed from both ends / the start / the end.
std::string_view strip(std::string_view s);
std::string_view lstrip(std::string_view s);
std::string_view rstrip(std::string_view s);

// True when `s` is empty or only white space.
inline bool is_blank(std::string_view s) { return strip(s).empty(); }

// Removes from both ends (or only the end / start) every code point found in
// `chars` (str.strip(chars)).
std::string_view strip_chars(std::string_view s, std::u32string_view chars);
std::string_view rstrip_chars(std::string_view s, std::u32string_view chars);
std::string_view lstrip_chars(std::string_view s, std::u32string_view chars);

}  // namespace vorlane::uni
