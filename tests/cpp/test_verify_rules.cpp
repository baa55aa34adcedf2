// Unit tests of the verdict core's rules that the host bindings only ask
// about: the tool names and the read rule's roles, the claim kinds (and the
// order in which a kind is compared), the verdict words, the exit-code
// success rule (and the questions it asks, in order), and the home
// directory lookup.
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "check.hpp"
#include "verify/exit_code.hpp"
#include "verify/home.hpp"
#include "verify/names.hpp"
#include "verify/verdict.hpp"

using namespace vorlane::verify;

namespace {

void test_tool_kinds() {
  for (std::string_view t : READ_TOOLS) CHECK(tool_kind(t) == Event::Tool::ReadTool);
  CHECK(tool_kind("terminal") == Event::Tool::Terminal);
  CHECK(tool_kind("execute_code") == Event::Tool::ExecuteCode);
  for (std::string_view t : COMMAND_TOOLS) CHECK(tool_kind(t) != Event::Tool::ReadTool && tool_kind(t) != Event::Tool::Other);
  for (const char* t : {"Read_File", "read_file ", "", "write_file", "patch", "Terminal", "terminal\n", "browser"})
    CHECK(tool_kind(t) == Event::Tool::Other);
  CHECK_EQ(std::size(READ_TOOLS), std::size_t(3));
  CHECK_EQ(std::size(COMMAND_TOOLS), std::size_t(2));
}

std::string kind_flags(const ClaimKind& k) {
  return std::string(k.command_ran ? "R" : "-") + (k.file_changed ? "F" : "-") + (k.mention_kind ? "M" : "-");
}

void test_claim_kinds() {
  CHECK_EQ(kind_flags(claim_kind("command_ran")), std::string("R--"));
  CHECK_EQ(kind_flags(claim_kind("file_changed")), std::string("-F-"));
  for (std::string_view k : MENTION_KINDS) CHECK_EQ(kind_flags(claim_kind(k)), std::string("--M"));
  CHECK_EQ(kind_flags(claim_kind(DEFAULT_KIND)), std::string("--M"));
  for (const char* k : {"result_observed", "Other", "mention ", ""}) CHECK_EQ(kind_flags(claim_kind(k)), std::string("---"));

  // The questions, in order: both kind words, then the mention kinds up to
  // the first that is equal.
  std::vector<std::string> asked;
  ClaimKind k = claim_kind_by([&](std::string_view w) {
    asked.emplace_back(w);
    return w == "external_action";
  });
  CHECK_EQ(kind_flags(k), std::string("--M"));
  CHECK(asked == (std::vector<std::string>{"command_ran", "file_changed", "other", "external_action"}));
}

void test_verdict_words() {
  CHECK(std::vector<std::string_view>(std::begin(VERDICTS), std::end(VERDICTS)) ==
        (std::vector<std::string_view>{"verified", "unverified", "contradicted", "unchecked", "pre-existing"}));
  CHECK_EQ(nothing_to_check().word, std::string(UNCHECKED));
}

// An exit code as a host would answer: each answer given, every question
// recorded.
struct FakeCode final : ExitCodeQuestions {
  bool null = false, text = false, zero = false, zero_text = false;
  std::string asked;
  bool is_null() override { asked += 'n'; return null; }
  bool is_text() override { asked += 't'; return text; }
  bool equals_zero() override { asked += '0'; return zero; }
  bool equals_zero_text() override { asked += '"'; return zero_text; }
};

void test_exit_codes() {
  struct Case {
    bool null, text, zero, zero_text;
    bool success;
    const char* asked;
  };
  const Case cases[] = {
      {true, false, false, false, true, "n"},         // None: nothing compared
      {false, false, true, false, true, "nt0"},       // 0, 0.0, False
      {false, false, false, true, true, "nt0\""},     // a number-like object equal to "0" only
      {false, false, false, false, false, "nt0\""},   // 1, True, 2.5
      {false, true, false, true, true, "nt\""},       // "0": a text is never compared with 0
      {false, true, true, false, false, "nt\""},      // "00", " 0", "" (even if it said == 0)
  };
  for (const Case& c : cases) {
    FakeCode code;
    code.null = c.null, code.text = c.text, code.zero = c.zero, code.zero_text = c.zero_text;
    CHECK_EQ(exit_success(code), c.success);
    CHECK_EQ(code.asked, std::string(c.asked));
  }
}

void test_home() {
  CHECK_EQ(tidy_home("/home/u/"), std::string("/home/u"));
  CHECK_EQ(tidy_home("/home/u///"), std::string("/home/u"));
  CHECK_EQ(tidy_home(""), std::string("/"));
  CHECK_EQ(tidy_home("///"), std::string("/"));
  CHECK_EQ(tidy_home("rel/x"), std::string("rel/x"));

  const char* saved = std::getenv("HOME");
  std::optional<std::string> keep = saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("HOME", "/Home/\xc3\x9cn ~x/", 1);
  CHECK_EQ(home_directory().path.value_or("none"), std::string("/Home/\xc3\x9cn ~x"));
  setenv("HOME", "", 1);  // set, even empty: taken
  CHECK_EQ(home_directory().path.value_or("none"), std::string("/"));
  unsetenv("HOME");  // then the account database
  HomeDirectory h = home_directory();
  struct passwd* pw = getpwuid(getuid());
  if (pw) {
    CHECK_EQ(h.path.value_or("none"), tidy_home(pw->pw_dir));
  } else {
    CHECK(!h.path && h.error.find("HOME is not set") != std::string::npos);
  }
  if (keep) setenv("HOME", keep->c_str(), 1);
}

}  // namespace

int main() {
  test_tool_kinds();
  test_claim_kinds();
  test_verdict_words();
  test_exit_codes();
  test_home();
  return check::finish("test_verify_rules");
}
