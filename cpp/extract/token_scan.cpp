#include "extract/token_scan.hpp"

#include <array>
#include <vector>

#include "extract/patterns.hpp"
#include "text/byte_scan.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

using cls::at;
using cls::word_before;
constexpr auto word = cls::is_word;

// [\w.-]
bool run_char(char32_t c) { return c == '.' || c == '-' || word(c); }

// [\w./:-]
bool value_char(char32_t c) { return c == '.' || c == '/' || c == ':' || c == '-' || word(c); }

// The first position p in [from, to) of a run of [\w.-] where \b holds, or
// npos.  Inside the run every character belongs to the class, so \b holds
// exactly where word and non-word characters meet.
std::size_t first_boundary(std::string_view s, std::size_t from, std::size_t to) {
  bool prev = word_before(s, from);
  for (std::size_t i = from, next; i < to; i = next) {
    bool cur = word(at(s, i, next));
    if (cur != prev) return i;
    prev = cur;
  }
  return std::string_view::npos;
}

constexpr std::array<std::string_view, 27> kExtensions = {
    "md", "py", "json", "yaml", "yml", "kt", "kts", "sh", "toml", "txt", "db", "cfg", "ini", "gd",
    "tscn", "png", "html", "css", "js", "ts", "mjs", "svg", "log", "service", "timer", "env"};

bool is_extension(std::string_view w) {
  for (std::string_view e : kExtensions)
    if (w == e) return true;
  return false;
}

// \b[\w.-]+\.(?:md|py|...)\b from `pos`.  From a start p the greedy run
// backs off to the last "." after p that is followed by a whole word (a
// maximal \w run, since the \b after the extension needs a non-word next)
// spelling an extension; whether one exists depends on the run alone.
// Whether some "." at or after `pos` is followed by an extension that no
// ASCII word character continues: a match needs one.
bool extension_after_dot(std::string_view s, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t d = bytes::find_any(p, s.size(), pos, '.', '.', '.'); d < s.size();
       d = bytes::find_any(p, s.size(), d + 1, '.', '.', '.')) {
    std::size_t w = d + 1;
    while (w < s.size() && cls::ascii_word(p[w])) ++w;
    if (w - d - 1 >= 2 && is_extension(s.substr(d + 1, w - d - 1))) return true;
  }
  return false;
}

bool find_dotted(std::string_view s, std::size_t pos, Match& m) {
  if (!extension_after_dot(s, pos)) return false;
  std::size_t i = pos, next;
  while (i < s.size()) {
    if (!run_char(at(s, i, next))) {
      i = next;
      continue;
    }
    // The run [i, e): the last "." followed by an extension word.
    std::size_t last_dot = std::string_view::npos, last_end = 0;
    std::size_t j = i;
    while (j < s.size()) {
      char32_t c = at(s, j, next);
      if (!run_char(c)) break;
      if (c == '.' && j > i && next < s.size()) {
        // The word after the dot.
        std::size_t w = next, wn;
        while (w < s.size() && word(at(s, w, wn))) w = wn;
        if (w > next && is_extension(s.substr(next, w - next))) {
          last_dot = j;
          last_end = w;
        }
        j = w > next ? w : next;
        continue;
      }
      j = next;
    }
    std::size_t e = j;
    interrupt::tick(e - i);
    if (last_dot != std::string_view::npos) {
      std::size_t p = first_boundary(s, i, last_dot);
      if (p != std::string_view::npos) {
        m.begin = p;
        m.end = last_end;
        m.groups = 0;
        return true;
      }
    }
    i = e;
  }
  return false;
}

// `\s?=\s?[\w./:-]+` at `e`: the end of the match, or npos.
std::size_t keyval_tail(std::string_view s, std::size_t e) {
  std::size_t next;
  if (e >= s.size()) return std::string_view::npos;
  std::size_t eq = e;
  if (s[eq] != '=') {
    if (!uni::is_space(at(s, e, next)) || next >= s.size() || s[next] != '=') return std::string_view::npos;
    eq = next;
  }
  std::size_t v = eq + 1;
  if (v >= s.size()) return std::string_view::npos;
  char32_t c = at(s, v, next);
  if (!value_char(c)) {
    if (!uni::is_space(c)) return std::string_view::npos;
    v = next;
    if (v >= s.size() || !value_char(at(s, v, next))) return std::string_view::npos;
  }
  while (v < s.size() && value_char(at(s, v, next))) v = next;
  return v;
}

}  // namespace

std::string Finder::sub(std::string_view s, std::string_view repl) {
  std::string out;
  std::size_t last = 0;
  for_each(s, [&](const Match& m) {
    out.append(s.substr(last, m.begin - last));
    out.append(repl);
    last = m.end;
    return true;
  });
  out.append(s.substr(last));
  return out;
}

