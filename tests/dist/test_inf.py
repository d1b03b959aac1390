#!/usr/bin/env python3
"""The integration guide's INF lines, read by the platform's setupapi (Wine's).

    test_inf.py GUIDE.md -- EMULATOR... inf_lines.exe

The INF between the guide's inf markers must open with SetupOpenInfFileW;
[Manufacturer] must decorate its models for NTamd64, NTarm64 and NTx86,
each model section must install with QX748SP.dll as the vendor setup, and
each architecture's SourceDisksNames/SourceDisksFiles must name exactly
the drop's two DLLs in that architecture's folder of the drop (the
folders and files tools/dist/check_dist.py requires). An INF setupapi
cannot open must be reported as such, not read as empty.
"""
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools" / "dist"))
import check_dist  # noqa: E402

GUIDE = RUN = None
DROP_FOLDER = {"amd64": "x64", "arm64": "arm64", "x86": "x86"}
DECORATIONS = {"NTamd64", "NTarm64", "NTx86"}


def guide_inf():
    text = pathlib.Path(GUIDE).read_text()
    m = re.search(r"<!-- inf:begin -->\s*```[a-z]*\n(.*?)```\s*<!-- inf:end -->", text, re.S)
    if not m:
        raise AssertionError(f"{GUIDE} has no INF between <!-- inf:begin --> and <!-- inf:end -->")
    return m.group(1)


def read_inf(text):
    with tempfile.TemporaryDirectory(prefix="qx-inf-") as tmp:
        path = pathlib.Path(tmp) / "qx748.inf"
        # INF files are read as the platform reads them: CR LF lines.
        path.write_bytes(text.replace("\n", "\r\n").encode("ascii"))
        run = subprocess.run([*RUN, "Z:" + str(path)], capture_output=True, text=True, timeout=300)
    return run.returncode, [l.split() for l in run.stdout.splitlines() if l.strip()], run.stdout + run.stderr


class GuideInf(unittest.TestCase):
    def test_guide_inf_installs_the_drop_on_three_architectures(self):
        rc, facts, out = read_inf(guide_inf())
        self.assertEqual(rc, 0, out)
        manufacturers = [f for f in facts if f[0] == "manufacturer"]
        self.assertEqual(len(manufacturers), 1, out)
        self.assertEqual(set(manufacturers[0][3:]), DECORATIONS, out)
        models = {f[1]: int(f[2]) for f in facts if f[0] == "models"}
        self.assertEqual({m.rsplit(".", 1)[1] for m in models}, DECORATIONS, out)
        self.assertTrue(all(n >= 1 for n in models.values()), f"an empty model section:\n{out}")
        setups = [f for f in facts if f[0] == "vendorsetup"]
        self.assertTrue(setups and all(f[2] == "QX748SP.dll" for f in setups), out)
        tree = set(check_dist.TREE + check_dist.ARM64_TREE)
        for platform, folder in DROP_FOLDER.items():
            disks = {f[2]: f[3] if len(f) > 3 else "" for f in facts if f[0] == "disk" and f[1] == platform}
            files = [(f[2], f[3] if len(f) > 3 else "") for f in facts if f[0] == "file" and f[1] == platform]
            with self.subTest(platform=platform):
                self.assertEqual(sorted(n for n, _ in files), sorted(check_dist.EXPORTS), out)
                for name, disk in files:
                    self.assertIn(disk, disks, f"{name}: no SourceDisksNames.{platform} entry {disk}\n{out}")
                    self.assertEqual(disks[disk], folder, out)
                    self.assertIn(f"{disks[disk]}/{name}", tree, out)

    def test_inf_setupapi_cannot_open_is_reported(self):
        # No "$Windows NT$" signature: setupapi refuses the file as a Windows NT INF.
        broken = guide_inf().replace('Signature="$Windows NT$"', 'Signature="$Chicago$"', 1)
        self.assertNotEqual(broken, guide_inf(), "the guide's INF has no Windows NT signature line")
        rc, _, out = read_inf(broken.replace("[Version]", "Version]", 1))
        self.assertEqual(rc, 1, out)
        self.assertIn("error opening the INF", out)


if __name__ == "__main__":
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        sys.exit(2)
    GUIDE, RUN = sys.argv[1], sys.argv[3:]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
