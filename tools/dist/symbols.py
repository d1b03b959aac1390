#!/usr/bin/env python3
"""Lays out the drop's symbol files and checks that each one fits its image.

    tools/dist/symbols.py ROOT DIST

For every shipped PE image (the x64, x86 and ARM64 DLLs and qx748.exe) the
PDB its release build linked goes to DIST/symbols/<arch>/ under its own
name, and DIST/symbols/index.txt gets a line "arch image guid age pdb".
Checked for each image: its CodeView record names the PDB by bare file
name, the GUID and age agree with the PDB's own, and the image holds no
path of this machine (the clone, the Zig cache). The symbols are not part
of the drop's sums: they are for support, not for customers.

Prints one "ok" or "FAIL" line per check and a count; exits 1 when any
check failed.
"""
import os
import pathlib
import shutil
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "cmake"))
import repro_stamp  # noqa: E402  (the same PE and MSF readers the build uses)

ARCHES = ("x64", "x86", "arm64")
IMAGES = (  # build path, drop path with {arch} / {tools}
    ("uiplugin/QX748UI.dll", "{arch}/QX748UI.dll"),
    ("setup/QX748SP.dll", "{arch}/QX748SP.dll"),
    ("tools/qx748/qx748.exe", "tools/{sub}qx748.exe"),
)


def codeview(image):
    """(guid bytes, age, pdb name) of an image's CodeView record, or None."""
    _, _, dirs, secs = repro_stamp.pe_layout(image)
    for e in repro_stamp.debug_entries(image, dirs, secs):
        if repro_stamp.u32(image, e + 12) == repro_stamp.DEBUG_TYPE_CODEVIEW:
            size, raw = repro_stamp.u32(image, e + 16), repro_stamp.u32(image, e + 24)
            rec = image[raw:raw + size]
            if rec[:4] != b"RSDS" or len(rec) < 25:
                return None
            name = rec[24:].split(b"\0", 1)[0].decode("utf-8", "replace")
            return rec[4:20], struct.unpack_from("<I", rec, 20)[0], name
    return None


def pdb_identity(pdb):
    """(guid bytes, age) from a PDB's info stream."""
    off = repro_stamp.pdb_info_offset(pdb)
    return pdb[off + 12:off + 28], struct.unpack_from("<I", pdb, off + 8)[0]


def guid_text(g):
    d1, d2, d3 = struct.unpack_from("<IHH", g)
    return f"{d1:08X}-{d2:04X}-{d3:04X}-{g[8:10].hex().upper()}-{g[10:].hex().upper()}"


def machine_paths(root):
    cache = os.environ.get("QX_CACHE_DIR", "/var/cache/qx748")
    out = []
    for p in (str(root), cache):
        out += [p.encode(), p.encode("utf-16-le")]
    return out


def main(argv):
    if len(argv) != 3:
        print("usage: tools/dist/symbols.py ROOT DIST", file=sys.stderr)
        return 2
    root, dist = pathlib.Path(argv[1]).resolve(), pathlib.Path(argv[2])
    failures, checks, index = [], 0, []

    def check(ok, what):
        nonlocal checks
        checks += 1
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)
        return ok

    forbidden = machine_paths(root)
    out_root = dist / "symbols"
    shutil.rmtree(out_root, ignore_errors=True)
    for arch in ARCHES:
        sub = "" if arch == "x64" else f"{arch}/"
        for built, shipped in IMAGES:
            rel = shipped.format(arch=arch, sub=sub)
            image_path = dist / rel
            pdb_src = root / f"build/release-{arch}" / pathlib.Path(built).with_suffix(".pdb")
            if not check(image_path.is_file() and pdb_src.is_file(), f"{rel} and {pdb_src.relative_to(root)} exist"):
                continue
            image, pdb = image_path.read_bytes(), pdb_src.read_bytes()
            try:
                cv = codeview(image)
                ident = pdb_identity(pdb)
            except (repro_stamp.StampError, struct.error) as e:
                check(False, f"{rel}: readable image and PDB ({e})")
                continue
            if not check(cv is not None, f"{rel} has a CodeView (RSDS) debug record"):
                continue
            guid, age, name = cv
            check(name == pdb_src.name, f"{rel} names its PDB by bare file name ({name!r})")
            check((guid, age) == ident, f"{rel} GUID {guid_text(guid)} age {age} = its PDB's "
                  f"({guid_text(ident[0])} age {ident[1]})")
            leaked = [p for p in forbidden if p in image]
            check(not leaked, f"{rel} holds no path of this machine ({[p.decode('latin-1') for p in leaked]})")
            dest = out_root / arch / pdb_src.name
            dest.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(pdb_src, dest)
            index.append(f"{arch} {rel} {guid_text(guid)} {age} {arch}/{pdb_src.name}")
    out_root.mkdir(parents=True, exist_ok=True)
    (out_root / "index.txt").write_text("".join(line + "\n" for line in index))
    print(f"symbols: {checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
