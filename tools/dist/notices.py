#!/usr/bin/env python3
"""Which third-party code each shipped binary contains, from its linker map.

    tools/dist/notices.py components MAPS_DIR          (JSON on stdout)
    tools/dist/notices.py notices MAPS_DIR ATTRIBUTION.md OUT.md

MAPS_DIR mirrors the drop: MAPS_DIR/x64/QX748UI.dll.map is the map of the
link that made x64/QX748UI.dll. A map is GNU ld's (-Map) or lld's (COFF
/lldmap, ELF -Map); both are read for the input files that gave the output
at least one byte. Each input is then ours (a relative path or one under
the build tree, as CMake links them; a bare member name with no archive
is not taken for ours), made by the linker itself, a
library the system loads at run time (ELF DT_NEEDED, not shipped), or one
of the components below, by the name of its archive or object. Anything
else is an unknown component: the notices refuse it and the drop checker
fails on it, so a new library cannot slip in unnamed.

Versions, suppliers and licence texts come from the toolchain that
provided the file: Debian's package database and its copyright files for
the MinGW-w64 and GNU toolchains, the pinned Zig's lib/ tree for the
ARM64 runtime.
"""
import functools
import json
import os
import pathlib
import re
import subprocess
import sys

# How a link input is named in a map: "archive(member)" or a plain path.
MEMBER = re.compile(r"^(.*)\(([^()]*)\)$")


class MapError(Exception):
    pass


def split_input(name):
    """(archive or None, object) of an input as a map names it."""
    m = MEMBER.match(name)
    if m and not name.startswith("<"):
        return m.group(1), m.group(2)
    return None, name


def read_gnu_map(text):
    """Inputs that put bytes into the output, and the shared libraries loaded."""
    inputs, shared = set(), set()
    lines = text.splitlines()
    try:
        start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    except StopIteration:
        raise MapError("no 'Linker script and memory map' part") from None
    out_section = None
    pending = None  # a long input-section name alone on its line
    for line in lines[start + 1:]:
        if line.startswith("LOAD "):
            path = line[5:].strip()
            if re.search(r"\.so(\.\d+)*$", path):
                shared.add(path)
            continue
        if line and not line[0].isspace():
            out_section = line.split()[0]
            pending = None
            continue
        if out_section == "/DISCARD/" or out_section is None:
            continue
        m = re.match(r"^ (\S+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$", line)
        if m:
            section, size, name = m.group(1), int(m.group(3), 16), m.group(4).strip()
        else:
            c = re.match(r"^\s{2,}0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$", line)
            if pending and c:
                section, size, name = pending, int(c.group(2), 16), c.group(3).strip()
            else:
                alone = re.match(r"^ ([^*\s]\S*)$", line)  # not a script pattern such as *(.ctors)
                pending = alone.group(1) if alone else None
                continue
        pending = None
        if section.startswith("*") or name.startswith("*") or re.match(r"(LONG|QUAD|SHORT|BYTE|FILL)\b", name):
            continue  # *fill*, *(COMMON), data the linker script writes
        if size:
            inputs.add(name)
    return inputs, shared


def read_lld_map(text):
    lines = text.splitlines()
    if not lines:
        raise MapError("empty map")
    header = lines[0]
    cols = header.split()
    if "In" not in cols or "Size" not in cols:
        raise MapError("no lld map header")
    in_col = header.index(" In ") + 1
    size_field = cols.index("Size")
    inputs = set()
    for line in lines[1:]:
        if len(line) <= in_col or line[in_col - 1] != " " or line[in_col] == " ":
            continue
        fields = line[:in_col].split()
        if len(fields) != cols.index("Out"):
            continue
        name = line[in_col:].rstrip()
        path, sep, _ = name.rpartition(":(")
        if not sep:
            continue
        try:
            size = int(fields[size_field], 16)
        except ValueError:
            continue
        if size:
            inputs.add(path)
    return inputs, set()


def read_map(text):
    first = text.lstrip().split("\n", 1)[0]
    if first.split()[:2] in (["Address", "Size"], ["VMA", "LMA"]):
        return read_lld_map(text)
    if "Linker script and memory map" in text:
        return read_gnu_map(text)
    raise MapError("neither a GNU ld nor an lld map")


