#!/bin/sh
# Prints the Python interpreter to build and test with, making its virtual
# environment and installing requirements-test.txt into it when needed.
#
#   tools/venv.sh PYTHON            PYTHON itself when it runs inside a virtual
#                                   environment, else .venv (made from PYTHON;
#                                   .venv-VERSION when .venv holds another version)
#   tools/venv.sh PYTHON VERSION    the same when PYTHON is that version (3.12,
#                                   say), else .venv-VERSION, made from the first
#                                   interpreter of that version found: pythonVERSION
#                                   on PATH, pyenv's, /usr/bin/pythonVERSION
#
# Every message goes to standard error; any failure exits non-zero.
set -eu
cd "$(dirname "$0")/.."
python=$1
version=${2:-}
requirements=requirements-test.txt

runs() { "$1" -c '' >/dev/null 2>&1; }
version_of() { "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'; }
in_venv() { [ "$("$1" -c 'import sys; print(int(sys.prefix != sys.base_prefix))')" = 1 ]; }

if ! runs "$python"; then
  echo "tools/venv.sh: cannot run the Python interpreter '$python'" >&2
  exit 1
fi

find_version() {  # the first working interpreter of version $1
  for p in "python$1" "$(pyenv root 2>/dev/null)"/versions/"$1".*/bin/python"$1" /usr/bin/python"$1" \
           /usr/local/bin/python"$1" /opt/homebrew/bin/python"$1"; do
    if runs "$p" && [ "$(version_of "$p")" = "$1" ]; then
      command -v "$p" 2>/dev/null || echo "$p"
      return 0
    fi
  done
  echo "tools/venv.sh: no Python $1 found (install it, e.g. 'pyenv install $1' or 'apt-get install python$1-venv'," >&2
  echo "  or leave it out: make test PYTHON_VERSIONS=\"...\")" >&2
  return 1
}

if [ -z "$version" ] || [ "$(version_of "$python")" = "$version" ]; then
  base=$python
  venv=.venv
  [ -n "$version" ] || version=$(version_of "$python")
else
  base=$(find_version "$version")
  venv=.venv-$version
fi

if in_venv "$base"; then
  py=$("$base" -c 'import sys; print(sys.executable)')
  stamp=build/stamps/requirements-$(echo "$py" | tr '/.' '__')
else
  if [ "$venv" = .venv ] && [ -x .venv/bin/python ] && [ "$(version_of .venv/bin/python)" != "$version" ]; then
    venv=.venv-$version  # .venv was made from another version
  fi
  if [ ! -x "$venv/bin/python" ]; then
    echo "making the virtual environment $venv (Python $version, from $base)" >&2
    if ! "$base" -m venv "$venv" >&2; then
      echo "tools/venv.sh: '$base -m venv' failed; on Debian/Ubuntu install python$version-venv (or python3-venv)" >&2
      rm -rf "$venv"
      exit 1
    fi
  fi
  py=$PWD/$venv/bin/python
  stamp=$venv/.requirements-installed
fi

if [ ! -f "$stamp" ] || ! cmp -s "$requirements" "$stamp"; then
  echo "installing $requirements into the environment of $py" >&2
  "$py" -m pip install -q --disable-pip-version-check -r "$requirements" >&2
  mkdir -p "$(dirname "$stamp")"
  cp "$requirements" "$stamp"
fi
echo "$py"
