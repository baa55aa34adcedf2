// The home directory that "~" stands for in the normalised texts.
#pragma once

#include <optional>
#include <string>

namespace vorlane::verify {

struct HomeDirectory {
  std::optional<std::string> path;  // the directory's bytes, when found
  std::string error;                // why there is none, otherwise
};

// $HOME when it is set (even to the empty text), else the account
// database's entry for the current user; then tidied by tidy_home().  Found
// as the host runtime's own lookup of "~" finds it.
HomeDirectory home_directory();

// Trailing "/" removed; a path that is left empty reads as "/".
std::string tidy_home(std::string path);

}  // namespace vorlane::verify
