// Pins the places where PCRE2's own meaning differs from Python's `re` and
// the pattern layer translates: white space, word characters, boundaries,
// `^`/`$` around a final line feed, lone surrogates, empty-match iteration,
// caseless matching, anchoring, and long subjects that overflow a small JIT
// stack.
#include <string>
#include <vector>

#include "check.hpp"
#include "text/pattern.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

using vorlane::Match;
using vorlane::Pattern;

static std::vector<std::size_t> starts(const Pattern& p, std::string_view s) {
  std::vector<std::size_t> out;
  for (const Match& m : p.find_all(s)) out.push_back(m.begin);
  return out;
}

static void white_space() {
  Pattern ws(R"(\s)", 0, Pattern::Mode::FullMatch);
  // Python's str.isspace() set: the four information separators are in it,
  // the Mongolian vowel separator is not.
  for (const char* s : {"\x1c", "\x1d", "\x1e", "\x1f", "\t", "\r", "\u0085", "\u00a0", "\u2028",
                        "\u2029", "\u202f", "\u205f", "\u3000", "\u1680", "\u200a"})
    CHECK(ws.test(s));
  for (const char* s : {"\u180e", "\u200b", "\ufeff", "a", "\x01"}) CHECK(!ws.test(s));
  Pattern non_ws(R"([^\s]+)");
  CHECK_EQ(non_ws.find_all("a\x1c" "b").size(), 2u);
  CHECK_EQ(non_ws.find_all("a\u180e" "b").size(), 1u);
  for (char32_t c : {0x1Cu, 0x85u, 0x3000u}) CHECK(vorlane::uni::is_space(c));
  CHECK(!vorlane::uni::is_space(0x180E));
}

static void words_and_digits() {
  Pattern w(R"(\w)", 0, Pattern::Mode::FullMatch);
  CHECK(w.test("\u00b2"));   // superscript two: a number, so a word character
  CHECK(w.test("\u2160"));   // Roman numeral one
  CHECK(w.test("_"));
  CHECK(!w.test("\u0301"));  // combining acute accent
  CHECK(!w.test("\u203f"));  // connector punctuation other than "_"
  Pattern d(R"(\d)", 0, Pattern::Mode::FullMatch);
  CHECK(d.test("\uff10"));   // full-width zero
  CHECK(!d.test("\u00b2"));
  Pattern b(R"(\bx\b)");
  CHECK(b.test("a x b"));
  CHECK(!b.test("\u00b2x"));
  CHECK(b.test("\u0301x"));
  // A leading boundary before a word-only group (rewritten as a lookbehind).
  Pattern word_start(R"(\b(ab|cd)\w*)");
  CHECK_EQ(starts(word_start, "xab ab _cd cd"), (std::vector<std::size_t>{4, 11}));
  // Python never matches \B in an empty text.
  Pattern nb(R"(\B)");
  CHECK(!nb.test(""));
  CHECK(nb.test("ab"));
}

static void anchors() {
  Pattern dollar("a$");
  CHECK(dollar.test("a\n"));
  CHECK(!dollar.test("a\n\n"));
  Pattern full("a", 0, Pattern::Mode::FullMatch);
  CHECK(full.test("a"));
  CHECK(!full.test("a\n"));
  // With MULTILINE, ^ also matches after a final line feed.
  Pattern caret("^", Pattern::MULTILINE);
  CHECK_EQ(starts(caret, "a\n"), (std::vector<std::size_t>{0, 2}));
  CHECK_EQ(starts(caret, "a\nb\n"), (std::vector<std::size_t>{0, 2, 4}));
  Pattern dot("a.b");
  CHECK(!dot.test("a\nb"));
  CHECK(dot.test("a\rb"));
  CHECK(dot.test("a\u2028b"));
  Pattern at_start("b", 0, Pattern::Mode::Match);
  CHECK(!at_start.test("ab"));
  Match m;
  CHECK(at_start.search("ab", &m, 1));
  CHECK_EQ(m.begin, 1u);
}

