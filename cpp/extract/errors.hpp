// Errors of the model path (the classification request and its reply).
//
// Every failure of the request or of the reply ends the call with one of
// these; nothing is retried or logged.  The host bindings map them onto the
// host's exception classes:
//   EndpointError   -> an OSError subclass (endpoint unreachable, refused,
//                      bad URL, connection dropped)
//   HttpStatusError -> its subclass carrying the status code
//   TimeoutError    -> a TimeoutError subclass
//   ReplyTooLarge   -> its subclass carrying the size limit
//   Interrupted     -> the host's pending signal exception (KeyboardInterrupt)
//   ReplyError      -> ValueError, KeyError, IndexError or TypeError,
//                      according to `kind()`
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace vorlane::extract {

class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The request could not be completed: the endpoint is unreachable, refused
// the connection, the URL is invalid, or the connection broke.  url() is the
// endpoint as it may be shown (credentials masked, see masked_url); so is
// every URL in what().
class EndpointError : public ModelError {
 public:
  EndpointError(const std::string& what, std::string url)
      : ModelError(what), url_(std::move(url)) {}
  const std::string& url() const { return url_; }

 private:
  std::string url_;
};

// The server answered with a status outside 200..299.
class HttpStatusError : public EndpointError {
 public:
  HttpStatusError(const std::string& what, std::string url, long status)
      : EndpointError(what, std::move(url)), status_(status) {}
  long status() const { return status_; }

 private:
  long status_;
};

// No progress on the connection for longer than the time-out, while
// connecting, sending or waiting for the reply; or no complete reply within
// the deadline of the whole request.
class TimeoutError : public EndpointError {
 public:
  TimeoutError(const std::string& what, std::string url, double seconds)
      : EndpointError(what, std::move(url)), seconds_(seconds) {}
  double seconds() const { return seconds_; }

 private:
  double seconds_;
};

// The reply body is (or is announced to be) larger than the caller's limit;
// reading stopped there.
class ReplyTooLarge : public EndpointError {
 public:
  ReplyTooLarge(const std::string& what, std::string url, std::size_t limit)
      : EndpointError(what, std::move(url)), limit_(limit) {}
  std::size_t limit() const { return limit_; }

 private:
  std::size_t limit_;
};

// The caller's interruption check asked to stop (the host saw Ctrl-C).
class Interrupted : public ModelError {
 public:
  using ModelError::ModelError;
};

// The reply or the model's answer does not have the expected shape.
class ReplyError : public ModelError {
 public:
  enum class Kind {
    Value,  // not decodable (bad JSON, bad encoding)
    Key,    // a required member is missing; key() names it
    Index,  // "choices" is empty
    Type,   // a value has the wrong type
  };
  ReplyError(Kind kind, const std::string& what, std::string key = {}, bool int_key = false)
      : ModelError(what), kind_(kind), key_(std::move(key)), int_key_(int_key) {}
  Kind kind() const { return kind_; }
  // For Kind::Key: the missing member ("choices", "message", "content"),
  // or "0" with int_key() when an object stood where the list of choices
  // was expected.
  const std::string& key() const { return key_; }
  bool int_key() const { return int_key_; }

 private:
  Kind kind_;
  std::string key_;
  bool int_key_;
};

}  // namespace vorlane::extract
