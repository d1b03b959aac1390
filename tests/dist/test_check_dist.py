#!/usr/bin/env python3
"""tools/dist/check_dist.py accepts a sound drop and rejects broken ones.

The drop is laid out with small PE images made to order (tests/dist/fake_pe.py)
and the real Linux qx748 of this build; each broken variant changes one thing
and must fail with the check that names it, and only with the checks that
this one change can trip.
"""
import argparse
import hashlib
import json
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import fake_pe  # noqa: E402

ARGS = None
X64, X86, ARM64 = fake_pe.MACHINE_X64, fake_pe.MACHINE_X86, fake_pe.MACHINE_ARM64
EXPORTS = {"QX748UI.dll": ["DllGetClassObject", "DllCanUnloadNow"], "QX748SP.dll": ["VendorSetup", "DllEntryPoint"]}
IMPORTS = {"QX748UI.dll": ["KERNEL32.dll", "USER32.dll", "GDI32.dll", "msvcrt.dll", "WINSPOOL.DRV"],
           "QX748SP.dll": ["KERNEL32.dll", "msvcrt.dll", "WINSPOOL.DRV"]}


def version_tuple():
    major, minor = (int(x) for x in ARGS.version.split("."))
    return (major, minor, 0, 0), f"{major}.{minor:03d}"


def dll(machine, name, exports=None, imports=None, version=None, text=None):
    fixed, want_text = version_tuple()
    resource = fake_pe.version_resource(version or fixed, file_text=text or want_text, product_text=text or want_text)
    return fake_pe.build(machine, exports=EXPORTS[name] if exports is None else exports,
                         imports=IMPORTS[name] if imports is None else imports, version=resource)


def write_sums(dist):
    files = sorted(str(p.relative_to(dist)) for p in dist.rglob("*") if p.is_file() and p.name != "SHA256SUMS")
    lines = [f"{hashlib.sha256((dist / f).read_bytes()).hexdigest()}  {f}" for f in files]
    (dist / "SHA256SUMS").write_text("\n".join(lines) + "\n")


def write_bom(dist, components=None):
    """A bill of materials listing the drop's files; `components` maps a file to library names."""
    files = sorted(str(p.relative_to(dist)) for p in dist.rglob("*")
                   if p.is_file() and p.name not in ("SHA256SUMS", "SBOM.cdx.json"))
    entries = [{"type": "file", "name": f, "hashes": [{"alg": "SHA-256", "content":
               hashlib.sha256((dist / f).read_bytes()).hexdigest()}],
                "components": [{"type": "library", "name": n} for n in (components or {}).get(f, [])]}
               for f in files]
    (dist / "SBOM.cdx.json").write_text(json.dumps({"bomFormat": "CycloneDX", "specVersion": "1.5",
                                                    "components": entries}))


# Link maps in both formats the checker reads, each with one input of no size
# (and GNU ld's with what its script and the linker itself put in).
def gnu_map(inputs):
    rows = "".join(f" .text          0x0000000000401000      0x40 {i}\n" for i in inputs)
    return ("Archive member included to satisfy reference by file (symbol)\n\n"
            "Linker script and memory map\n\n.text           0x0000000000401000     0x1000\n" + rows +
            " .text          0x0000000000402000        0x0 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libfoo.a(f.o)\n"
            " *(SORT_BY_NAME(.ctors.*))\n                0x0000000000402000        0x4 LONG 0x0\n"
            ".edata          0x0000000000403000      0x200\n .edata         0x0000000000403000       0x62 dll stuff\n")


def lld_map(inputs):
    rows = "".join(f"00001000 00000040     4         {i}:(.text)\n00001000 00000000     0                 sym\n"
                   for i in inputs)
    return ("Address  Size     Align Out     In      Symbol\n00001000 00047a0c  4096 .text\n" + rows +
            "00002000 00000000     4         /usr/lib/libbar.a(b.o):(.text)\n")


GNU_INPUTS = ["uiplugin/CMakeFiles/QX748UI.dir/frame/module.cpp.obj",
              "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(eh_alloc.o)",
              "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/../../../../x86_64-w64-mingw32/lib/libmingwex.a(m.o)"]