# The third-party components a link can pull in. `archives`/`objects`
# are file names as the toolchains ship them; `where` is the folder they
# must come from (a pattern), so that a name two toolchains use, or a
# library that merely sits in the same folder, is not taken for another.
GCC = r"^/usr/lib/gcc(-cross)?/"
MINGW = r"^/usr/(x86_64|i686)-w64-mingw32/lib/"
ZIG = r"/zig-cache/o/[0-9a-f]+/"
COMPONENTS = [
    {"key": "libstdc++", "name": "GNU C++ library (libstdc++)",
     "archives": {"libstdc++.a", "libsupc++.a"}, "where": GCC, "source": "debian-gcc"},
    {"key": "libgcc", "name": "GCC runtime library (libgcc)",
     "archives": {"libgcc.a", "libgcc_eh.a"},
     "objects": {"crtbegin.o", "crtend.o", "crtbeginS.o", "crtendS.o", "crtfastmath.o"}, "where": GCC,
     "source": "debian-gcc"},
    {"key": "winpthreads", "name": "MinGW-w64 winpthreads",
     "archives": {"libpthread.a", "libwinpthread.a"}, "where": MINGW, "source": "debian-mingw"},
    {"key": "mingw-w64-crt", "name": "MinGW-w64 runtime (CRT and import libraries)",
     "archives": {"libmingw32.a", "libmingwex.a", "libmoldname.a", "libmsvcrt.a", "libmsvcrt-os.a"},
     # The import libraries of the system DLLs too (libkernel32.a: the project's stubs).
     "archive_pattern": r"^lib\w+\.a$", "objects": {"crt2.o", "dllcrt2.o", "crtbegin.o", "crtend.o"},
     "where": MINGW, "source": "debian-mingw"},
    {"key": "glibc", "name": "GNU C Library start-up files (glibc)",
     "archives": {"libc_nonshared.a"}, "objects": {"crt1.o", "Scrt1.o", "crti.o", "crtn.o"},
     "where": r"^/usr/lib/(x86_64|aarch64)-linux-gnu/|^/usr/aarch64-linux-gnu/lib/|^/lib/", "source": "debian-glibc"},
    {"key": "zig-libc++", "name": "LLVM libc++ (as bundled with Zig)", "archives": {"c++.lib"}, "where": ZIG,
     "source": "zig", "tree": "libcxx"},
    {"key": "zig-libc++abi", "name": "LLVM libc++abi (as bundled with Zig)", "archives": {"c++abi.lib"},
     "where": ZIG, "source": "zig", "tree": "libcxxabi"},
    {"key": "zig-libunwind", "name": "LLVM libunwind (as bundled with Zig)", "archives": {"unwind.lib"},
     "where": ZIG, "source": "zig", "tree": "libunwind"},
    {"key": "zig-compiler-rt", "name": "Zig compiler_rt", "archives": {"compiler_rt.lib"}, "where": ZIG,
     "source": "zig", "tree": "compiler_rt"},
    {"key": "zig-mingw-w64", "name": "MinGW-w64 runtime (as bundled with Zig)",
     "archives": {"mingw32.lib", "mingwex.lib", "msvcrt-os.lib", "uuid.lib"},
     "archive_pattern": r"^[\w-]+\.lib$", "objects": {"crt2.obj", "dllcrt2.obj"},
     "where": ZIG, "source": "zig", "tree": "libc/mingw"},
]
BY_KEY = {c["key"]: c for c in COMPONENTS}
UNKNOWN = "unknown"


def classify(name, own=()):
    """'own', 'linker', a component key, or None (unknown) for one map input."""
    # What the linker makes itself: lld's <internal>, GNU ld's export and relocation tables.
    if name.startswith("<") or name in ("linker stubs", "COMMON", "dll stuff"):
        return "linker"
    archive, obj = split_input(name)
    path = archive or obj
    if archive is None and "/" not in obj:
        # lld names an archive member alone unless link_with_map.py named its archive:
        # whose it is cannot be told, so it is no one's (and the checker says so).
        return None
    if not os.path.isabs(path) or any(os.path.normpath(path).startswith(o.rstrip("/") + "/") for o in own):
        return "own"
    norm = os.path.normpath(path)
    base = os.path.basename(norm)
    for c in COMPONENTS:
        if not re.search(c["where"], norm):
            continue
        if archive is not None:
            if base in c.get("archives", ()) or re.match(c.get("archive_pattern", r"^$"), base):
                return c["key"]
        elif base in c.get("objects", ()):
            return c["key"]
    return None


