"""Small PE images with chosen machine, exports, imports and VERSIONINFO.

One section holds the export and import tables, the resource tree and the
version resource; the code the exports name is a single byte. Enough for a
loader-free reader (and for objdump) to see what a release DLL shows.
"""
import struct

MACHINE_X64, MACHINE_X86, MACHINE_ARM64 = 0x8664, 0x14C, 0xAA64
SECTION_RVA = 0x1000
FILE_ALIGN = 0x200


def _align(n, a):
    return (n + a - 1) & ~(a - 1)


def _utf16z(text):
    return (text + "\0").encode("utf-16-le")


def _version_block(key, value=b"", text=False, children=()):
    head_len = 6 + len(_utf16z(key))
    body = bytearray(_utf16z(key))
    body += b"\0" * (_align(head_len, 4) - head_len)
    body += value
    for child in children:
        body += b"\0" * (_align(6 + len(body), 4) - 6 - len(body))
        body += child
    value_length = len(value) // 2 if text else len(value)
    return struct.pack("<HHH", 6 + len(body), value_length, 1 if text else 0) + bytes(body)


def version_resource(file_version, product_version=None, file_text=None, product_text=None):
    """VS_VERSION_INFO bytes; versions are 4-tuples, texts the string values."""
    product_version = product_version or file_version
    ms = lambda v: (v[0] << 16) | v[1]
    ls = lambda v: (v[2] << 16) | v[3]
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, ms(file_version), ls(file_version), ms(product_version),
                        ls(product_version), 0x3F, 0, 0x40004, 2, 0, 0, 0)
    strings = []
    for name, value in (("CompanyName", "QX748 Imaging Systems"), ("FileVersion", file_text),
                        ("ProductVersion", product_text)):
        if value is not None:
            strings.append(_version_block(name, _utf16z(value), text=True))
    table = _version_block("040904B0", children=strings, text=True)
    sfi = _version_block("StringFileInfo", children=[table], text=True)
    var = _version_block("VarFileInfo", children=[_version_block("Translation", struct.pack("<HH", 0x409, 1200))],
                         text=True)
    return _version_block("VS_VERSION_INFO", fixed, children=[sfi, var])


def build(machine, dll=True, exports=(), imports=(), version=None):
    """A PE image. `imports`: DLL names (one function each); `version`: the
    bytes of a version resource or None."""
    wide = machine in (MACHINE_X64, MACHINE_ARM64)
    ptr = 8 if wide else 4
    sec = bytearray(b"\xc3" * 16)  # the exports' code: a return
    dirs = [(0, 0)] * 16

    def put(blob, align=4):
        sec.extend(b"\0" * (_align(len(sec), align) - len(sec)))
        rva = SECTION_RVA + len(sec)
        sec.extend(blob)
        return rva

    if exports:
        # Directory first, then its tables and names: readers take the
        # directory's size as the extent of all of them.
        names = sorted(exports)
        n = len(names)
        export_dir = put(b"\0" * 40)
        funcs = put(struct.pack(f"<{n}I", *([SECTION_RVA] * n)))
        name_table = put(b"\0" * 4 * n)
        ordinals = put(struct.pack(f"<{n}H", *range(n)))
        dll_name = put(b"FAKE.dll\0", 1)
        name_rvas = [put(x.encode() + b"\0", 1) for x in names]
        at = lambda rva: rva - SECTION_RVA
        sec[at(name_table):at(name_table) + 4 * n] = struct.pack(f"<{n}I", *name_rvas)
        sec[at(export_dir):at(export_dir) + 40] = struct.pack("<IIHHIIIIIII", 0, 0, 0, 0, dll_name, 1, n, n, funcs,
                                                              name_table, ordinals)
        dirs[0] = (export_dir, SECTION_RVA + len(sec) - export_dir)
    if imports:
        descriptors = []
        for name in imports:
            hint = put(struct.pack("<H", 0) + b"GetLastError\0", 2)
            fmt = "<QQ" if wide else "<II"
            lookup = put(struct.pack(fmt, hint, 0), ptr)
            thunks = put(struct.pack(fmt, hint, 0), ptr)
            descriptors.append((lookup, put(name.encode() + b"\0", 1), thunks))
        table = b"".join(struct.pack("<IIIII", lk, 0, 0, nm, th) for lk, nm, th in descriptors) + b"\0" * 20
        dirs[1] = (put(table), len(table))
    if version is not None:
        data = put(version)
        # Type 16 -> name 1 -> language 0x409 -> data entry, offsets from the tree's start.
        tree = bytearray()
        entry = lambda ident, target: struct.pack("<II", ident, target)
        directory = lambda: struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1)
        tree += directory() + entry(16, 0x80000000 | 24)
        tree += directory() + entry(1, 0x80000000 | 48)
        tree += directory() + entry(0x409, 72)
        tree += struct.pack("<IIII", data, len(version), 1200, 0)
        dirs[2] = (put(bytes(tree)), len(tree))

    raw_size = _align(len(sec), FILE_ALIGN)
    opt_size = 240 if wide else 224
    image_size = _align(SECTION_RVA + len(sec), 0x1000)
    characteristics = 0x0002 | (0x2000 if dll else 0) | (0x0020 if wide else 0x0100)
    coff = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, opt_size, characteristics)
    if wide:
        opt = struct.pack("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII", 0x20B, 2, 30, raw_size, 0, 0, SECTION_RVA, SECTION_RVA,
                          0x180000000, 0x1000, FILE_ALIGN, 4, 0, 0, 0, 5, 2, 0, image_size, FILE_ALIGN, 0, 3, 0x160,
                          0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    else:
        opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 30, raw_size, 0, 0, SECTION_RVA, SECTION_RVA,
                          SECTION_RVA, 0x10000000, 0x1000, FILE_ALIGN, 4, 0, 0, 0, 5, 2, 0, image_size, FILE_ALIGN, 0,
                          3, 0x140, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    opt += b"".join(struct.pack("<II", *d) for d in dirs)
    assert len(opt) == opt_size
    section = struct.pack("<8sIIIIIIHHI", b".rdata", len(sec), SECTION_RVA, raw_size, FILE_ALIGN, 0, 0, 0, 0,
                          0x40000040)
    head = bytearray(b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40))
    head += b"PE\0\0" + coff + opt + section
    assert len(head) <= FILE_ALIGN
    head += b"\0" * (FILE_ALIGN - len(head))
    return bytes(head) + bytes(sec) + b"\0" * (raw_size - len(sec))
