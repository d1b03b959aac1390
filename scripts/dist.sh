#!/usr/bin/env bash
# Builds the release configurations and lays out the drop in dist/:
#   dist/x64/  QX748UI.dll QX748SP.dll     dist/x86/  the same, 32-bit
#   dist/arm64/ the same for Windows ARM64 (Zig)
#   dist/tools/ qx748.exe (x64), x86/qx748.exe, arm64/qx748.exe, qx748
#               (Linux x86-64) and linux-aarch64/qx748
#   dist/SHA256SUMS, dist/THIRD-PARTY-NOTICES.md, dist/SBOM.cdx.json
#   dist/symbols/<arch>/*.pdb, symbols/index.txt (for support; not in the sums)
# then checks the tree (machine types, exports, imports, versions, sums)
# and that the command-line tools give the same bytes on one table of
# cases (x64, x86 and ARM64 under Wine, the aarch64 one under qemu-user,
# where this machine runs them).
#   scripts/dist.sh            (QX_JOBS=N to limit parallel compiles)
#   scripts/dist.sh --sign-pkcs12 FILE [--sign-password-file FILE]
#       also signs every Windows binary with that certificate (or set
#       QX_SIGN_PKCS12, and QX_SIGN_PASSWORD or QX_SIGN_PASSWORD_FILE)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export QX_DEPS_STATE="${QX_DEPS_STATE:-$root/build/deps}"

# --- signing, notices and bill of materials: options and set-up ---
while [ $# -gt 0 ]; do
  case "$1" in
    --sign-pkcs12) export QX_SIGN_PKCS12="$2"; shift 2 ;;
    --sign-password-file) export QX_SIGN_PASSWORD_FILE="$2"; shift 2 ;;
    *) echo "dist.sh: unknown option $1 (--sign-pkcs12 FILE, --sign-password-file FILE)" >&2; exit 2 ;;
  esac
done
scripts/deps.sh --group arm64 python3 clang-14 lld-14 llvm-14 python3-jsonschema osslsigncode openssl
# A certificate that cannot sign fails the run now, not after the builds.
[ -z "${QX_SIGN_PKCS12:-}" ] || scripts/sign-drop check
schemas=$(scripts/cyclonedx-install)
# The time the bill of materials and the signatures state: the commit's.
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}"
# --- end ---
# The drop is whole or not made: no ARM64 part, no drop.
if [ -f "$QX_DEPS_STATE/arm64.unavailable" ]; then
  echo "==> The ARM64 part cannot be built here: $(cat "$QX_DEPS_STATE/arm64.unavailable")" >&2
  exit 1
fi
scripts/zig-install >/dev/null
jobs=${QX_JOBS:-$(nproc)}
logs="$root/build/release-logs"
mkdir -p "$logs"
start=$SECONDS

