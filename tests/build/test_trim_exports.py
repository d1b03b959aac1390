#!/usr/bin/env python3
"""cmake/trim_exports.py leaves exactly the named exports, or fails and
leaves the image as it was.

Images are made to order by tests/dist/fake_pe.py and read back with the
drop checker's own PE reader.
"""
import pathlib
import subprocess
import sys
import tempfile
import unittest

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "dist"))
sys.path.insert(0, str(REPO / "tools" / "dist"))
import fake_pe  # noqa: E402
import check_dist  # noqa: E402

TRIM = REPO / "cmake" / "trim_exports.py"
UNWINDER = ["_GCC_specific_handler", "_Unwind_Resume", "unw_local_addr_space", "unw_step"]
DEF = "LIBRARY QX748UI\nEXPORTS\n    DllGetClassObject PRIVATE\n    DllCanUnloadNow PRIVATE ; comment\n"


def exports_of(data):
    pe = check_dist.PE(data)
    return pe.exports()


class TrimExports(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="qx-trim-test-"))

    def run_trim(self, data, *args):
        path = self.tmp / "image.dll"
        path.write_bytes(data)
        run = subprocess.run([sys.executable, str(TRIM), str(path), *args], capture_output=True, text=True)
        return run.returncode, path.read_bytes(), run.stderr

    def test_kept_sets(self):
        wanted = ["DllGetClassObject", "DllCanUnloadNow"]
        cases = [
            ("the .def names among the unwinder's", wanted + UNWINDER, wanted, wanted),
            ("already exact: nothing changes", wanted, wanted, wanted),
            ("one name", ["VendorSetup", "_Unwind_Resume"], ["VendorSetup"], ["VendorSetup"]),
            ("none: no export directory", UNWINDER, [], []),
        ]
        for what, have, keep, want in cases:
            with self.subTest(what):
                image = fake_pe.build(fake_pe.MACHINE_ARM64, exports=have, imports=["KERNEL32.dll"])
                rc, out, err = self.run_trim(image, *keep)
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(exports_of(out)), sorted(want))
                self.assertEqual(len(out), len(image))
                # Dropped names leave no text behind; a second run is a no-op.
                for name in set(have) - set(keep):
                    self.assertNotIn(name.encode() + b"\0", out)
                rc, again, err = self.run_trim(out, *keep)
                self.assertEqual((rc, again), (0, out), err)

    def test_names_from_a_def_file(self):
        (self.tmp / "x.def").write_text(DEF)
        image = fake_pe.build(fake_pe.MACHINE_X64, exports=["DllGetClassObject", "DllCanUnloadNow"] + UNWINDER,
                              imports=["KERNEL32.dll"])
        rc, out, err = self.run_trim(image, "--def", str(self.tmp / "x.def"))
        self.assertEqual(rc, 0, err)
        self.assertEqual(sorted(exports_of(out)), ["DllCanUnloadNow", "DllGetClassObject"])

    def test_failures_leave_the_image_alone(self):
        good = fake_pe.build(fake_pe.MACHINE_ARM64, exports=["VendorSetup"] + UNWINDER, imports=["KERNEL32.dll"])
        cases = [
            ("a name the image does not export", good, ["VendorSetup", "DllEntryPoint"], "not exported: DllEntryPoint"),
            ("not a PE image", b"\x7fELF" + bytes(300), ["VendorSetup"], "no MZ header"),
            ("truncated export tables", good[:0x210], ["VendorSetup"], "no file data"),
            ("exports wanted from an image without any", fake_pe.build(fake_pe.MACHINE_ARM64, imports=["KERNEL32.dll"]),
             ["VendorSetup"], "exports nothing"),
        ]
        for what, image, keep, message in cases:
            with self.subTest(what):
                rc, out, err = self.run_trim(image, *keep)
                self.assertEqual(rc, 1)
                self.assertIn(message, err)
                self.assertEqual(out, image)


if __name__ == "__main__":
    unittest.main(verbosity=2)
