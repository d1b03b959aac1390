#!/usr/bin/env python3
"""A built DLL's VERSIONINFO carries the build's version: fixed file and
product version MAJOR.MINOR.0.0, FileVersion and ProductVersion strings
"MAJOR.mmm" (the text the Version page and `qx748 --version` show).

    check_version_resource.py CHECK_DIST_PY FILE MAJOR MINOR
"""
import importlib.util
import pathlib
import sys


def main():
    checker, path, major, minor = sys.argv[1], pathlib.Path(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    found = importlib.util.spec_from_file_location("check_dist", checker)
    check_dist = importlib.util.module_from_spec(found)
    found.loader.exec_module(check_dist)
    pe = check_dist.PE(path.read_bytes())
    resource = pe.version_resource()
    if resource is None:
        print(f"FAIL  {path.name}: no VERSIONINFO resource")
        return 1
    fixed, product, strings = check_dist.read_versions(resource)
    want, text = (major, minor, 0, 0), f"{major}.{minor:03d}"
    got = (fixed, product, strings.get("FileVersion"), strings.get("ProductVersion"))
    ok = got == (want, want, text, text)
    print(("ok    " if ok else "FAIL  ") + f"{path.name}: versions {got}, expected {(want, want, text, text)}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
