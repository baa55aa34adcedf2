#include "verify/literal.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::verify {

namespace {

using P = Pattern;
constexpr unsigned I = Pattern::IGNORECASE;

// Module constants (Python `re` syntax).
constexpr std::string_view kNum = R"(^[\d,]+(?:\.\d+)?$)";
constexpr std::string_view kNegated =
    R"(\b(don'?t|do not|never|not|no|without|didn'?t|did not)\s+(?:\w+\s+){0,2}$)";
constexpr std::string_view kAdditive =
    R"(\b(add|added|adds|creat|new|introduc|set up|wrote|write|bump|enable|install)\w*)";
constexpr std::string_view kEmpty =
    R"(\b(0 hits?|no (?:hits|matches|results)|nothing found|returns? (?:nothing|empty)|empty)\b)";
constexpr std::string_view kPredicate =
    R"(\b(is|are|was|were|has|have|had|does|did|do|shows?|showed|logs?|logged|returns?|returned|throws?|threw|crash\w*|works?|worked|match\w*|equals?|reads?|comes?|came|goes|went|gets?|got|gives?|gave|contains?|includes?|means|needs?|takes?|took|uses?|used|renders?|reports?|prints?|says|said|looks?|appears?)\b)";
constexpr std::string_view kReadCode =
    R"(\b(read_file|search_files|grep|cat |ls |find |head|tail|sqlite3\.connect|select ))";
constexpr std::string_view kShellWrite =
    R"(\b(sed -i|tee|>>?|cp|scp|mv|rsync|ln|install|chmod|touch|mkdir|git (?:commit|push|mv|rm)|rm|kill|pkill|systemctl|docker|pip|npm|apt)\b|<<)";

// Inline patterns.
constexpr std::string_view kApprox = R"([≈~](?=\s*\d))";
constexpr std::string_view kLineRef = R"((\.\w{1,5}):\d+(?:-\d+)?$)";
constexpr std::string_view kWsRun = R"(\s+)";
constexpr std::string_view kAtomTest = R"(→|->| / |,| and |\.\.)";
constexpr std::string_view kAtomSplit = R"(\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*)";
constexpr std::string_view kLeadLetter = R"(^(?=\d)|^[a-z](?=\d))";
constexpr std::string_view kNumUnit =
    R"(^([\d.,]+)\s*(px|fps|ms|s|%|mb|gb|kb|bytes?|chars?|rows?|layers?)$)";
constexpr std::string_view kPathExt = R"(\.[a-z]{1,5}$)";
constexpr std::string_view kKeyval = R"([\w.-]+\s*=\s*.+)";
constexpr std::string_view kCodeSpan = R"(`[^`]*`)";
constexpr std::string_view kTerminalRead = R"(\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b)";
constexpr std::string_view kSearchTool = R"(\b(grep|rg|find)\b)";

constexpr std::u32string_view kQuotes = U"`'\"";

}  // namespace

Patterns::Patterns()
    : NUM_RE(kNum, 0, P::Mode::Match),
      NEGATED_RE(kNegated, I),
      ADDITIVE_RE(kAdditive, I),
      EMPTY_RE(kEmpty, I),
      PREDICATE_RE(kPredicate, I),
      READ_CODE_RE(kReadCode),
      SHELL_WRITE_RE(kShellWrite),
      APPROX_RE(kApprox),
      LINE_REF_RE(kLineRef),
      WS_RUN_RE(kWsRun),
      ATOM_TEST_RE(kAtomTest),
      ATOM_SPLIT_RE(kAtomSplit),
      LEAD_LETTER_RE(kLeadLetter),
      NUM_UNIT_RE(kNumUnit, I),
      PATH_EXT_RE(kPathExt),
      KEYVAL_RE(kKeyval, 0, P::Mode::FullMatch),
      CODE_SPAN_RE(kCodeSpan),
      TERMINAL_READ_RE(kTerminalRead, 0, P::Mode::Match),
      SEARCH_TOOL_RE(kSearchTool) {}

const Patterns& patterns() {
  static const Patterns p;
  return p;
}

std::vector<PatternInfo> exported_patterns() {
  return {
      {"NUM_RE", kNum, 0},
      {"NEGATED_RE", kNegated, 2},
      {"ADDITIVE_RE", kAdditive, 2},
      {"EMPTY_RE", kEmpty, 2},
      {"PREDICATE_RE", kPredicate, 2},
      {"READ_CODE_RE", kReadCode, 0},
      {"SHELL_WRITE_RE", kShellWrite, 0},
  };
}

// ---------------------------------------------------------------------------
// Cleaning and atoms

namespace {

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  for (;;) {
    std::size_t j = s.find(from, i);
    if (j == std::string_view::npos) break;
    out.append(s.substr(i, j - i));
    out.append(to);
    i = j + from.size();
  }
  out.append(s.substr(i));
  return out;
}

}  // namespace

