#!/usr/bin/env python3
"""A fault in a DLL built by the release rules, symbolized as support would.

    test_symbolize.py --probe DLL --pdb PDB --host EXE --source CPP
                      --emulator "WORD|WORD..." --work DIR

The probe DLL is stripped as the drop's images are and its PDB kept in a
folder of its own. The host runs under Wine, the probe faults, and the
host prints the event log's "fault offset". That offset must come back as
the probe's faulting function and the marked line of its source, from the
PDB alone (tools/dist/pdb_symbolize.py), and through llvm-symbolizer from
the stripped DLL with its PDB beside it; the host's minidump, read with
obj2yaml, must give the same offset. The stripped DLL must name its
PDB by bare file name, with the PDB's GUID and age.
"""
import argparse
import pathlib
import re
import shutil
import struct
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools" / "dist"))
import symbols  # noqa: E402

FUNCTION = "qx_probe_write_fault"
MARK = "QX-PROBE-FAULT"


def stamp_checks(check, probe, probe_pdb, work):
    """The build's image identity: the same code gives the same bytes
    whatever time stamp and GUID the linker wrote, a second stamp changes
    nothing, and a PDB it cannot read leaves both files as they were."""
    stamp = [sys.executable, str(REPO / "cmake/repro_stamp.py")]
    d = work / "stamp"
    d.mkdir()
    dll, pdb = d / probe.name, d / probe_pdb.name
    shutil.copyfile(probe, dll)
    shutil.copyfile(probe_pdb, pdb)
    built = dll.read_bytes()
    again = subprocess.run([*stamp, str(dll), str(pdb)]).returncode
    check(again == 0 and dll.read_bytes() == built, "a second stamp leaves the image as it was")
    # What another folder's link differs in: the time stamps and the GUID.
    data = bytearray(built)
    pe, _, dirs, secs = symbols.repro_stamp.pe_layout(data)
    data[pe + 8:pe + 12] = b"\x11\x22\x33\x44"
    for e in symbols.repro_stamp.debug_entries(data, dirs, secs):
        data[e + 4:e + 8] = b"\x55\x66\x77\x08"
        if symbols.repro_stamp.u32(data, e + 12) == symbols.repro_stamp.DEBUG_TYPE_CODEVIEW:
            raw = symbols.repro_stamp.u32(data, e + 24)
            data[raw + 4:raw + 20] = bytes(range(16))
    dll.write_bytes(bytes(data))
    rc = subprocess.run([*stamp, str(dll), str(pdb)]).returncode
    check(rc == 0 and dll.read_bytes() == built, "another link's time stamps and GUID give the same image")
    check(symbols.pdb_identity(pdb.read_bytes()) == symbols.codeview(built)[:2], "... and the PDB follows it")
    pdb.write_bytes(b"not a PDB" * 10)
    dll.write_bytes(bytes(data))
    rc = subprocess.run([*stamp, str(dll), str(pdb)], capture_output=True).returncode
    check(rc == 1 and dll.read_bytes() == bytes(data), "an unreadable PDB fails the stamp and leaves the image")


