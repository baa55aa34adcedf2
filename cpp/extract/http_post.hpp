// One HTTP POST of a JSON body, with libcurl.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vorlane::extract {

struct HttpReply {
  long status = 0;   // always 200..299 (other statuses throw)
  std::string body;  // the whole response body, as received
};

// POSTs `body` to `url` with "Content-Type: application/json" and returns the
// response once it has been read completely.
//
// `timeout_s` bounds connecting and every later wait on the connection:
// the call fails when no byte has gone out or come in for that long, while
// sending the request or waiting for and reading the reply.  A slow but
// steady reply is never cut off.
//
// Only http and https URLs are accepted; redirects are not followed (a 3xx
// status is an error like any other non-2xx status); proxies configured in
// the environment are ignored, since the model server is a local one.
//
// `interrupted`, when given, is polled about ten times a second while the
// transfer runs; when it returns true the transfer stops with Interrupted.
//
// Throws EndpointError (unreachable, refused, invalid URL, connection lost),
// HttpStatusError (status outside 200..299), TimeoutError or Interrupted
// (see errors.hpp).  Never installs signal handlers; safe to call from
// several threads at once.
HttpReply http_post_json(const std::string& url, std::string_view body, double timeout_s,
                         const std::function<bool()>& interrupted = {});

}  // namespace vorlane::extract
