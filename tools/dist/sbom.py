#!/usr/bin/env python3
"""Writes the drop's bill of materials, CycloneDX 1.5 JSON, from the build.

    tools/dist/sbom.py DIST MAPS BUILD_ROOT ATTRIBUTION.md OUT --version TEXT --epoch SECONDS

Every file of DIST (but OUT and SHA256SUMS, which is written after it)
with its SHA-256; in each binary the third-party components its link map
shows (tools/dist/notices.py: version, supplier, licence, Debian package
URL) and the preview photograph where it is built in; the toolchains that
built each binary (Debian package versions, Zig with what it bundles).
Nothing depends on when or where it runs: the time is SOURCE_DATE_EPOCH
(given), every list is sorted, the serial number is derived from the
content, and no path of the build machine is written.
"""
import argparse
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import uuid

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import notices  # noqa: E402

# The release build each drop file comes from (scripts/dist.sh's build/release-NAME).
BUILDS = (("x64/", "x64"), ("x86/", "x86"), ("arm64/", "arm64"), ("tools/qx748.exe", "x64"),
          ("tools/x86/", "x86"), ("tools/arm64/", "arm64"), ("tools/linux-aarch64/", "linux-aarch64"),
          ("tools/qx748", "linux"))
# Which binaries have the preview photograph built in.
WITH_PHOTO = re.compile(r"(^|/)(QX748UI\.dll|qx748(\.exe)?)$")
PHOTO = "uiplugin/resources/builtin-preview.bmp"


def build_of(rel):
    for prefix, name in BUILDS:
        if rel == prefix or (prefix.endswith("/") and rel.startswith(prefix)):
            return name
    return None


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def deb_purl(package, version):
    arch = subprocess.run(["dpkg-query", "-W", "-f", "${Architecture}", package], capture_output=True,
                          text=True).stdout.strip() or "all"
    return f"pkg:deb/debian/{package}@{version}?arch={arch}"


def build_compiler(build_dir):
    """The C++ compiler CMake found for a build (toolchain files set it outside the cache)."""
    for found in sorted(pathlib.Path(build_dir).glob("CMakeFiles/*/CMakeCXXCompiler.cmake")):
        m = re.search(r'^set\(CMAKE_CXX_COMPILER "([^"]+)"\)', found.read_text(errors="replace"), re.M)
        if m:
            return m.group(1)
    raise notices.MapError(f"{build_dir}: CMake recorded no C++ compiler")


def toolchain(build_dir, lld_map):
    """bom-ref and component of the toolchain a build used."""
    compiler = build_compiler(build_dir)
    if "zig-wrappers" in compiler:
        root = notices.zig_lib()
        v = notices.zig_versions(root)
        ref = f"toolchain:zig@{v['zig']}"
        bundled = [("clang and lld (LLVM)", v["llvm"], "Apache-2.0 WITH LLVM-exception"),
                   ("libc++, libc++abi, libunwind (LLVM)", v["llvm"], "Apache-2.0 WITH LLVM-exception"),
                   ("MinGW-w64 headers and runtime", v["mingw-w64"], "ZPL-2.1")]
        return ref, {
            "type": "application", "bom-ref": ref, "name": "Zig", "version": v["zig"],
            "supplier": {"name": "Zig Software Foundation"},
            "description": "Zig's C/C++ compiler driver and linker (Windows ARM64); "
                           "the official Linux x86-64 build from npm, checked by SHA-256",
            "licenses": [{"license": {"id": "MIT"}}],
            "purl": f"pkg:npm/%40ryoppippi/zig-linux-x64@{v['zig']}",
            "hashes": [{"alg": "SHA-256", "content": sha256(os.path.join(root, "zig"))}],
            "components": [{"type": "library", "bom-ref": f"{ref}#{i}", "name": n, "version": ver,
                            "licenses": [{"expression": lic}]} for i, (n, ver, lic) in enumerate(bundled)],
        }
    packages = {notices.dpkg_owner(os.path.realpath(compiler))}
    if lld_map:
        packages.add("lld-14")
    else:
        # GNU ld beside the compiler (the cross binutils, or the native ones).
        ld = os.path.join(os.path.dirname(os.path.realpath(compiler)),
                          os.path.basename(compiler).split("g++")[0].split("clang")[0] + "ld")
        packages.add(notices.dpkg_owner(ld if os.path.exists(ld) else "/usr/bin/ld"))
    packages = sorted(packages)
    ref = "toolchain:deb:" + "+".join(packages)
    return ref, {
        "type": "application", "bom-ref": ref, "name": " + ".join(packages),
        "version": " + ".join(notices.dpkg_version(p) for p in packages),
        "supplier": {"name": "Debian"},
        "description": "Debian 12 compiler and linker packages",
        "components": [{"type": "application", "bom-ref": f"{ref}#{p}", "name": p,
                        "version": notices.dpkg_version(p), "supplier": {"name": "Debian"},
                        "purl": deb_purl(p, notices.dpkg_version(p))} for p in packages],
    }