if [ -d .git ] && [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "==> Note: the working tree has uncommitted changes; they go into this drop"
fi

build() {  # name toolchain-or-empty target...
  local name=$1 toolchain=$2; shift 2
  local dir="$root/build/release-$name" t0=$SECONDS
  local args=(-S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF)
  [ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain")
  # Every link leaves its map in $dir/maps (the notices and the bill of materials read them).
  local launcher="$root/tools/dist/link_with_map.py;--maps;$dir/maps"
  [[ "$toolchain" != zig-* ]] || launcher+=";--zig;$(scripts/zig-install)"
  args+=("-DCMAKE_CXX_LINKER_LAUNCHER=$launcher" "-DCMAKE_C_LINKER_LAUNCHER=$launcher")
  echo "==> Release build: $name ($*)"
  if ! { cmake "${args[@]}" >"$logs/$name.configure.log" 2>&1 &&
         cmake --build "$dir" -j "$jobs" --target "$@" >"$logs/$name.build.log" 2>&1; }; then
    tail -40 "$logs/$name.configure.log" "$logs/$name.build.log" 2>/dev/null || true
    echo "==> Release build $name FAILED (logs in $logs)"
    exit 1
  fi
  echo "    done in $((SECONDS - t0)) s"
}
# x64 and x86 on clang + lld (GCC's MinGW runtime): they write PDBs, GNU ld cannot.
build x64 clang-mingw-w64-x86_64.cmake QX748UI QX748SP qx748
build x86 clang-mingw-w64-i686.cmake QX748UI QX748SP qx748
build linux "" qx748
build arm64 zig-aarch64-windows.cmake QX748UI QX748SP qx748
build linux-aarch64 linux-aarch64.cmake qx748

echo "==> Laying out dist/"
dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist/x64" "$dist/x86" "$dist/arm64" "$dist/tools/x86" "$dist/tools/arm64" "$dist/tools/linux-aarch64"
for arch in x64 x86 arm64; do
  cp "$root/build/release-$arch/uiplugin/QX748UI.dll" "$root/build/release-$arch/setup/QX748SP.dll" "$dist/$arch/"
done
cp "$root/build/release-x64/tools/qx748/qx748.exe" "$root/build/release-linux/tools/qx748/qx748" "$dist/tools/"
cp "$root/build/release-x86/tools/qx748/qx748.exe" "$dist/tools/x86/"
cp "$root/build/release-arm64/tools/qx748/qx748.exe" "$dist/tools/arm64/"
cp "$root/build/release-linux-aarch64/tools/qx748/qx748" "$dist/tools/linux-aarch64/"
# Symbols are not part of the drop. LLVM's strip keeps the CodeView record
# that pairs each image with its PDB.
llvm-strip-14 "$dist"/x64/*.dll "$dist/tools/qx748.exe" "$dist"/x86/*.dll "$dist/tools/x86/qx748.exe"
strip "$dist/tools/qx748"
llvm-strip-14 "$dist"/arm64/*.dll "$dist/tools/arm64/qx748.exe"
aarch64-linux-gnu-strip "$dist/tools/linux-aarch64/qx748"

# --- symbols for support (dist/symbols/<arch>/, outside the sums) ---
echo "==> Symbols"
python3 "$root/tools/dist/symbols.py" "$root" "$dist" >"$logs/symbols.log" 2>&1 ||
  { cat "$logs/symbols.log"; echo "==> The drop's symbols do not fit its images"; exit 1; }
tail -1 "$logs/symbols.log"
python3 "$root/tools/dist/toolchains.py" >"$root/build/release-toolchains.json"
# --- end symbols ---

# --- signing, notices and bill of materials ---
# The maps beside the drop, laid out like it (not for customers).
maps="$root/build/release-maps"
rm -rf "$maps"
for rel in x64/QX748UI.dll x64/QX748SP.dll x86/QX748UI.dll x86/QX748SP.dll arm64/QX748UI.dll arm64/QX748SP.dll \
           tools/qx748.exe tools/x86/qx748.exe tools/arm64/qx748.exe tools/qx748 tools/linux-aarch64/qx748; do
  case "$rel" in
    x64/*|tools/qx748.exe) b=x64 ;; x86/*|tools/x86/*) b=x86 ;; arm64/*|tools/arm64/*) b=arm64 ;;
    tools/linux-aarch64/*) b=linux-aarch64 ;; *) b=linux ;;
  esac
  mkdir -p "$maps/$(dirname "$rel")"
  cp "$root/build/release-$b/maps/$(basename "$rel").map" "$maps/$rel.map"
done
if [ -n "${QX_SIGN_PKCS12:-}" ]; then
  echo "==> Signing the Windows binaries"
  # All or nothing: a failed signing leaves no drop at all.
  scripts/sign-drop sign "$dist"/x64/*.dll "$dist"/x86/*.dll "$dist"/arm64/*.dll "$dist"/tools/qx748.exe \
    "$dist"/tools/x86/qx748.exe "$dist"/tools/arm64/qx748.exe || { rm -rf "$dist"; exit 1; }
fi
attribution="$root/uiplugin/resources/builtin-preview.ATTRIBUTION.md"
echo "==> Third-party notices and the bill of materials"
export QX_OWN_PREFIXES="$root/build"
# A drop without its notices or a valid bill of materials is no drop.
{ python3 tools/dist/notices.py notices "$maps" "$attribution" "$dist/THIRD-PARTY-NOTICES.md" &&
  version=$("$dist/tools/qx748" --version | awk '{print $2}') &&
  python3 tools/dist/sbom.py "$dist" "$maps" "$root/build" "$attribution" "$dist/SBOM.cdx.json" \
    --version "$version" --epoch "$SOURCE_DATE_EPOCH" &&
  tools/dist/validate_sbom.py "$schemas" "$dist/SBOM.cdx.json"; } || { rm -rf "$dist"; exit 1; }
# --- end ---
(cd "$dist" && find . -path ./symbols -prune -o -type f ! -name SHA256SUMS -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum > SHA256SUMS)

echo "==> Checking dist/"
python3 "$root/tools/dist/check_dist.py" "$dist" --credit "$attribution" --maps "$maps"

echo "==> The drop's qx748 programs on the same cases"
run="$root/scripts/wine-run"
builds=("linux=$dist/tools/qx748" "x64=$run --arch win64 --prefix $root/build/release-x64/wineprefix $dist/tools/qx748.exe")
if why=$(scripts/x86-probe "$root/build/release-x86/wineprefix" "$dist/tools/x86/qx748.exe" --version); then
  builds+=("x86=$run --arch win32 --prefix $root/build/release-x86/wineprefix $dist/tools/x86/qx748.exe")
else
  echo "    x86 not compared (x86 code does not run here: $why)"
fi
builds+=("linux-aarch64=/usr/bin/qemu-aarch64-static -L /usr/aarch64-linux-gnu $dist/tools/linux-aarch64/qx748")
if why=$(scripts/arm64-probe "$root/build/release-arm64/wineprefix" "$dist/tools/arm64/qx748.exe" --version); then
  builds+=("arm64=$run --arch arm64 --prefix $root/build/release-arm64/wineprefix $dist/tools/arm64/qx748.exe")
else
  echo "    arm64 not compared (ARM64 code does not run here: $why)"
fi
python3 "$root/tests/tools/same_bytes.py" "${builds[@]}" >"$logs/same-bytes.log" 2>&1 ||
  { cat "$logs/same-bytes.log"; echo "==> The drop's tools DIFFER"; exit 1; }
tail -1 "$logs/same-bytes.log"
# The Wine servers of the programs that ran.
for b in "${builds[@]}"; do
  case "$b" in
    x64=*) "$run" --arch win64 --prefix "$root/build/release-x64/wineprefix" --stop ;;
    x86=*) "$run" --arch win32 --prefix "$root/build/release-x86/wineprefix" --stop ;;
    arm64=*) "$run" --arch arm64 --prefix "$root/build/release-arm64/wineprefix" --stop ;;
  esac
done
echo "==> Release drop is in $dist ($((SECONDS - start)) s)"