namespace {

// Whether PATH_HEAD_RE may match at or after `pos`: a "~", or a "/" that
// starts one of the named directories, or one that may start the slashed
// alternative (not after "/", ":" or a word character, then a run of
// [\w.+-], a "/" and one more such character).  Characters outside ASCII
// count as possible, so the answer errs only towards yes.
bool head_possible(std::string_view s, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  auto seg = [&](std::size_t i) { return i < n && (p[i] >= 0x80 || cls::ascii_word(p[i]) || p[i] == '.' || p[i] == '+' || p[i] == '-'); };
  for (std::size_t i = bytes::find_any(p, n, pos, '~', '/', '/'); i < n; i = bytes::find_any(p, n, i + 1, '~', '/', '/')) {
    if (p[i] == '~') return true;
    std::string_view rest = s.substr(i);
    for (std::string_view dir : {"/tmp", "/etc", "/opt", "/var", "/home/", "/Users/"})
      if (rest.substr(0, dir.size()) == dir) return true;
    unsigned char before = i ? p[i - 1] : ' ';
    if (before == '/' || before == ':' || (before < 0x80 && cls::ascii_word(before))) continue;
    std::size_t j = i + 1;
    while (seg(j)) ++j;
    if (j > i + 1 && j < n && p[j] == '/' && seg(j + 1)) return true;
  }
  return false;
}

}  // namespace

bool PathFinder::find(std::string_view s, std::size_t pos, Match& m) {
  if (!head_.covers(pos)) {
    bool lead = head_possible(s, pos);
    head_.found = lead && patterns().PATH_HEAD_RE.search(s, &head_.m, pos);
    head_.from = pos;
    head_.valid = true;
  }
  if (!dotted_.covers(pos)) {
    dotted_.found = find_dotted(s, pos, dotted_.m);
    dotted_.from = pos;
    dotted_.valid = true;
  }
  // At the same start the earlier alternatives win.
  if (head_.found && (!dotted_.found || head_.m.begin <= dotted_.m.begin)) {
    m = head_.m;
    return true;
  }
  if (dotted_.found) {
    m = dotted_.m;
    return true;
  }
  return false;
}

bool CodeSpanFinder::find(std::string_view s, std::size_t pos, Match& m) {
  // The text between two backticks is looked at once: a failed opening
  // leaves the closing backtick as the next one to try.
  for (std::size_t p = s.find('`', pos); p != std::string_view::npos;) {
    std::size_t q = s.find('`', p + 1);
    if (q == std::string_view::npos) return false;
    if (q > p + 1 && s.substr(p + 1, q - p - 1).find('\n') == std::string_view::npos) {
      m.begin = p;
      m.end = q + 1;
      m.groups = 1;
      m.group_begin[0] = p + 1;
      m.group_end[0] = q;
      return true;
    }
    interrupt::tick(q - p);
    p = q;
  }
  return false;
}

bool KeyvalFinder::find(std::string_view s, std::size_t pos, Match& m) {
  // Every match is a run of [\w.-] ending at a "=" or one white-space
  // character before it: the runs are found from the "=" signs, in order
  // (the run before a later sign ends later), each taken from its start or
  // from `pos`, whichever is later, as a scan from `pos` would take it.
  for (std::size_t q = s.find('=', pos); q != std::string_view::npos; q = s.find('=', q + 1)) {
    if (q <= pos) continue;
    std::size_t e = q, k = q;
    char32_t c = utf8::decode_back(s, k);
    if (!run_char(c)) {
      if (!uni::is_space(c) || k <= pos) continue;
      e = k;  // the run ends before the white space
      c = utf8::decode_back(s, k);
      if (!run_char(c)) continue;
    }
    // The start of the run: back over run characters, not before `pos`.
    std::size_t i = k;
    while (i > pos) {
      std::size_t j = i;
      if (!run_char(utf8::decode_back(s, j))) break;
      i = j;
    }
    interrupt::tick(e - i);
    std::size_t end = keyval_tail(s, e);
    if (end == std::string_view::npos) continue;
    std::size_t p = first_boundary(s, i, e);
    if (p == std::string_view::npos) continue;
    m.begin = p;
    m.end = end;
    m.groups = 0;
    return true;
  }
  return false;
}

namespace {

// \d at i (its end in `next`); false at the end of the text.
bool digit_at(std::string_view s, std::size_t i, std::size_t& next) {
  if (i >= s.size()) return false;
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    next = i + 1;
    return b >= '0' && b <= '9';
  }
  return uni::is_decimal(at(s, i, next));
}

