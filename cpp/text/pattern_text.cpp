#include "text/pattern_text.hpp"

#include "text/pattern.hpp"
#include "text/unicode.hpp"

namespace vorlane::pattern_text {

namespace {

// Python's \w on str is isalnum() or "_" (letters and numbers of every kind)
// and \d is isdecimal(): PCRE2's \p{L}\p{N}_ and \p{Nd}, plus what the host's
// Unicode has and the library's lacks (see text/unicode.hpp).
std::string word_members() { return std::string(uni::word_class_members()); }
std::string digit_members() { return std::string(uni::decimal_class_members()); }
// Python's \s on str is str.isspace(); PCRE2's \s differs (U+001C..001F, U+180E).
constexpr std::string_view kSpace =
    "\\t-\\r\\x{1c}-\\x{20}\\x{85}\\x{a0}\\x{1680}\\x{2000}-\\x{200a}\\x{2028}\\x{2029}"
    "\\x{202f}\\x{205f}\\x{3000}";

std::string word_class() { return "[" + word_members() + "]"; }

std::string outside_escape(char e, bool ascii_digits) {
  const std::string w = word_class();
  switch (e) {
    case 'w': return w;
    case 'W': return "[^" + word_members() + "]";
    case 's': return "[" + std::string(kSpace) + "]";
    case 'S': return "[^" + std::string(kSpace) + "]";
    case 'd': return ascii_digits ? "[0-9]" : "[" + digit_members() + "]";
    case 'D': return ascii_digits ? "[^0-9]" : "[^" + digit_members() + "]";
    // \b and \B spelled out over Python's \w, so PCRE2's own (wider from
    // 10.43 on) word definition never leaks in.
    case 'b': return "(?:(?<=" + w + ")(?!" + w + ")|(?<!" + w + ")(?=" + w + "))";
    // Python never matches \B in an empty text.
    case 'B': return "(?!\\A\\z)(?:(?<=" + w + ")(?=" + w + ")|(?<!" + w + ")(?!" + w + "))";
    case 'Z': return "\\z";
    default: return std::string("\\") + e;
  }
}

// Length of the group opening at rest[0] == '(' up to its matching ')',
// or npos when unbalanced.
std::size_t group_length(std::string_view rest) {
  std::size_t len = std::string_view::npos;
  scan(rest, [&](const Token& t) {
    if (t.kind == Token::Close && t.depth == 0) {
      len = t.pos + 1;
      return false;
    }
    return true;
  });
  return len;
}

bool optional_after(std::string_view rest, std::size_t token_len) {
  if (token_len >= rest.size()) return false;
  char q = rest[token_len];
  return q == '?' || q == '*' ||
         (q == '{' && token_len + 1 < rest.size() && (rest[token_len + 1] == '0' || rest[token_len + 1] == ','));
}

// True when every match of the pattern text `rest` must begin with a word
// character (a letter or digit literal, \w, \d, or a group whose every
// alternative does).  Then a \b in front of it only needs a non-word
// character (or the start) behind, and a plain lookbehind lets PCRE2 keep
// its fast start-of-match scanning.
bool starts_with_word_char(std::string_view rest) {
  if (rest.empty()) return false;
  char c = rest[0];
  if (c == '\\') {
    if (rest.size() < 2 || (rest[1] != 'w' && rest[1] != 'd')) return false;
    return !optional_after(rest, 2);
  }
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return !optional_after(rest, 1);
  if (c != '(') return false;
  std::size_t len = group_length(rest);
  if (len == std::string_view::npos || optional_after(rest, len)) return false;
  std::string_view body = rest.substr(1, len - 2);
  if (!body.empty() && body[0] == '?') {
    if (body.size() < 2 || body[1] != ':') return false;  // lookaround or named group
    body.remove_prefix(2);
  }
  // Every top-level alternative must start with a word character.
  for (std::string_view alt : top_level_alternatives(body))
    if (!starts_with_word_char(alt)) return false;
  return true;
}

}  // namespace

void throw_trailing_backslash() { throw PatternError("pattern ends with a backslash"); }

std::vector<std::string_view> top_level_alternatives(std::string_view p) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  scan(p, [&](const Token& t) {
    if (t.kind == Token::Bar && t.depth == 0) {
      out.push_back(p.substr(start, t.pos - start));
      start = t.pos + 1;
    }
    return true;
  });
  out.push_back(p.substr(start));
  return out;
}

std::string translate(std::string_view p, bool ascii_digits) {
  std::string out;
  out.reserve(p.size() * 2);
  scan(p, [&](const Token& t) {
    char c = p[t.pos];
    switch (t.kind) {
      case Token::ClassEscape: {
        char e = p[t.pos + 1];
        if (e == 'w') out += word_members();
        else if (e == 's') out += kSpace;
        else if (e == 'd') out += ascii_digits ? "0-9" : digit_members();
        else if (e == 'W' || e == 'S' || e == 'D' || e == 'b' || e == 'B')
          throw PatternError("unsupported escape inside a class");
        else out.append(p, t.pos, 2);
        break;
      }
      case Token::Escape: {
        char e = p[t.pos + 1];
        if (e >= '1' && e <= '9') throw PatternError("back-references are not supported");
        if (e == 'b' && starts_with_word_char(p.substr(t.pos + 2)))
          out += "(?<!" + word_class() + ")";
        else
          out += outside_escape(e, ascii_digits);
        break;
      }
      case Token::ClassChar:
        // "[" inside a class is literal in Python; a "]" right after the
        // opening is a member.
        if (c == '[' || c == ']') out += '\\';
        out += c;
        break;
      case Token::Char:
        if (c == '{' && t.pos + 2 < p.size() && p[t.pos + 1] == ',') {  // x{,n} means x{0,n}
          std::size_t j = t.pos + 2;
          while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
          if (j > t.pos + 2 && j < p.size() && p[j] == '}') {
            out += "{0";
            break;
          }
        }
        out += c;
        break;
      default:
        out.append(p, t.pos, t.len);
    }
    return true;
  });
  return out;
}

}  // namespace vorlane::pattern_text
