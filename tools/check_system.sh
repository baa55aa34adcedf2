#!/bin/sh
# Checks, all at once, that the tools and system libraries a build needs are
# here.  When any is missing it prints one message naming each of them with
# the package that provides it on Debian/Ubuntu, Fedora and Homebrew (to
# standard error) and exits 1.  Run by `make` before building and by
# CMakeLists.txt at configure time, so both say the same.
missing=""
debian=""
need() {  # what, Debian package, Fedora package, Homebrew formula
  missing="$missing
$(printf '  %-30s Debian: %-22s Fedora: %-20s Homebrew: %s' "$1" "$2" "$3" "$4")"
  debian="$debian $2"
}

# A pkg-config module is found through pkg-config, or, without pkg-config,
# by its .pc file in the usual places (so that one run names everything).
if command -v pkg-config >/dev/null 2>&1; then
  have_module() { pkg-config --exists "$1"; }
else
  need "pkg-config" pkg-config pkgconf-pkg-config pkgconf
  have_module() {
    for d in /usr/lib/*/pkgconfig /usr/lib64/pkgconfig /usr/lib/pkgconfig /usr/share/pkgconfig \
             /usr/local/lib/pkgconfig /usr/local/share/pkgconfig /opt/homebrew/lib/pkgconfig \
             /opt/homebrew/share/pkgconfig; do
      [ -f "$d/$1.pc" ] && return 0
    done
    return 1
  }
fi

if [ -n "${CXX:-}" ]; then
  command -v "${CXX%% *}" >/dev/null 2>&1 || need "C++20 compiler (\$CXX=$CXX)" g++ gcc-c++ "(Xcode tools)"
elif ! command -v c++ >/dev/null 2>&1 && ! command -v g++ >/dev/null 2>&1 && ! command -v clang++ >/dev/null 2>&1; then
  need "C++20 compiler" g++ gcc-c++ "(Xcode tools)"
fi
command -v cmake >/dev/null 2>&1 || need "CMake 3.18 or later" cmake cmake cmake
have_module libpcre2-8 || need "PCRE2 (libpcre2-8)" libpcre2-dev pcre2-devel pcre2
have_module libcurl || need "libcurl (libcurl)" libcurl4-openssl-dev libcurl-devel curl
have_module nlohmann_json || need "nlohmann-json (nlohmann_json)" nlohmann-json3-dev json-devel nlohmann-json

if [ -n "$missing" ]; then
  {
    echo "vorlane_core cannot be built; missing:$missing"
    echo "  On Debian/Ubuntu: sudo apt-get install$debian"
    echo "  With Homebrew, put \$(brew --prefix)/lib/pkgconfig on PKG_CONFIG_PATH too."
  } >&2
  exit 1
fi
exit 0