def binary_inputs(maps_dir):
    """{drop path: (map path, inputs, shared)} for every map under MAPS_DIR."""
    out = {}
    for m in sorted(pathlib.Path(maps_dir).rglob("*.map")):
        rel = str(m.relative_to(maps_dir))[:-len(".map")]
        inputs, shared = read_map(m.read_text(errors="replace"))
        out[rel] = (m, inputs, shared)
    return out


def contents(maps_dir, own=()):
    """{drop path: {component key or UNKNOWN: sorted input files}}."""
    result = {}
    for rel, (_, inputs, _) in binary_inputs(maps_dir).items():
        found = {}
        for name in inputs:
            kind = classify(name, own)
            if kind in ("own", "linker"):
                continue
            found.setdefault(kind or UNKNOWN, set()).add(os.path.normpath(split_input(name)[0] or name))
        result[rel] = {k: sorted(v) for k, v in found.items()}
    return result


# ---- versions, suppliers and licence texts ------------------------------

def dpkg_owner(path):
    real = os.path.realpath(path)
    for p in (real, path, re.sub(r"^/usr/lib/", "/lib/", real)):
        run = subprocess.run(["dpkg-query", "-S", p], capture_output=True, text=True)
        if run.returncode == 0:
            return run.stdout.split(":", 1)[0].split(",")[0].strip()
    raise MapError(f"{path}: no Debian package owns it")


def dpkg_version(package):
    run = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package], capture_output=True, text=True)
    if run.returncode != 0 or not run.stdout:
        raise MapError(f"dpkg-query has no version of {package}")
    return run.stdout.strip()


@functools.lru_cache(maxsize=None)
def zig_lib():
    zig = os.environ.get("QX_ZIG")
    if not zig:
        repo = pathlib.Path(__file__).resolve().parents[2]
        zig = subprocess.run([str(repo / "scripts" / "zig-install")], capture_output=True, text=True,
                             check=True).stdout.strip()
    return pathlib.Path(zig).parent


def zig_versions(root):
    """Versions of what the pinned Zig bundles, read from its own tree."""
    config = (root / "lib/libcxx/include/__config").read_text()
    llvm = int(re.search(r"define _LIBCPP_VERSION (\d+)", config).group(1))
    llvm_text = f"{llvm // 10000}.{llvm // 100 % 100}.{llvm % 100}"
    mac = (root / "lib/libc/include/any-windows-any/_mingw_mac.h").read_text()
    mingw = ".".join(re.search(rf"define __MINGW64_VERSION_{p} (\d+)", mac).group(1)
                     for p in ("MAJOR", "MINOR", "BUGFIX"))
    zig = json.loads((root / "package.json").read_text())["version"]
    return {"zig": zig, "llvm": llvm_text, "mingw-w64": mingw}


def between(text, first, last, *, include_last=True):
    start = text.find(first)
    if start < 0:
        raise MapError(f"licence file lacks {first!r}")
    end = text.find(last, start)
    if end < 0:
        raise MapError(f"licence file lacks {last!r}")
    return text[start:end + (len(last) if include_last else 0)].rstrip() + "\n"


# Debian's licence short names as SPDX identifiers; others become LicenseRef-.
SPDX = {"ZPL-2.1": "ZPL-2.1", "expat": "MIT", "BSD-3-clause": "BSD-3-Clause", "ISC": "ISC",
        "BSD-2-clause-NetBSD": "BSD-2-Clause", "LGPL-2.1+": "LGPL-2.1-or-later", "LGPL-2+": "LGPL-2.0-or-later",
        "GPL-2+": "GPL-2.0-or-later", "GPL-3+": "GPL-3.0-or-later"}


def spdx(name):
    return SPDX.get(name) or "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def copyright_stanzas(text, keep):
    """Debian machine-readable copyright: the Files stanzas `keep` accepts, the licence
    texts they name, and those licences as one SPDX expression."""
    paragraphs = re.split(r"\n\s*\n(?=[A-Z][\w-]*:)", text)
    files, licences, chosen = [], {}, set()
    for p in paragraphs:
        if p.startswith("Files:"):
            patterns = p.split("Copyright:", 1)[0][len("Files:"):].split()
            if any(keep(x) for x in patterns):
                files.append(p.strip())
                m = re.search(r"^License: *(.+)$", p, re.M)
                if m:
                    chosen.update(re.split(r"\s+(?:and|or)\s+", m.group(1).strip()))
        elif p.startswith("License:"):
            licences[p.split("\n", 1)[0][len("License:"):].strip()] = p.strip()
    body = "\n\n".join(files)
    named = [licences[l] for l in sorted(chosen) if l in licences and "\n" in licences[l]]
    expression = " AND ".join(sorted({spdx(l) for l in chosen}))
    return body + ("\n\n" + "\n\n".join(named) if named else "") + "\n", expression


