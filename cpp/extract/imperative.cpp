#include "extract/imperative.hpp"

#include <stdexcept>

#include "text/char_class.hpp"

namespace vorlane::extract {

Imperative::Parts Imperative::split(std::string_view p) {
  auto bad = [&] { return std::logic_error("unexpected imperative pattern: " + std::string(p)); };
  // ^(A)\b(?!\w)|^(B)\s+(?:C|`|/|~)\b
  constexpr std::string_view kMid = R"()\b(?!\w)|^()", kVerbEnd = R"()\s+(?:)", kEnd = R"(|`|/|~)\b)";
  std::size_t mid = p.find(kMid), verb_end = p.find(kVerbEnd);
  if (p.substr(0, 2) != "^(" || mid == std::string_view::npos || verb_end == std::string_view::npos ||
      verb_end < mid || p.size() < kEnd.size() || p.substr(p.size() - kEnd.size()) != kEnd)
    throw bad();
  std::string_view a = p.substr(2, mid - 2);
  std::string_view b = p.substr(mid + kMid.size(), verb_end - mid - kMid.size());
  std::size_t c0 = verb_end + kVerbEnd.size();
  std::string_view c = p.substr(c0, p.size() - kEnd.size() - c0);
  return Parts{"^(" + std::string(a) + ")\\b", "^(" + std::string(b) + ")", "^(" + std::string(c) + ")\\b"};
}

Imperative::Imperative(std::string_view python_source) : Imperative(split(python_source)) {}

Imperative::Imperative(Parts parts) : first_(parts.first), verbs_(parts.verbs), objects_(parts.objects) {}

bool Imperative::test(std::string_view s) const {
  // \b(?!\w) after the first list: \b after a letter already means no word
  // character follows.
  if (first_.test(s)) return true;
  // No second-list verb is a prefix of another, so at most one fits; the
  // objects cannot start with white space, so \s+ takes the whole run.
  std::size_t v = verbs_.prefix_end(s);
  if (v == std::string_view::npos) return false;
  std::size_t q = v, next;
  while (q < s.size() && cls::is_space(cls::at(s, q, next))) q = next;
  if (q == v || q >= s.size()) return false;
  char c = s[q];
  if (c == '`' || c == '/' || c == '~') {
    // \b after a non-word character: a word character must follow.
    return q + 1 < s.size() && cls::is_word(cls::at(s, q + 1, next));
  }
  return objects_.prefix_end(s.substr(q)) != std::string_view::npos;
}

}  // namespace vorlane::extract
