#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need, when missing,
# on a bare Debian 12 (every program the scripts call comes from here).
#   scripts/deps.sh [--group arm64 ...] [extra-package ...]
#
# The packages every stage needs (and the extra ones named) must install, or
# the set-up fails naming them. The packages that serve one architecture's
# tests form a group of their own (x86 has none: its 32-bit Wine comes
# from an i386 root, scripts/i386-root, and the host keeps no foreign
# architecture): when a group cannot be installed, the
# set-up goes on and leaves apt's reason in $QX_DEPS_STATE/GROUP.unavailable,
# so that architecture's tests are counted as skipped with that reason.
#
# The package mirror can be degraded for hours (a stale index, "Mirror sync
# in progress?"): `apt-get update` is retried, a failed index alone does not
# stop anything, and only what then cannot be installed decides.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state="${QX_DEPS_STATE:-$here/../build/deps}"
pause="${QX_APT_RETRY_PAUSE:-10}"
tries="${QX_APT_TRIES:-3}"

core=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3
      g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64 util-linux
      debootstrap)
groups=()
while [ $# -gt 0 ]; do
  case "$1" in
    --group) groups+=("$2"); shift 2 ;;
    *) core+=("$1"); shift ;;
  esac
done

group_packages() {
  case "$1" in
    # Windows ARM64: llvm-windres/readobj for the Zig build, qemu-user for
    # the arm64 root that runs arm64 Wine (and qemu-i386 for the i386 root
    # where the kernel executes no 32-bit code); the Linux aarch64
    # cross compiler. Zig itself comes from npm (scripts/zig-install): Debian's
    # npm only where no npm client is there already.
    arm64)
      echo "llvm-14 qemu-user-static g++-aarch64-linux-gnu"
      command -v npm >/dev/null 2>&1 || echo npm ;;
    *) echo "deps.sh: unknown group '$1' (arm64)" >&2; return 1 ;;
  esac
}

SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
mkdir -p "$state"

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

# apt's own reason for a failed install, on one line: its first error and
# the first unmet dependency it names.
apt_reason() {
  local err dep
  err=$(grep -m1 '^E: ' "$1" | sed 's/^E: //')
  dep=$(grep -m1 -E '^ *[^ ]+ : (Depends|PreDepends|Conflicts|Breaks):' "$1" | sed 's/^ *//; s/  */ /g')
  [ -n "$err" ] || err="apt-get exited with status $2"
  if [ -n "$dep" ]; then echo "$err ($dep)"; else echo "$err"; fi
}

# A caller that has just run the update (the test command, for its nested
# runs) says so: a degraded mirror is not asked again and again.
updated=0; [ -z "${QX_APT_UPDATED:-}" ] || updated=1
failed_index="${QX_APT_UPDATED:-}"; [ "$failed_index" != ok ] || failed_index=""
apt_update() {
  [ $updated -eq 0 ] || return 0
  updated=1
  [ -z "${QX_DEPS_UPDATED_FILE:-}" ] || echo ok >"$QX_DEPS_UPDATED_FILE"
  local i log
  log=$(mktemp)
  for ((i = 1; i <= tries; i++)); do
    echo "==> apt-get update (try $i of $tries)"
    if $SUDO apt-get update -q >"$log" 2>&1; then
      failed_index=""; rm -f "$log"; return 0
    fi
    failed_index=$(grep -m1 -E '^(E|W): Failed to fetch' "$log" | sed 's/^[EW]: //; s/ *\[IP: [^]]*\]//')
    [ -n "$failed_index" ] || failed_index=$(grep -m1 '^E: ' "$log" | sed 's/^E: //')
    [ $i -lt $tries ] && sleep "$pause"
  done
  rm -f "$log"
  [ -z "${QX_DEPS_UPDATED_FILE:-}" ] || echo "${failed_index:-apt-get update failed}" >"$QX_DEPS_UPDATED_FILE"
  echo "==> apt-get update failed $tries times; going on with the indexes there are: ${failed_index:-no reason given}"
}

# Installs the packages named; on failure leaves apt's reason in $reason
# (and, with --verbose first, shows the end of what apt said).
reason=""
apt_install() {
  local log rc verbose=0
  [ "$1" != --verbose ] || { verbose=1; shift; }
  log=$(mktemp)
  $SUDO apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
  rc=$?
  if [ $rc -ne 0 ]; then
    reason=$(apt_reason "$log" $rc)
    [ $verbose -eq 0 ] || tail -20 "$log" >&2
  fi
  rm -f "$log"
  return $rc
}

# The packages every stage needs.
mapfile -t missing < <(missing_of "${core[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  apt_update
  echo "==> Installing Debian packages: ${missing[*]}"
  if ! apt_install --verbose "${missing[@]}"; then
    # Which of them apt cannot install at all, by name.
    bad=()
    for p in "${missing[@]}"; do
      $SUDO apt-get install -s -q --no-install-recommends "$p" >/dev/null 2>&1 || bad+=("$p")
    done
    [ ${#bad[@]} -gt 0 ] || bad=("${missing[@]}")
    echo "deps.sh: FAILED: needed packages could not be installed: ${bad[*]} (apt: $reason)" >&2
    exit 1
  fi
else
  echo "==> Debian packages already present"
fi

# One group for each architecture's tests: installed when it can be.
status=0
for g in "${groups[@]}"; do
  pkgs=$(group_packages "$g") || { status=1; continue; }
  rm -f "$state/$g.unavailable"
  # shellcheck disable=SC2086
  mapfile -t gmissing < <(missing_of $pkgs)
  [ ${#gmissing[@]} -gt 0 ] || continue
  apt_update
  echo "==> Installing the $g group: ${gmissing[*]}"
  if ! apt_install "${gmissing[@]}"; then
    why="${gmissing[*]} could not be installed: $reason"
    [ -z "$failed_index" ] || why="$why; after apt-get update failed: $failed_index"
    echo "==> [$g] $why; going on without it"
    echo "$why" >"$state/$g.unavailable"
  fi
done
exit $status
