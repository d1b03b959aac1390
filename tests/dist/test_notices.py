#!/usr/bin/env python3
"""Notices and bill of materials made from link maps, with this machine's toolchains.

    test_notices.py

A made-up drop of two small PE images, with maps naming the real archives
of Debian's MinGW-w64 toolchain (GNU ld's format) and of the pinned Zig
(lld's format, members named as tools/dist/link_with_map.py writes them
from lld's verbose output), must give notices carrying the licence texts
those libraries require, and a bill of materials that CycloneDX's
published schema accepts, the same bytes from another folder.
"""
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parents[1]
DIST_TOOLS = REPO / "tools" / "dist"
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(DIST_TOOLS))
import fake_pe  # noqa: E402
import link_with_map  # noqa: E402

GCC = "/usr/lib/gcc/x86_64-w64-mingw32/12-posix"
MINGW = "/usr/x86_64-w64-mingw32/lib"
ZIG_O = "/var/cache/qx748/zig-cache/o"
# What lld -verbose says while linking, and the map it writes (members alone).
LLD_VERBOSE = f"""lld-link: Reading {ZIG_O}/aa/c++.lib
lld-link: Reading uiplugin/libqx_frame.a
lld-link: Loaded c++.lib(string.obj) for std::string
lld-link: Loaded libqx_frame.a(module.cpp.obj) for DllMain
lld-link: warning: something the linker wants said
"""
LLD_MAP = f"""Address  Size     Align Out     In      Symbol
00001000 00047a0c  4096 .text
00001000 000000dc     4         module.cpp.obj:(.text)
00001000 00000000     0                 std::__1::(anonymous namespace)::f:(x)
000010dc 000004a8     4         string.obj:(.text)
"""


def gnu_map(inputs):
    return "Linker script and memory map\n\n.text  0x1000  0x1000\n" + "".join(
        f" .text          0x0000000000001000       0x40 {i}\n" for i in inputs)


