#!/usr/bin/env bash
# The demo: builds everything and shows the system at work.
# Output goes to ${QX_DEMO_OUT:-out/demo}.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="${QX_DEMO_OUT:-$root/out/demo}"
scripts/deps.sh xvfb
mkdir -p "$out"
jobs=$(nproc)
for p in native win64 win32; do
  echo "==> Building preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$jobs" | tail -1
done
qx="$root/build/native/tools/qx748/qx748"

echo
echo "==> The private settings record through the qx748 command line"
rec="$out/private-devmode.bin"
rm -f "$rec"
set -x
"$qx" devmode default "$rec"
"$qx" devmode show "$rec"
set +x
for part in scripts/demo.d/*.sh; do
  [ -f "$part" ] || continue
  # shellcheck source=/dev/null
  . "$part"
done
echo
echo "==> Demo output is in $out"
