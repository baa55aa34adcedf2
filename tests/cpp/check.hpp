// A minimal check harness for the C++ unit tests: each test program counts
// its checks, prints every failure, and exits non-zero when one failed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace check {
inline int failures = 0;
inline int checks = 0;

// A value as text for a failure message.
template <class T>
std::string show(const T& v) {
  if constexpr (std::is_convertible_v<const T&, std::string_view>)
    return std::string(std::string_view(v).substr(0, 200));
  else if constexpr (std::is_arithmetic_v<T>)
    return std::to_string(v);
  else
    return "(value)";
}

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
      std::printf("FAIL %s:%d: %s == %s\n  got:      %s\n  expected: %s\n", __FILE__,   \
                  __LINE__, #actual, #expected, check::show(a_).c_str(),              \
                  check::show(e_).c_str());                                           \
    }                                                                                 \
  } while (0)
