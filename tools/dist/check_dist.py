#!/usr/bin/env python3
"""Checks a release tree laid out by scripts/dist.sh.

    tools/dist/check_dist.py DIST_DIR [--credit ATTRIBUTION.md] [--maps MAPS_DIR]

The tree must hold exactly the drop's files. For each DLL: the PE machine
type and optional-header kind of its folder, the DLL flag, exactly the
expected exports by plain (undecorated) name, imports from system DLLs only,
and a VERSIONINFO whose fixed and string versions agree with
`tools/qx748 --version`. tools/qx748.exe must be an x64 program and
tools/x86/qx748.exe an x86 one, both importing system DLLs only,
tools/qx748 an x86-64 ELF program. The ARM64 part (arm64/ with both DLLs,
tools/arm64/qx748.exe, and tools/linux-aarch64/qx748 an aarch64 ELF
program) is checked the same way when the drop has it, and then must be
whole. Every file is listed
once in SHA256SUMS with its digest, and THIRD-PARTY-NOTICES.md carries the
preview photograph's credit line verbatim. SBOM.cdx.json, the bill of
materials, lists every other file with its digest. With --maps (the link
maps of the binaries, laid out like the drop: MAPS_DIR/x64/QX748UI.dll.map),
every third-party component a binary contains must have its section in the
notices, and the bill of materials must list the same components in it.

Prints one "ok" or "FAIL" line per check and a count; exits 1 when any check
failed, 2 on a usage error.
"""
import argparse
import hashlib
import json
import pathlib
import re
import struct
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import notices as linkmaps  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]
DEFAULT_CREDIT = REPO / "uiplugin" / "resources" / "builtin-preview.ATTRIBUTION.md"

MACHINE_X64, MACHINE_X86, MACHINE_ARM64 = 0x8664, 0x14C, 0xAA64
MACHINE_NAMES = {MACHINE_X64: "x64", MACHINE_X86: "x86", MACHINE_ARM64: "arm64"}
OPTIONAL_MAGIC = {MACHINE_X64: 0x20B, MACHINE_X86: 0x10B, MACHINE_ARM64: 0x20B}  # PE32+ / PE32
IMAGE_FILE_DLL = 0x2000
RT_VERSION = 16

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
               "comdlg32.dll", "ole32.dll", "oleaut32.dll", "winspool.drv", "msvcrt.dll", "windowscodecs.dll"}
EXPORTS = {
    "QX748UI.dll": {"DllGetClassObject", "DllCanUnloadNow"},
    "QX748SP.dll": {"VendorSetup", "DllEntryPoint"},
}
ARCHES = (("x64", MACHINE_X64), ("x86", MACHINE_X86))
TREE = sorted([f"{arch}/{name}" for arch, _ in ARCHES for name in EXPORTS] +
              ["tools/qx748.exe", "tools/x86/qx748.exe", "tools/qx748", "SHA256SUMS", "THIRD-PARTY-NOTICES.md",
               "SBOM.cdx.json"])
# The Windows command-line tools and their machine types.
TOOLS = (("tools/qx748.exe", MACHINE_X64), ("tools/x86/qx748.exe", MACHINE_X86))
# Built by another toolchain than the rest: in the drop when that build ran.
ARM64 = ("arm64", MACHINE_ARM64)
ARM64_TOOL = ("tools/arm64/qx748.exe", MACHINE_ARM64)
# The Linux aarch64 program comes with it (its own cross build).
LINUX_AARCH64_TOOL = "tools/linux-aarch64/qx748"
ARM64_TREE = sorted([f"arm64/{name}" for name in EXPORTS] + [ARM64_TOOL[0], LINUX_AARCH64_TOOL])
EM_X86_64, EM_AARCH64 = 62, 183


def is_elf64(head, machine):
    """A 64-bit little-endian ELF file for the machine."""
    return (len(head) >= 20 and head[:4] == b"\x7fELF" and head[4] == 2 and head[5] == 1 and
            struct.unpack_from("<H", head, 18)[0] == machine)


class PEError(Exception):
    pass


