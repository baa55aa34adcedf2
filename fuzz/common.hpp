// Shared helpers of the fuzz targets: turning fuzz bytes into the texts the
// core accepts, splitting inputs into fields, and invariant checks that
// abort (so that libFuzzer keeps the input) with a readable message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/pattern.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace fuzz {

// Code points that a byte which cannot start a valid UTF-8 sequence stands
// for: lone surrogates, line and paragraph separators, NUL, the white space
// and line-boundary characters the rules single out, characters whose case
// mapping is special, combining and format characters, and the symbols the
// patterns name.  The byte's value picks the entry (value modulo the table
// size), so a single mutated byte reaches any of them.  tests/regressions
// replays use the same table (tests/test_regressions.py, SPECIAL).
inline constexpr char32_t kSpecial[] = {
    0xFFFD, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0x2028, 0x2029, 0x0000, 0x0085, 0x00A0,
    0x3000, 0x1680, 0x180E, 0x001C, 0x001F, 0x000B, 0x000C, 0x000D, 0x0130, 0x0131,
    0x03A3, 0x1E9E, 0x212A, 0x017F, 0x00DF, 0x200B, 0xFEFF, 0x0301, 0x1F600, 0x10FFFF,
    0xE000, 0x00B7, 0x2022, 0x2013, 0x2014, 0x2192, 0x2248, 0x00D7, 0x2714, 0x2705,
    0x26A0, 0xFE0F, 0x274C, 0x1F7E0, 0x25CC, 0xFF10, 0x0660, 0x00B2, 0x2160, 0x2019,
    0x1D7CE,
};
inline constexpr std::size_t kSpecialCount = sizeof(kSpecial) / sizeof(kSpecial[0]);

// Length of the well-formed sequence at p[0] (lone surrogates ED A0..BF xx
// included), or 0 when p[0] starts none.
inline std::size_t valid_seq(const uint8_t* p, std::size_t n) {
  std::string_view s(reinterpret_cast<const char*>(p), n);
  std::size_t i = 0;
  char32_t c;
  return vorlane::utf8::decode_strict(s, i, c) ? i : 0;
}

// The bytes as a text the core accepts: well-formed sequences are kept, every
// other byte becomes the kSpecial entry it selects.
inline std::string to_text(const uint8_t* p, std::size_t n) {
  std::string out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    std::size_t len = valid_seq(p + i, n - i);
    if (len) {
      out.append(reinterpret_cast<const char*>(p + i), len);
      i += len;
    } else {
      vorlane::utf8::append(out, kSpecial[p[i] % kSpecialCount]);
      ++i;
    }
  }
  return out;
}
inline std::string to_text(std::string_view b) {
  return to_text(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

// The pieces of `b` between occurrences of the byte `sep` (empty ones kept).
inline std::vector<std::string_view> split(std::string_view b, char sep) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t k = b.find(sep, start);
    if (k == std::string_view::npos) {
      out.push_back(b.substr(start));
      return out;
    }
    out.push_back(b.substr(start, k - start));
    start = k + 1;
  }
}

// Printable form of a text for failure messages (first 300 bytes, escaped).
inline std::string show(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && i < 300; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  if (s.size() > 300) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

[[noreturn]] inline void fail(const char* what, const char* file, int line, const std::string& detail) {
  std::fprintf(stderr, "\n=== invariant failed: %s\n    at %s:%d\n    %s\n", what, file, line, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond, detail)                                  \
  do {                                                            \
    if (!(cond)) ::fuzz::fail(#cond, __FILE__, __LINE__, (detail)); \
  } while (0)

// ---------------------------------------------------------------------------
// The normalisation of the verdict module, written out step by step with
// the pattern layer, to hold the one-pass implementation against:
//   "~" -> home; strip white space, then backticks and quotes; white-space
//   runs -> one space; lower case; commas out when the whole text is a
//   number; an "x" after a final digit out.
inline std::string norm_by_steps(std::string_view s, std::string_view home) {
  using vorlane::Pattern;
  static const Pattern ws_run(R"(\s+)");
  static const Pattern bare_number(R"(^[\d,]+(?:\.\d+)?$)", 0, Pattern::Mode::Match);
  static const Pattern final_x(R"((?<=\d)x$)");
  std::string t;
  for (char c : s) {
    if (c == '~') t.append(home);
    else t.push_back(c);
  }
  std::string_view v = vorlane::uni::strip(t);
  v = vorlane::uni::strip_chars(v, U"`'\"");
  std::string out = vorlane::uni::lower(ws_run.sub(v, " "));
  if (bare_number.test(out)) {
    std::string u;
    for (char c : out)
      if (c != ',') u.push_back(c);
    out.swap(u);
  }
  return final_x.sub(out, "");
}

// The shape every normalised text has: no white space but single spaces,
// and a space at an end only where a quote was stripped off before it.
inline void check_norm_shape(std::string_view in, std::string_view out) {
  FUZZ_CHECK(vorlane::utf8::is_valid(out), "norm output not valid UTF-8: " + show(out));
  for (std::size_t i = 0; i < out.size();) {
    std::size_t j = i;
    char32_t c = vorlane::utf8::decode(out, j);
    if (vorlane::uni::is_space(c)) {
      FUZZ_CHECK(c == U' ', "white space other than a space in norm output: " + show(out));
      FUZZ_CHECK(j >= out.size() || out[j] != ' ', "double space in norm output: " + show(out));
    }
    i = j;
  }
  std::string_view core = vorlane::uni::strip(in);
  auto is_quote = [](char c) { return c == '`' || c == '\'' || c == '"'; };
  if (!out.empty() && out.front() == ' ')
    FUZZ_CHECK(!core.empty() && is_quote(core.front()),
               "norm output starts with a space that no stripped quote explains: " + show(in));
  if (!out.empty() && out.back() == ' ')
    FUZZ_CHECK(!core.empty() && is_quote(core.back()),
               "norm output ends with a space that no stripped quote explains: " + show(in));
}

}  // namespace fuzz