# Licences of the components whose licence files state one licence for the whole.
LICENCES = {
    "libstdc++": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "libgcc": "GPL-3.0-or-later WITH GCC-exception-3.1",
    # The start-up files carry the LGPL's linking exception.
    "glibc": "LGPL-2.1-or-later",
    "zig-libc++": "Apache-2.0 WITH LLVM-exception",
    "zig-libc++abi": "Apache-2.0 WITH LLVM-exception",
    "zig-libunwind": "Apache-2.0 WITH LLVM-exception",
    # Zig's own code, with parts ported from musl (MIT) and LLVM's compiler-rt.
    "zig-compiler-rt": "MIT AND Apache-2.0 WITH LLVM-exception",
    "zig-mingw-w64": "ZPL-2.1",
}


def describe(key, archive_paths):
    """Version, supplier, licence, package (or None) and notice text of a component as linked."""
    c = BY_KEY[key]
    if c["source"].startswith("debian"):
        packages = sorted({dpkg_owner(p) for p in archive_paths})
        package = packages[0]
        version = dpkg_version(package)
        copyright = pathlib.Path("/usr/share/doc") / package / "copyright"
        text = copyright.read_text(errors="replace")
        licence = LICENCES.get(key)
        if c["source"] == "debian-gcc":
            notice = (between(text, "GCC is Copyright", "\n\n") + "\n" +
                      between(text, "The following runtime libraries are licensed", "\n\n") + "\n" +
                      between(text, "GCC RUNTIME LIBRARY EXCEPTION", "requirements of the license of GCC."))
        elif c["source"] == "debian-glibc":
            notice = between(text, "* Most of the GNU C library", "\n\n* ", include_last=False)
        elif key == "winpthreads":
            # The library's own files, not the package-wide default for the rest of the tree.
            notice, licence = copyright_stanzas(text, lambda f: f.startswith("mingw-w64-libraries/winpthreads/")
                                                and "tests" not in f)
        else:
            notice, licence = copyright_stanzas(text, lambda f: f == "*" or f.startswith("mingw-w64-crt/"))
        supplier = "Debian (" + ", ".join(packages) + ")"
        return {"version": version, "supplier": supplier, "licence": licence, "packages": packages,
                "notice": notice, "notice_from": f"the copyright file of Debian's package {package}"}
    root = zig_lib()
    v = zig_versions(root)
    tree = root / "lib" / c["tree"]
    if key == "zig-compiler-rt":
        version, licence_file = v["zig"], root / "LICENSE"
    elif key == "zig-mingw-w64":
        version, licence_file = v["mingw-w64"], tree / "COPYING"
    else:
        version, licence_file = v["llvm"], tree / "LICENSE.TXT"
    notice, licence = licence_file.read_text(errors="replace"), LICENCES[key]
    if key == "zig-compiler-rt":
        notice += ("\n\nParts are ported from musl, under its licence:\n\n" +
                   (root / "lib/libc/musl/COPYRIGHT").read_text(errors="replace") +
                   "\n\nParts are ported from LLVM's compiler-rt, under LLVM's licence:\n\n" +
                   (root / "lib/libcxx/LICENSE.TXT").read_text(errors="replace"))
    if key == "zig-mingw-w64":
        # COPYING leaves the parts under other licences to their own notices; the same
        # upstream release's are listed file by file in Debian's copyright file.
        debian = pathlib.Path("/usr/share/doc/mingw-w64-common/copyright")
        if not debian.is_file() or not dpkg_version("mingw-w64-common").startswith(version + "-"):
            raise MapError(f"Zig bundles MinGW-w64 {version}: need Debian's mingw-w64-common of that release "
                           "for the file-by-file notices")
        stanzas, licence = copyright_stanzas(debian.read_text(errors="replace"),
                                             lambda f: f == "*" or f.startswith("mingw-w64-crt/"))
        notice += "\n\nThe parts under other licences, as listed for the same release by Debian:\n\n" + stanzas
    origin = {"zig-compiler-rt": "Zig contributors", "zig-mingw-w64": "the mingw-w64 project"}.get(key, "the LLVM Project")
    return {"version": version, "supplier": f"{origin}, as bundled with Zig {v['zig']}", "licence": licence,
            "packages": [], "notice": notice,
            "notice_from": f"Zig {v['zig']}'s {licence_file.relative_to(root)}"}


