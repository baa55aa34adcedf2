#include "verify/log_text.hpp"

#include "verify/literal.hpp"

namespace vorlane::verify {

LogText::LogText(std::string_view raw, std::shared_ptr<const std::string> home)
    : raw_(raw), home_(std::move(home)) {}

LogText::LogText(std::string owned, std::shared_ptr<const std::string> home)
    : owned_(std::move(owned)), raw_(owned_), home_(std::move(home)) {}

const NormText& LogText::norm() const {
  if (done_.load(std::memory_order_acquire)) return norm_;
  std::call_once(once_, [this] {
    norm_ = NormText(verify::norm(raw_, home_ ? std::string_view(*home_) : std::string_view()));
    done_.store(true, std::memory_order_release);
  });
  return norm_;
}

bool LogText::test(Test t) const {
  auto& slot = tests_[static_cast<int>(t)];
  uint8_t v = slot.load(std::memory_order_relaxed);
  if (v) return v == 2;
  const Patterns& p = patterns();
  bool r = false;
  switch (t) {
    case Test::TerminalRead: r = p.TERMINAL_READ_RE.test(raw_); break;
    case Test::ReadCode: r = p.READ_CODE_RE.test(raw_); break;
    case Test::ShellWrite: r = p.SHELL_WRITE_RE.test(raw_); break;
    case Test::SearchTool: r = p.SEARCH_TOOL_RE.test(raw_); break;
    default: break;
  }
  slot.store(r ? 2 : 1, std::memory_order_relaxed);
  return r;
}

std::size_t LogText::memory() const {
  std::size_t m = sizeof(*this) + owned_.capacity();
  if (normalised()) m += norm_.memory();
  return m;
}

}  // namespace vorlane::verify
