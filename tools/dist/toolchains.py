#!/usr/bin/env python3
"""Prints, as JSON, which toolchain built which part of the drop, with versions.

    tools/dist/toolchains.py [ZIG]

Debian packages by their installed version (dpkg-query), Zig by its own
answer and the versions of what it bundles (its clang and lld, and, read
from its lib/ tree, libc++ and the MinGW-w64 headers and CRT). A package
or tool that is missing is an error: the record is for the bill of
materials and must not guess.
"""
import json
import pathlib
import re
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[2]

# Which Debian packages each release build takes its compiler, linker and
# runtime from (cmake/clang-mingw-w64*.cmake, cmake/linux-aarch64.cmake).
BUILDS = {
    "x64": {"compiler": "clang-14", "linker": "lld-14",
            "packages": ["clang-14", "lld-14", "llvm-14", "g++-mingw-w64-x86-64-posix",
                         "gcc-mingw-w64-x86-64-posix-runtime", "mingw-w64-x86-64-dev",
                         "mingw-w64-common", "binutils-mingw-w64-x86-64"]},
    "x86": {"compiler": "clang-14", "linker": "lld-14",
            "packages": ["clang-14", "lld-14", "llvm-14", "g++-mingw-w64-i686-posix",
                         "gcc-mingw-w64-i686-posix-runtime", "mingw-w64-i686-dev",
                         "mingw-w64-common", "binutils-mingw-w64-i686"]},
    "arm64": {"compiler": "zig", "linker": "zig", "packages": ["llvm-14"]},
    "linux": {"compiler": "g++-12", "linker": "binutils",
              "packages": ["g++-12", "libstdc++-12-dev", "libc6-dev", "binutils"]},
    "linux-aarch64": {"compiler": "g++-12-aarch64-linux-gnu", "linker": "binutils-aarch64-linux-gnu",
                      "packages": ["g++-12-aarch64-linux-gnu", "libstdc++-12-dev-arm64-cross",
                                   "libc6-dev-arm64-cross", "binutils-aarch64-linux-gnu"]},
}


def dpkg_version(pkg):
    run = subprocess.run(["dpkg-query", "-W", "-f=${Version}", pkg], capture_output=True, text=True)
    if run.returncode != 0 or not run.stdout:
        raise SystemExit(f"toolchains: Debian package {pkg} is not installed")
    return run.stdout


def first_line(cmd):
    return subprocess.run(cmd, capture_output=True, text=True, check=True).stdout.splitlines()[0].strip()


def define(path, name):
    m = re.search(rf"#\s*define\s+{name}\s+(\S+)", path.read_text(errors="replace"))
    if not m:
        raise SystemExit(f"toolchains: no {name} in {path}")
    return m.group(1)


def zig_record(zig):
    lib = pathlib.Path(zig).parent / "lib"
    mingw = lib / "libc/include/any-windows-any/_mingw_mac.h"
    cxx = define(lib / "libcxx/include/__config", "_LIBCPP_VERSION")
    return {
        "version": first_line([zig, "version"]),
        "sha256_file": "cmake/zig-0.11.0.sha256",
        "clang": first_line([zig, "cc", "--version"]),
        "lld": first_line([zig, "lld-link", "--version"]),
        "libc++": cxx,
        "mingw-w64": ".".join(define(mingw, f"__MINGW64_VERSION_{p}") for p in ("MAJOR", "MINOR", "BUGFIX")),
    }


def main(argv):
    zig = argv[1] if len(argv) > 1 else subprocess.run(
        [str(REPO / "scripts/zig-install")], capture_output=True, text=True, check=True).stdout.strip()
    packages = sorted({p for b in BUILDS.values() for p in b["packages"]})
    record = {
        "builds": BUILDS,
        "debian_packages": {p: dpkg_version(p) for p in packages},
        "zig": zig_record(zig),
    }
    json.dump(record, sys.stdout, indent=2, sort_keys=True)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
