// Fuzz target: one claim and a small run log, decoded from the fuzz bytes ->
// verdict word and note.
//
// Input layout (the seeds in fuzz/seeds.py write the same):
//   4 header bytes: claim kind, home directory, flags, fault selector;
//   then groups separated by 0xFF: claim text | targets | events | external
//   actions | written paths | commands.  Items of a group are separated by
//   0xFE, fields of an item by 0xFD; the first field of an event, action or
//   command is a meta field (its bytes choose tool, flags, exit code, how
//   often the output is repeated).  0xFD..0xFF never occur in UTF-8, so seeds
//   made of real texts keep their texts intact.
//
// Invariants:
//  - the verdict word is one of the five and the note is non-empty UTF-8;
//    "contradicted" only for "command_ran" claims, "pre-existing" only for
//    "file_changed" ones; no atom gives ("unchecked", "nothing literal to
//    check");
//  - judging again (when flag 0x40 is set) gives the same pair (the log
//    texts then come from their caches);
//  - the lookups (`in`, `words_in`, through the chunk filters and probed
//    search) answer exactly like plain substring search over the
//    normalised texts;
//  - every normalised text has the shape of the rules and equals the
//    step-by-step normalisation; variants are distinct and at least two
//    code points long;
//  - the only exceptions are the verdict module's errors, and only when a
//    fault was planted in the log or a command's output is null (a type
//    error once the empty-search test reads it).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common.hpp"
#include "verify/literal.hpp"
#include "verify/match.hpp"
#include "verify/names.hpp"
#include "verify/verdict.hpp"
#include "verify/views.hpp"

using namespace vorlane;
using namespace vorlane::verify;

namespace {

constexpr const char* kHomes[] = {"/home/u", "/root", "/Home/\u00dcn\u00ef ~x", "/"};
constexpr const char* kTools[] = {"read_file", "search_files", "skill_view", "terminal",
                                  "execute_code", "write_file", "patch", "browser"};
constexpr const char* kFailTexts[] = {"1", "2", "127", "-1", "True", "00", "", " 0"};

struct Input {
  std::string_view header;
  std::vector<std::string_view> groups;
  std::string_view group(std::size_t i) const { return i < groups.size() ? groups[i] : std::string_view(); }
};

std::vector<std::string_view> items(std::string_view g) {
  if (g.empty()) return {};
  return fuzz::split(g, '\xFE');
}

uint8_t byte(std::string_view s, std::size_t i) { return i < s.size() ? static_cast<uint8_t>(s[i]) : 0; }

struct Built {
  RunLog log;
  ClaimKind kind;
  std::string text;
  std::vector<std::string> targets;
  bool faulty = false;       // a fault was planted
  bool null_output = false;  // a command's output is null
  bool judge_twice = false;
};

// Text of one field, repeated `times` times (to reach the chunk filters).
std::string field_text(std::string_view f, unsigned times) {
  std::string one = fuzz::to_text(f);
  std::string out;
  out.reserve(one.size() * times);
  for (unsigned i = 0; i < times; ++i) out += one;
  return out;
}

void build(const uint8_t* data, std::size_t size, Built& b) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  Input in;
  in.header = all.substr(0, 4);
  in.groups = fuzz::split(all.substr(std::min<std::size_t>(4, all.size())), '\xFF');

  uint8_t h0 = byte(in.header, 0), h1 = byte(in.header, 1), h2 = byte(in.header, 2), h3 = byte(in.header, 3);
  switch (h0 % 8) {
    case 0: b.kind.file_changed = true; break;
    case 1: b.kind.command_ran = true; break;
    case 2: break;                                   // result_observed
    case 3: case 4: case 5: case 6: b.kind.mention_kind = true; break;  // external_action, other, mention, absent
    default: break;                                  // null: none of the words
  }
  RunLog& log = b.log;
  const bool plant = (h2 & 1) != 0;
  b.judge_twice = (h2 & 0x40) != 0;
  if ((h1 & 0x80) && plant) {
    log.home_fault = log.faults.add(Error::key("no home directory"));
    b.faulty = true;
  } else {
    log.home = std::make_shared<const std::string>(kHomes[h1 % 4]);
  }
  // A planted fault goes to the field whose running number is h3.
  unsigned field_no = 0;
  auto maybe_fault = [&](int32_t& slot, Error::Kind kind, const char* what) {
    if (plant && field_no++ == h3) {
      slot = log.faults.add(Error(kind, what));
      b.faulty = true;
    }
  };
  auto text_value = [&](std::string s) { return log.text(std::make_shared<const LogText>(std::move(s), log.home)); };
  auto text_field = [&](std::string_view f, bool null, unsigned times, const char* what) {
    TextField tf;
    maybe_fault(tf.fault, Error::Kind::Key, what);
    if (null) {
      tf.value.kind = TextValue::Kind::Null;
    } else if (plant && field_no++ == h3) {
      tf.value.kind = TextValue::Kind::Other;
      tf.value.type_fault = log.faults.add(Error::type(std::string("expected str for ") + what));
      b.faulty = true;
    } else {
      tf.value = text_value(field_text(f, times));
    }
    return tf;
  };

