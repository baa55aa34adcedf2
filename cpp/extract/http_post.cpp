#include "extract/http_post.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "extract/errors.hpp"
#include "extract/url_mask.hpp"

namespace vorlane::extract {

namespace {

using Clock = std::chrono::steady_clock;

// Longest wait for the connection between two looks at the clock and at the
// caller's interruption check.
constexpr std::chrono::milliseconds POLL_EVERY{10};

void global_init() {
  static std::once_flag once;
  static CURLcode rc = CURLE_OK;
  std::call_once(once, [] { rc = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (rc != CURLE_OK)
    throw ModelError(std::string("libcurl initialisation failed: ") + curl_easy_strerror(rc));
}

// State of one transfer, shared with the libcurl callbacks (which must not
// throw: they only record what they saw and stop the transfer).
struct Transfer {
  std::string body;
  std::size_t max_body = 0;
  long status = 0;          // of the last "HTTP/..." line of the response head
  std::string status_line;  // that line
  std::size_t announced = 0;  // Content-Length of a 2xx response, when given
  Clock::time_point last_activity;
  curl_off_t last_dl = -1, last_ul = -1;
  bool too_large = false;    // body over max_body (announced or received)
  bool bad_status = false;   // body of a non-2xx response: not read
  bool no_memory = false;
};

bool success(long status) { return status >= 200 && status <= 299; }

size_t on_body(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t len = size * n;
  t->last_activity = Clock::now();
  if (!success(t->status)) {
    t->bad_status = true;
    return 0;
  }
  if (len > t->max_body - t->body.size()) {
    t->too_large = true;
    return 0;
  }
  try {
    t->body.append(data, len);
  } catch (const std::bad_alloc&) {
    t->no_memory = true;
    return 0;
  }
  return len;
}

// "Content-Length: 123" -> 123; anything else (another header, no number,
// a number too large for size_t) leaves `out` unchanged and returns false.
bool content_length(std::string_view line, std::size_t& out) {
  constexpr std::string_view name = "content-length:";
  if (line.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) != name[i]) return false;
  std::size_t i = name.size();
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::size_t v = 0;
  bool any = false;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    if (v > (SIZE_MAX - 9) / 10) {
      v = SIZE_MAX;  // saturate: any such length is over every limit
    } else {
      v = v * 10 + static_cast<std::size_t>(line[i] - '0');
    }
    any = true;
  }
  if (any) out = v;
  return any;
}

size_t on_header(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t len = size * n;
  std::string_view line(data, len);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  t->last_activity = Clock::now();
  try {
    if (line.substr(0, 5) == "HTTP/") {
      t->status_line.assign(line);
      std::size_t sp = line.find(' ');
      t->status = 0;
      if (sp != std::string_view::npos)
        for (std::size_t i = sp + 1; i < line.size() && i < sp + 4 && line[i] >= '0' && line[i] <= '9'; ++i)
          t->status = t->status * 10 + (line[i] - '0');
      t->announced = 0;
    } else if (success(t->status) && content_length(line, t->announced)) {
      if (t->announced > t->max_body) {
        t->too_large = true;
        return 0;
      }
      t->body.reserve(t->announced);
    }
  } catch (const std::bad_alloc&) {
    t->no_memory = true;
    return 0;
  }
  return len;
}

// Any change of the byte counters (the request going out included) counts
// as activity.
int on_progress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* t = static_cast<Transfer*>(user);
  if (dlnow != t->last_dl || ulnow != t->last_ul) {
    t->last_dl = dlnow;
    t->last_ul = ulnow;
    t->last_activity = Clock::now();
  }
  return 0;
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// A multi handle driving one easy handle; declared after the easy handle so
// that it lets go of it first.
struct MultiDriver {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  MultiDriver(CURL* e) : multi(curl_multi_init()), easy(e) {
    if (multi && curl_multi_add_handle(multi, easy) != CURLM_OK) {
      curl_multi_cleanup(multi);
      multi = nullptr;
    }
  }
  ~MultiDriver() {
    if (!multi) return;
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
  }
  MultiDriver(const MultiDriver&) = delete;
  MultiDriver& operator=(const MultiDriver&) = delete;
};

std::string format_seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", s);
  return buf;
}

// The reason phrase of a status line such as "HTTP/1.1 500 Internal Server
// Error" (empty when there is none).
std::string reason_of(const std::string& status_line) {
  std::size_t a = status_line.find(' ');
  if (a == std::string::npos) return {};
  std::size_t b = status_line.find(' ', a + 1);
  if (b == std::string::npos) return {};
  return status_line.substr(b + 1);
}

// Rejects a URL that libcurl cannot parse or whose scheme is not http or
// https, before any connection is attempted.
void check_url(const std::string& url, const std::string& shown) {
  if (url.find('\0') != std::string::npos)
    throw EndpointError("invalid model endpoint URL '" + shown + "': it holds a NUL character", shown);
  CURLU* u = curl_url();
  if (!u) throw EndpointError("cannot parse model endpoint URL '" + shown + "'", shown);
  std::string problem;
  CURLUcode rc = curl_url_set(u, CURLUPART_URL, url.c_str(), 0);
  if (rc != CURLUE_OK) {
#if LIBCURL_VERSION_NUM >= 0x075000
    problem = curl_url_strerror(rc);
#else
    problem = "malformed URL";
#endif
  } else {
    char* scheme = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme) {
      std::string sch(scheme);
      curl_free(scheme);
      if (sch != "http" && sch != "https") problem = "scheme '" + sch + "' is not http or https";
    } else {
      problem = "no scheme";
    }
  }
  curl_url_cleanup(u);
  if (!problem.empty())
    throw EndpointError("invalid model endpoint URL '" + shown + "': " + without_secret(problem, url), shown);
}

