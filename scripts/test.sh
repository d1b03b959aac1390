#!/usr/bin/env bash
# Runs every test: native, sanitizers, Windows x64 under Wine, and the x86
# build with its layout and PE checks. Ends with one "N passed, N failed" line
# that counts the individual test cases of all runs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh clang libclang-rt-14-dev || exit 1
presets=(${QX_PRESETS:-native sanitize win64 win32})
jobs=$(nproc)
status=0
logdir="$root/build/test-logs"
mkdir -p "$logdir"
for p in "${presets[@]}"; do
  echo "==> [$p] configure and build"
  if ! { cmake --preset "$p" >"$logdir/$p.configure.log" 2>&1 && cmake --build --preset "$p" -j "$jobs" >"$logdir/$p.build.log" 2>&1; }; then
    tail -40 "$logdir/$p.configure.log" "$logdir/$p.build.log" 2>/dev/null
    echo "==> [$p] BUILD FAILED"; status=1; continue
  fi
  grep -E "warning:" "$logdir/$p.build.log" | sort -u | head -20
  echo "==> [$p] run tests"
  ctest --preset "$p" -j "$jobs" -V >"$logdir/$p.ctest.log" 2>&1
  rc=$?
  grep -E "^[0-9]+/[0-9]+ Test|tests passed|tests failed" "$logdir/$p.ctest.log" | sed 's/^/    /'
  if [ $rc -ne 0 ]; then
    echo "==> [$p] FAILED; failing output:"
    grep -E "\[  FAILED  \]|Failure|error:|Error" "$logdir/$p.ctest.log" | head -40
    status=1
  fi
  if [ "$p" = win64 ]; then scripts/wine-run --prefix "$root/build/win64/wineprefix" --stop; fi
done
# Fuzz targets over their corpora plus a short run each; every target counts
# as one test case. QX_FUZZ_SECONDS=skip leaves the stage out.
rm -f "$logdir/fuzz.log"
fuzz_seconds=${QX_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" != skip ]; then
  echo "==> [fuzz] libFuzzer targets, ${fuzz_seconds} s each"
  scripts/fuzz.sh "$fuzz_seconds" || status=1
  cp "$root/build/fuzz/fuzz.log" "$logdir/fuzz.log" 2>/dev/null ||
    echo "fuzz all: FAILED (scripts/fuzz.sh wrote no log)" >"$logdir/fuzz.log"
fi
# Count test cases: GoogleTest summaries, plus one for each non-GoogleTest ctest entry.
python3 - "$logdir" "${presets[@]}" <<'PY'
import re, sys, pathlib
logdir = pathlib.Path(sys.argv[1]); passed = failed = 0
for p in sys.argv[2:]:
    f = logdir / f"{p}.ctest.log"
    if not f.exists(): continue
    text = f.read_text(errors="replace")
    gp = sum(int(n) for n in re.findall(r"^\d+: \[  PASSED  \] (\d+) test", text, re.M))
    gf = sum(int(n) for n in re.findall(r"^\d+: \[  FAILED  \] (\d+) tests?, listed below", text, re.M))
    gtest_ids = set(re.findall(r"^(\d+): \[==========\] Running", text, re.M))
    results = re.findall(r"^\s*\d+/\d+ Test\s+#(\d+): \S+ \.+\s*(\*{0,3}\w+)", text, re.M)
    other_p = sum(1 for i, r in results if i not in gtest_ids and r == "Passed")
    other_f = sum(1 for i, r in results if i not in gtest_ids and r != "Passed")
    crashed = sum(1 for i, r in results if i in gtest_ids and r != "Passed")
    print(f"    [{p}] {gp + other_p} passed, {gf + other_f} failed")
    passed += gp + other_p; failed += gf + other_f + (crashed if gf == 0 else 0)
f = logdir / "fuzz.log"
if f.exists():
    text = f.read_text(errors="replace")
    fp = len(re.findall(r"^fuzz \S+: PASSED", text, re.M))
    ff = len(re.findall(r"^fuzz \S+: FAILED", text, re.M))
    print(f"    [fuzz] {fp} passed, {ff} failed")
    passed += fp; failed += ff
print(f"total: {passed} passed, {failed} failed")
PY
exit $status