class PE:
    """The parts of a PE image the checks need, read without trusting it."""

    def __init__(self, data):
        self.data = data
        try:
            if data[:2] != b"MZ":
                raise PEError("no MZ header")
            pe = self.u32(0x3C)
            if data[pe:pe + 4] != b"PE\0\0":
                raise PEError("no PE signature")
            self.machine, nsect = struct.unpack_from("<HH", data, pe + 4)
            opt_size, self.characteristics = struct.unpack_from("<HH", data, pe + 20)
            opt = pe + 24
            self.magic = self.u16(opt)
            if self.magic not in (0x10B, 0x20B):
                raise PEError(f"optional header magic {self.magic:#x}")
            dirs = opt + (96 if self.magic == 0x10B else 112)
            ndirs = self.u32(dirs - 4)
            self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) if i < ndirs else (0, 0) for i in range(16)]
            sect = opt + opt_size
            self.sections = []
            for i in range(nsect):
                vsize, va, rsize, raw = struct.unpack_from("<IIII", data, sect + 40 * i + 8)
                self.sections.append((va, max(vsize, rsize), raw, rsize))
        except struct.error as e:
            raise PEError(f"truncated headers ({e})") from None

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def off(self, rva):
        for va, size, raw, rsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rsize:
                    raise PEError(f"rva {rva:#x} has no file data")
                return raw + rva - va
        raise PEError(f"rva {rva:#x} outside sections")

    def cstr(self, rva):
        o = self.off(rva)
        end = self.data.find(b"\0", o)
        if end < 0:
            raise PEError(f"unterminated name at rva {rva:#x}")
        return self.data[o:end].decode("ascii", "replace")

    def exports(self):
        rva, _ = self.dirs[0]
        if not rva:
            return []
        o = self.off(rva)
        n_names, _, names_rva = struct.unpack_from("<III", self.data, o + 24)
        names = self.off(names_rva) if n_names else 0
        return [self.cstr(self.u32(names + 4 * i)) for i in range(n_names)]

    def imports(self):
        rva, _ = self.dirs[1]
        if not rva:
            return []
        out = []
        o = self.off(rva)
        while True:
            name_rva = self.u32(o + 12)
            if name_rva == 0:
                return out
            out.append(self.cstr(name_rva))
            o += 20

    def _resource_entries(self, base, rel):
        named, ids = struct.unpack_from("<HH", self.data, base + rel + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + rel + 16 + 8 * i)
            yield name, target

    def version_resource(self):
        """Bytes of the first RT_VERSION resource, or None."""
        rva, _ = self.dirs[2]
        if not rva:
            return None
        base = self.off(rva)
        for name, target in self._resource_entries(base, 0):
            if name != RT_VERSION or not target & 0x80000000:
                continue
            rel = target & 0x7FFFFFFF
            # Name level, then language level: the first of each.
            for _ in range(2):
                entries = list(self._resource_entries(base, rel))
                if not entries:
                    return None
                rel = entries[0][1]
                if not rel & 0x80000000:
                    break
                rel &= 0x7FFFFFFF
            if rel & 0x80000000:
                return None
            data_rva, size = struct.unpack_from("<II", self.data, base + rel)
            o = self.off(data_rva)
            return self.data[o:o + size]
        return None


def parse_version_block(data, start=0, end=None):
    """One VS_VERSIONINFO-style block: (key, type, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, start)
    block_end = start + length if end is None else min(start + length, end)
    if length < 6 or block_end > len(data):
        raise PEError("bad version block length")
    key_end = start + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= block_end:
            raise PEError("unterminated version block key")
    key = data[start + 6:key_end].decode("utf-16-le")
    value = (key_end + 2 + 3) & ~3
    # Text values count characters, binary ones bytes.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value_data = data[value:min(value + value_bytes, block_end)]
    children = []
    child = (value + value_bytes + 3) & ~3
    while child + 6 <= block_end:
        block = parse_version_block(data, child, block_end)
        children.append(block)
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, kind, value_data, children


def read_versions(resource):
    """(file version, product version, {string name: text}) of a version resource."""
    key, _, fixed, children = parse_version_block(resource)
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        raise PEError("no VS_FIXEDFILEINFO")
    fms, fls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for ckey, _, _, tables in children:
        if ckey != "StringFileInfo":
            continue
        for _, _, _, entries in tables:
            for name, _, value, _ in entries:
                text = value.decode("utf-16-le", "replace")
                strings.setdefault(name, text.split("\0", 1)[0])
    return split(fms, fls), split(pms, pls), strings


def credit_line(attribution):
    """The quoted credit paragraph under "## Credit line", as one line of text."""
    section = re.search(r"^## Credit line\n(.*?)(?=^## |\Z)", attribution, re.M | re.S)
    if not section:
        return None
    quoted = [l[1:].strip() for l in section.group(1).splitlines() if l.startswith(">")]
    return " ".join(quoted) or None


def notice_sections(dist):
    path = dist / "THIRD-PARTY-NOTICES.md"
    text = path.read_text(errors="replace") if path.is_file() else ""
    return [l[3:].strip() for l in text.splitlines() if l.startswith("## ")]


def check_components(dist, binaries, maps, check):
    """Every third-party component in a binary's link has its section in the notices."""
    sections = notice_sections(dist)
    for rel in binaries:
        if not (dist / rel).is_file():
            continue
        map_path = maps / (rel + ".map")
        if not check(map_path.is_file(), f"{rel} has its link map ({map_path})"):
            continue
        try:
            inputs, _ = linkmaps.read_map(map_path.read_text(errors="replace"))
        except linkmaps.MapError as e:
            check(False, f"{rel}: link map readable ({e})")
            continue
        unnamed = set()
        for name in inputs:
            key = linkmaps.classify(name)
            if key in ("own", "linker"):
                continue
            named = key is not None and any(s.startswith(linkmaps.BY_KEY[key]["name"] + " ") for s in sections)
            if not named:
                unnamed.add(linkmaps.split_input(name)[0] or name)
        check(not unnamed, f"{rel} contains no component the notices do not name (unnamed: {sorted(unnamed)})")