def inventory(maps_dir, own=()):
    """{drop path: {key: description}}; raises on an unknown component."""
    found = contents(maps_dir, own)
    unknown = {rel: inputs[UNKNOWN] for rel, inputs in found.items() if UNKNOWN in inputs}
    if unknown:
        raise MapError("link inputs no component names: " + "; ".join(f"{r}: {', '.join(v)}"
                                                                         for r, v in sorted(unknown.items())))
    described, out = {}, {}
    for rel, inputs in sorted(found.items()):
        out[rel] = {}
        for key, paths in sorted(inputs.items()):
            tag = (key, tuple(sorted({dpkg_owner(p) for p in paths}))) if BY_KEY[key]["source"] != "zig" else (key,)
            if tag not in described:
                described[tag] = describe(key, paths)
            out[rel][key] = described[tag]
    return out


def heading(key, info):
    return f"{BY_KEY[key]['name']} {info['version']}"


def write_notices(inv, credit, out):
    by_component = {}
    for rel, comps in inv.items():
        for key, info in comps.items():
            entry = by_component.setdefault((key, info["version"]), (dict(info, packages=[]), []))
            entry[1].append(rel)
            entry[0]["packages"] = sorted(set(entry[0]["packages"]) | set(info["packages"]))
    lines = ["# Third-party notices", "",
             "The files of this drop contain code of the third-party components below, linked in",
             "statically by the toolchains that built them (read from each link's map). Each",
             "component is named with its version and licence, followed by the copyright",
             "notices and licence texts its licence asks to be passed on.", "",
             "| File | Components |", "|---|---|"]
    for rel, comps in sorted(inv.items()):
        lines.append(f"| `{rel}` | " + "; ".join(heading(k, i) for k, i in sorted(comps.items())) + " |")
    lines += ["", "Where a file also runs against a library of the system (the Linux `qx748` against",
              "the system's C and C++ libraries), that library is not part of the drop.", ""]
    for (key, version), (info, files) in sorted(by_component.items()):
        lines += [f"## {heading(key, info)}", "",
                  f"- Licence: {info['licence']}",
                  f"- Supplier: " + (f"Debian ({', '.join(info['packages'])})" if info["packages"]
                                     else info["supplier"]),
                  f"- In: " + ", ".join(f"`{f}`" for f in sorted(files)),
                  f"- Text below from {info['notice_from']}", "", "```text"]
        lines += info["notice"].rstrip("\n").replace("```", "'''").splitlines()
        lines += ["```", ""]
    lines += ["## The built-in preview photograph", "",
              "QX748UI.dll and the qx748 tools contain the built-in preview photograph",
              "(bitmap resources 141 to 145, one size each). It is not covered by the product's",
              "own licence and stays under its own (CC BY 4.0):", ""]
    lines += credit.strip("\n").splitlines()
    pathlib.Path(out).write_text("\n".join(lines) + "\n")


def credit_section(attribution):
    text = pathlib.Path(attribution).read_text()
    m = re.search(r"^## Credit line\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    if not m or not re.search(r"^>", m.group(1), re.M):
        raise MapError(f"no credit line under '## Credit line' in {attribution}")
    return m.group(1).strip("\n") + "\n"


def main(argv):
    own = [o for o in os.environ.get("QX_OWN_PREFIXES", "").split(":") if o]
    try:
        if len(argv) == 2 and argv[0] == "components":
            json.dump(contents(argv[1], own), sys.stdout, indent=1, sort_keys=True, default=str)
            print()
            return 0
        if len(argv) == 4 and argv[0] == "notices":
            write_notices(inventory(argv[1], own), credit_section(argv[2]), argv[3])
            return 0
    except (MapError, OSError, subprocess.CalledProcessError) as e:
        print(f"notices: {e}", file=sys.stderr)
        return 1
    print(__doc__.split("\n\n")[1], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
