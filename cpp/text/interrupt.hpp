// Cooperative interruption of long text work.
//
// The host installs one check (for Python: handle pending signals, and throw
// when a handler raised).  Work that may run long counts its progress with
// tick(); inside a Scope, about every 256 KiB of text handled (a few
// milliseconds), tick() runs the check, which stops the work by throwing.
// Outside a Scope tick() never calls out, so code that cannot take an
// exception at that point (or another module's work) is not interrupted.
#pragma once

#include <cstddef>

namespace vorlane::interrupt {

using Check = void (*)();

// Installs the process-wide check (nullptr: none).  Call once, at start-up.
void install(Check check);

// Marks the calling thread as doing interruptible work while it lives.
// Scopes nest.
class Scope {
 public:
  Scope();
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

namespace detail {
extern thread_local std::size_t budget;
void poll();
}  // namespace detail

// Counts `bytes` of work done (plus a fixed cost per call, so that many tiny
// steps count too).
inline void tick(std::size_t bytes) {
  std::size_t cost = bytes + 64;
  if (cost < detail::budget) {
    detail::budget -= cost;
    return;
  }
  detail::poll();
}

// tick() for loops of many small steps: counts them locally and passes
// them on in sums of 16 KiB or more, so that most steps cost no access to
// the thread's state.  Call flush() where the loop ends (it may throw, as
// tick() may, so it is not left to a destructor).
class Meter {
 public:
  void add(std::size_t bytes) {
    pending_ += bytes + 64;
    if (pending_ >= kStep) flush();
  }
  void flush() {
    std::size_t p = pending_;
    pending_ = 0;
    if (p) tick(p - 64);  // tick() adds its own fixed cost once
  }

 private:
  static constexpr std::size_t kStep = 16 * 1024;
  std::size_t pending_ = 0;
};

}  // namespace vorlane::interrupt