std::string clean(std::string_view t) {
  const Patterns& p = patterns();
  std::string s = p.APPROX_RE.sub(t, "");
  s = replace_all(s, "\u2013", "-");
  s = replace_all(s, "\u2014", "-");
  std::string_view v = uni::strip(s);
  v = uni::strip_chars(v, kQuotes);
  s = p.LINE_REF_RE.sub(v, "\\1", true);
  return p.WS_RUN_RE.sub(s, " ");
}

std::vector<std::string> atoms(std::string_view t) {
  const Patterns& p = patterns();
  std::string c = clean(t);
  std::vector<std::string_view> pieces;
  if (p.ATOM_TEST_RE.test(c)) {
    pieces = p.ATOM_SPLIT_RE.split(c);
  } else {
    pieces.push_back(c);
  }
  std::vector<std::string> out;
  for (std::string_view piece : pieces) {
    std::string s = p.LEAD_LETTER_RE.sub(uni::strip(piece), "");
    s = p.NUM_UNIT_RE.sub(s, "\\1", true);
    if (utf8::length(s) < 2) continue;
    out.emplace_back(uni::rstrip_chars(s, U"()"));
  }
  return out;
}

LitKind kind_of(std::string_view lit) {
  const Patterns& p = patterns();
  if (lit.find('/') != std::string_view::npos || p.PATH_EXT_RE.test(lit)) return LitKind::Path;
  if (lit.find_first_of("=_-") != std::string_view::npos && lit.find(' ') == std::string_view::npos)
    return LitKind::Key;
  if (p.NUM_RE.test(lit)) return LitKind::Number;
  return LitKind::Phrase;
}

const char* kind_name(LitKind k) {
  switch (k) {
    case LitKind::Path: return "path";
    case LitKind::Key: return "key";
    case LitKind::Number: return "number";
    default: return "phrase";
  }
}

// ---------------------------------------------------------------------------
// Normalisation
//
// The steps are: "~" -> home; strip white space, then the three quote
// characters; white-space runs -> one space; lower case; commas out of a bare
// number; a final "x" after a digit out.  This runs over every text of a run
// log (megabytes), so it is one pass over the input that does the home
// substitution, the collapsing and the lower-casing together, and strips
// afterwards.  Stripping after collapsing and lower-casing gives the same
// text: the stripped characters are white space and quotes, which lower-casing
// neither produces nor changes, and a white-space run at an end is removed
// whole either way.  Non-ASCII words are lower-cased one word at a time: the
// casing context of a final sigma never reaches across a space.

namespace {

// Byte classes of the single pass: ASCII text (copied lower-cased), ASCII
// white space, "~", and the first byte of a multi-byte character.
enum : unsigned char { kText = 0, kSpace = 1, kTilde = 2, kMulti = 3 };

struct ByteTable {
  unsigned char cls[256];
  unsigned char lower[256];
  constexpr ByteTable() : cls(), lower() {
    for (int b = 0; b < 256; ++b) {
      unsigned char c = kText;
      if ((b >= 0x09 && b <= 0x0D) || (b >= 0x1C && b <= 0x20)) c = kSpace;
      else if (b >= 0x80) c = kMulti;
      else if (b == '~') c = kTilde;
      cls[b] = c;
      lower[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
    }
  }
};
constexpr ByteTable kTable;

// Writes the collapsed, lower-cased form of a text into a buffer sized in
// advance (every input byte gives at most one output byte); words holding
// non-ASCII characters are lower-cased as a whole when they end.
class NormWriter {
 public:
  NormWriter(std::string& out, std::size_t bound) : out_(out) {
    out_.resize(bound);
    o_ = reinterpret_cast<unsigned char*>(out_.data());
  }

  // Appends `s`; with `expand`, every "~" stands for `home`.
  void put(std::string_view s, bool expand, std::string_view home) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
      unsigned char c = b[i];
      switch (kTable.cls[c]) {
        case kText:
          o_[w_++] = kTable.lower[c];
          space_ = false;
          ++i;
          break;
        case kSpace:
          space();
          ++i;
          break;
        case kTilde:
          if (expand) {
            put(home, false, home);
          } else {
            o_[w_++] = c;
            space_ = false;
          }
          ++i;
          break;
        default: {
          std::size_t k = i;
          char32_t cp = utf8::decode(s, k);
          if (uni::is_space(cp)) {
            space();
          } else {
            std::memcpy(o_ + w_, b + i, k - i);
            w_ += k - i;
            space_ = false;
            multi_ = true;
          }
          i = k;
          break;
        }
      }
    }
  }

  void finish() {
    end_word();
    out_.resize(w_);
  }

 private:
  void space() {
    if (space_) return;
    end_word();
    o_[w_++] = ' ';
    space_ = true;
    word_ = w_;
  }

  void end_word() {
    if (!multi_) return;
    multi_ = false;
    std::string low = uni::lower(std::string_view(reinterpret_cast<const char*>(o_) + word_, w_ - word_));
    // Lower-casing may lengthen the word (U+0130 becomes two characters);
    // keep the room that the rest of the input needs.
    std::size_t need = word_ + low.size() + (out_.size() - w_);
    if (need > out_.size()) {
      out_.resize(need);
      o_ = reinterpret_cast<unsigned char*>(out_.data());
    }
    std::memcpy(o_ + word_, low.data(), low.size());
    w_ = word_ + low.size();
  }