def check_bom(dist, files, binaries, maps, check):
    """SBOM.cdx.json: CycloneDX 1.5, every other file with its digest, and (with maps) its components."""
    path = dist / "SBOM.cdx.json"
    if not path.is_file():
        return
    try:
        bom = json.loads(path.read_text())
        listed = {c["name"]: c for c in bom.get("components", []) if c.get("type") == "file"}
    except (ValueError, KeyError, TypeError, AttributeError) as e:
        check(False, f"SBOM.cdx.json is a CycloneDX document ({e})")
        return
    check(bom.get("bomFormat") == "CycloneDX" and bom.get("specVersion") == "1.5",
          f"SBOM.cdx.json is CycloneDX 1.5 ({bom.get('bomFormat')!r} {bom.get('specVersion')!r})")
    # SHA256SUMS is written after the BOM and lists it, so the BOM cannot list it.
    expected = [f for f in files if f not in ("SBOM.cdx.json", "SHA256SUMS")]
    check(sorted(listed) == expected, f"SBOM.cdx.json lists every file but itself and SHA256SUMS (unlisted "
          f"{sorted(set(expected) - set(listed))}, unknown {sorted(set(listed) - set(expected))})")
    wrong = []
    for rel, c in listed.items():
        digests = [h.get("content") for h in c.get("hashes", []) if h.get("alg") == "SHA-256"]
        if rel in expected and digests != [hashlib.sha256((dist / rel).read_bytes()).hexdigest()]:
            wrong.append(rel)
    check(not wrong, f"SBOM.cdx.json digests match the files (wrong: {wrong})")
    if maps is None:
        return
    mismatched = []
    for rel in binaries:
        map_path = maps / (rel + ".map")
        if rel not in listed or not map_path.is_file():
            continue
        try:
            inputs, _ = linkmaps.read_map(map_path.read_text(errors="replace"))
        except linkmaps.MapError:
            continue
        linked = {linkmaps.classify(n) for n in inputs} - {"own", "linker", None}
        names = {linkmaps.BY_KEY[k]["name"] for k in linked}
        have = {c.get("name") for c in listed[rel].get("components", []) if c.get("type") == "library"}
        if names != have:
            mismatched.append(f"{rel}: linked {sorted(names - have)} not listed, listed {sorted(have - names)} "
                              "not linked")
    check(not mismatched, f"SBOM.cdx.json names the components each binary links ({mismatched})")


