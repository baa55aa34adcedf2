#define PCRE2_CODE_UNIT_WIDTH 8
#include "text/pattern.hpp"

#include <pcre2.h>

#include <cstring>
#include <memory>

#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane {

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

std::string outside_escape(char e) {
  const std::string w = word_class();
  switch (e) {
    case 'w': return w;
    case 'W': return "[^" + word_members() + "]";
    case 's': return "[" + std::string(kSpace) + "]";
    case 'S': return "[^" + std::string(kSpace) + "]";
    case 'd': return "[" + digit_members() + "]";
    case 'D': return "[^" + digit_members() + "]";
    // \b and \B spelled out over Python's \w, so PCRE2's own (wider from
    // 10.43 on) word definition never leaks in.
    case 'b': return "(?:(?<=" + w + ")(?!" + w + ")|(?<!" + w + ")(?=" + w + "))";
    // Python never matches \B in an empty text.
    case 'B': return "(?!\\A\\z)(?:(?<=" + w + ")(?=" + w + ")|(?<!" + w + ")(?!" + w + "))";
    case 'Z': return "\\z";
    default: return std::string("\\") + e;
  }
}

// True when every match of the pattern text `rest` must begin with a word
// character (a letter or digit literal, \w, \d, or a group whose every
// alternative does).  Then a \b in front of it only needs a non-word
// character (or the start) behind, and a plain lookbehind lets PCRE2 keep
// its fast start-of-match scanning.
bool starts_with_word_char(std::string_view rest);

// Length of the group opening at rest[0] == '(' up to its matching ')',
// or npos when unbalanced.
std::size_t group_length(std::string_view rest) {
  int depth = 0;
  bool in_class = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '\\') { ++i; continue; }
    if (in_class) { if (c == ']') in_class = false; continue; }
    if (c == '[') {
      in_class = true;
      if (i + 1 < rest.size() && rest[i + 1] == '^') ++i;
      if (i + 1 < rest.size() && rest[i + 1] == ']') ++i;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return i + 1;
  }
  return std::string_view::npos;
}

bool optional_after(std::string_view rest, std::size_t token_len) {
  if (token_len >= rest.size()) return false;
  char q = rest[token_len];
  return q == '?' || q == '*' ||
         (q == '{' && token_len + 1 < rest.size() && (rest[token_len + 1] == '0' || rest[token_len + 1] == ','));
}

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
  int depth = 0;
  bool in_class = false;
  std::size_t alt_start = 0;
  for (std::size_t i = 0; i <= body.size(); ++i) {
    if (i < body.size()) {
      char d = body[i];
      if (d == '\\') { ++i; continue; }
      if (in_class) { if (d == ']') in_class = false; continue; }
      if (d == '[') { in_class = true; continue; }
      if (d == '(') { ++depth; continue; }
      if (d == ')') { --depth; continue; }
      if (d != '|' || depth != 0) continue;
    }
    if (!starts_with_word_char(body.substr(alt_start, i - alt_start))) return false;
    alt_start = i + 1;
  }
  return true;
}

}  // namespace

std::string translate_pattern(std::string_view p) {
  std::string out;
  out.reserve(p.size() * 2);
  bool in_class = false;
  std::size_t i = 0, n = p.size();
  while (i < n) {
    char c = p[i];
    if (c == '\\') {
      if (i + 1 >= n) throw PatternError("pattern ends with a backslash");
      char e = p[i + 1];
      if (in_class) {
        if (e == 'w') out += word_members();
        else if (e == 's') out += kSpace;
        else if (e == 'd') out += digit_members();
        else if (e == 'W' || e == 'S' || e == 'D' || e == 'b' || e == 'B')
          throw PatternError("unsupported escape inside a class");
        else { out += '\\'; out += e; }
      } else {
        if (e >= '1' && e <= '9') throw PatternError("back-references are not supported");
        if (e == 'b' && starts_with_word_char(p.substr(i + 2)))
          out += "(?<!" + word_class() + ")";
        else
          out += outside_escape(e);
      }
      i += 2;
      continue;
    }
    if (in_class) {
      if (c == ']') in_class = false;
      else if (c == '[') { out += "\\["; ++i; continue; }
      out += c;
      ++i;
      continue;
    }
    if (c == '[') {
      in_class = true;
      out += c;
      ++i;
      if (i < n && p[i] == '^') { out += '^'; ++i; }
      if (i < n && p[i] == ']') { out += "\\]"; ++i; }
      continue;
    }
    if (c == '{' && i + 2 < n && p[i + 1] == ',') {  // x{,n} means x{0,n}
      std::size_t j = i + 2;
      while (j < n && p[j] >= '0' && p[j] <= '9') ++j;
      if (j > i + 2 && j < n && p[j] == '}') { out += "{0,"; i += 2; continue; }
    }
    out += c;
    ++i;
  }
  return out;
}

