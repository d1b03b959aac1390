#!/usr/bin/env bash
# Runs every test: native, ASan + UBSan, ThreadSanitizer on the threaded
# correction, the portable suite on Linux aarch64 under qemu-user, Windows
# x64 under Wine, Windows x86 under 32-bit Wine and Windows ARM64 under arm64
# Wine through qemu-user (each where this machine runs that code; elsewhere
# only the build's checks run and the rest is counted as skipped, with one
# line saying why), then every qx748 program on one table of cases, byte for
# byte. Ends with one "total: N passed, N failed, N skipped" line that counts
# the individual test cases of all runs; the run fails if that count cannot
# be made.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# The ARM64 packages are a group of their own: on a degraded mirror they may
# not install, and then that architecture's tests are skipped with apt's
# reason (build/deps/GROUP.unavailable) while the rest runs. x86 needs no
# host package of its own: its Wine comes from the i386 root, and a root
# that cannot be made is the x86 probe's reason.
export QX_DEPS_STATE="${QX_DEPS_STATE:-$root/build/deps}"
updated_file=$(mktemp)
QX_DEPS_UPDATED_FILE="$updated_file" scripts/deps.sh --group arm64 clang libclang-rt-14-dev lld-14 llvm-14 \
  python3-jsonschema osslsigncode openssl || exit 1
# The nested runs below need not ask the mirror again.
[ ! -s "$updated_file" ] || export QX_APT_UPDATED="$(cat "$updated_file")"
rm -f "$updated_file"
presets=(${QX_PRESETS:-native sanitize tsan linux-arm64 win64 win32 dist-win64 dist-win32 winarm64})
jobs=$(nproc)
status=0
logdir="${QX_TEST_LOGDIR:-$root/build/test-logs}"
mkdir -p "$logdir"
rm -f "$logdir"/*.ctest.log "$logdir"/*.skipped "$logdir"/*.runs "$logdir/fuzz.log" "$logdir/skip-path.log" \
  "$logdir/degraded.log" "$logdir/same-bytes.log"

entries() {  # the number of ctest entries of a configured preset [label]
  ctest --preset "$1" -N ${2:+-L "$2"} 2>/dev/null | grep -cE "^ *Test +#"
}
# A preset that cannot be built here: every test it has (the suite it
# shares with SUITE, when it has no build to ask) counted as skipped.
skip_preset() {  # preset suite why
  local n
  n=$(entries "$2"); [ "${n:-0}" -gt 0 ] || n=1
  echo "==> [$1] not built here: $3; $n tests not run, counted as skipped"
  echo "$n" >"$logdir/$1.skipped"
  : >"$logdir/$1.ctest.log"
}
wine_arch() { case "$1" in win64|dist-win64) echo win64 ;; win32|dist-win32) echo win32 ;; winarm64) echo arm64 ;; esac; }

for p in "${presets[@]}"; do
  case "$p" in
    linux-arm64|winarm64)
      if [ -f "$QX_DEPS_STATE/arm64.unavailable" ]; then
        suite=native; [ "$p" = winarm64 ] && suite=win64
        skip_preset "$p" "$suite" "$(cat "$QX_DEPS_STATE/arm64.unavailable")"; continue
      fi ;;
  esac
  if [ "$p" = winarm64 ] && ! zig_out=$(scripts/zig-install 2>&1); then
    skip_preset "$p" win64 "Zig could not be installed: $(tail -1 <<<"$zig_out")"; continue
  fi
  echo "==> [$p] configure and build"
  if ! { cmake --preset "$p" >"$logdir/$p.configure.log" 2>&1 && cmake --build --preset "$p" -j "$jobs" >"$logdir/$p.build.log" 2>&1; }; then
    tail -40 "$logdir/$p.configure.log" "$logdir/$p.build.log" 2>/dev/null
    echo "==> [$p] BUILD FAILED"; status=1; continue
  fi
  grep -E "warning:" "$logdir/$p.build.log" | sort -u | head -20
  select=()
  if [ "$p" = win32 ] || [ "$p" = dist-win32 ]; then
    if why=$(scripts/x86-probe "$root/build/$p/wineprefix" "$root/build/$p/tools/qx748/qx748.exe" --version); then
      : >"$logdir/$p.runs"
    else
      skipped=$(entries "$p" wine)
      echo "==> [$p] x86 code does not run here: $why; $skipped Wine tests not run, counted as skipped"
      echo "$skipped" >"$logdir/$p.skipped"
      select=(-LE wine)
    fi
  fi
  if [ "$p" = winarm64 ]; then
    if why=$(scripts/arm64-probe "$root/build/winarm64/wineprefix" "$root/build/winarm64/tools/qx748/qx748.exe" --version); then
      : >"$logdir/winarm64.runs"
    else
      skipped=$(entries winarm64 wine)
      echo "==> [winarm64] ARM64 code does not run here: $why; $skipped Wine tests not run, counted as skipped"
      echo "$skipped" >"$logdir/winarm64.skipped"
      select=(-LE wine)
    fi
  fi
  echo "==> [$p] run tests"
  ctest --preset "$p" -j "$jobs" -V "${select[@]}" >"$logdir/$p.ctest.log" 2>&1
  rc=$?
  grep -E "^ *[0-9]+/[0-9]+ Test|% tests passed|tests failed out of" "$logdir/$p.ctest.log" | sed 's/^ */    /'
  if [ $rc -ne 0 ]; then
    echo "==> [$p] FAILED; failing output:"
    grep -E "\[  FAILED  \]|Failure|error:|Error" "$logdir/$p.ctest.log" | head -40
    status=1
  fi
  case "$p" in
    win64|win32|dist-win64|dist-win32|winarm64)
      scripts/wine-run --arch "$(wine_arch "$p")" --prefix "$root/build/$p/wineprefix" --stop
      QX_WINE_DPI=144 scripts/wine-run --arch "$(wine_arch "$p")" --prefix "$root/build/$p/wineprefix" --stop
      QX_WINE_DPI=120 QX_WINE_DPI_SHARED=1 scripts/wine-run --arch "$(wine_arch "$p")" --prefix "$root/build/$p/wineprefix" --stop ;;
  esac
  case "$p" in native|win64|linux-arm64) : >"$logdir/$p.runs" ;; esac
