// One text of a run log (a payload, an output, a command line, the JSON text
// of an action's arguments) together with what the verdict rules derive from
// it: its normalised form and the answers of the fixed pattern tests.
//
// Both are computed on first use and then kept, so that a host which hands
// the same immutable text to many calls (one run log, many claims) can share
// one LogText between them.  Every member function may be called from any
// number of threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "verify/text_search.hpp"

namespace vorlane::verify {

class LogText {
 public:
  // The pattern tests on the raw text that the rules ask for.
  enum class Test : uint8_t {
    TerminalRead,  // a reading shell command, at the start
    ReadCode,      // READ_CODE_RE anywhere
    ShellWrite,    // SHELL_WRITE_RE anywhere
    SearchTool,    // grep / rg / find anywhere
    Count
  };

  // A text held elsewhere: `raw` must stay valid while this object lives.
  LogText(std::string_view raw, std::shared_ptr<const std::string> home);
  // A text owned by this object.
  LogText(std::string owned, std::shared_ptr<const std::string> home);
  LogText(const LogText&) = delete;
  LogText& operator=(const LogText&) = delete;

  std::string_view raw() const { return raw_; }
  bool empty() const { return raw_.empty(); }

  // The normalised text (with the home directory given at construction).
  const NormText& norm() const;
  bool normalised() const { return done_.load(std::memory_order_acquire); }

  bool test(Test t) const;

  // Bytes held by this object (the raw text only when owned).
  std::size_t memory() const;

 private:
  std::string owned_;
  std::string_view raw_;
  std::shared_ptr<const std::string> home_;
  mutable std::once_flag once_;
  mutable std::atomic<bool> done_{false};
  mutable NormText norm_;
  // 0 = not computed, 1 = false, 2 = true.
  mutable std::atomic<uint8_t> tests_[static_cast<int>(Test::Count)] = {};
};

}  // namespace vorlane::verify
