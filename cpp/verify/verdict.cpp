#include "verify/verdict.hpp"

#include <optional>

#include "extract/patterns.hpp"
#include "text/utf8.hpp"
#include "verify/literal.hpp"
#include "verify/match.hpp"
#include "verify/views.hpp"

namespace vorlane::verify {

namespace {

std::string quoted(std::string_view a) {
  std::string s;
  s.reserve(a.size() + 2);
  s += '`';
  s += a;
  s += '`';
  return s;
}

std::string join(const std::vector<std::string>& items, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += items[i];
  }
  return out;
}

std::string join_quoted(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::string> q;
  for (const auto& x : a) q.push_back(quoted(x));
  for (const auto& x : b) q.push_back(quoted(x));
  return join(q, ", ");
}

// Last component of a slash-separated path, ignoring empty and "." ones.
std::string last_component(std::string_view p) {
  std::string_view last;
  std::size_t i = 0;
  while (i <= p.size()) {
    std::size_t j = p.find('/', i);
    if (j == std::string_view::npos) j = p.size();
    std::string_view c = p.substr(i, j - i);
    if (!c.empty() && c != ".") last = c;
    i = j + 1;
  }
  return std::string(last);
}

}  // namespace

std::vector<std::string> claim_atoms(const std::vector<std::string>& targets) {
  std::vector<std::string> out;
  for (const auto& t : targets) {
    for (auto& a : atoms(t)) {
      if (kind_of(a) == LitKind::Phrase && utf8::length(a) < 4) continue;
      out.push_back(std::move(a));
    }
  }
  return out;
}

Verdict nothing_to_check() { return {std::string(UNCHECKED), "nothing literal to check"}; }

Verdict judge(const ClaimKind& kind, std::string_view text, const std::vector<std::string>& atoms,
              const RunLog& log) {
  const Patterns& P = patterns();
  const Faults& faults = log.faults;

  std::string bare = P.CODE_SPAN_RE.sub(text, " ");
  bool is_mention = kind.mention_kind && !extract::patterns().WORK_VERB_RE.test(bare) &&
                    !P.PREDICATE_RE.test(bare);

  Views views = build_views(log);
  Matcher m(faults, log.home.get(), log.home_fault);

  std::optional<TextList> ok_texts;      // successful command texts, once needed
  std::optional<bool> empty_search_hit;  // the empty-search test, once needed

  std::vector<std::string> found, failed, read_only, missing;

  for (const std::string& A : atoms) {
    // Evidence.
    LitKind k = kind_of(A);
    std::optional<std::string> base;
    if (k == LitKind::Path) base = last_component(m.norm(A));
    std::vector<std::string_view> lits{A};
    if (base && utf8::length(*base) >= 4) lits.push_back(*base);

    auto in_any = [&](const TextList& texts) {
      for (std::string_view l : lits)
        if (m.in(l, texts)) return true;
      return false;
    };

    bool in_write = in_any(views.writes);
    if (!in_write) {
      faults.check(log.written.read_fault);
      if (base && !base->empty()) {
        faults.check(log.written.iter_fault);
        for (const TextValue& p : log.written.items()) {
          if (p.kind == TextValue::Kind::Other) faults.raise(p.type_fault);
          if (p.kind == TextValue::Kind::Null) throw Error::type("expected str for an entry of 'written', got None");
          if (p.text->norm().text.find(*base) != std::string::npos) {
            in_write = true;
            break;
          }
        }
      }
    }

    std::vector<const Command*> cmds;
    for (const Command& c : commands(log)) {
      for (std::string_view l : lits) {
        faults.check(c.command.fault);
        if (m.in_one(l, c.command.value)) {
          cmds.push_back(&c);
          break;
        }
      }
    }
    std::vector<const Command*> cmd_ok, cmd_bad;
    for (const Command* c : cmds)
      if (succeeded(*c, log)) cmd_ok.push_back(c);
    for (const Command* c : cmds)
      if (!c->success) cmd_bad.push_back(c);

    bool in_out = m.in(A, views.all_outs);
    // The read outputs are some of the outputs: a literal that is in no
    // output is in no read output either (and the list has been checked).
    bool in_read = false;
    for (std::size_t i = 0; i < lits.size() && !in_read; ++i)
      in_read = (i == 0 && !in_out) ? false : m.in(lits[i], views.read_outs);
    bool in_ext = in_any(views.ext_args);

    // Classification: the first row that holds.
    bool path_or_key = k == LitKind::Path || k == LitKind::Key;
    if (kind.command_ran && !cmd_bad.empty() && cmd_ok.empty()) {
      const Command& c = *cmd_bad.front();
      faults.check(c.exit_text_fault);
      failed.push_back(quoted(A) + " ran but FAILED (exit " + c.exit_text + ")");
    } else if (in_write) {
      found.push_back(quoted(A) + " in write");
    } else if (!cmd_ok.empty() &&
               (kind.command_ran || cmd_ok.front()->command.value.text->test(LogText::Test::ShellWrite) ||
                path_or_key)) {
      found.push_back(quoted(A) + " in command (exit ok)");
    } else if (in_ext) {
      found.push_back(quoted(A) + " in external action");
    } else if (in_out && !kind.file_changed) {
      found.push_back(quoted(A) + " in output");
    } else if (in_out && kind.file_changed && !path_or_key) {
      found.push_back(quoted(A) + " in output");
    } else if (in_read && path_or_key) {
      read_only.push_back(A);
    } else if (!kind.file_changed && [&] {
                 if (!ok_texts) ok_texts = ok_command_texts(log);
                 return m.words_in(A, *ok_texts);
               }()) {
      found.push_back("words of " + quoted(A) + " in command (exit ok)");
    } else if (!kind.file_changed && m.words_in(A, views.all_outs)) {
      found.push_back("words of " + quoted(A) + " in output");
    } else if ((P.EMPTY_RE.test(A) || P.EMPTY_RE.test(text)) && [&] {
                 if (!empty_search_hit) empty_search_hit = empty_search(log);
                 return *empty_search_hit;
               }()) {
      found.push_back("empty search result matches claim");
    } else {
      missing.push_back(A);
    }
  }

  // The verdict.
  if (!failed.empty()) return {std::string(CONTRADICTED), join(failed, "; ")};
  if (!found.empty()) {
    std::string note = join(found, "; ");
    if (!read_only.empty() || !missing.empty()) note += " \u00b7 unchecked: " + join_quoted(read_only, missing);
    return {std::string(VERIFIED), note};
  }
  if (!read_only.empty() && additive(text) && kind.file_changed)
    return {std::string(PRE_EXISTING), join_quoted(read_only, {}) +
                                " appears only in content the agent read; never in anything it wrote or ran"};
  if (is_mention)
    return {std::string(UNCHECKED),
            "a mention, not a claim of work: " + join_quoted(read_only, missing) + " not in this turn's log"};
  if (!read_only.empty())
    return {std::string(UNVERIFIED), join_quoted(read_only, {}) + " seen only in read output; no write or command touched it"};
  return {std::string(UNVERIFIED), join_quoted({}, missing) + " not found in any write, command or output"};
}

}  // namespace vorlane::verify
