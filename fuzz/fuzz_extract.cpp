// Fuzz target: report text -> Units, literal targets, strong and heuristic
// kinds, and the inspection record of each Unit.
//
// Invariants checked on every input:
//  - fence stripping leaves no closed fence behind;
//  - every sentence is non-empty and trimmed;
//  - every Unit is valid UTF-8, has at least 8 code points, does not end with
//    "?" and is trimmed of " -–—:"; no two Units share a duplicate key;
//  - every literal target is non-empty, trimmed, valid UTF-8, has a key of at
//    least two code points and no two share a key;
//  - the heuristic kind is one of the five kinds and agrees with the strong
//    kind when there is one;
//  - the inspection record is "• <unit> \n    [<targets>] <kind>\n" and its
//    list reads back (as a Python list of str literals) to the targets.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common.hpp"
#include "extract/extract.hpp"
#include "verify/literal.hpp"

using namespace vorlane;

namespace {

constexpr std::u32string_view kSentenceTrim = U" -\u2013\u2014:";

// The duplicate key of a Unit: lower-cased, every run of non-word characters
// as one space, stripped.
std::string dup_key(std::string_view u) {
  static const Pattern non_word(R"(\W+)");
  return std::string(uni::strip(non_word.sub(uni::lower(u), " ")));
}

std::string target_key(std::string_view t) {
  std::string low = uni::lower(t);
  return std::string(uni::lstrip_chars(low, U"~\u2248"));
}

bool is_kind(std::string_view k) {
  for (std::string_view x : extract::KINDS)
    if (x == k) return true;
  return false;
}

// Reads the Python list of str literals that python_repr wrote, back into
// texts.  Returns false when the text is not such a list.
bool read_py_list(std::string_view s, std::vector<std::string>& out) {
  std::size_t i = 0;
  auto hex = [&](std::size_t n, char32_t& v) {
    if (i + n > s.size()) return false;
    v = 0;
    for (std::size_t k = 0; k < n; ++k) {
      char c = s[i + k];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (d < 0) return false;  // python_repr writes lower-case digits
      v = v * 16 + static_cast<char32_t>(d);
    }
    i += n;
    return true;
  };
  if (s.empty() || s[0] != '[') return false;
  ++i;
  if (i < s.size() && s[i] == ']') return i + 1 == s.size();
  for (;;) {
    if (i >= s.size()) return false;
    char q = s[i];
    if (q != '\'' && q != '"') return false;
    ++i;
    std::string item;
    for (;;) {
      if (i >= s.size()) return false;
      char c = s[i];
      if (c == q) { ++i; break; }
      if (c == '\n' || c == '\r') return false;  // never written raw
      if (c != '\\') { item.push_back(c); ++i; continue; }
      if (++i >= s.size()) return false;
      char e = s[i++];
      char32_t v;
      switch (e) {
        case '\\': item.push_back('\\'); break;
        case '\'': item.push_back('\''); break;
        case '"': item.push_back('"'); break;
        case 't': item.push_back('\t'); break;
        case 'n': item.push_back('\n'); break;
        case 'r': item.push_back('\r'); break;
        case 'x': if (!hex(2, v)) return false; utf8::append(item, v); break;
        case 'u': if (!hex(4, v)) return false; utf8::append(item, v); break;
        case 'U': if (!hex(8, v) || v > 0x10FFFF) return false; utf8::append(item, v); break;
        default: return false;
      }
    }
    out.push_back(std::move(item));
    if (i < s.size() && s[i] == ']') return i + 1 == s.size();
    if (s.substr(i, 2) != ", ") return false;
    i += 2;
  }
}

void check_unit_level(std::string_view u) {
  // Literal targets.
  std::vector<std::string> targets = extract::literal_targets(u);
  std::set<std::string> keys;
  for (const std::string& t : targets) {
    FUZZ_CHECK(!t.empty(), "empty literal target for unit " + fuzz::show(u));
    FUZZ_CHECK(utf8::is_valid(t), "literal target not valid UTF-8: " + fuzz::show(t));
    FUZZ_CHECK(uni::strip(t).size() == t.size(), "literal target not trimmed: " + fuzz::show(t));
    std::string k = target_key(t);
    FUZZ_CHECK(utf8::length(k) >= 2, "literal target key shorter than 2: " + fuzz::show(t));
    FUZZ_CHECK(keys.insert(k).second, "duplicate literal target key: " + fuzz::show(t) + " in " + fuzz::show(u));
  }

  // Kinds.
  std::optional<std::string_view> strong = extract::strong_kind(u);
  std::string_view heur = extract::heuristic_kind(u);
  FUZZ_CHECK(is_kind(heur), "heuristic kind outside KINDS: " + std::string(heur));
  if (strong) {
    FUZZ_CHECK(*strong == "command_ran" || *strong == "file_changed", "bad strong kind: " + std::string(*strong));
    FUZZ_CHECK(*strong == heur, "heuristic kind disagrees with strong kind for " + fuzz::show(u));
  }

  // The inspection record.
  std::string rec = extract::inspection_record(u);
  std::string head = "\u2022 " + std::string(u) + " \n    ";
  std::string tail = " " + std::string(heur) + "\n";
  FUZZ_CHECK(rec.size() >= head.size() + tail.size() && rec.compare(0, head.size(), head) == 0 &&
                 rec.compare(rec.size() - tail.size(), tail.size(), tail) == 0,
             "inspection record shape: " + fuzz::show(rec));
  std::string_view list(rec.data() + head.size(), rec.size() - head.size() - tail.size());
  std::vector<std::string> back;
  FUZZ_CHECK(read_py_list(list, back), "inspection record list unreadable: " + fuzz::show(list));
  FUZZ_CHECK(back == targets, "inspection record list does not read back to the targets: " + fuzz::show(list));

  // Normalisation of the verdict module, on the same texts.
  const std::string_view home = "/Home/\u00dcn\u00ef";
  std::string n = verify::norm(u, home);
  fuzz::check_norm_shape(u, n);
  std::string steps = fuzz::norm_by_steps(u, home);
  FUZZ_CHECK(n == steps, "norm differs from the step-by-step form for " + fuzz::show(u) + ": " + fuzz::show(n) +
                             " vs " + fuzz::show(steps));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text = fuzz::to_text(data, size);

  // Fence stripping: no two non-overlapping fence markers survive.
  std::string stripped = extract::strip_fences(text);
  std::size_t first = stripped.find("```");
  if (first != std::string::npos)
    FUZZ_CHECK(stripped.find("```", first + 3) == std::string::npos, "a closed fence survived: " + fuzz::show(stripped));

  // Sentences of the whole text taken as one paragraph.
  for (const std::string& s : extract::sentences(text)) {
    FUZZ_CHECK(!s.empty(), "empty sentence");
    FUZZ_CHECK(uni::strip(s).size() == s.size(), "untrimmed sentence: " + fuzz::show(s));
  }

  std::vector<std::string> units = extract::split_units(text);
  std::set<std::string> keys;
  for (const std::string& u : units) {
    FUZZ_CHECK(utf8::is_valid(u), "unit not valid UTF-8: " + fuzz::show(u));
    FUZZ_CHECK(utf8::length(u) >= 8, "unit shorter than 8 code points: " + fuzz::show(u));
    FUZZ_CHECK(u.back() != '?', "unit ends with '?': " + fuzz::show(u));
    FUZZ_CHECK(uni::strip_chars(u, kSentenceTrim).size() == u.size(), "unit not trimmed: " + fuzz::show(u));
    FUZZ_CHECK(keys.insert(dup_key(u)).second, "two units share a duplicate key: " + fuzz::show(u));
    check_unit_level(u);
  }
  // The per-Unit functions also take any text, Unit or not.
  if (text.size() <= 1024) check_unit_level(text);
  return 0;
}