static void surrogates() {
  // A lone surrogate (three bytes) is one non-word, non-space character.
  std::string s = "a\xED\xA0\x80" "b";
  Pattern non_ws(R"(\S+)");
  auto ms = non_ws.find_all(s);
  CHECK_EQ(ms.size(), 1u);
  CHECK_EQ(ms[0].end, s.size());
  Pattern nonword(R"([^\w]+)");
  std::string pair = "x \xED\xA0\xBD\xED\xB8\x80 y";  // two lone halves, not a pair
  auto runs = nonword.find_all(pair);
  CHECK_EQ(runs.size(), 1u);
  CHECK_EQ(runs[0].text(pair), " \xED\xA0\xBD\xED\xB8\x80 ");
  // Results slice the original text: the surrogate comes back unchanged.
  Pattern dot(".");
  CHECK_EQ(dot.sub(s, "-"), std::string("---"));
  CHECK_EQ(vorlane::utf8::length(s), 3u);
  CHECK_EQ(vorlane::uni::lower("A\xED\xA0\x80\u0130"), std::string("a\xED\xA0\x80i\u0307"));
}

static void iteration() {
  Pattern star("x*");
  CHECK_EQ(star.sub("abxd", "-"), std::string("-a-b--d-"));
  Pattern b(R"(\b)");
  CHECK_EQ(b.sub("ab cd", "|"), std::string("|ab| |cd|"));
  Pattern comma(",");
  auto parts = comma.split(",a,,b,");
  CHECK_EQ(parts.size(), 5u);
  CHECK(parts[0].empty() && parts[2].empty() && parts[4].empty());
  Pattern group(R"((\.\w{1,5}):\d+$)");
  CHECK_EQ(group.sub("src/app.ts:42", "\\1", true), std::string("src/app.ts"));
  // Many matches in one long text: every later call skips the UTF check.
  std::string many(200000, 'a');
  Pattern one(R"(\w)");
  CHECK_EQ(one.find_all(many).size(), many.size());
}

static void caseless() {
  Pattern k("k", Pattern::IGNORECASE, Pattern::Mode::FullMatch);
  CHECK(k.test("K"));
  CHECK(k.test("\u212a"));   // Kelvin sign folds to k
  Pattern i("i", Pattern::IGNORECASE, Pattern::Mode::FullMatch);
  CHECK(!i.test("\u0130"));  // simple case folding: dotted capital I is not i
  CHECK(!i.test("\u0131"));
  Pattern sigma("\u03c3", Pattern::IGNORECASE, Pattern::Mode::FullMatch);
  CHECK(sigma.test("\u03a3"));
  CHECK(sigma.test("\u03c2"));
}

static void long_subjects() {
  // These overflow PCRE2's default 32 KiB JIT stack; the answer must still
  // be the whole text.
  std::string path;
  for (int n = 0; n < 200000; ++n) path += "/a";
  path += "/b";
  Pattern abs(R"((?<![/:\w])/(?:[\w.+-]+/)+[\w.+-]+)");
  Match m;
  CHECK(abs.search(path, &m));
  CHECK_EQ(m.end - m.begin, path.size());
  std::string version = "1.2";
  for (int n = 0; n < 300000; ++n) version += ".2";
  Pattern ver(R"(\bv?\d+(?:\.\d+){2,}(?:[-+][\w.]+)?\b)");
  CHECK(ver.search(version, &m));
  CHECK_EQ(m.end, version.size());
}

static void lower_case() {
  using vorlane::uni::lower;
  CHECK_EQ(lower("\u0130"), std::string("i\u0307"));
  CHECK_EQ(lower("\u039f\u0394\u039f\u03a3"), std::string("\u03bf\u03b4\u03bf\u03c2"));  // final sigma
  CHECK_EQ(lower("\u03a3\u0391"), std::string("\u03c3\u03b1"));
  CHECK_EQ(lower("STRASSE \u1e9e"), std::string("strasse \u00df"));
  CHECK_EQ(lower("\uff21BC"), std::string("\uff41bc"));
  CHECK_EQ(lower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

int main() {
  white_space();
  words_and_digits();
  anchors();
  surrogates();
  iteration();
  caseless();
  long_subjects();
  lower_case();
  return check::finish("test_pattern");
}