ZIG_INPUTS = ["uiplugin/correction/libqx_correction.a(col_file.cpp.obj)", "/var/cache/qx748/zig-cache/o/0b4e/c++abi.lib(/var/cache/qx748/zig-cache/o/6f2b/"
              "abort_message.obj)"]
NAMES = {"GNU_INPUTS": ["GNU C++ library (libstdc++)", "MinGW-w64 runtime (CRT and import libraries)"],
         "ZIG_INPUTS": ["LLVM libc++abi (as bundled with Zig)"]}


def lay_out_maps(maps, dist, **replace):
    """Maps for every binary of `dist` (GNU ld's for x64/x86, lld's for the ARM64 part); `replace`
    maps a drop path to other map text (None: no map). Returns the library names each file links."""
    names = {}
    for p in sorted(dist.rglob("*")):
        rel = str(p.relative_to(dist))
        if not (rel.endswith((".dll", ".exe")) or rel.startswith("tools/linux") or rel == "tools/qx748"):
            continue
        arm = rel.startswith(("arm64/", "tools/arm64/"))
        text = replace.get(rel, lld_map(ZIG_INPUTS) if arm else gnu_map(GNU_INPUTS))
        names[rel] = NAMES["ZIG_INPUTS" if arm else "GNU_INPUTS"]
        if text is not None:
            (maps / (rel + ".map")).parent.mkdir(parents=True, exist_ok=True)
            (maps / (rel + ".map")).write_text(text)
    return names


def lay_out(dist, **replace):
    """A sound drop; `replace` maps a relative path to other bytes (None: leave it out)."""
    files = {}
    for arch, machine in (("x64", X64), ("x86", X86)):
        for name in EXPORTS:
            files[f"{arch}/{name}"] = dll(machine, name)
    files["tools/qx748.exe"] = fake_pe.build(X64, dll=False, imports=["KERNEL32.dll", "msvcrt.dll"])
    files["tools/x86/qx748.exe"] = fake_pe.build(X86, dll=False, imports=["KERNEL32.dll", "msvcrt.dll"])
    files["tools/qx748"] = pathlib.Path(ARGS.qx748).read_bytes()
    attribution = pathlib.Path(ARGS.attribution).read_text()
    credit = attribution.split("## Credit line", 1)[1].split("\n## ", 1)[0]
    files["THIRD-PARTY-NOTICES.md"] = ("# Third-party notices\n\nThe built-in preview photograph:\n" + credit).encode()
    files.update(replace)
    for rel, data in files.items():
        if data is None:
            continue
        path = dist / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    (dist / "tools" / "qx748").chmod(0o755)
    write_bom(dist)
    write_sums(dist)


def arm64_part():
    arm64 = {f"arm64/{name}": dll(ARM64, name) for name in EXPORTS}
    arm64["tools/arm64/qx748.exe"] = fake_pe.build(ARM64, dll=False, imports=["KERNEL32.dll", "msvcrt.dll"])
    arm64["tools/linux-aarch64/qx748"] = b"\x7fELF\x02\x01\x01" + bytes(9) + struct.pack("<HH", 2, 183) + bytes(64)
    return arm64


def run_checker(dist, *extra):
    run = subprocess.run([sys.executable, ARGS.checker, str(dist), "--credit", ARGS.attribution, *extra],
                         capture_output=True, text=True, timeout=60)
    failed = [l[6:] for l in run.stdout.splitlines() if l.startswith("FAIL  ")]
    return run.returncode, failed, run.stdout + run.stderr


