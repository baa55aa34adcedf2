#!/bin/sh
# tools/timed.sh LABEL COMMAND...: runs COMMAND, then records how long it took
# in build/test-times.txt (seconds, label); exits with COMMAND's status.
label=$1
shift
start=$(date +%s)
"$@"
rc=$?
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"
if [ $rc -eq 0 ]; then note=""; else note=" (FAILED, exit $rc)"; fi
printf '%6d  %s%s\n' $(( $(date +%s) - start )) "$label" "$note" >> "$root/build/test-times.txt"
exit $rc
