// The character tables against the interpreter they were built from: every
// code point's properties, lower-case mapping and final-sigma context, and
// the pattern layer's \w, \d and \s, compared with what that Python's str
// methods and `re` say (tests/cpp/unicode_expectations.py prints them).
//
//   test_unicode_host PYTHON EXPECTATIONS_SCRIPT
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.hpp"
#include "text/pattern.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

using vorlane::Pattern;
namespace uni = vorlane::uni;

namespace {

struct Mismatches {
  const char* what;
  long count = 0;
  long first = -1;
  void note(bool ok, char32_t c) {
    if (ok) return;
    if (count++ == 0) first = static_cast<long>(c);
  }
  void report() {
    if (count) std::printf("%s: %ld code points differ from the host, first U+%04lX\n", what, count, first);
    CHECK_EQ(count, 0L);
  }
};

std::string text_of(char32_t c) {
  std::string s;
  vorlane::utf8::append(s, c);
  return s;
}

std::string from_hex_list(const char* p) {
  std::string s;
  while (*p && *p != ' ') {
    char* end;
    vorlane::utf8::append(s, static_cast<char32_t>(std::strtoul(p, &end, 16)));
    p = *end == ',' ? end + 1 : end;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PYTHON EXPECTATIONS_SCRIPT\n", argv[0]);
    return 2;
  }
  std::string cmd = std::string("'") + argv[1] + "' '" + argv[2] + "'";
  FILE* in = popen(cmd.c_str(), "r");
  if (!in) {
    std::perror("popen");
    return 2;
  }
  Pattern word(R"(\w)", 0, Pattern::Mode::FullMatch), digit(R"(\d)", 0, Pattern::Mode::FullMatch),
      space(R"(\s)", 0, Pattern::Mode::FullMatch);
  Mismatches m_word{"isalnum"}, m_dec{"isdecimal"}, m_digit{"isdigit"}, m_print{"isprintable"},
      m_space{"isspace"}, m_lower{"lower"}, m_sigma{"final sigma"}, m_pword{"pattern \\w"},
      m_pdigit{"pattern \\d"}, m_pspace{"pattern \\s"};
  const std::string sigma = "\u03a3", final_sigma = "\u03c2";
  char line[256];
  char32_t c = 0;
  for (; c < 0x110000 && std::fgets(line, sizeof line, in); ++c) {
    char* p = line;
    unsigned flags = static_cast<unsigned>(std::strtoul(p, &p, 10));
    ++p;
    std::string lower = from_hex_list(p);
    p = std::strchr(p, ' ') + 1;
    bool after = p[0] == '1', after_cased = p[2] == '1', before = p[4] == '1';
    std::string ch = text_of(c);
    m_word.note(uni::is_word(c) == bool(flags & 1), c);
    m_dec.note(uni::is_decimal(c) == bool(flags & 2), c);
    m_digit.note(uni::is_digit(c) == bool(flags & 4), c);
    m_print.note(uni::is_printable(c) == bool(flags & 8), c);
    m_space.note(uni::is_space(c) == bool(flags & 16), c);
    m_lower.note(c == 0x3A3 || uni::lower(ch) == lower, c);
    auto ends_final = [&](const std::string& s) { return s.size() >= 2 && s.substr(s.size() - 2) == final_sigma; };
    m_sigma.note(ends_final(uni::lower(ch + sigma)) == after && ends_final(uni::lower("A" + ch + sigma)) == after_cased &&
                     (uni::lower("A" + sigma + ch).substr(1, 2) == final_sigma) == before,
                 c);
    m_pword.note(word.test(ch) == bool(flags & 32), c);
    m_pdigit.note(digit.test(ch) == bool(flags & 64), c);
    m_pspace.note(space.test(ch) == bool(flags & 16), c);  // Python's \s is str.isspace()
  }
  int status = pclose(in);
  CHECK_EQ(static_cast<long>(c), 0x110000L);
  CHECK_EQ(status, 0);
  for (Mismatches* m : {&m_word, &m_dec, &m_digit, &m_print, &m_space, &m_lower, &m_sigma, &m_pword, &m_pdigit,
                        &m_pspace})
    m->report();
  std::printf("Unicode %s (tables), checked %ld code points\n", std::string(uni::unicode_version()).c_str(),
              static_cast<long>(c));
  return check::finish("test_unicode_host");
}