namespace {

// Per-thread matching resources: a large JIT stack (the default 32 KiB
// overflows on long paths and number runs) and a match data block.
struct ThreadResources {
  pcre2_jit_stack* stack = nullptr;
  pcre2_match_context* mctx = nullptr;
  pcre2_match_data* md = nullptr;
  ThreadResources() {
    stack = pcre2_jit_stack_create(64 * 1024, 64 * 1024 * 1024, nullptr);
    mctx = pcre2_match_context_create(nullptr);
    if (!stack || !mctx) throw PatternError("out of memory for the pattern engine");
    pcre2_jit_stack_assign(mctx, nullptr, stack);
    // Python has no match limits: lift them as far as the library allows.
    pcre2_set_match_limit(mctx, 0xFFFFFFFFu);
    pcre2_set_depth_limit(mctx, 0xFFFFFFFFu);
    md = pcre2_match_data_create(32, nullptr);
    if (!md) throw PatternError("out of memory for the pattern engine");
  }
  ~ThreadResources() {
    pcre2_match_data_free(md);
    pcre2_match_context_free(mctx);
    pcre2_jit_stack_free(stack);
  }
};

ThreadResources& resources() {
  thread_local ThreadResources r;
  return r;
}

// A subject ready for PCRE2: lone surrogates (invalid in strict UTF-8) are
// replaced by U+FFFD, which has the same byte length, so every offset stays
// valid for the original text and U+FFFD belongs to the same classes as a
// surrogate in every pattern used here.
struct Subject {
  std::string copy;
  std::string_view view;
  explicit Subject(std::string_view s) : view(s) {
    if (utf8::has_surrogate(s)) {
      copy.assign(s);
      for (std::size_t i = 0; i + 2 < copy.size(); ++i) {
        auto b1 = static_cast<unsigned char>(copy[i + 1]);
        if (static_cast<unsigned char>(copy[i]) == 0xED && b1 >= 0xA0 && b1 <= 0xBF) {
          copy[i] = static_cast<char>(0xEF);
          copy[i + 1] = static_cast<char>(0xBF);
          copy[i + 2] = static_cast<char>(0xBD);
          i += 2;
        }
      }
      view = copy;
    }
  }
};

std::string error_text(int rc) {
  PCRE2_UCHAR buf[256];
  pcre2_get_error_message(rc, buf, sizeof buf);
  return reinterpret_cast<char*>(buf);
}

}  // namespace

struct Pattern::Impl {
  pcre2_code* code = nullptr;
  uint32_t groups = 0;
  // The top-level alternatives compiled one by one, for existence tests:
  // "A|B" matches somewhere exactly when A or B does, and each alternative
  // alone keeps PCRE2's fast start-of-match scanning, which the combination
  // often loses.  Empty when the pattern has a single alternative.
  std::vector<pcre2_code*> alternatives;

  ~Impl() {
    pcre2_code_free(code);
    for (pcre2_code* c : alternatives) pcre2_code_free(c);
  }

  bool run(std::string_view s, std::size_t start, uint32_t opts, Match* m) const {
    return run_code(code, s, start, opts, m);
  }

  // Runs one match.  Returns false on no match; throws on engine errors.
  bool run_code(const pcre2_code* code, std::string_view s, std::size_t start, uint32_t opts, Match* m) const {
    ThreadResources& r = resources();
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), start, opts, r.md, r.mctx);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      // The interpreter keeps its backtracking state on the heap.
      rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), start, opts | PCRE2_NO_JIT,
                       r.md, r.mctx);
    }
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc < 0) throw PatternError("pattern matching failed: " + error_text(rc));
    if (m) {
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(r.md);
      m->begin = ov[0];
      m->end = ov[1];
      m->groups = static_cast<int>(groups);
      for (uint32_t g = 1; g <= groups; ++g) {
        m->group_begin[g - 1] = m->group_end[g - 1] = Match::npos;
        if (g < static_cast<uint32_t>(rc) && ov[2 * g] != PCRE2_UNSET) {
          m->group_begin[g - 1] = ov[2 * g];
          m->group_end[g - 1] = ov[2 * g + 1];
        }
      }
    }
    return true;
  }
};