  std::string& out_;
  unsigned char* o_;
  std::size_t w_ = 0;
  std::size_t word_ = 0;  // where the current word began
  bool space_ = false;    // the last byte written is a collapsed space
  bool multi_ = false;    // the current word holds non-ASCII text
};

}  // namespace

bool is_bare_number(std::string_view s) {
  std::size_t i = 0, n = s.size();
  std::size_t lead = 0;
  // [\d,]+
  while (i < n) {
    std::size_t j = i;
    char32_t c = utf8::decode(s, j);
    if (c == ',' || uni::is_decimal(c)) {
      i = j;
      ++lead;
    } else {
      break;
    }
  }
  if (lead == 0) return false;
  if (i == n) return true;
  // (?:\.\d+)?$
  if (s[i] != '.') return false;
  ++i;
  std::size_t digits = 0;
  while (i < n) {
    std::size_t j = i;
    if (!uni::is_decimal(utf8::decode(s, j))) return false;
    i = j;
    ++digits;
  }
  return digits > 0;
}

std::string norm(std::string_view s, std::string_view home) {
  std::size_t tildes = static_cast<std::size_t>(std::count(s.begin(), s.end(), '~'));
  std::size_t bound = s.size() + tildes * home.size() + 1;
  std::string out;
  {
    NormWriter wr(out, bound);
    wr.put(s, true, home);
    wr.finish();
  }

  // Strip white space, then quotes (the white space is single spaces now).
  std::string_view v = uni::strip(out);
  v = uni::strip_chars(v, kQuotes);
  if (v.size() != out.size()) {
    std::size_t off = static_cast<std::size_t>(v.data() - out.data());
    std::size_t len = v.size();
    if (off) out.erase(0, off);
    out.resize(len);
  }

  if (is_bare_number(out)) {
    std::string t;
    t.reserve(out.size());
    for (char c : out)
      if (c != ',') t.push_back(c);
    out.swap(t);
  }
  // (?<=\d)x$
  if (out.size() >= 2 && out.back() == 'x') {
    std::size_t k = out.size() - 1;
    if (uni::is_decimal(utf8::decode_back(out, k))) out.pop_back();
  }
  return out;
}

// ---------------------------------------------------------------------------
// Variants and tokens

std::vector<std::string> variants_of_norm(const std::string& n) {
  std::set<std::string> v;
  v.insert(n);
  v.insert(replace_all(n, " = ", "="));
  v.insert(replace_all(n, "=", " = "));
  v.insert(replace_all(n, " ", ""));
  if (patterns().KEYVAL_RE.test(n)) {
    std::size_t eq = n.find('=');
    std::string k(uni::strip(std::string_view(n).substr(0, eq)));
    std::string val(uni::strip(std::string_view(n).substr(eq + 1)));
    v.insert(k + ": " + val);
    v.insert("\"" + k + "\": " + val);
    v.insert(k + ": '" + val + "'");
    v.insert(k + ": \"" + val + "\"");
    v.insert("\"" + k + "\": \"" + val + "\"");
  }
  std::vector<std::string> out;
  for (const std::string& x : v)
    if (utf8::length(x) >= 2) out.push_back(x);
  return out;
}

std::vector<std::string> tokens_of_norm(std::string_view n) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < n.size()) {
    // A maximal run of word characters is one piece of the split at [^\w]+.
    std::size_t start = i, count = 0;
    bool all_digits = true;
    while (i < n.size()) {
      std::size_t j = i;
      char32_t c = utf8::decode(n, j);
      if (!uni::is_word(c)) break;
      if (!uni::is_digit(c)) all_digits = false;
      ++count;
      i = j;
    }
    if (count >= 3 && !all_digits) out.emplace_back(n.substr(start, i - start));
    if (i == start) {  // a non-word character
      std::size_t j = i;
      utf8::decode(n, j);
      i = j;
    }
  }
  return out;
}

namespace {

// Where a NEGATED_RE match in `before` may start.  The pattern must end at
// the end of the text: a negation (one token, or two for "do not" and "did
// not"), white space, at most two more words each followed by white space.
// So it starts within the last four runs of non-space characters, and the
// search can begin there instead of at the start of a long text.
std::size_t negation_window(std::string_view before) {
  std::size_t i = before.size();
  auto skip = [&](bool spaces) {
    while (i > 0) {
      std::size_t j = i;
      if (uni::is_space(utf8::decode_back(before, j)) != spaces) break;
      i = j;
    }
  };
  skip(true);
  for (int k = 0; k < 4 && i > 0; ++k) {
    skip(false);
    skip(true);
  }
  return i;
}

}  // namespace

bool additive(std::string_view text) {
  const Patterns& p = patterns();
  bool found = false;
  p.ADDITIVE_RE.for_each(text, [&](const Match& m) {
    std::string_view before = text.substr(0, m.begin);
    if (!p.NEGATED_RE.search(before, nullptr, negation_window(before))) {
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

}  // namespace vorlane::verify