  b.text = fuzz::to_text(in.group(0));
  // Targets are short in practice; long ones only slow the fuzzer down.
  for (std::string_view t : items(in.group(1))) b.targets.push_back(fuzz::to_text(t.substr(0, 256)));

  for (std::string_view it : items(in.group(2))) {
    std::vector<std::string_view> f = fuzz::split(it, '\xFD');
    auto fld = [&](std::size_t i) { return i < f.size() ? f[i] : std::string_view(); };
    std::string_view meta = fld(0);
    uint8_t m0 = byte(meta, 0), m1 = byte(meta, 1);
    Event e;
    std::string_view tool = kTools[m0 % 8];
    maybe_fault(e.tool_fault, Error::Kind::Key, "tool");
    e.tool = tool_kind(tool);
    maybe_fault(e.wrote_fault, Error::Kind::Key, "wrote");
    e.wrote = (m0 & 0x08) != 0;
    unsigned times = 1u << (m1 % 8);
    e.command = text_field(fld(1), false, 1, "command");
    e.payload = text_field(fld(2), (m0 & 0x10) != 0, times, "payload");
    e.output = text_field(fld(3), (m0 & 0x20) != 0, times, "output");
    log.events.own.push_back(std::move(e));
  }

  for (std::string_view it : items(in.group(3))) {
    std::vector<std::string_view> f = fuzz::split(it, '\xFD');
    uint8_t m0 = byte(f[0], 0);
    std::string t = fuzz::to_text(f.size() > 1 ? f[1] : std::string_view());
    External x;
    maybe_fault(x.fault, Error::Kind::Type, "args");
    switch (m0 % 4) {
      case 0: x.args = json::Value::string(t); break;
      case 1: x.args = json::Value::object(); x.args.add("msg", json::Value::string(t)); break;
      case 2:
        x.args = json::Value::array();
        x.args.push(json::Value::string(t));
        x.args.push(json::Value::integer(static_cast<long long>(m0) - 100));
        x.args.push(json::Value::number(m0 / 8.0));
        break;
      default: {
        x.args = json::Value::object();
        json::Value& inner = x.args.add(t, json::Value::object());
        json::Value& arr = inner.add("n\u00e9sted", json::Value::array());
        arr.push(json::Value::string(t));
        arr.push(json::Value::null());
        arr.push(json::Value::boolean(true));
      }
    }
    log.external.own.push_back(std::move(x));
  }

  for (std::string_view it : items(in.group(4))) log.written.own.push_back(text_value(fuzz::to_text(it)));

  for (std::string_view it : items(in.group(5))) {
    std::vector<std::string_view> f = fuzz::split(it, '\xFD');
    auto fld = [&](std::size_t i) { return i < f.size() ? f[i] : std::string_view(); };
    uint8_t m0 = byte(fld(0), 0);
    Command c;
    c.command = text_field(fld(1), false, 1, "command");
    maybe_fault(c.exit_fault, Error::Kind::Type, "exit_code");
    c.success = (m0 & 1) == 0;
    if (!c.success) c.exit_text = kFailTexts[(m0 >> 1) % 8];
    // A command's output must be a text (null is refused once the
    // empty-search test reads it), so a null output counts as a fault.
    c.output = text_field(fld(2), (m0 & 0x40) != 0, 1, "output");
    if (m0 & 0x40) b.null_output = true;
    log.commands.own.push_back(std::move(c));
  }

  // Missing lists.
  if (plant && (h2 & 2)) {
    switch ((h2 >> 2) % 4) {
      case 0: log.events.read_fault = log.faults.add(Error::key("events")); break;
      case 1: log.external.read_fault = log.faults.add(Error::key("external")); break;
      case 2: log.written.read_fault = log.faults.add(Error::key("written")); break;
      default: log.commands.read_fault = log.faults.add(Error::key("commands")); break;
    }
    b.faulty = true;
  }
}

bool plain_in(const std::vector<std::string>& needles, const std::vector<std::string>& texts) {
  for (const std::string& t : texts)
    for (const std::string& n : needles)
      if (t.find(n) != std::string::npos) return true;
  return false;
}

// The significant words of a normalised literal, found with the pattern layer.
std::vector<std::string> plain_tokens(std::string_view n) {
  static const Pattern non_word(R"([^\w]+)");
  std::vector<std::string> out;
  for (std::string_view piece : non_word.split(n)) {
    if (utf8::length(piece) < 3) continue;
    bool digits = true;
    for (std::size_t i = 0; i < piece.size() && digits;) digits = uni::is_digit(utf8::decode(piece, i));
    if (!digits) out.emplace_back(piece);
  }
  return out;
}

