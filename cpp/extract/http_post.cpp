#include "extract/http_post.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "extract/errors.hpp"

namespace vorlane::extract {

namespace {

using Clock = std::chrono::steady_clock;

void global_init() {
  static std::once_flag once;
  static CURLcode rc = CURLE_OK;
  std::call_once(once, [] { rc = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (rc != CURLE_OK)
    throw ModelError(std::string("libcurl initialisation failed: ") + curl_easy_strerror(rc));
}

// State of one transfer, shared with the libcurl callbacks.
struct Transfer {
  std::string body;
  std::string status_line;  // last "HTTP/..." line of the response head
  Clock::time_point last_activity;
  curl_off_t last_dl = -1, last_ul = -1;
  Clock::duration limit{};
  bool stalled = false;
  const std::function<bool()>* interrupted = nullptr;
  Clock::time_point last_poll;
  bool stopped = false;
};

size_t on_body(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->body.append(data, size * n);
  t->last_activity = Clock::now();
  return size * n;
}

size_t on_header(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::string_view line(data, size * n);
  if (line.substr(0, 5) == "HTTP/") {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    t->status_line.assign(line);
  }
  t->last_activity = Clock::now();
  return size * n;
}

// Called about once a second while the connection is idle, and often while
// data moves: any change of the byte counters counts as activity; a pause
// longer than the limit aborts the transfer.
int on_progress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* t = static_cast<Transfer*>(user);
  auto now = Clock::now();
  if (t->interrupted && *t->interrupted && now - t->last_poll >= std::chrono::milliseconds(100)) {
    t->last_poll = now;
    if ((*t->interrupted)()) {
      t->stopped = true;
      return 1;
    }
  }
  if (dlnow != t->last_dl || ulnow != t->last_ul) {
    t->last_dl = dlnow;
    t->last_ul = ulnow;
    t->last_activity = now;
    return 0;
  }
  if (now - t->last_activity > t->limit) {
    t->stalled = true;
    return 1;
  }
  return 0;
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
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
void check_url(const std::string& url) {
  if (url.find('\0') != std::string::npos)
    throw EndpointError("invalid model endpoint URL '" + url + "': it holds a NUL character", url);
  CURLU* u = curl_url();
  if (!u) throw EndpointError("cannot parse model endpoint URL '" + url + "'", url);
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
  if (!problem.empty()) throw EndpointError("invalid model endpoint URL '" + url + "': " + problem, url);
}

}  // namespace

HttpReply http_post_json(const std::string& url, std::string_view body, double timeout_s,
                         const std::function<bool()>& interrupted) {
  global_init();
  if (!(timeout_s > 0) || !std::isfinite(timeout_s))
    throw ModelError("model request time-out must be a positive number of seconds");

  check_url(url);

  std::unique_ptr<CURL, EasyDeleter> h(curl_easy_init());
  if (!h) throw EndpointError("cannot start a request to model endpoint " + url, url);
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

  // Beyond a few months a time-out means "never"; the cap keeps the
  // conversions below in range.
  const double limit_s = std::min(timeout_s, 1e7);
  Transfer t;
  t.limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit_s));
  t.last_activity = t.last_poll = Clock::now();
  t.interrupted = &interrupted;
  char errbuf[CURL_ERROR_SIZE] = {0};
  long connect_ms = static_cast<long>(std::ceil(limit_s * 1000.0));
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

  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    if (rc == CURLE_ABORTED_BY_CALLBACK && t.stopped)
      throw Interrupted("model request to " + url + " interrupted");
    std::string detail = errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc));
    if (rc == CURLE_OPERATION_TIMEDOUT || (rc == CURLE_ABORTED_BY_CALLBACK && t.stalled)) {
      throw TimeoutError("model endpoint " + url + " timed out: nothing received for " +
                             format_seconds(timeout_s) + " s",
                         url, timeout_s);
    }
    if (rc == CURLE_URL_MALFORMAT) {
      throw EndpointError("invalid model endpoint URL '" + url + "': " + detail, url);
    }
    throw EndpointError("cannot reach model endpoint " + url + ": " + detail, url);
  }

  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) {
    std::string reason = reason_of(t.status_line);
    std::string what = "model endpoint " + url + " answered HTTP " + std::to_string(status);
    if (!reason.empty()) what += " " + reason;
    throw HttpStatusError(what, url, status);
  }
  return HttpReply{status, std::move(t.body)};
}

}  // namespace vorlane::extract
