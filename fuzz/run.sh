#!/usr/bin/env bash
# Runs the fuzz targets named on the command line, one after the other:
#   1. replays every input kept under tests/regressions/<target>/;
#   2. seeds fuzz/corpus-<target>/ (fuzz/seeds.py);
#   3. fuzzes for FUZZ_SECONDS (default 60) in one process, or, when
#      FUZZ_RUNS is set, for exactly FUZZ_RUNS executions.
# Logs and crash inputs go to fuzz/out/; fuzz/out/summary.txt gets one line
# per target with its execution count.  Exits non-zero when any replay or
# fuzz run found a crash, a sanitizer report or an invariant failure.
# FUZZ_REPLAY_ONLY=1 stops after step 1.  The binaries come from the CMake
# build with -DVORLANE_FUZZ=ON (`make fuzz-build`: build/fuzz, or FUZZ_BIN).
set -u
cd "$(dirname "$0")/.."
ROOT=$PWD
BIN=${FUZZ_BIN:-$ROOT/build/fuzz}
OUT=$ROOT/fuzz/out
PYTHON=${PYTHON:-python3}
SECONDS_EACH=${FUZZ_SECONDS:-60}
mkdir -p "$OUT"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:malloc_context_size=8}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

max_len() {
  case $1 in
    extract) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

status=0
for t in "$@"; do
  bin=$BIN/fuzz_$t
  reg=$ROOT/tests/regressions/$t
  shopt -s nullglob
  cases=("$reg"/*)
  shopt -u nullglob
  if [ ${#cases[@]} -gt 0 ]; then
    if "$bin" "${cases[@]}" > "$OUT/$t-replay.log" 2>&1; then
      echo "$t: replayed ${#cases[@]} regression input(s): ok"
    else
      echo "$t: REGRESSION REPLAY FAILED (see $OUT/$t-replay.log)"
      tail -30 "$OUT/$t-replay.log"
      status=1
    fi
  fi
  [ -n "${FUZZ_REPLAY_ONLY:-}" ] && continue

  corpus=$ROOT/fuzz/corpus-$t
  "$PYTHON" "$ROOT/fuzz/seeds.py" "$t" "$corpus" || { status=1; continue; }
  dict=()
  [ -f "$ROOT/fuzz/$t.dict" ] && dict=(-dict="$ROOT/fuzz/$t.dict")
  if [ -n "${FUZZ_RUNS:-}" ]; then
    bound=(-runs="$FUZZ_RUNS")
    what="$FUZZ_RUNS runs"
  else
    bound=(-max_total_time="$SECONDS_EACH")
    what="$SECONDS_EACH s"
  fi
  started=$(date +%s)
  # shellcheck disable=SC2086
  "$bin" "$corpus" "${bound[@]}" -max_len="$(max_len "$t")" -timeout=25 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$OUT/$t-" "${dict[@]}" ${FUZZ_FLAGS:-} \
    > "$OUT/$t.log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$OUT/$t.log" | grep -o '[0-9]*$' | tail -1)
  line="$(date -u +%FT%TZ) $t: ${execs:-?} executions in $(( $(date +%s) - started )) s (bound: $what), exit $rc"
  echo "$line" | tee -a "$OUT/summary.txt"
  if [ $rc -ne 0 ]; then
    echo "$t: FAILED (see $OUT/$t.log)"
    grep -E 'ERROR|invariant failed|runtime error|Test unit written' "$OUT/$t.log" | head -20
    status=1
  fi
done
exit $status
