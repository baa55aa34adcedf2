#!/bin/sh
# tools/apt_install.sh PACKAGE...: on Debian/Ubuntu, installs those of the
# packages that are missing (with sudo unless root).  Elsewhere it does
# nothing: tools/check_system.sh then names what is missing.
command -v dpkg >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1 || exit 0
missing=""
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
echo "installing Debian packages:$missing" >&2
if [ "$(id -u)" = 0 ]; then sudo=""; else sudo=sudo; fi
$sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
