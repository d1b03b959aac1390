#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, ASan + UBSan) in build/fuzz and runs
# each over its seed corpus, then for SECONDS in all (default 20; 0 runs the
# corpus only), on a
# scratch copy of the corpus so the committed one does not grow.
#   scripts/fuzz.sh [SECONDS]
# Prints exec/s and executions per target; exits non-zero on any finding
# (crash inputs are kept in build/fuzz/findings/). Writes build/fuzz/fuzz.log
# with one "fuzz <target>: PASSED|FAILED ..." line per target.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-20}
case "$seconds" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac
targets=(devmode picture colfile names version)
build="$root/build/fuzz"
log="$build/fuzz.log"

mkdir -p "$build"
rm -f "$log"
scripts/deps.sh clang libclang-rt-14-dev || exit 1
echo "==> [fuzz] configure and build ($build)"
if ! { cmake -S "$root" -B "$build" -G Ninja -DQX_FUZZ=ON -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
         >"$build/configure.log" 2>&1 &&
       cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1; }; then
  tail -40 "$build/configure.log" "$build/build.log" 2>/dev/null
  echo "==> [fuzz] BUILD FAILED"
  printf 'fuzz %s: FAILED (build)\n' "${targets[@]}" >"$log"
  exit 1
fi

: >"$log"
status=0
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qx748-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  cp "$root/fuzz/corpus/$t/"* "$scratch/$t/"
  out="$build/$t.out"
  # -max_total_time covers the corpus pass too; 0 seconds: the corpus only.
  if [ "$seconds" -eq 0 ]; then limit=(-runs=0); else limit=(-max_total_time="$seconds"); fi
  "$build/fuzz/fuzz_$t" "${limit[@]}" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/$t-" "$scratch/$t" >"$out" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out" | tail -1)
  if [ $rc -eq 0 ] && ! grep -qE "^==[0-9]+==ERROR|runtime error:|check failed" "$out"; then
    echo "    fuzz_$t: ${execs:-?} executions, ${rate:-?} exec/s, no finding"
    echo "fuzz $t: PASSED ${execs:-0} executions ${rate:-0} exec/s" >>"$log"
  else
    echo "    fuzz_$t: FINDING (exit $rc); output in $out:"
    grep -E "ERROR|runtime error|check failed|SUMMARY|Test unit written" "$out" | head -10 | sed 's/^/      /'
    echo "fuzz $t: FAILED exit $rc" >>"$log"
    status=1
  fi
done
total=$(awk '/PASSED/ {n += $4} END {print n + 0}' "$log")
echo "==> [fuzz] $total executions in total; $(grep -c PASSED "$log") of ${#targets[@]} targets without a finding"
exit $status