def library(rel, key, info):
    c = {"type": "library", "bom-ref": f"{rel}#{key}", "name": notices.BY_KEY[key]["name"],
         "version": info["version"], "supplier": {"name": info["supplier"]},
         "licenses": [{"expression": info["licence"]}], "scope": "required"}
    if info["packages"]:
        c["purl"] = deb_purl(info["packages"][0], info["version"])
    return c


def photograph(rel, repo, credit):
    return {"type": "data", "bom-ref": f"{rel}#photograph", "name": "Built-in preview photograph",
            "description": "bitmap resources 141 to 145, the Color correction page's built-in preview"
                           " picture at 192 to 384 pixels",
            "copyright": credit, "licenses": [{"license": {"id": "CC-BY-4.0"}}],
            "hashes": [{"alg": "SHA-256", "content": sha256(repo / PHOTO)}]}


def make(dist, maps, build_root, attribution, version, epoch, out_name):
    repo = pathlib.Path(__file__).resolve().parents[2]
    inventory = notices.inventory(maps)
    credit = " ".join(l[1:].strip() for l in notices.credit_section(attribution).splitlines() if l.startswith(">"))
    # symbols/ is kept beside the drop for support: not shipped, so not listed.
    files = sorted(str(p.relative_to(dist)) for p in pathlib.Path(dist).rglob("*")
                   if p.is_file() and p.name not in (out_name, "SHA256SUMS")
                   and p.relative_to(dist).parts[0] != "symbols")
    toolchains, components = {}, []
    for rel in files:
        c = {"type": "file", "bom-ref": f"file:{rel}", "name": rel,
             "hashes": [{"alg": "SHA-256", "content": sha256(pathlib.Path(dist) / rel)}]}
        build = build_of(rel)
        if build and rel in inventory:
            map_text = (pathlib.Path(maps) / (rel + ".map")).read_text(errors="replace")
            ref, tc = toolchain(pathlib.Path(build_root) / f"release-{build}",
                                map_text.lstrip().startswith(("Address", "VMA")))
            toolchains[ref] = tc
            c["version"] = version
            c["properties"] = [{"name": "qx748:built-with", "value": ref}]
            inner = [library(rel, k, i) for k, i in sorted(inventory[rel].items())]
            if WITH_PHOTO.search(rel):
                inner.append(photograph(rel, repo, credit))
            c["components"] = inner
        components.append(c)
    stamp = __import__("datetime").datetime.fromtimestamp(int(epoch), __import__("datetime").timezone.utc)
    bom = {
        "bomFormat": "CycloneDX", "specVersion": "1.5", "serialNumber": None, "version": 1,
        "metadata": {
            "timestamp": stamp.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "tools/dist/sbom.py", "version": version}]},
            "component": {"type": "application", "bom-ref": "qx748-drop", "name": "QX748 driver UI components",
                          "version": version, "description": "QX748UI.dll, QX748SP.dll and qx748 release drop"},
        },
        "components": components,
        "formulation": [{"bom-ref": "build", "components": [toolchains[r] for r in sorted(toolchains)]}],
    }
    body = json.dumps(bom, indent=2, ensure_ascii=False)
    serial = uuid.uuid5(uuid.NAMESPACE_URL, "qx748-sbom:" + hashlib.sha256(body.encode()).hexdigest())
    bom["serialNumber"] = f"urn:uuid:{serial}"
    return json.dumps(bom, indent=2, ensure_ascii=False) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description="Writes the drop's CycloneDX 1.5 bill of materials.")
    for name in ("dist", "maps", "build_root", "attribution", "out"):
        parser.add_argument(name)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", required=True, help="SOURCE_DATE_EPOCH: the time the BOM states")
    args = parser.parse_args(argv)
    try:
        text = make(args.dist, args.maps, args.build_root, args.attribution, args.version, args.epoch,
                    os.path.basename(args.out))
    except (notices.MapError, OSError, subprocess.CalledProcessError) as e:
        print(f"sbom: {e}", file=sys.stderr)
        return 1
    pathlib.Path(args.out).write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