Clock::duration seconds(double s) {
  // Beyond a few months a limit means "never"; the cap keeps the conversion
  // in range.
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::min(s, 1e7)));
}

}  // namespace

HttpReply http_post_json(const std::string& url, std::string_view body, const HttpLimits& limits,
                         const InterruptCheck& interrupted) {
  global_init();
  if (!(limits.timeout_s > 0) || !std::isfinite(limits.timeout_s))
    throw ModelError("model request time-out must be a positive number of seconds");
  if (!(limits.deadline_s > 0) || !std::isfinite(limits.deadline_s))
    throw ModelError("model request deadline must be a positive number of seconds");
  if (limits.max_body_bytes == 0) throw ModelError("model reply size limit must be at least one byte");

  const std::string shown = masked_url(url);
  check_url(url, shown);

  std::unique_ptr<CURL, EasyDeleter> h(curl_easy_init());
  if (!h) throw EndpointError("cannot start a request to model endpoint " + shown, shown);
  CURL* c = h.get();

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  {
    curl_slist* l = curl_slist_append(nullptr, "Content-Type: application/json");
    // No "Expect: 100-continue" round trip for larger bodies.
    if (l) {
      curl_slist* l2 = curl_slist_append(l, "Expect:");
      if (l2) l = l2;
    }
    headers.reset(l);
  }

  const Clock::time_point start = Clock::now();
  const Clock::duration silence = seconds(limits.timeout_s);
  const Clock::time_point deadline = start + seconds(limits.deadline_s);
  Transfer t;
  t.max_body = limits.max_body_bytes;
  t.last_activity = start;
  char errbuf[CURL_ERROR_SIZE] = {0};
  long connect_ms = static_cast<long>(std::ceil(std::min(limits.timeout_s, 1e7) * 1000.0));
  if (connect_ms < 1) connect_ms = 1;

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(c, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_ms);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, on_progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);

  auto timed_out = [&](bool whole) -> TimeoutError {
    std::string why = whole ? "no complete reply within " + format_seconds(limits.deadline_s) + " s"
                            : "nothing received for " + format_seconds(limits.timeout_s) + " s";
    return TimeoutError("model endpoint " + shown + " timed out: " + why, shown,
                        whole ? limits.deadline_s : limits.timeout_s);
  };

  // The transfer runs in steps, with a look at the clock and at the
  // caller's check between them; a step waits at most POLL_EVERY.
  MultiDriver driver(c);
  if (!driver.multi) throw EndpointError("cannot start a request to model endpoint " + shown, shown);
  CURLcode rc = CURLE_OK;
  Clock::time_point last_check = start;
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(driver.multi, &running);
    if (mc != CURLM_OK)
      throw EndpointError("request to model endpoint " + shown + " failed: " + curl_multi_strerror(mc), shown);
    if (!running) {
      int left = 0;
      CURLMsg* msg = curl_multi_info_read(driver.multi, &left);
      rc = msg && msg->msg == CURLMSG_DONE ? msg->data.result : CURLE_RECV_ERROR;
      break;
    }
    const Clock::time_point now = Clock::now();
    if (interrupted && now - last_check >= POLL_EVERY / 2) {
      last_check = now;
      if (interrupted()) throw Interrupted("model request to " + shown + " interrupted");
    }
    if (now >= deadline) throw timed_out(true);
    if (now - t.last_activity > silence) throw timed_out(false);
    auto wait = std::min<Clock::duration>(POLL_EVERY, deadline - now);
    int wait_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1;
#if LIBCURL_VERSION_NUM >= 0x074200
    mc = curl_multi_poll(driver.multi, nullptr, 0, wait_ms, nullptr);
#else
    mc = curl_multi_wait(driver.multi, nullptr, 0, wait_ms, nullptr);
#endif
    if (mc != CURLM_OK)
      throw EndpointError("request to model endpoint " + shown + " failed: " + curl_multi_strerror(mc), shown);
  }

  auto status_error = [&](long status) {
    std::string reason = reason_of(t.status_line);
    std::string what = "model endpoint " + shown + " answered HTTP " + std::to_string(status);
    if (!reason.empty()) what += " " + without_secret(reason, url);
    return HttpStatusError(what, shown, status);
  };

  if (t.too_large) {
    std::string what = "model endpoint " + shown + " sent a reply larger than the limit of " +
                       std::to_string(limits.max_body_bytes) + " bytes";
    if (t.announced > limits.max_body_bytes) what += " (Content-Length " + std::to_string(t.announced) + ")";
    throw ReplyTooLarge(what, shown, limits.max_body_bytes);
  }
  if (t.no_memory)
    throw ModelError("not enough memory for the reply of model endpoint " + shown);
  if (t.bad_status) throw status_error(t.status);
  if (rc != CURLE_OK) {
    std::string detail = without_secret(errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc)), url);
    if (rc == CURLE_OPERATION_TIMEDOUT) throw timed_out(false);
    if (rc == CURLE_URL_MALFORMAT)
      throw EndpointError("invalid model endpoint URL '" + shown + "': " + detail, shown);
    throw EndpointError("cannot reach model endpoint " + shown + ": " + detail, shown);
  }

  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (!success(status)) throw status_error(status);
  return HttpReply{status, std::move(t.body)};
}

}  // namespace vorlane::extract