// The end of the run of \d starting at i (i itself when none).
std::size_t digits_end(std::string_view s, std::size_t i) {
  std::size_t next;
  while (digit_at(s, i, next)) i = next;
  return i;
}

// NUM_RE's (?![\w.]) at e.
bool number_may_end(std::string_view s, std::size_t e) {
  if (e >= s.size()) return true;
  std::size_t next;
  return s[e] != '.' && !word(at(s, e, next));
}

// Whether NUM_RE matches from a digit run ending at b: after \d+ come
// any number of ",ddd" groups, then maybe "." and digits, then the
// look-ahead; a shorter digit run would leave a digit next, which nothing
// after it takes.  The group ends walked past b are added to `walked`.
bool number_from(std::string_view s, std::size_t b, std::vector<std::size_t>& walked) {
  std::size_t e = b, next;
  for (;;) {
    if (e != b) walked.push_back(e);  // b itself is never a later run's end
    if (number_may_end(s, e)) return true;
    if (s[e] == '.' && digit_at(s, e + 1, next) && number_may_end(s, digits_end(s, e + 1))) return true;
    if (s[e] != ',') return false;
    std::size_t g = e + 1;
    for (int k = 0; k < 3; ++k)
      if (!digit_at(s, g, next)) return false;
      else g = next;
    e = g;
  }
}

// Whether VERSION_RE matches from a digit run ending at b (with its \b and
// "v" already holding before the run): it needs two ".digits" groups at
// least.  With three, \b holds before the third's "."; with exactly two,
// after them (a "-" or "+" suffix starts with a non-word character, so it
// is never needed for \b).
bool version_from(std::string_view s, std::size_t b) {
  std::size_t e = b, next;
  for (int groups = 0;; ++groups) {
    if (groups == 3) return true;
    if (e < s.size() && s[e] == '.' && digit_at(s, e + 1, next)) {
      e = digits_end(s, e + 1);
      continue;
    }
    return groups == 2 && (e >= s.size() || !word(at(s, e, next)));
  }
}

bool numbers(std::string_view s, bool versions) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::vector<std::size_t> dead, walked;  // group ends of the last chain that failed, of this one
  std::size_t dead_at = 0;
  std::size_t i = 0, next;
  interrupt::Meter meter;
  while (i < n) {
    // The next digit: an ASCII one, or a character outside ASCII to look up.
    while (i < n && p[i] < 0x80 && !(p[i] >= '0' && p[i] <= '9')) ++i;
    if (i >= n) break;
    if (!digit_at(s, i, next)) {
      i = next;
      continue;
    }
    const std::size_t a = i, b = digits_end(s, a);
    meter.add(b - a);
    const bool word_left = word_before(s, a);
    // NUM_RE: (?<![\w.]) before the run.
    if (!word_left && !(a > 0 && s[a - 1] == '.')) {
      while (dead_at < dead.size() && dead[dead_at] < b) ++dead_at;
      if (dead_at >= dead.size() || dead[dead_at] != b) {
        walked.clear();
        if (number_from(s, b, walked)) return true;
        if (!walked.empty()) {
          dead.swap(walked);
          dead_at = 0;
        }
      }
    }
    // VERSION_RE: \b before the run, or before a "v" just before it.
    bool start = !word_left || (a > 0 && s[a - 1] == 'v' && !word_before(s, a - 1));
    if (versions && start && version_from(s, b)) return true;
    i = b;
  }
  meter.flush();
  return false;
}

}  // namespace

bool has_number(std::string_view s) { return numbers(s, false); }

bool has_number_or_version(std::string_view s) { return numbers(s, true); }

bool negated_before(std::string_view unit, std::size_t end) {
  std::string_view s = unit.substr(0, end);
  // The pattern ends in \s+ before the end (or before a final line feed,
  // itself white space): the text must end in white space.
  if (s.empty()) return false;
  std::size_t i = s.size();
  if (!uni::is_space(utf8::decode_back(s, i))) return false;
  // A match holds the negation (one or two words) and at most two more
  // words, each piece separated by white space: it starts inside the fourth
  // run of non-white-space from the end, or later.
  i = s.size();
  int runs = 0;
  bool in_run = false;
  while (i > 0) {
    std::size_t j = i;
    bool space = uni::is_space(utf8::decode_back(s, j));
    if (!space && !in_run && ++runs > 4) break;
    in_run = !space;
    i = j;
  }
  // One character more for the \b before the negation.
  std::size_t from = i;
  if (from > 0) utf8::decode_back(s, from);
  Match m;
  return patterns().NEGATED_RE.search(s.substr(from), &m, i - from);
}

}  // namespace vorlane::extract
