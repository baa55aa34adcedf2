#include "extract/url_mask.hpp"

namespace vorlane::extract {

namespace {

struct UserInfo {
  std::size_t start = 0;  // first character of the user information
  std::size_t at = 0;     // position of the "@" that ends it
  bool found = false;
};

// The user information of `url`: after "scheme://" (or from the start when
// there is none) up to the last "@" before any "?" or "#".  A "/" does not
// end the search: a password with an unencoded "/" is still hidden, at the
// price of hiding an "@" path segment of an odd URL too.
UserInfo user_info(std::string_view url) {
  UserInfo u;
  std::size_t end = url.find_first_of("?#");
  if (end == std::string_view::npos) end = url.size();
  std::size_t sep = url.substr(0, end).find("://");
  u.start = sep == std::string_view::npos ? 0 : sep + 3;
  std::size_t at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < u.start) return u;
  u.at = at;
  u.found = true;
  return u;
}

// The part masked_url hides: after the user name's ":" when the name has no
// "/", otherwise the whole user information.
std::string_view secret_of(std::string_view url, const UserInfo& u) {
  std::string_view info = url.substr(u.start, u.at - u.start);
  std::size_t colon = info.find(':');
  if (colon != std::string_view::npos && info.substr(0, colon).find('/') == std::string_view::npos)
    return info.substr(colon + 1);
  return info;
}

}  // namespace

std::string masked_url(std::string_view url) {
  UserInfo u = user_info(url);
  if (!u.found) return std::string(url);
  std::string_view secret = secret_of(url, u);
  std::string out(url.substr(0, static_cast<std::size_t>(secret.data() - url.data())));
  out += "***";
  out += url.substr(u.at);
  return out;
}

std::string without_secret(std::string_view text, std::string_view url) {
  UserInfo u = user_info(url);
  std::string out(text);
  if (!u.found) return out;
  std::string_view secret = secret_of(url, u);
  if (secret.size() < 3) return out;
  for (std::size_t k = out.find(secret); k != std::string::npos; k = out.find(secret, k + 3))
    out.replace(k, secret.size(), "***");
  return out;
}

}  // namespace vorlane::extract