class CheckDist(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="qx-dist-test-"))
        self.dist = self.tmp / "dist"

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def assertRejected(self, *needles):
        """Exit 1, and every FAIL line names one of `needles` (each needle at least once)."""
        rc, failed, out = run_checker(self.dist)
        self.assertEqual(rc, 1, out)
        for needle in needles:
            self.assertTrue(any(needle in f for f in failed), f"no FAIL mentioning {needle!r}:\n{out}")
        stray = [f for f in failed if not any(n in f for n in needles)]
        self.assertEqual(stray, [], f"unexpected failures:\n{out}")

    def test_sound_drop_is_accepted(self):
        lay_out(self.dist)
        rc, failed, out = run_checker(self.dist)
        self.assertEqual((rc, failed), (0, []), out)
        self.assertIn("0 failed", out)

    def test_wrong_machine_type(self):
        # The x86 setup hook copied into the x64 folder, and x64 builds where x86 belongs.
        lay_out(self.dist, **{"x64/QX748SP.dll": dll(X86, "QX748SP.dll"), "x86/QX748UI.dll": dll(X64, "QX748UI.dll"),
                              "tools/x86/qx748.exe": fake_pe.build(X64, dll=False, imports=["KERNEL32.dll"])})
        self.assertRejected("x64/QX748SP.dll machine x86", "x86/QX748UI.dll machine x64",
                            "tools/x86/qx748.exe is an x86 program")

    def test_not_a_dll(self):
        image = fake_pe.build(X64, dll=False, exports=EXPORTS["QX748UI.dll"], imports=IMPORTS["QX748UI.dll"],
                              version=fake_pe.version_resource(version_tuple()[0], file_text=version_tuple()[1],
                                                               product_text=version_tuple()[1]))
        lay_out(self.dist, **{"x64/QX748UI.dll": image})
        self.assertRejected("x64/QX748UI.dll is a DLL")

    def test_exports(self):
        # A missing entry, a stdcall-decorated name, and one export too many.
        lay_out(self.dist, **{
            "x64/QX748SP.dll": dll(X64, "QX748SP.dll", exports=["DllEntryPoint"]),
            "x86/QX748SP.dll": dll(X86, "QX748SP.dll", exports=["VendorSetup@16", "DllEntryPoint"]),
            "x86/QX748UI.dll": dll(X86, "QX748UI.dll", exports=EXPORTS["QX748UI.dll"] + ["DllRegisterServer"]),
        })
        self.assertRejected("x64/QX748SP.dll exports", "x86/QX748SP.dll exports", "x86/QX748UI.dll exports")

    def test_foreign_import(self):
        lay_out(self.dist, **{
            "x64/QX748UI.dll": dll(X64, "QX748UI.dll", imports=IMPORTS["QX748UI.dll"] + ["libwinpthread-1.dll"]),
            "tools/qx748.exe": fake_pe.build(X64, dll=False, imports=["KERNEL32.dll", "libstdc++-6.dll"]),
        })
        self.assertRejected("x64/QX748UI.dll imports", "tools/qx748.exe imports")

    def test_version_mismatch(self):
        fixed, text = version_tuple()
        other = (fixed[0], fixed[1] + 1, 0, 0)
        lay_out(self.dist, **{
            "x64/QX748UI.dll": dll(X64, "QX748UI.dll", version=other),            # fixed version only
            "x86/QX748SP.dll": dll(X86, "QX748SP.dll", text=text + "1"),           # strings only
            "x64/QX748SP.dll": fake_pe.build(X64, exports=EXPORTS["QX748SP.dll"],  # no VERSIONINFO at all
                                             imports=IMPORTS["QX748SP.dll"]),
        })
        self.assertRejected("x64/QX748UI.dll file/product version", "x86/QX748SP.dll FileVersion/ProductVersion",
                            "x64/QX748SP.dll has a VERSIONINFO")

    def test_cli_version_disagrees(self):
        # A CLI that answers another version: every DLL disagrees with it.
        script = b"#!/bin/sh\necho 'qx748 9.999'\n"
        lay_out(self.dist, **{"tools/qx748": script})
        self.assertRejected("tools/qx748 is an x86-64 ELF", "file/product version", "FileVersion/ProductVersion")

    def test_bad_checksums(self):
        lay_out(self.dist)
        sums = (self.dist / "SHA256SUMS").read_text()
        # A file changed after the sums (and the bill of materials) were taken.
        with open(self.dist / "x86/QX748UI.dll", "ab") as f:
            f.write(b"\0")
        self.assertRejected("SHA256SUMS digests match", "SBOM.cdx.json digests match")
        # A file not listed, and a listed file that is not there.
        lines = [l for l in sums.splitlines() if "THIRD-PARTY" not in l] + ["0" * 64 + "  x64/QX748XX.dll"]
        (self.dist / "SHA256SUMS").write_text("\n".join(lines) + "\n")
        (self.dist / "x86/QX748UI.dll").write_bytes(dll(X86, "QX748UI.dll"))
        self.assertRejected("SHA256SUMS lists every file once")

    def test_arm64_part(self):
        # Whole and sound: accepted beside the others.
        arm64 = arm64_part()
        elf_head = arm64["tools/linux-aarch64/qx748"][:20]
        lay_out(self.dist, **arm64)
        rc, failed, out = run_checker(self.dist)
        self.assertEqual((rc, failed), (0, []), out)
        self.assertIn("arm64/QX748UI.dll machine arm64, PE32+", out)
        # The runtime's unwinder exported beside the .def names, an x64
        # build in the arm64 folder, an ARM64 part without its tool, and an
        # x86-64 program where the aarch64 one belongs.
        shutil.rmtree(self.dist)
        lay_out(self.dist, **{
            **arm64,
            "arm64/QX748UI.dll": dll(ARM64, "QX748UI.dll", exports=EXPORTS["QX748UI.dll"] + ["_Unwind_Resume"]),
            "arm64/QX748SP.dll": dll(X64, "QX748SP.dll"),
            "tools/arm64/qx748.exe": None,
            "tools/linux-aarch64/qx748": elf_head[:18] + struct.pack("<H", 62) + bytes(64),
        })
        self.assertRejected("arm64/QX748UI.dll exports", "arm64/QX748SP.dll machine x64", "tree holds exactly",
                            "tools/linux-aarch64/qx748 is an aarch64 ELF")

    def test_tree_shape(self):
        lay_out(self.dist, **{"x86/QX748SP.dll": None, "x64/QX748UI.pdb": b"symbols"})
        self.assertRejected("tree holds exactly")

    def test_linked_components_against_notices_and_bom(self):
        lay_out(self.dist, **arm64_part())
        maps = self.tmp / "maps"
        sections = "".join(f"## {n} 1.0\n\ntext\n\n" for n in sum(NAMES.values(), []))
        credit = (self.dist / "THIRD-PARTY-NOTICES.md").read_text()

        def drop(notices=sections, bom_extra=(), **maps_replace):
            shutil.rmtree(maps, ignore_errors=True)
            (self.dist / "THIRD-PARTY-NOTICES.md").write_text(credit + "\n" + notices)
            names = lay_out_maps(maps, self.dist, **maps_replace)
            for rel in bom_extra:
                names[rel] = names[rel] + ["Some other library"]
            write_bom(self.dist, names)
            write_sums(self.dist)
            return run_checker(self.dist, "--maps", str(maps))

        rc, failed, out = drop()
        self.assertEqual((rc, failed), (0, []), out)
        # A library no component names (GNU ld's map), and one whose section the
        # notices lack (lld's map, the member named with its archive).
        rc, failed, out = drop(**{
            "x86/QX748UI.dll": gnu_map(GNU_INPUTS + ["/usr/lib/gcc/i686-w64-mingw32/12-posix/libquadmath.a(q.o)"]),
            "arm64/QX748SP.dll": lld_map(ZIG_INPUTS + ["/var/cache/qx748/zig-cache/o/aa/unwind.lib(/var/cache/"
                                                       "qx748/zig-cache/o/bb/libunwind.obj)", "eh_alloc.o"])})
        self.assertEqual(rc, 1, out)
        self.assertEqual(sorted(f.split(" ")[0] for f in failed), ["SBOM.cdx.json", "arm64/QX748SP.dll",
                                                                   "x86/QX748UI.dll"], out)
        self.assertTrue(any("libquadmath.a" in f for f in failed) and any("unwind.lib" in f for f in failed), out)
        # A member lld named without its archive is nobody's, not ours.
        self.assertTrue(any("'eh_alloc.o'" in f for f in failed), out)
        # ... and the bill of materials, written without it, is caught leaving it out.
        self.assertTrue(any(f.startswith("SBOM") and "arm64/QX748SP.dll: linked ['LLVM libunwind" in f
                            for f in failed), out)
        # The notices lose a section; the BOM names what is not linked; a map is missing.
        rc, failed, out = drop(notices=sections.replace("## GNU C++", "## Not GNU C++"),
                               bom_extra=["tools/qx748.exe"], **{"x64/QX748SP.dll": None})
        self.assertEqual(rc, 1, out)
        self.assertEqual(sorted(f.split(" ")[0] for f in failed if "libstdc++.a" in f),
                         ["tools/linux-aarch64/qx748", "tools/qx748", "tools/qx748.exe", "tools/x86/qx748.exe",
                          "x64/QX748UI.dll", "x86/QX748SP.dll", "x86/QX748UI.dll"], out)
        self.assertTrue(any("x64/QX748SP.dll has its link map" in f for f in failed), out)
        self.assertTrue(any("SBOM.cdx.json names the components" in f and "tools/qx748.exe" in f for f in failed), out)

    def test_notices_without_credit(self):
        lay_out(self.dist, **{"THIRD-PARTY-NOTICES.md": b"# Third-party notices\n\nNone.\n"})
        self.assertRejected("THIRD-PARTY-NOTICES.md carries")

    def test_garbage_instead_of_pe(self):
        # Truncated and foreign files are reported, not a crash of the checker.
        good = dll(X64, "QX748UI.dll")
        lay_out(self.dist, **{"x64/QX748UI.dll": good[:0x90], "x86/QX748SP.dll": b"\x7fELF" + b"\0" * 200})
        self.assertRejected("x64/QX748UI.dll is a readable PE", "x86/QX748SP.dll is a readable PE")

    def test_fake_images_read_alike_by_objdump(self):
        # The fakes must be PE images as the toolchain knows them, or the
        # checks above prove nothing about real DLLs.
        objdump = shutil.which("x86_64-w64-mingw32-objdump")
        if objdump is None:
            self.skipTest("x86_64-w64-mingw32-objdump not installed")
        for machine, fmt in ((X64, "pei-x86-64"), (X86, "pei-i386")):
            path = self.tmp / f"fake-{fmt}.dll"
            path.write_bytes(dll(machine, "QX748UI.dll"))
            head = subprocess.run([objdump, "-f", str(path)], capture_output=True, text=True).stdout
            self.assertIn(f"file format {fmt}", head)
            text = subprocess.run([objdump, "-p", str(path)], capture_output=True, text=True).stdout
            for name in EXPORTS["QX748UI.dll"]:
                self.assertRegex(text, rf"\] {name}\b")
            for name in IMPORTS["QX748UI.dll"]:
                self.assertIn(f"DLL Name: {name}", text)

    def test_fake_arm64_image_reads_alike_by_llvm_readobj(self):
        # binutils cannot read ARM64 images; LLVM's reader, as the build uses.
        readobj = shutil.which("llvm-readobj-14")
        if readobj is None:
            self.skipTest("llvm-readobj-14 not installed")
        path = self.tmp / "fake-arm64.dll"
        path.write_bytes(dll(ARM64, "QX748UI.dll"))
        text = subprocess.run([readobj, "--file-headers", "--coff-exports", "--coff-imports", str(path)],
                              capture_output=True, text=True).stdout
        self.assertIn("IMAGE_FILE_MACHINE_ARM64 (0xAA64)", text)
        self.assertIn("IMAGE_FILE_DLL", text)
        for name in EXPORTS["QX748UI.dll"]:
            self.assertRegex(text, rf"Name: {name}\n")
        for name in IMPORTS["QX748UI.dll"]:
            self.assertIn(f"Name: {name}\n", text)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--checker", required=True)
    parser.add_argument("--qx748", required=True, help="the Linux qx748 of this build")
    parser.add_argument("--version", required=True, help="MAJOR.MINOR as the build defines it")
    parser.add_argument("--attribution", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
