#!/usr/bin/env python3
"""Checks a release tree laid out by scripts/dist.sh.

For each DLL: the PE machine type, the exports by plain name, imports from
system DLLs only, and the VERSIONINFO file version; all versions must agree
with each other and with `qx748 --version`. Also SHA256SUMS and the notices.

    tools/dist/check_dist.py DIST_DIR
"""
import hashlib
import pathlib
import re
import struct
import subprocess
import sys

MACHINES = {0x8664: "x64", 0x14C: "x86"}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
               "comdlg32.dll", "ole32.dll", "oleaut32.dll", "winspool.drv", "msvcrt.dll", "windowscodecs.dll"}
EXPECTED = {
    "QX748UI.dll": {"DllGetClassObject", "DllCanUnloadNow"},
    "QX748SP.dll": {"VendorSetup", "DllEntryPoint"},
}


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, nsect = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        sect = opt + opt_size
        self.sections = []
        for i in range(nsect):
            vsize, va, rsize, raw = struct.unpack_from("<IIII", data, sect + 40 * i + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"rva {rva:#x} outside sections")

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return set()
        o = self.off(rva)
        n_names = struct.unpack_from("<I", self.data, o + 24)[0]
        names_rva = struct.unpack_from("<I", self.data, o + 32)[0]
        return {self.cstr(struct.unpack_from("<I", self.data, self.off(names_rva) + 4 * i)[0]) for i in range(n_names)}

    def imports(self):
        rva, size = self.dirs[1]
        out = []
        o = self.off(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
            if name_rva == 0:
                break
            out.append(self.cstr(name_rva))
            o += 20
        return out

    def file_version(self):
        i = self.data.find(struct.pack("<I", 0xFEEF04BD))
        if i < 0:
            return None
        ms, ls = struct.unpack_from("<II", self.data, i + 8)
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main():
    dist = pathlib.Path(sys.argv[1])
    failures = []
    checks = 0

    def check(ok, what):
        nonlocal checks
        checks += 1
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)

    cli = subprocess.run([str(dist / "tools" / "qx748"), "--version"], capture_output=True, text=True)
    m = re.search(r"(\d+)\.(\d+)", cli.stdout)
    check(cli.returncode == 0 and m is not None, f"qx748 --version answers ({cli.stdout.strip()})")
    want = (int(m.group(1)), int(m.group(2)), 0, 0) if m else None
    for arch, machine in (("x64", 0x8664), ("x86", 0x14C)):
        for name, exports in EXPECTED.items():
            path = dist / arch / name
            if not path.exists():
                check(False, f"{arch}/{name} present")
                continue
            pe = PE(path.read_bytes())
            check(pe.machine == machine, f"{arch}/{name} machine {MACHINES.get(pe.machine, hex(pe.machine))}")
            have = pe.exports()
            check(exports <= have and not any("@" in e for e in have), f"{arch}/{name} exports {sorted(have)}")
            imports = pe.imports()
            foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS and not d.lower().startswith("api-ms-win-")]
            check(not foreign, f"{arch}/{name} imports system DLLs only {imports}")
            check(pe.file_version() == want, f"{arch}/{name} file version {pe.file_version()} = {want}")
    exe = dist / "tools" / "qx748.exe"
    check(exe.exists() and PE(exe.read_bytes()).machine == 0x8664, "tools/qx748.exe is x64")

    sums = (dist / "SHA256SUMS").read_text().splitlines()
    listed = {}
    for line in sums:
        digest, rel = line.split(None, 1)
        listed[rel.lstrip("*")] = digest
    files = sorted(str(p.relative_to(dist)) for p in dist.rglob("*") if p.is_file() and p.name != "SHA256SUMS")
    check(sorted(listed) == files, "SHA256SUMS lists every file")
    check(all(hashlib.sha256((dist / r).read_bytes()).hexdigest() == d for r, d in listed.items()), "SHA256SUMS digests match")
    notices = (dist / "THIRD-PARTY-NOTICES.md").read_text()
    check("Aitzol Berasategi" in notices and "CC BY 4.0" in notices, "THIRD-PARTY-NOTICES.md carries the photograph's credit")

    print(f"dist: {checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
