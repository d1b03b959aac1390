#!/usr/bin/env python3
"""Leaves a linked PE image exporting exactly the named functions.

    cmake/trim_exports.py IMAGE [NAME ...]
    cmake/trim_exports.py IMAGE --def FILE.def

Zig 0.11 links its libunwind with every function marked dllexport, and its
linker has no switch to leave those out, so each DLL would export some
25 unwinder entry points beside the ones in its .def file. This rewrites
the export directory in place: the named functions, sorted by name as the
loader's binary search needs, ordinals from the base on, nothing else
(no names, no ordinal-only entries); the dropped names' text is cleared.
With --def, the names are those of the module-definition file's EXPORTS
section. With no NAME the image's export directory is removed.

Fails (status 1, image untouched) when a named function is not exported
or the image is not what the rewrite expects. Running it again on its own
output changes nothing.
"""
import os
import struct
import sys
import tempfile


class ImageError(Exception):
    pass


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def sections(data):
    if data[:2] != b"MZ":
        raise ImageError("no MZ header")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ImageError("no PE signature")
    nsect, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    if magic not in (0x10B, 0x20B):
        raise ImageError(f"optional header magic {magic:#x}")
    dirs = opt + (96 if magic == 0x10B else 112)
    out = []
    for i in range(nsect):
        vsize, va, rsize, raw = struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
        # Only what the file holds: a truncated image has less than its headers say.
        out.append((va, max(0, min(vsize or rsize, rsize, len(data) - raw)), raw))
    return opt, dirs, out


def file_offset(secs, rva, size=1):
    for va, length, raw in secs:
        if va <= rva and rva + size <= va + length:
            return raw + rva - va
    raise ImageError(f"rva {rva:#x}+{size} has no file data")


def pe_checksum(data, checksum_off):
    total = 0
    padded = data + b"\0" * (len(data) & 1)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field itself counts as zero.
    for off in (checksum_off, checksum_off + 2):
        total -= struct.unpack_from("<H", padded, off)[0]
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def trim(data, keep):
    data = bytearray(data)
    opt, dirs, secs = sections(data)
    export_rva, export_size = struct.unpack_from("<II", data, dirs)
    if not export_rva:
        if keep:
            raise ImageError("the image exports nothing")
        return bytes(data)
    ed = file_offset(secs, export_rva, 40)
    n_funcs, n_names, funcs_rva, names_rva, ords_rva = struct.unpack_from("<IIIII", data, ed + 20)
    if n_funcs > 0x10000 or n_names > n_funcs:
        raise ImageError(f"export directory counts {n_funcs}/{n_names}")
    funcs = file_offset(secs, funcs_rva, 4 * n_funcs) if n_funcs else 0
    names = file_offset(secs, names_rva, 4 * n_names) if n_names else 0
    ords = file_offset(secs, ords_rva, 2 * n_names) if n_names else 0

    by_name = {}
    name_at = {}
    for i in range(n_names):
        name_rva = u32(data, names + 4 * i)
        start = file_offset(secs, name_rva)
        end = data.find(b"\0", start)
        if end < 0:
            raise ImageError(f"unterminated export name at rva {name_rva:#x}")
        name = data[start:end].decode("ascii", "replace")
        index, = struct.unpack_from("<H", data, ords + 2 * i)
        if index >= n_funcs:
            raise ImageError(f"export {name} has ordinal index {index} of {n_funcs}")
        by_name[name] = (name_rva, u32(data, funcs + 4 * index))
        name_at[name] = (start, end)
    missing = [n for n in keep if n not in by_name]
    if missing:
        raise ImageError(f"not exported: {', '.join(missing)} (has {', '.join(sorted(by_name))})")

    if not keep:
        # No export directory at all; its bytes stay as unreferenced data.
        struct.pack_into("<II", data, dirs, 0, 0)
    else:
        wanted = sorted(set(keep), key=lambda n: n.encode("ascii"))
        for table, count, width in ((funcs, n_funcs, 4), (names, n_names, 4), (ords, n_names, 2)):
            data[table:table + count * width] = bytes(count * width)
        for i, name in enumerate(wanted):
            name_rva, func_rva = by_name[name]
            struct.pack_into("<I", data, funcs + 4 * i, func_rva)
            struct.pack_into("<I", data, names + 4 * i, name_rva)
            struct.pack_into("<H", data, ords + 2 * i, i)
        struct.pack_into("<II", data, ed + 20, len(wanted), len(wanted))
    for name, (start, end) in name_at.items():
        if name not in keep:
            data[start:end] = bytes(end - start)

    checksum_off = opt + 64
    if u32(data, checksum_off):
        struct.pack_into("<I", data, checksum_off, pe_checksum(bytes(data), checksum_off))
    return bytes(data)


def def_exports(text):
    """Export names of a module-definition file (name first on each line)."""
    names, inside = [], False
    for line in text.splitlines():
        line = line.split(";", 1)[0].strip()
        if not line:
            continue
        word = line.split()[0]
        if word.upper() in ("LIBRARY", "NAME", "DESCRIPTION", "SECTIONS", "HEAPSIZE", "STACKSIZE", "VERSION"):
            inside = False
        elif word.upper() == "EXPORTS":
            inside = True
            rest = line.split(None, 1)[1:]
            if rest:
                names.append(rest[0].split()[0].split("=")[0])
        elif inside:
            names.append(word.split("=")[0].split("@")[0])
    return names


def main(argv):
    if not argv or (len(argv) >= 2 and argv[1] == "--def" and len(argv) != 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, keep = argv[0], argv[1:]
    if keep[:1] == ["--def"]:
        try:
            with open(keep[1]) as f:
                keep = def_exports(f.read())
        except OSError as e:
            print(f"trim_exports: {e}", file=sys.stderr)
            return 1
        if not keep:
            print(f"trim_exports: {argv[2]} names no exports", file=sys.stderr)
            return 1
    try:
        with open(path, "rb") as f:
            original = f.read()
        trimmed = trim(original, keep)
    except (OSError, ImageError, struct.error) as e:
        print(f"trim_exports: {path}: {e}", file=sys.stderr)
        return 1
    if trimmed != original:
        fd, tmp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(path)), prefix=".trim-")
        with os.fdopen(fd, "wb") as f:
            f.write(trimmed)
        os.chmod(tmp, os.stat(path).st_mode & 0o7777)
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
