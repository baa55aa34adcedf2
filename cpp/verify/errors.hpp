// Failures of the verdict module that reach the caller.
//
// The core never catches them.  The host bindings map the kind onto the
// host's exception classes (Key -> KeyError naming the key, Type ->
// TypeError, Value -> ValueError, Recursion -> RecursionError).  A failure
// that the bindings captured while reading the caller's values (an exception
// raised by a mapping's lookup, a truth test or a comparison) travels as
// Kind::Host with the bindings' index of the captured exception, and is
// raised again unchanged.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace vorlane::verify {

class Error : public std::runtime_error {
 public:
  enum class Kind { Key, Type, Value, Recursion, Host };

  // For Kind::Key the message is the missing key itself.
  Error(Kind kind, const std::string& message, int host = -1)
      : std::runtime_error(message), kind_(kind), host_(host) {}

  Kind kind() const { return kind_; }
  // Index of the captured host exception (Kind::Host), else -1.
  int host() const { return host_; }

  static Error key(const std::string& key) { return Error(Kind::Key, key); }
  static Error type(const std::string& message) { return Error(Kind::Type, message); }

 private:
  Kind kind_;
  int host_;
};

}  // namespace vorlane::verify