class NoticesAndBom(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="qx-notices-"))

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_lld_members_get_their_archives(self):
        # Without this a library's code in an lld map looks like our own objects.
        members, rest = link_with_map.loaded_members(LLD_VERBOSE)
        self.assertEqual(rest, ["lld-link: warning: something the linker wants said"])
        text = link_with_map.name_archives(LLD_MAP, members)
        self.assertIn(f"{ZIG_O}/aa/c++.lib(string.obj):(.text)", text)
        self.assertIn("uiplugin/libqx_frame.a(module.cpp.obj):(.text)", text)
        # The symbol lld names may hold " for " itself.
        members, _ = link_with_map.loaded_members(
            f"ld.lld: Reading {GCC}/libstdc++.a\n"
            "ld.lld: Loaded libstdc++.a(class_type_info.o) for vtable for __cxxabiv1::__class_type_info\n")
        self.assertIn(f"{GCC}/libstdc++.a(class_type_info.o):(.text)", link_with_map.name_archives(
            "00001584 00000010    16         class_type_info.o:(.text)\n", members))
        self.assertIn("std::__1::(anonymous namespace)::f:(x)", text)

    def fixture(self, where):
        dist, maps, builds = where / "dist", where / "maps", where / "build"
        for rel, machine in (("x64/QX748UI.dll", fake_pe.MACHINE_X64), ("arm64/QX748SP.dll", fake_pe.MACHINE_ARM64)):
            (dist / rel).parent.mkdir(parents=True, exist_ok=True)
            (dist / rel).write_bytes(fake_pe.build(machine, exports=["DllCanUnloadNow"], imports=["KERNEL32.dll"]))
        (maps / "x64").mkdir(parents=True)
        (maps / "arm64").mkdir(parents=True)
        (maps / "x64/QX748UI.dll.map").write_text(gnu_map([
            "uiplugin/CMakeFiles/QX748UI.dir/frame/module.cpp.obj", f"{GCC}/libstdc++.a(eh_alloc.o)",
            f"{GCC}/../../../../x86_64-w64-mingw32/lib/libpthread.a(libwinpthread_la-mutex.o)",
            f"{MINGW}/libmingwex.a(lib64_libmingwex_a-gdtoa.o)", f"{MINGW}/dllcrt2.o"]))
        (maps / "arm64/QX748SP.dll.map").write_text(link_with_map.name_archives(LLD_MAP, link_with_map.loaded_members(
            LLD_VERBOSE)[0]))
        for build, compiler in (("x64", "/usr/bin/x86_64-w64-mingw32-g++-posix"),
                                ("arm64", str(where / "build/release-arm64/zig-wrappers/zig-c++"))):
            cc = builds / f"release-{build}/CMakeFiles/3.25.1/CMakeCXXCompiler.cmake"
            cc.parent.mkdir(parents=True)
            cc.write_text(f'set(CMAKE_CXX_COMPILER "{compiler}")\n')
        return dist, maps, builds

    def run_tool(self, *args):
        return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, timeout=300)

    def test_notices_and_bom_from_maps(self):
        attribution = REPO / "uiplugin/resources/builtin-preview.ATTRIBUTION.md"
        boms = []
        for where in (self.tmp / "a", self.tmp / "elsewhere/b"):
            dist, maps, builds = self.fixture(where)
            notices = dist / "THIRD-PARTY-NOTICES.md"
            run = self.run_tool(DIST_TOOLS / "notices.py", "notices", maps, attribution, notices)
            self.assertEqual(run.returncode, 0, run.stderr)
            run = self.run_tool(DIST_TOOLS / "sbom.py", dist, maps, builds, attribution, dist / "SBOM.cdx.json",
                                "--version", "1.001", "--epoch", "1765000000")
            self.assertEqual(run.returncode, 0, run.stderr)
            boms.append((dist / "SBOM.cdx.json").read_bytes())
            self.assertNotIn(str(where), notices.read_text() + boms[-1].decode())
        text = notices.read_text()
        # The texts the licences ask for: GCC's exception, winpthreads' pthread.h BSD
        # licence (notice in the documentation), the CRT's file-by-file entries, LLVM's.
        for needle in ("GCC RUNTIME LIBRARY EXCEPTION", "Lockless Inc.", "Redistributions in binary form",
                       "Files: mingw-w64-crt/gdtoa/*", "Lucent Technologies", "LLVM Exceptions to the Apache 2.0",
                       "## MinGW-w64 winpthreads 10.0.0-", "## LLVM libc++ (as bundled with Zig) 16.0.1",
                       "CC BY 4.0"):
            self.assertIn(needle, text)
        self.assertNotIn("mingw-w64-headers/include/d3d", text)  # the headers' entries are not the CRT's
        self.assertEqual(boms[0], boms[1], "the bill of materials depends on the folder")
        bom = json.loads(boms[0])
        files = {c["name"]: c for c in bom["components"]}
        self.assertEqual(sorted(files), ["THIRD-PARTY-NOTICES.md", "arm64/QX748SP.dll", "x64/QX748UI.dll"])
        inside = {c["name"]: c for c in files["x64/QX748UI.dll"]["components"]}
        self.assertEqual(inside["GNU C++ library (libstdc++)"]["purl"].split("@")[0],
                         "pkg:deb/debian/g++-mingw-w64-x86-64-posix")
        self.assertEqual(inside["Built-in preview photograph"]["licenses"], [{"license": {"id": "CC-BY-4.0"}}])
        self.assertEqual([c["name"] for c in files["arm64/QX748SP.dll"]["components"]],
                         ["LLVM libc++ (as bundled with Zig)"])
        self.assertEqual(sorted(t["name"] for t in bom["formulation"][0]["components"]),
                         ["Zig", "binutils-mingw-w64-x86-64 + g++-mingw-w64-x86-64-posix"])
        self.assertEqual(bom["metadata"]["timestamp"], "2025-12-06T05:46:40Z")
        schemas = subprocess.run([str(REPO / "scripts/cyclonedx-install")], capture_output=True, text=True)
        self.assertEqual(schemas.returncode, 0, schemas.stderr)
        valid = subprocess.run([str(DIST_TOOLS / "validate_sbom.py"), schemas.stdout.strip(), dist / "SBOM.cdx.json"],
                               capture_output=True, text=True)
        self.assertEqual(valid.returncode, 0, valid.stdout + valid.stderr)
        # The validator does reject: a licence id the SPDX list does not have.
        bad = self.tmp / "bad.cdx.json"
        bad.write_text(boms[0].decode().replace('"CC-BY-4.0"', '"CC-BY-4.0-ish"'))
        invalid = subprocess.run([str(DIST_TOOLS / "validate_sbom.py"), schemas.stdout.strip(), bad],
                                 capture_output=True, text=True)
        self.assertEqual(invalid.returncode, 1, invalid.stdout + invalid.stderr)

    def test_unknown_library_stops_the_notices(self):
        dist, maps, _ = self.fixture(self.tmp)
        (maps / "x64/QX748UI.dll.map").write_text(gnu_map([f"{GCC}/libquadmath.a(q.o)"]))
        run = self.run_tool(DIST_TOOLS / "notices.py", "notices", maps, REPO / "uiplugin/resources/"
                            "builtin-preview.ATTRIBUTION.md", self.tmp / "N.md")
        self.assertEqual(run.returncode, 1)
        self.assertIn("libquadmath.a", run.stderr)
        self.assertFalse((self.tmp / "N.md").exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