def main(argv):
    parser = argparse.ArgumentParser(description="Checks a release tree laid out by scripts/dist.sh.")
    parser.add_argument("dist", type=pathlib.Path)
    parser.add_argument("--credit", type=pathlib.Path, default=DEFAULT_CREDIT,
                        help="attribution file whose credit line the notices must carry")
    parser.add_argument("--maps", type=pathlib.Path,
                        help="link maps of the drop's binaries (MAPS_DIR/<drop path>.map)")
    args = parser.parse_args(argv)
    dist = args.dist
    if not dist.is_dir():
        print(f"check_dist: {dist} is not a folder", file=sys.stderr)
        return 2
    failures = []
    checks = 0

    def check(ok, what):
        nonlocal checks
        checks += 1
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)
        return ok

    # symbols/ is for support, not the drop (tools/dist/symbols.py checks it).
    files = sorted(str(p.relative_to(dist)) for p in dist.rglob("*")
                   if p.is_file() and p.relative_to(dist).parts[0] != "symbols")
    with_arm64 = any(f in files for f in ARM64_TREE)
    tree = sorted(TREE + ARM64_TREE) if with_arm64 else TREE
    arches = ARCHES + (ARM64,) if with_arm64 else ARCHES
    tools = TOOLS + (ARM64_TOOL,) if with_arm64 else TOOLS
    missing = [f for f in tree if f not in files]
    extra = [f for f in files if f not in tree]
    check(not missing and not extra, f"tree holds exactly the drop's files (missing {missing}, extra {extra})")

    aarch64 = dist / LINUX_AARCH64_TOOL
    if with_arm64 and aarch64.is_file():
        check(is_elf64(aarch64.read_bytes()[:20], EM_AARCH64), f"{LINUX_AARCH64_TOOL} is an aarch64 ELF program")

    # The version every binary must carry, from the Linux CLI.
    cli = dist / "tools" / "qx748"
    want = text = None
    if cli.is_file():
        head = cli.read_bytes()[:20]
        check(is_elf64(head, EM_X86_64), "tools/qx748 is an x86-64 ELF program")
        try:
            run = subprocess.run([str(cli), "--version"], capture_output=True, text=True, timeout=30)
            out, rc = run.stdout.strip(), run.returncode
        except OSError as e:
            out, rc = str(e), -1
        m = re.fullmatch(r"qx748 (\d+)\.(\d{3})", out)
        if check(rc == 0 and m is not None, f"qx748 --version answers M.mmm ({out!r})"):
            text = f"{m.group(1)}.{m.group(2)}"
            want = (int(m.group(1)), int(m.group(2)), 0, 0)

    def pe_of(rel):
        path = dist / rel
        if not path.is_file():
            return None
        try:
            return PE(path.read_bytes())
        except PEError as e:
            check(False, f"{rel} is a readable PE image ({e})")
            return None

    for arch, machine in arches:
        for name, exports in EXPORTS.items():
            rel = f"{arch}/{name}"
            pe = pe_of(rel)
            if pe is None:
                continue
            check(pe.machine == machine and pe.magic == OPTIONAL_MAGIC[machine],
                  f"{rel} machine {MACHINE_NAMES.get(pe.machine, hex(pe.machine))}, "
                  f"{'PE32+' if pe.magic == 0x20B else 'PE32'}")
            check(pe.characteristics & IMAGE_FILE_DLL, f"{rel} is a DLL")
            try:
                have = pe.exports()
                check(sorted(have) == sorted(exports), f"{rel} exports exactly {sorted(exports)} by plain name "
                      f"(has {sorted(have)})")
                imports = pe.imports()
                foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS and not d.lower().startswith("api-ms-win-")]
                check(imports and not foreign, f"{rel} imports system DLLs only ({imports})")
                resource = pe.version_resource()
                if check(resource is not None, f"{rel} has a VERSIONINFO resource"):
                    fixed, product, strings = read_versions(resource)
                    check(want is not None and fixed == want and product == want,
                          f"{rel} file/product version {fixed}/{product} = {want}")
                    check(text is not None and strings.get("FileVersion") == text and
                          strings.get("ProductVersion") == text,
                          f"{rel} FileVersion/ProductVersion strings {strings.get('FileVersion')!r}/"
                          f"{strings.get('ProductVersion')!r} = {text!r}")
            except (PEError, struct.error, UnicodeDecodeError) as e:
                check(False, f"{rel} is a readable PE image ({e})")

    for rel, machine in tools:
        exe = pe_of(rel)
        if exe is None:
            continue
        check(exe.machine == machine and not exe.characteristics & IMAGE_FILE_DLL,
              f"{rel} is an {MACHINE_NAMES[machine]} program")
        try:
            imports = exe.imports()
            foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS and not d.lower().startswith("api-ms-win-")]
            check(imports and not foreign, f"{rel} imports system DLLs only ({imports})")
        except (PEError, struct.error) as e:
            check(False, f"{rel} is a readable PE image ({e})")

    sums = dist / "SHA256SUMS"
    if sums.is_file():
        listed, bad = {}, []
        for line in sums.read_text(errors="replace").splitlines():
            m = re.fullmatch(r"([0-9a-f]{64}) [ *](.+)", line)
            if not m or m.group(2) in listed:
                bad.append(line)
                continue
            listed[m.group(2)] = m.group(1)
        expected = [f for f in files if f != "SHA256SUMS"]
        check(not bad and sorted(listed) == expected, f"SHA256SUMS lists every file once (unlisted "
              f"{sorted(set(expected) - set(listed))}, unknown {sorted(set(listed) - set(expected))}, bad lines {bad})")
        wrong = [r for r, d in listed.items() if r in expected and hashlib.sha256((dist / r).read_bytes()).hexdigest() != d]
        check(not wrong, f"SHA256SUMS digests match (wrong: {wrong})")

    notices = dist / "THIRD-PARTY-NOTICES.md"
    if notices.is_file():
        credit = credit_line(args.credit.read_text()) if args.credit.is_file() else None
        flat = " ".join(l[1:].strip() if l.startswith(">") else l.strip() for l in notices.read_text().splitlines())
        check(credit is not None and " ".join(credit.split()) in " ".join(flat.split()),
              f"THIRD-PARTY-NOTICES.md carries the photograph's credit line from {args.credit.name}")

    binaries = [f for f in tree if f.endswith((".dll", ".exe")) or f in ("tools/qx748", LINUX_AARCH64_TOOL)]
    check_bom(dist, files, binaries, args.maps, check)
    if args.maps is not None:
        check_components(dist, binaries, args.maps, check)

    print(f"dist: {checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
