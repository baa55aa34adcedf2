// One HTTP POST of a JSON body, with libcurl.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "extract/interrupt_poll.hpp"

namespace vorlane::extract {

struct HttpReply {
  long status = 0;   // always 200..299 (other statuses throw)
  std::string body;  // the whole response body, as received
};

// What one request may cost.
struct HttpLimits {
  // Bound on connecting and on every later wait on the connection: the call
  // fails when no byte has gone out or come in for that long.  A slow but
  // steady reply is not cut off by it.
  double timeout_s;
  // Bound on the whole exchange, from the start of the call to the last
  // byte of the reply, however steadily the bytes come.
  double deadline_s;
  // Largest response body read; a larger one (announced by its
  // Content-Length or found while reading) fails as soon as it is seen.
  std::size_t max_body_bytes;
};

// POSTs `body` to `url` with "Content-Type: application/json" and returns the
// response once it has been read completely, within `limits` (both times
// must be positive and finite, the size positive).
//
// Only http and https URLs are accepted; redirects are not followed (a 3xx
// status is an error like any other non-2xx status, and the body of such a
// response is not read); proxies configured in the environment are ignored,
// since the model server is a local one.
//
// `interrupted`, when given, is asked about every 10 ms while the request
// is in flight, even while nothing arrives; when it returns true the request
// stops with Interrupted.
//
// Throws EndpointError (unreachable, refused, invalid URL, connection lost),
// HttpStatusError (status outside 200..299), TimeoutError (silence longer
// than the time-out, or the deadline passed), ReplyTooLarge or Interrupted
// (see errors.hpp); their messages and url() show the URL through
// masked_url.  Never installs signal handlers; safe to call from several
// threads at once.
HttpReply http_post_json(const std::string& url, std::string_view body, const HttpLimits& limits,
                         const InterruptCheck& interrupted = {});

}  // namespace vorlane::extract