namespace {

// The top-level alternatives of a pattern text (outside groups and classes).
std::vector<std::string_view> top_level_alternatives(std::string_view p) {
  std::vector<std::string_view> out;
  int depth = 0;
  bool in_class = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    char c = p[i];
    if (c == '\\') { ++i; continue; }
    if (in_class) { if (c == ']') in_class = false; continue; }
    if (c == '[') {
      in_class = true;
      if (i + 1 < p.size() && p[i + 1] == '^') ++i;
      if (i + 1 < p.size() && p[i + 1] == ']') ++i;
      continue;
    }
    if (c == '(') ++depth;
    else if (c == ')') --depth;
    else if (c == '|' && depth == 0) {
      out.push_back(p.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(p.substr(start));
  return out;
}

pcre2_code* compile_code(std::string_view python_source, unsigned flags, Pattern::Mode mode) {
  std::string pcre = translate_pattern(python_source);
  uint32_t opts = PCRE2_UTF | PCRE2_UCP;
  if (flags & Pattern::IGNORECASE) opts |= PCRE2_CASELESS;
  if (flags & Pattern::DOTALL) opts |= PCRE2_DOTALL;
  if (flags & Pattern::MULTILINE) opts |= PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX;
  if (mode == Pattern::Mode::Match) opts |= PCRE2_ANCHORED;
  if (mode == Pattern::Mode::FullMatch) opts |= PCRE2_ANCHORED | PCRE2_ENDANCHORED;
  pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(cctx, PCRE2_NEWLINE_LF);
  int err = 0;
  PCRE2_SIZE erroff = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pcre.data()), pcre.size(), opts, &err, &erroff, cctx);
  pcre2_compile_context_free(cctx);
  if (!code) throw PatternError("cannot compile pattern " + std::string(python_source) + ": " + error_text(err));
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // falls back to the interpreter if JIT is unavailable
  return code;
}

}  // namespace

Pattern::Pattern(std::string_view python_source, unsigned flags, Mode mode)
    : impl_(new Impl), source_(python_source), flags_(flags), mode_(mode) {
  std::unique_ptr<Impl> guard(impl_);
  impl_->code = compile_code(python_source, flags, mode);
  pcre2_pattern_info(impl_->code, PCRE2_INFO_CAPTURECOUNT, &impl_->groups);
  if (impl_->groups > static_cast<uint32_t>(Match::kMaxGroups))
    throw PatternError("too many groups in pattern " + std::string(python_source));
  std::vector<std::string_view> alts = top_level_alternatives(python_source);
  if (alts.size() > 1)
    for (std::string_view a : alts) impl_->alternatives.push_back(compile_code(a, flags, mode));
  guard.release();
}

Pattern::~Pattern() { delete impl_; }

bool Pattern::test(std::string_view s) const {
  if (impl_->alternatives.empty()) return search(s, nullptr, 0);
  Subject subj(s);
  uint32_t opts = 0;
  for (const pcre2_code* c : impl_->alternatives) {
    if (impl_->run_code(c, subj.view, 0, opts, nullptr)) return true;
    opts = PCRE2_NO_UTF_CHECK;  // checked by the first run
  }
  return false;
}

bool Pattern::search(std::string_view s, Match* m, std::size_t start) const {
  Subject subj(s);
  return impl_->run(subj.view, start, 0, m);
}

void Pattern::for_each(std::string_view s, const std::function<bool(const Match&)>& f) const {
  Subject subj(s);
  Match m;
  std::size_t pos = 0;
  uint32_t opts = 0;
  while (pos <= subj.view.size()) {
    if (!impl_->run(subj.view, pos, opts, &m)) break;
    if (!f(m)) break;
    // The text was checked on the first call; later calls of this scan skip
    // the (otherwise repeated, O(n) each) UTF check.
    opts = PCRE2_NO_UTF_CHECK;
    // After an empty match the next one may not be empty at the same place.
    if (m.end == m.begin) opts |= PCRE2_NOTEMPTY_ATSTART;
    pos = m.end;
  }
}

std::vector<Match> Pattern::find_all(std::string_view s) const {
  std::vector<Match> out;
  for_each(s, [&](const Match& m) {
    out.push_back(m);
    return true;
  });
  return out;
}

std::string Pattern::sub(std::string_view s, std::string_view repl, bool expand_groups) const {
  std::string out;
  std::size_t last = 0;
  for_each(s, [&](const Match& m) {
    out.append(s.substr(last, m.begin - last));
    if (!expand_groups) {
      out.append(repl);
    } else {
      for (std::size_t i = 0; i < repl.size(); ++i) {
        if (repl[i] == '\\' && i + 1 < repl.size() && repl[i + 1] >= '0' && repl[i + 1] <= '9') {
          out.append(m.group(s, repl[i + 1] - '0'));
          ++i;
        } else {
          out.push_back(repl[i]);
        }
      }
    }
    last = m.end;
    return true;
  });
  out.append(s.substr(last));
  return out;
}

std::vector<std::string_view> Pattern::split(std::string_view s) const {
  std::vector<std::string_view> out;
  std::size_t last = 0;
  for_each(s, [&](const Match& m) {
    out.push_back(s.substr(last, m.begin - last));
    last = m.end;
    return true;
  });
  out.push_back(s.substr(last));
  return out;
}

}  // namespace vorlane
