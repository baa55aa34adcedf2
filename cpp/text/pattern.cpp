#define PCRE2_CODE_UNIT_WIDTH 8
#include "text/pattern.hpp"

#include <pcre2.h>

#include <cstring>
#include <memory>

#include "text/byte_scan.hpp"
#include "text/interrupt.hpp"
#include "text/pattern_text.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane {

std::string translate_pattern(std::string_view p) { return pattern_text::translate(p); }

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

// The outermost TrustScope that accepted its input on this thread, if any:
// subjects are then well-formed and surrogate-free.
thread_local const TrustScope* t_trust = nullptr;

// True when no decimal digit of `s` lies outside ASCII.
bool only_ascii_digits(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      i = bytes::skip_ascii(reinterpret_cast<const unsigned char*>(s.data()), i, s.size());
      continue;
    }
    // Latin-1 to Arabic, and punctuation, arrows, symbols and dingbats
    // (U+2000..2BFF), hold no decimal digit: no lookup for the usual ones,
    // told from their first bytes (the text is well-formed here).
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0xD9) {  // U+0080..U+063F
      i += 2;
      continue;
    }
    if (b == 0xE2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xB0) {  // U+2000..U+2BFF
      i += 3;
      continue;
    }
    char32_t c = utf8::decode(s, i);
    if (c < 0x660 || (c >= 0x2000 && c < 0x2C00)) continue;
    if (uni::is_decimal(c)) return false;
  }
  return true;
}

// What a TrustScope needs to know of its input, in one pass: whether it is
// well-formed UTF-8 without encoded surrogates, and whether every decimal
// digit in it is ASCII (answered only for a trusted input).
struct InputFacts {
  bool trusted = true, ascii_digits = true;
};

InputFacts input_facts(std::string_view s) {
  InputFacts f;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0; i < s.size();) {
    if (p[i] < 0x80) {
      ++i;
      i = bytes::skip_ascii(p, i, s.size());
      continue;
    }
    char32_t c;
    if (!utf8::decode_strict(s, i, c) || (c >= 0xD800 && c <= 0xDFFF)) {
      f.trusted = false;
      return f;
    }
    // See only_ascii_digits.
    if (f.ascii_digits && !(c < 0x660 || (c >= 0x2000 && c < 0x2C00)) && uni::is_decimal(c)) f.ascii_digits = false;
  }
  return f;
}

// A subject ready for PCRE2: lone surrogates (invalid in strict UTF-8) are
// replaced by U+FFFD, which has the same byte length, so every offset stays
// valid for the original text and U+FFFD belongs to the same classes as a
// surrogate in every pattern used here.
struct Subject {
  std::string copy;
  std::string_view view;
  uint32_t opts = 0;          // PCRE2_NO_UTF_CHECK when already checked
  bool ascii_digits = false;  // \d may be read as [0-9]
  Subject(std::string_view s, bool has_digit_twin) : view(s) {
    if (t_trust) {
      opts = PCRE2_NO_UTF_CHECK;
      ascii_digits = has_digit_twin && t_trust->ascii_digits();
      return;
    }
    ascii_digits = has_digit_twin && only_ascii_digits(s);
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
  // One compiled form of the pattern.
  struct Code {
    pcre2_code* whole = nullptr;
    // The top-level alternatives compiled one by one, for existence tests:
    // "A|B" matches somewhere exactly when A or B does, and each
    // alternative alone keeps PCRE2's fast start-of-match scanning, which
    // the combination often loses.  Empty for a single alternative.
    std::vector<pcre2_code*> alternatives;
    ~Code() {
      pcre2_code_free(whole);
      for (pcre2_code* c : alternatives) pcre2_code_free(c);
    }
  };
  Code unicode;
  // For patterns with \d: the same with \d as [0-9], used on subjects whose
  // digits are all ASCII (Unicode property tests defeat PCRE2's fast
  // scanning for a first character).
  std::unique_ptr<Code> ascii;
  uint32_t groups = 0;

  const Code& code_for(const Subject& subj) const { return subj.ascii_digits ? *ascii : unicode; }

  bool run(const Subject& subj, std::size_t start, uint32_t opts, Match* m) const {
    return run_code(code_for(subj).whole, subj.view, start, opts, m);
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

pcre2_code* compile_code(std::string_view python_source, unsigned flags, Pattern::Mode mode, bool ascii_digits) {
  std::string pcre = pattern_text::translate(python_source, ascii_digits);
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
  std::vector<std::string_view> alts = pattern_text::top_level_alternatives(python_source);
  auto build = [&](Impl::Code& code, bool ascii_digits) {
    code.whole = compile_code(python_source, flags, mode, ascii_digits);
    if (alts.size() > 1)
      for (std::string_view a : alts) code.alternatives.push_back(compile_code(a, flags, mode, ascii_digits));
  };
  build(impl_->unicode, false);
  pcre2_pattern_info(impl_->unicode.whole, PCRE2_INFO_CAPTURECOUNT, &impl_->groups);
  if (impl_->groups > static_cast<uint32_t>(Match::kMaxGroups))
    throw PatternError("too many groups in pattern " + std::string(python_source));
  if (pattern_text::translate(python_source, true) != pattern_text::translate(python_source, false)) {
    impl_->ascii = std::make_unique<Impl::Code>();
    build(*impl_->ascii, true);
  }
  guard.release();
}

Pattern::~Pattern() { delete impl_; }

TrustScope::TrustScope(std::string_view input) : input_(input), owner_(false) {
  if (t_trust) return;
  InputFacts f = input_facts(input);
  owner_ = f.trusted;
  if (owner_) {
    ascii_digits_ = f.ascii_digits;
    t_trust = this;
  }
}

TrustScope::TrustScope(std::string_view input, WellFormed) : input_(input), owner_(false) {
  if (t_trust) return;
  owner_ = true;
  t_trust = this;
}

TrustScope::~TrustScope() {
  if (owner_) t_trust = nullptr;
}

bool TrustScope::ascii_digits() const {
  if (ascii_digits_ < 0) ascii_digits_ = only_ascii_digits(input_);
  return ascii_digits_ != 0;
}

bool Pattern::test(std::string_view s) const {
  Subject subj(s, impl_->ascii != nullptr);
  const Impl::Code& code = impl_->code_for(subj);
  if (code.alternatives.empty()) return impl_->run(subj, 0, subj.opts, nullptr);
  uint32_t opts = subj.opts;
  for (const pcre2_code* c : code.alternatives) {
    if (impl_->run_code(c, subj.view, 0, opts, nullptr)) return true;
    opts = PCRE2_NO_UTF_CHECK;  // checked by the first run
  }
  return false;
}

bool Pattern::search(std::string_view s, Match* m, std::size_t start) const {
  Subject subj(s, impl_->ascii != nullptr);
  return impl_->run(subj, start, subj.opts, m);
}

void Pattern::for_each(std::string_view s, const std::function<bool(const Match&)>& f) const {
  Subject subj(s, impl_->ascii != nullptr);
  Match m;
  std::size_t pos = 0;
  uint32_t opts = subj.opts;
  while (pos <= subj.view.size()) {
    if (!impl_->run(subj, pos, opts, &m)) break;
    interrupt::tick(m.end - pos);
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
