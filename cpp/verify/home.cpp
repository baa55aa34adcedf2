#include "verify/home.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vorlane::verify {

std::string tidy_home(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty()) path = "/";
  return path;
}

HomeDirectory home_directory() {
  HomeDirectory h;
  if (const char* env = std::getenv("HOME")) {
    h.path = tidy_home(env);
    return h;
  }
  struct passwd pw;
  struct passwd* res = nullptr;
  std::vector<char> buf(16384);
  while (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res) == ERANGE && buf.size() < (1u << 22))
    buf.resize(buf.size() * 2);
  if (!res) {
    h.error = "cannot determine the home directory: HOME is not set and the account database has no entry "
              "for uid " + std::to_string(getuid());
    return h;
  }
  h.path = tidy_home(pw.pw_dir);
  return h;
}

}  // namespace vorlane::verify
