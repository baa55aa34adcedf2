#include "text/interrupt.hpp"

#include <atomic>

namespace vorlane::interrupt {

namespace {

constexpr std::size_t kBudget = 256 * 1024;
std::atomic<Check> g_check{nullptr};
thread_local int t_depth = 0;

}  // namespace

namespace detail {

thread_local std::size_t budget = kBudget;

void poll() {
  budget = kBudget;
  if (t_depth == 0) return;
  if (Check c = g_check.load(std::memory_order_acquire)) c();
}

}  // namespace detail

void install(Check check) { g_check.store(check, std::memory_order_release); }

Scope::Scope() { ++t_depth; }
Scope::~Scope() { --t_depth; }

}  // namespace vorlane::interrupt
