// A minimal check harness for the C++ unit tests: each test program counts
// its checks, prints every failure, and exits non-zero when one failed.
#pragma once

#include <cstdio>
#include <string>

namespace check {
inline int failures = 0;
inline int checks = 0;

inline int finish(const char* name) {
  std::printf("%s: %d checks, %d failed\n", name, checks, failures);
  return failures ? 1 : 0;
}
}  // namespace check

#define CHECK(cond)                                                  \
  do {                                                               \
    ++check::checks;                                                 \
    if (!(cond)) {                                                   \
      ++check::failures;                                             \
      std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #cond);    \
    }                                                                \
  } while (0)

#define CHECK_EQ(actual, expected)                                                    \
  do {                                                                                \
    ++check::checks;                                                                  \
    auto a_ = (actual);                                                               \
    auto e_ = (expected);                                                             \
    if (!(a_ == e_)) {                                                                \
      ++check::failures;                                                              \
      std::printf("FAIL %s:%d: %s == %s\n", __FILE__, __LINE__, #actual, #expected);  \
    }                                                                                 \
  } while (0)
