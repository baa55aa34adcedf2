// Prints which code points the linked PCRE2 puts in [\p{L}\p{N}_] and
// \p{Nd}, as ranges, with the library's Unicode version:
//
//   unicode 14.0.0
//   word 48 57
//   decimal 48 57
//   ...
//
// tools/gen_unicode_tables.py compares them with the building interpreter's
// \w and \d and adds what the host has and the library lacks.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

bool print_ranges(const char* name, const char* pattern) {
  int err = 0;
  PCRE2_SIZE off = 0;
  pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                 PCRE2_UTF | PCRE2_UCP | PCRE2_ANCHORED | PCRE2_ENDANCHORED, &err, &off, nullptr);
  if (!re) return false;
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(re, nullptr);
  long start = -1;
  for (char32_t c = 0; c <= 0x110000; ++c) {
    bool in = false;
    if (c < 0x110000 && (c < 0xD800 || c > 0xDFFF)) {
      std::string s = utf8(c);
      in = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0, 0, md, nullptr) >= 0;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      continue;  // not characters in UTF-8 mode; never members
    }
    if (in && start < 0) start = static_cast<long>(c);
    if (!in && start >= 0) {
      std::printf("%s %ld %ld\n", name, start, static_cast<long>(c) - 1);
      start = -1;
    }
  }
  pcre2_match_data_free(md);
  pcre2_code_free(re);
  return true;
}

}  // namespace

int main() {
  char version[32] = {};
  pcre2_config(PCRE2_CONFIG_UNICODE_VERSION, version);
  std::printf("unicode %s\n", version);
  if (!print_ranges("word", "[\\p{L}\\p{N}_]") || !print_ranges("decimal", "\\p{Nd}")) {
    std::fprintf(stderr, "pcre2_classes: cannot compile the classes\n");
    return 1;
  }
  return 0;
}
