#!/usr/bin/env python3
"""Names the function and source line at an offset of an image, from its PDB alone.

    tools/dist/pdb_symbolize.py PDB OFFSET...

OFFSET is what the platform's event log reports as the fault offset: the
fault address minus the module's base (an RVA), in hex. For each offset
prints "OFFSET function file:line" ("OFFSET ?? ??:0" when the PDB has no
function there). Reads the PDB through LLVM's llvm-pdbutil (Debian's
llvm-14); no image is needed, so a crash report and the symbols kept
beside the drop are enough.
"""
import re
import subprocess
import sys

PDBUTIL = "llvm-pdbutil-14"


def pdbutil(pdb, *what):
    run = subprocess.run([PDBUTIL, "dump", *what, pdb], capture_output=True, text=True, errors="replace")
    if run.returncode != 0:
        raise SystemExit(f"pdb_symbolize: {PDBUTIL} failed on {pdb}: {run.stderr.strip()}")
    return run.stdout


def sections(pdb):
    """Section number -> (rva, virtual size)."""
    out, number, rva = {}, None, None
    for line in pdbutil(pdb, "--section-headers").splitlines():
        m = re.match(r"\s*SECTION HEADER #(\d+)", line)
        if m:
            number, rva = int(m.group(1)), None
            continue
        m = re.match(r"\s*([0-9A-Fa-f]+) virtual (address|size)", line)
        if m and number is not None:
            if m.group(2) == "size":
                size = int(m.group(1), 16)
            else:
                rva = int(m.group(1), 16)
                out[number] = (rva, size)
    return out


def procedures(pdb):
    """[(section, offset, length, name)] of every function record (offsets are decimal)."""
    out, name = [], None
    for line in pdbutil(pdb, "--symbols").splitlines():
        m = re.search(r"\| S_[GL]PROC32(?:_ID)? \[size = \d+\] `(.*)`", line)
        if m:
            name = m.group(1)
            continue
        m = re.search(r"addr = (\d{4}):(\d+), code size = (\d+)", line)
        if m and name is not None:
            out.append((int(m.group(1)), int(m.group(2)), int(m.group(3)), name))
            name = None
    return out


def line_blocks(pdb):
    """[(file, section, start, end, [(offset, line)])] from the line tables (hex offsets)."""
    out, current_file, block = [], None, None
    for line in pdbutil(pdb, "-l").splitlines():
        m = re.match(r"(\S.*) \((?:MD5|SHA1|SHA256|no checksum)[^)]*\)\s*$", line)
        if m:
            current_file = m.group(1)
            continue
        m = re.match(r"\s+([0-9A-Fa-f]{4}):([0-9A-Fa-f]+)-([0-9A-Fa-f]+), line/addr entries", line)
        if m and current_file:
            block = (current_file, int(m.group(1), 16), int(m.group(2), 16), int(m.group(3), 16), [])
            out.append(block)
            continue
        if block is not None:
            for num, off in re.findall(r"(\d+) ([0-9A-Fa-f]{8})", line):
                block[4].append((int(off, 16), int(num)))
    return out


def symbolize(pdb, rvas):
    secs = sections(pdb)
    procs = procedures(pdb)
    blocks = line_blocks(pdb)
    results = []
    for rva in rvas:
        where = next(((n, rva - base) for n, (base, size) in secs.items() if base <= rva < base + max(size, 1)), None)
        name, place = "??", "??:0"
        if where:
            sec, off = where
            hits = [p for p in procs if p[0] == sec and p[1] <= off < p[1] + p[2]]
            if hits:
                name = min(hits, key=lambda p: p[2])[3]
            for file, bsec, start, end, entries in blocks:
                if bsec == sec and start <= off <= end:
                    before = [e for e in entries if e[0] <= off]
                    if before:
                        place = f"{file}:{max(before)[1]}"
                    break
        results.append((rva, name, place))
    return results


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    try:
        rvas = [int(a, 16) for a in argv[2:]]
    except ValueError:
        print("pdb_symbolize: offsets are hexadecimal numbers", file=sys.stderr)
        return 2
    for rva, name, place in symbolize(argv[1], rvas):
        print(f"0x{rva:08x} {name} {place}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