void check_norm(std::string_view s, std::string_view home) {
  std::string n = norm(s, home);
  fuzz::check_norm_shape(s, n);
  std::string steps = fuzz::norm_by_steps(s, home);
  FUZZ_CHECK(n == steps, "norm differs from the step-by-step form for " + fuzz::show(s) + ": " + fuzz::show(n) +
                             " vs " + fuzz::show(steps));
}

// The lookups against plain substring search, for every atom and list.
void check_lookups(const Built& b, const std::vector<std::string>& atoms) {
  const RunLog& log = b.log;
  Views views = build_views(log);
  Matcher m(log.faults, log.home.get(), log.home_fault);
  const std::string& home = *log.home;
  const TextList* lists[] = {&views.writes, &views.read_outs, &views.all_outs, &views.ext_args};
  std::vector<std::vector<std::string>> normed;
  for (const TextList* l : lists) {
    std::vector<std::string> texts;
    for (const TextValue& v : l->items) {
      if (v.skipped()) continue;
      std::string n = norm(v.text->raw(), home);
      FUZZ_CHECK(v.text->norm().text == n, "cached normalised text differs from norm()");
      texts.push_back(std::move(n));
    }
    normed.push_back(std::move(texts));
  }
  for (const std::string& a : atoms) {
    std::string n = norm(a, home);
    std::vector<std::string> vars = variants_of_norm(n);
    std::set<std::string> distinct(vars.begin(), vars.end());
    FUZZ_CHECK(distinct.size() == vars.size(), "duplicate variants of " + fuzz::show(a));
    for (const std::string& v : vars) FUZZ_CHECK(utf8::length(v) >= 2, "variant shorter than 2: " + fuzz::show(v));
    if (utf8::length(n) >= 2) FUZZ_CHECK(distinct.count(n), "the normalised literal is not a variant: " + fuzz::show(n));

    std::vector<std::string> toks = tokens_of_norm(n);
    FUZZ_CHECK(toks == plain_tokens(n), "tokens differ from the pattern split for " + fuzz::show(n));

    for (std::size_t i = 0; i < 4; ++i) {
      bool fast = m.in(a, *lists[i]);
      FUZZ_CHECK(fast == plain_in(vars, normed[i]),
                 "in() differs from substring search for " + fuzz::show(a) + " in list " + std::to_string(i));
      bool words = m.words_in(a, *lists[i]);
      bool plain_words = false;
      if (toks.size() >= 2) {
        for (const std::string& t : normed[i]) {
          bool all = true;
          for (const std::string& w : toks) all = all && t.find(w) != std::string::npos;
          if (all) { plain_words = true; break; }
        }
      }
      FUZZ_CHECK(words == plain_words, "words_in() differs from substring search for " + fuzz::show(a));
    }
  }
}

bool is_word(std::string_view w) {
  for (std::string_view v : VERDICTS)
    if (w == v) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Built b;
  build(data, size, b);

  std::vector<std::string> atoms = claim_atoms(b.targets);
  for (const std::string& a : atoms) {
    FUZZ_CHECK(!a.empty(), "empty atom");
    FUZZ_CHECK(!(kind_of(a) == LitKind::Phrase && utf8::length(a) < 4), "short phrase atom kept: " + fuzz::show(a));
  }

  Verdict v;
  bool refused = false;
  if (atoms.empty()) {
    v = nothing_to_check();
  } else {
    try {
      v = judge(b.kind, b.text, atoms, b.log);
      if (b.judge_twice) {
        Verdict again = judge(b.kind, b.text, atoms, b.log);
        FUZZ_CHECK(v.word == again.word && v.note == again.note, "a second judgement differs");
      }
    } catch (const Error& e) {
      FUZZ_CHECK(b.faulty || (b.null_output && e.kind() == Error::Kind::Type &&
                              std::string_view(e.what()).find("'output'") != std::string_view::npos),
                 std::string("verify raised without a planted fault: ") + e.what());
      if (b.faulty) return 0;
      refused = true;
    }
    if (!refused)
      FUZZ_CHECK(!(v.word == "unchecked" && v.note == "nothing literal to check"), "atoms judged as nothing to check");
  }
  if (!refused) {
    FUZZ_CHECK(is_word(v.word), "verdict word outside the five: " + v.word);
    FUZZ_CHECK(!v.note.empty(), "empty note");
    FUZZ_CHECK(utf8::is_valid(v.note), "note not valid UTF-8: " + fuzz::show(v.note));
    if (v.word == "contradicted") FUZZ_CHECK(b.kind.command_ran, "contradicted for a claim that is not command_ran");
    if (v.word == "pre-existing") FUZZ_CHECK(b.kind.file_changed, "pre-existing for a claim that is not file_changed");
  }

  if (b.faulty || !b.log.home) return 0;
  const std::string& home = *b.log.home;
  check_norm(b.text, home);
  for (const std::string& a : atoms) check_norm(a, home);
  for (const auto& t : b.log.texts)
    if (t->raw().size() <= 8192) check_norm(t->raw(), home);
  check_lookups(b, atoms);
  return 0;
}
