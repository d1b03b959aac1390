#!/usr/bin/env python3
"""Gives a linked PE image and its PDB an identity taken from the image's code.

    cmake/repro_stamp.py IMAGE PDB

The PDB keeps the build folder's paths (object files, the compile and link
command lines), and lld derives the PDB's GUID from the whole PDB, so two
clones in two folders link images that differ in their GUID and time stamps
only. This replaces those: the GUID and the time stamp become a hash of the
image with them (and the checksum) cleared, written to the COFF header, every
debug directory entry, the CodeView record and the PDB's info stream, so that
the platform's debugger still pairs them and the same sources in any folder
give the same image bytes. The CodeView record's PDB name becomes the bare
file name (a linker may write the path it was given).

Fails (status 1, files untouched) when the image has no CodeView record or
the PDB is not an MSF 7 file. Running it again changes nothing.
"""
import hashlib
import os
import struct
import sys

MSF_MAGIC = b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0"
DEBUG_TYPE_CODEVIEW = 2


class StampError(Exception):
    pass


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def pe_layout(data):
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise StampError("no MZ header")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise StampError("no PE signature")
    nsect, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    if magic not in (0x10B, 0x20B):
        raise StampError(f"optional header magic {magic:#x}")
    dirs = opt + (96 if magic == 0x10B else 112)
    secs = []
    for i in range(nsect):
        vsize, va, rsize, raw = struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
        secs.append((va, min(vsize or rsize, rsize), raw))
    return pe, opt, dirs, secs


def file_offset(secs, rva, size):
    for va, length, raw in secs:
        if va <= rva and rva + size <= va + length:
            return raw + rva - va
    raise StampError(f"rva {rva:#x} has no file data")


def debug_entries(data, dirs, secs):
    rva, size = struct.unpack_from("<II", data, dirs + 6 * 8)
    if not rva or size % 28:
        raise StampError("no debug directory")
    base = file_offset(secs, rva, size)
    return [base + 28 * i for i in range(size // 28)]


def pe_checksum(data, checksum_at):
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field itself counts as zero.
    for off in (checksum_at, checksum_at + 2):
        total -= struct.unpack_from("<H", padded, off)[0]
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    total = (total + (total >> 16)) & 0xFFFF
    return total + len(data)


def stamp_image(data, pdb_name):
    """Returns (new image bytes, guid, age, timestamp)."""
    data = bytearray(data)
    pe, opt, dirs, secs = pe_layout(data)
    entries = debug_entries(data, dirs, secs)
    codeview = None
    for e in entries:
        if u32(data, e + 12) == DEBUG_TYPE_CODEVIEW:
            size, raw = u32(data, e + 16), u32(data, e + 24)
            if size < 25 or raw + size > len(data) or data[raw:raw + 4] != b"RSDS":
                raise StampError("CodeView entry is not an RSDS record")
            codeview = (raw, size)
    if codeview is None:
        raise StampError("no CodeView debug entry")
    raw, size = codeview
    name = pdb_name.encode() + b"\0"
    if len(name) > size - 24:
        raise StampError(f"PDB name {pdb_name!r} does not fit the CodeView record")
    data[raw + 24:raw + size] = name + b"\0" * (size - 24 - len(name))
    age = u32(data, raw + 20)
    # Clear everything that is being derived, then hash.
    checksum_at = opt + 64
    had_checksum = u32(data, checksum_at) != 0
    struct.pack_into("<I", data, pe + 8, 0)
    struct.pack_into("<I", data, checksum_at, 0)
    for e in entries:
        struct.pack_into("<I", data, e + 4, 0)
    data[raw + 4:raw + 20] = b"\0" * 16
    digest = hashlib.sha256(bytes(data)).digest()
    guid = digest[:16]
    timestamp = u32(digest, 16) & 0x7FFFFFFF
    struct.pack_into("<I", data, pe + 8, timestamp)
    for e in entries:
        struct.pack_into("<I", data, e + 4, timestamp)
    data[raw + 4:raw + 20] = guid
    if had_checksum:
        struct.pack_into("<I", data, checksum_at, pe_checksum(bytes(data), checksum_at))
    return bytes(data), guid, age, timestamp


def pdb_info_offset(pdb):
    """File offset of the PDB info stream (stream 1)."""
    if pdb[:32] != MSF_MAGIC or len(pdb) < 56:
        raise StampError("not an MSF 7.00 PDB")
    block, _, nblocks, dir_bytes, _, map_block = struct.unpack_from("<6I", pdb, 32)
    if block not in (512, 1024, 2048, 4096) or nblocks * block > len(pdb) + block:
        raise StampError("PDB superblock is inconsistent")

    def at(b):
        if b >= nblocks:
            raise StampError("PDB block out of range")
        return b * block

    dir_blocks = [u32(pdb, at(map_block) + 4 * i) for i in range((dir_bytes + block - 1) // block)]
    directory = b"".join(pdb[at(b):at(b) + block] for b in dir_blocks)[:dir_bytes]
    nstreams = u32(directory, 0)
    if nstreams < 2 or 4 + 4 * nstreams > len(directory):
        raise StampError("PDB has no info stream")
    sizes = [u32(directory, 4 + 4 * i) for i in range(nstreams)]
    first = 4 + 4 * nstreams
    # Blocks of stream 0 come first; stream 1's first block follows them.
    s0 = 0 if sizes[0] == 0xFFFFFFFF else (sizes[0] + block - 1) // block
    if sizes[1] < 28:
        raise StampError("PDB info stream too short")
    return at(u32(directory, first + 4 * s0))


def stamp_pdb(pdb, guid, age, timestamp):
    pdb = bytearray(pdb)
    off = pdb_info_offset(pdb)
    struct.pack_into("<II", pdb, off + 4, timestamp, age)
    pdb[off + 12:off + 28] = guid
    return bytes(pdb)


def replace(path, content):
    tmp = path + ".stamp-tmp"
    with open(tmp, "wb") as f:
        f.write(content)
    os.chmod(tmp, os.stat(path).st_mode & 0o7777)
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    image_path, pdb_path = argv[1], argv[2]
    try:
        with open(image_path, "rb") as f:
            image = f.read()
        with open(pdb_path, "rb") as f:
            pdb = f.read()
        new_image, guid, age, ts = stamp_image(image, os.path.basename(pdb_path))
        new_pdb = stamp_pdb(pdb, guid, age, ts)
    except (OSError, StampError, struct.error) as e:
        print(f"repro_stamp: {image_path}: {e}", file=sys.stderr)
        return 1
    replace(pdb_path, new_pdb)
    replace(image_path, new_image)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
