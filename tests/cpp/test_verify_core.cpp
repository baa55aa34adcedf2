// Unit tests of the verdict core without Python: the filtered substring
// search against plain std::string::find, normalisation, and the moment at
// which recorded faults of a run log are raised.
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "verify/errors.hpp"
#include "verify/literal.hpp"
#include "verify/text_search.hpp"
#include "verify/verdict.hpp"

using namespace vorlane::verify;

namespace {

std::string random_text(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(n, ' ');
  for (auto& c : s) c = alphabet[pick(rng)];
  return s;
}

bool plain_any(const std::string& t, const std::vector<std::string>& needles) {
  for (const auto& n : needles)
    if (t.find(n) != std::string::npos) return true;
  return false;
}

void test_search_matches_plain_find() {
  std::mt19937 rng(7);
  const std::vector<std::size_t> sizes = {0, 5, 300, 1023, 1024, 1500, 4096, 4099, 16384, 16390, 70000};
  const std::vector<std::string> alphabets = {"ab", "abcdefgh \n", "0123456789,.", "xyz\"': =_"};
  int mismatches = 0;
  for (std::size_t size : sizes) {
    for (const auto& alpha : alphabets) {
      std::string text = random_text(rng, size, alpha);
      NormText nt(text);
      for (int k = 0; k < 60; ++k) {
        std::vector<std::string> needles;
        int count = 1 + static_cast<int>(rng() % 3);
        for (int j = 0; j < count; ++j) {
          std::size_t len = 1 + rng() % 9;
          if (!text.empty() && rng() % 2) {
            std::size_t at = rng() % text.size();
            needles.push_back(text.substr(at, len));
          } else {
            needles.push_back(random_text(rng, len, alpha + "q"));
          }
        }
        Needles nd(needles);
        bool expected = plain_any(text, needles);
        if (nd.found_in(nt) != expected || nd.found_in(std::string_view(text)) != expected) ++mismatches;
      }
    }
  }
  CHECK_EQ(mismatches, 0);
}

void test_search_at_chunk_edges() {
  std::mt19937 rng(3);
  std::string base = random_text(rng, 40000, "abcdefghij ");
  int misses = 0;
  for (std::size_t edge : {1024u, 2048u, 4096u, 8192u, 16384u, 32768u}) {
    for (std::string lit : std::vector<std::string>{"qz", "qzw", "qzwvk", "q" + std::string(100, 'w') + "k"}) {
      for (std::size_t d = 0; d <= lit.size() + 1; ++d) {
        std::size_t at = edge - lit.size() + d - 1;
        std::string t = base;
        t.replace(at, lit.size(), lit);
        if (!Needles(std::vector<std::string>{lit}).found_in(NormText(t))) ++misses;
      }
    }
  }
  CHECK_EQ(misses, 0);
  // A needle longer than a chunk is searched without the filter.
  std::string lit = random_text(rng, 20000, "klm");
  std::string t = base.substr(0, 3000) + lit + base;
  CHECK(Needles(std::vector<std::string>{lit}).found_in(NormText(t)));
  CHECK(!Needles(std::vector<std::string>{lit + "q"}).found_in(NormText(t)));
  CHECK(!Needles(std::vector<std::string>{}).found_in(NormText(t)));
}

void test_norm() {
  CHECK_EQ(norm("  `Hello   World`  ", "/home/u"), std::string("hello world"));
  CHECK_EQ(norm("~/Foo/Bar.ts", "/home/u"), std::string("/home/u/foo/bar.ts"));
  CHECK_EQ(norm("1,234.50", "/h"), std::string("1234.50"));
  CHECK_EQ(norm("1,000x", "/h"), std::string("1,000"));
  CHECK_EQ(norm("0x1F", "/h"), std::string("0x1f"));
  CHECK_EQ(norm("  \"  a  \"  ", "/h"), std::string(" a "));
  CHECK_EQ(norm("a\u00a0\u3000b", "/h"), std::string("a b"));
  CHECK_EQ(norm("\u0130X \u03a3A\u03a3", "/h"), std::string("i\u0307x \u03c3a\u03c2"));
  CHECK_EQ(norm("~~", "/H O"), std::string("/h o/h o"));
  CHECK_EQ(norm("", "/h"), std::string());
  // Long text with lengthening lower-case words and tildes.
  std::string s, expected;
  for (int i = 0; i < 2000; ++i) {
    s += "\u0130\u0130 ~ ";
    expected += "i\u0307i\u0307 /x ";
  }
  expected.pop_back();
  CHECK_EQ(norm(s, "/X"), expected);
}

void test_variants_and_tokens() {
  auto v = variants_of_norm(norm("MAX_RETRIES=5", "/h"));
  CHECK_EQ(v.size(), std::size_t(7));
  CHECK_EQ(tokens_of_norm("added retry logic to fetch_user"),
           (std::vector<std::string>{"added", "retry", "logic", "fetch_user"}));
  CHECK_EQ(tokens_of_norm("the 123 tests \u00b2\u00b2\u00b2"), (std::vector<std::string>{"the", "tests"}));
}

RunLog empty_log() {
  RunLog log;
  log.home = std::make_shared<const std::string>("/home/u");
  return log;
}

std::string raised(const RunLog& log, const std::vector<std::string>& atoms, ClaimKind kind = {}) {
  try {
    judge(kind, "text", atoms, log);
    return "none";
  } catch (const Error& e) {
    return std::string(e.kind() == Error::Kind::Key ? "key:" : "other:") + e.what();
  }
}

void test_fault_timing() {
  {
    RunLog log = empty_log();
    log.events.read_fault = log.faults.add(Error::key("events"));
    log.external.read_fault = log.faults.add(Error::key("external"));
    CHECK_EQ(raised(log, {"zeta_key"}), std::string("key:events"));
  }
  {
    // The written list is read only when the atom is not in a write.
    RunLog log = empty_log();
    auto text = std::make_shared<const LogText>(std::string("zeta_key"), log.home);
    Event e;
    e.wrote = true;
    e.payload.value = log.text(text);
    e.output.value = log.text(text);
    log.events.own.push_back(e);
    log.written.read_fault = log.faults.add(Error::key("written"));
    log.commands.read_fault = log.faults.add(Error::key("commands"));
    CHECK_EQ(raised(log, {"zeta_key"}), std::string("key:commands"));
    CHECK_EQ(raised(log, {"other_key"}), std::string("key:written"));
  }
  {
    // A non-text entry of a searched list fails even after a matching entry.
    RunLog log = empty_log();
    auto text = std::make_shared<const LogText>(std::string("zeta_key"), log.home);
    Event a, b;
    a.wrote = b.wrote = true;
    a.payload.value = log.text(text);
    b.payload.value.kind = TextValue::Kind::Other;
    b.payload.value.type_fault = log.faults.add(Error::type("payload is int"));
    log.events.own = {a, b};
    CHECK_EQ(raised(log, {"zeta_key"}), std::string("other:payload is int"));
  }
  {
    // The home directory is needed at the first atom, after the views.
    RunLog log = empty_log();
    log.home_fault = log.faults.add(Error::key("no home"));
    CHECK_EQ(raised(log, {"zeta_key"}), std::string("key:no home"));
    Event e;
    e.tool_fault = log.faults.add(Error::key("tool"));
    log.events.own.push_back(e);
    CHECK_EQ(raised(log, {"zeta_key"}), std::string("key:tool"));
  }
}

void test_failure_note() {
  RunLog log = empty_log();
  auto cmd = std::make_shared<const LogText>(std::string("make zeta_build"), log.home);
  Command c;
  c.command.value = log.text(cmd);
  c.success = false;
  c.exit_text = "2";
  log.commands.own.push_back(c);
  ClaimKind ran;
  ran.command_ran = true;
  Verdict v = judge(ran, "Ran it", {"zeta_build"}, log);
  CHECK_EQ(v.word, std::string("contradicted"));
  CHECK_EQ(v.note, std::string("`zeta_build` ran but FAILED (exit 2)"));
  // "src" is a short phrase, "x" too short; the line reference stays
  // because it is not at the end of the target.
  CHECK_EQ(claim_atoms({"src/app.ts:42, x", "ab", "a -> b"}), (std::vector<std::string>{"app.ts:42"}));
}

}  // namespace

int main() {
  test_search_matches_plain_find();
  test_search_at_chunk_edges();
  test_norm();
  test_variants_and_tokens();
  test_fault_timing();
  test_failure_note();
  return check::finish("test_verify_core");
}
