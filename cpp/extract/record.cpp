// The inspection record of one Unit, with targets written as Python writes a
// list of str.
#include <cstdio>

#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

std::string python_repr(std::string_view s) {
  bool has_single = s.find('\'') != std::string_view::npos;
  bool has_double = s.find('"') != std::string_view::npos;
  char quote = (has_single && !has_double) ? '"' : '\'';
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back(quote);
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    char32_t c = utf8::decode(s, i);
    if (c == static_cast<char32_t>(quote) || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\t') {
      out.append("\\t");
    } else if (c == '\n') {
      out.append("\\n");
    } else if (c == '\r') {
      out.append("\\r");
    } else if (uni::is_printable(c)) {
      out.append(s.substr(start, i - start));
    } else {
      char buf[16];
      if (c < 0x100) std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
      else if (c < 0x10000) std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      else std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(c));
      out.append(buf);
    }
  }
  out.push_back(quote);
  return out;
}

std::string inspection_record(std::string_view unit) {
  InputScope scope(unit);
  std::string out = "\u2022 ";
  out.append(unit);
  out.append(" \n    [");
  bool first = true;
  for (const std::string& t : literal_targets(unit)) {
    if (!first) out.append(", ");
    first = false;
    out.append(python_repr(t));
  }
  out.append("] ");
  out.append(heuristic_kind(unit));
  out.push_back('\n');
  return out;
}

}  // namespace vorlane::extract