done

# Every qx748 program built and runnable here on one table of cases: exit
# status, output and files byte for byte. One test case a table row.
if [ -f "$logdir/native.runs" ]; then
  echo "==> [same-bytes] the qx748 programs of every architecture on one table"
  run="$root/scripts/wine-run"
  builds=("linux-x86-64=$root/build/native/tools/qx748/qx748")
  add() {  # preset name command
    if [ -f "$logdir/$1.runs" ]; then builds+=("$2=$3"); else echo "    $2 not compared: [$1] did not run here"; fi
  }
  add linux-arm64 linux-aarch64 "/usr/bin/qemu-aarch64-static -L /usr/aarch64-linux-gnu $root/build/linux-arm64/tools/qx748/qx748"
  add win64 x64 "$run --arch win64 --prefix $root/build/win64/wineprefix $root/build/win64/tools/qx748/qx748.exe"
  add win32 x86 "$run --arch win32 --prefix $root/build/win32/wineprefix $root/build/win32/tools/qx748/qx748.exe"
  add winarm64 arm64 "$run --arch arm64 --prefix $root/build/winarm64/wineprefix $root/build/winarm64/tools/qx748/qx748.exe"
  python3 tests/tools/same_bytes.py "${builds[@]}" >"$logdir/same-bytes.log" 2>&1
  grep -E "DIFFERS|^same bytes:" "$logdir/same-bytes.log" | sed 's/^/    /'
  for p in win64 win32 winarm64; do
    [ -f "$logdir/$p.runs" ] && scripts/wine-run --arch "$(wine_arch "$p")" --prefix "$root/build/$p/wineprefix" --stop
  done