def main():
    ap = argparse.ArgumentParser()
    for name in ("probe", "pdb", "host", "source", "emulator", "work"):
        ap.add_argument("--" + name, required=True)
    a = ap.parse_args()
    failures = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)
        return ok

    work = pathlib.Path(a.work)
    shutil.rmtree(work, ignore_errors=True)
    drop, syms, beside = work / "drop", work / "symbols", work / "beside"
    for d in (drop, syms, beside):
        d.mkdir(parents=True)
    dll = drop / pathlib.Path(a.probe).name
    shutil.copyfile(a.probe, dll)
    subprocess.run(["llvm-strip-14", str(dll)], check=True)
    pdb = syms / pathlib.Path(a.pdb).name
    shutil.copyfile(a.pdb, pdb)

    image = dll.read_bytes()
    stamp_checks(check, pathlib.Path(a.probe), pathlib.Path(a.pdb), work)
    cv = symbols.codeview(image)
    if check(cv is not None, "the stripped probe keeps its CodeView record"):
        guid, age, name = cv
        check(name == pdb.name, f"it names its PDB by bare file name ({name!r})")
        check((guid, age) == symbols.pdb_identity(pdb.read_bytes()), "its GUID and age are the PDB's")

    want_line = next(i for i, l in enumerate(pathlib.Path(a.source).read_text().splitlines(), 1) if MARK in l)
    dump = work / "crash.dmp"
    run = subprocess.run([*a.emulator.split("|"), a.host, "Z:" + str(dll), "Z:" + str(dump)],
                         capture_output=True, text=True, timeout=600)
    m = re.search(r"Faulting module (\S+), fault offset 0x([0-9a-fA-F]+)", run.stdout)
    if not check(run.returncode == 3 and m is not None and m.group(1).lower() == dll.name.lower(),
                 f"the probe faults and the host reports module and offset (status {run.returncode}, "
                 f"output {run.stdout.strip()!r} {run.stderr.strip()[-300:]!r})"):
        return 1
    offset = int(m.group(2), 16)

    out = subprocess.run([sys.executable, str(REPO / "tools/dist/pdb_symbolize.py"), str(pdb), f"{offset:x}"],
                         capture_output=True, text=True).stdout.split()
    check(len(out) == 3 and out[1] == FUNCTION, f"offset {offset:#x} from the PDB alone is {FUNCTION} ({out})")
    # Sources are named under /qx748, the clone's root in every build.
    check(len(out) == 3 and out[2] == f"/qx748/tests/dist/fault_probe.cpp:{want_line}",
          f"... at /qx748/tests/dist/fault_probe.cpp:{want_line} ({out[2:] if len(out) == 3 else out})")

    # A crash dump read on Linux: the exception address minus the probe's base.
    yaml = subprocess.run(["obj2yaml-14", str(dump)], capture_output=True, text=True,
                          errors="replace").stdout if dump.is_file() else ""
    address = re.search(r"Exception Address:\s+(0x[0-9A-Fa-f]+)", yaml)
    bases = {name.split("\\")[-1].lower(): int(base, 16) for base, name in re.findall(
        r"Base of Image:\s+(0x[0-9A-Fa-f]+)\n(?:.*\n){0,3}?\s*Module Name:\s+'([^']*)'", yaml)}
    machine = struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]
    if machine == 0xAA64 and "minidump FAILED (error 87)" in run.stdout:
        # Wine's dbghelp writes no minidump of an ARM64 process (invalid parameter).
        print("note  no minidump from arm64 Wine's dbghelp (error 87): the crash-dump path is checked on x64 and x86")
    else:
        check("minidump written" in run.stdout and address is not None and dll.name.lower() in bases and
            int(address.group(1), 16) - bases[dll.name.lower()] == offset,
            f"the minidump gives the same offset (exception address {address.group(1) if address else None}, "
            f"the probe's base {bases.get(dll.name.lower())})")

    # Linux, the way the support section says: image and PDB side by side.
    shutil.copyfile(dll, beside / dll.name)
    shutil.copyfile(pdb, beside / pdb.name)
    base = int(re.search(r"ImageBase: (0x[0-9A-Fa-f]+)", subprocess.run(
        ["llvm-readobj-14", "--file-headers", str(beside / dll.name)], capture_output=True, text=True).stdout).group(1), 16)
    sym = subprocess.run(["llvm-symbolizer-14", f"--obj={beside / dll.name}", hex(base + offset)],
                         capture_output=True, text=True, cwd=work).stdout.splitlines()
    check(len(sym) >= 2 and sym[0] == FUNCTION and sym[1].split(":")[-2] == str(want_line),
          f"llvm-symbolizer on the stripped DLL with its PDB beside it says the same ({sym[:2]})")
    print(f"symbolize: {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
