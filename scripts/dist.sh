#!/usr/bin/env bash
# Builds the release configurations and lays out the drop in dist/:
#   dist/x64/  QX748UI.dll QX748SP.dll     dist/x86/  the same, 32-bit
#   dist/tools/ qx748.exe (x64) and qx748 (Linux)
#   dist/SHA256SUMS, dist/THIRD-PARTY-NOTICES.md
# then checks the tree (machine types, exports, imports, versions, sums).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh python3
jobs=$(nproc)
build() {  # name toolchain-or-empty
  local dir="$root/build/release-$1"
  local args=(-S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF)
  [ -n "$2" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2")
  echo "==> Release build: $1"
  cmake "${args[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" | tail -1
}
build x64 mingw-w64-x86_64.cmake
build x86 mingw-w64-i686.cmake
build linux ""

dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist/x64" "$dist/x86" "$dist/tools"
for arch in x64 x86; do
  cp "$root/build/release-$arch/uiplugin/QX748UI.dll" "$root/build/release-$arch/setup/QX748SP.dll" "$dist/$arch/"
done
cp "$root/build/release-x64/tools/qx748/qx748.exe" "$root/build/release-linux/tools/qx748/qx748" "$dist/tools/"
# Symbols are not part of the drop.
x86_64-w64-mingw32-strip "$dist"/x64/*.dll "$dist/tools/qx748.exe"
i686-w64-mingw32-strip "$dist"/x86/*.dll
strip "$dist/tools/qx748"
{
  echo "# Third-party notices"
  echo
  echo "QX748UI.dll and the qx748 tools contain the built-in preview photograph"
  echo "(bitmap resource 141). It is not covered by the product's own licence and"
  echo "stays under its own:"
  echo
  sed -n '/^## Credit line/,/^## /p' "$root/uiplugin/resources/builtin-preview.ATTRIBUTION.md" | sed '1d;$d'
} > "$dist/THIRD-PARTY-NOTICES.md"
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | xargs sha256sum > SHA256SUMS)
echo "==> Checking dist/"
python3 "$root/tools/dist/check_dist.py" "$dist"
echo "==> Release drop is in $dist"