fi

# The same bytes from two folders: one DLL per release toolchain built
# twice from two copies of this clone (scripts/repro-check). One test case
# a toolchain; Zig's where the ARM64 group and Zig could be installed.
rm -f "$logdir/repro.log"
if [ "${QX_SKIP_PATH:-}" != skip ] && [ "${QX_REPRO:-}" != skip ]; then
  echo "==> [repro] one DLL per release toolchain, built in two folders"
  repro=(clang-x64)
  if [ -f "$QX_DEPS_STATE/arm64.unavailable" ]; then
    echo "repro zig-arm64: SKIPPED ($(cat "$QX_DEPS_STATE/arm64.unavailable"))" >"$logdir/repro.log"
  elif ! scripts/zig-install >/dev/null 2>&1; then
    echo "repro zig-arm64: SKIPPED (Zig could not be installed)" >"$logdir/repro.log"
  else
    repro+=(zig-arm64)
  fi
  scripts/repro-check "${repro[@]}" >>"$logdir/repro.log" 2>&1 || status=1
  sed 's/^/    /' "$logdir/repro.log"
fi

# The path for machines without 32-bit code (or without ARM64 emulation),
# taken for real on the x86 (ARM64) build with the probe's answer forced: the
# why-line, only the build checks run, every Wine test counted as skipped.
# One test case each.
skip_path() {  # preset probe-variable log-name
  if [ -z "${!2:-}" ] && [ "${QX_SKIP_PATH:-}" != skip ] && [[ " ${presets[*]} " == *" $1 "* ]] &&
     [ -s "$logdir/$1.ctest.log" ]; then
    echo "==> [$3] $1 again with the probe forced to fail"
    env "$2=no" QX_PRESETS="$1" QX_FUZZ_SECONDS=skip QX_SKIP_PATH=skip QX_TEST_LOGDIR="$logdir/$3" \
      scripts/test.sh >"$logdir/$3.out" 2>&1
    echo $? >"$logdir/$3.rc"
  fi
}
rm -f "$logdir"/skip-path*.out "$logdir"/skip-path*.rc
skip_path win32 QX_X86_PROBE skip-path
skip_path winarm64 QX_ARM64_PROBE skip-path-arm64

# The set-up on a degraded mirror, with stand-ins for apt-get, dpkg and
# debootstrap: a failed index, an architecture's group that cannot install,
# a needed package that cannot; and this command itself on the x86 build
# with the i386 root failing to be made. One test case each.
if [ "${QX_SKIP_PATH:-}" != skip ] && [[ " ${presets[*]} " == *" win32 "* ]] && [ -f "$logdir/win32.ctest.log" ]; then
  echo "==> [degraded] the set-up on a degraded package mirror (stand-in apt-get)"
  python3 tests/build/degraded_mirror.py "$root" --with-test-run >"$logdir/degraded.log" 2>&1
  sed 's/^/    /' "$logdir/degraded.log"
fi

# Fuzz targets over their corpora plus a short run each; every target counts
# as one test case. QX_FUZZ_SECONDS=skip leaves the stage out.
fuzz_seconds=${QX_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" != skip ]; then
  echo "==> [fuzz] libFuzzer targets, ${fuzz_seconds} s each"
  scripts/fuzz.sh "$fuzz_seconds" || status=1
  cp "$root/build/fuzz/fuzz.log" "$logdir/fuzz.log" 2>/dev/null ||
    echo "fuzz all: FAILED (scripts/fuzz.sh wrote no log)" >"$logdir/fuzz.log"
fi

python3 "$root/scripts/count_tests.py" "$logdir" "${presets[@]}"
case $? in
  0) ;;
  3) status=1 ;;
  *) echo "test.sh: FAILED: the test cases could not be counted"; status=1 ;;
esac
exit $status
