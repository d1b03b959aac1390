#!/usr/bin/env python3
"""Linker launcher that leaves the linker's map of every release link.

    CMAKE_CXX_LINKER_LAUNCHER="tools/dist/link_with_map.py;--maps;DIR[;--zig;ZIG]"

The link itself runs unchanged; DIR/<output name>.map then says which
object code went into the output (tools/dist/notices.py reads it). GCC and
clang drivers write it themselves (-Wl,-Map=, GNU ld and lld alike). Zig's
driver takes no map option, so its link runs with -v, which prints the
lld-link command it ran, and that command is run again into a scratch
folder with -lldmap: the same inputs through the same linker. Zig's
archives name their members by full path, so lld names the member alone;
the map is rewritten to name its archive as lld does for ordinary ones
("archive(member)"), from the archives' own member lists.
"""
import os
import pathlib
import shlex
import subprocess
import sys
import tempfile


def output_of(command):
    for i, arg in enumerate(command[:-1]):
        if arg == "-o":
            return command[i + 1]
    for arg in command:
        if arg.startswith("-o") and len(arg) > 2:
            return arg[2:]
    raise SystemExit(f"link_with_map: no -o in the link command: {shlex.join(command)}")


def archive_members(path):
    run = subprocess.run(["llvm-ar-14", "t", path], capture_output=True, text=True)
    return run.stdout.splitlines() if run.returncode == 0 else []


def name_archives(map_text, archives):
    """lld's map with each full-path member of one of `archives` written archive(member)."""
    owner = {}
    for archive in archives:
        for member in archive_members(archive):
            if os.path.isabs(member):
                owner.setdefault(member, archive)
    out = []
    for line in map_text.splitlines(keepends=True):
        # Input-section lines carry "path:(section)"; the path starts after the columns.
        stripped = line.lstrip()
        head = line[:len(line) - len(stripped)]
        cols = stripped.split(None, 3)
        if len(cols) == 4 and ":(" in cols[3]:
            path, _, rest = cols[3].rpartition(":(")
            if path in owner:
                at = line.index(cols[3], len(head))
                line = line[:at] + f"{owner[path]}({path}):({rest}"
        out.append(line)
    return "".join(out)


def relink_zig(zig, lld_line, map_path):
    args = lld_line.split()[1:]
    archives = [a for a in args if a.lower().endswith((".lib", ".a")) and os.path.isfile(a)]
    with tempfile.TemporaryDirectory(prefix="qx-linkmap-") as scratch:
        moved = []
        for a in args:
            for opt in ("-OUT:", "-PDB:", "-IMPLIB:"):
                if a.upper().startswith(opt):
                    a = opt + os.path.join(scratch, os.path.basename(a[len(opt):]))
                    break
            moved.append(a)
        run = subprocess.run([zig, "lld-link", *moved, "-lldmap:" + str(map_path)], capture_output=True, text=True)
        if run.returncode != 0:
            sys.stderr.write(run.stdout + run.stderr)
            raise SystemExit(f"link_with_map: the map link failed ({run.returncode})")
    map_path.write_text(name_archives(map_path.read_text(), archives))


def main(argv):
    maps = zig = None
    while argv and argv[0].startswith("--"):
        if argv[0] == "--maps":
            maps, argv = pathlib.Path(argv[1]), argv[2:]
        elif argv[0] == "--zig":
            zig, argv = argv[1], argv[2:]
        else:
            break
    if maps is None or not argv:
        print("usage: link_with_map.py --maps DIR [--zig ZIG] LINK COMMAND...", file=sys.stderr)
        return 2
    maps.mkdir(parents=True, exist_ok=True)
    map_path = maps.resolve() / (os.path.basename(output_of(argv)) + ".map")
    if zig is None:
        return subprocess.run([*argv, f"-Wl,-Map={map_path}"]).returncode
    run = subprocess.run([*argv, "-v"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lld = [l for l in run.stderr.splitlines() if l.startswith("lld-link ")]
    # What -v adds is the linker's command line and Zig's archive builds; the rest passes through.
    sys.stdout.write(run.stdout)
    sys.stderr.write("".join(l + "\n" for l in run.stderr.splitlines()
                             if not l.startswith(("lld-link ", "ar rcs "))))
    if run.returncode != 0:
        return run.returncode
    if len(lld) != 1:
        print(f"link_with_map: expected one lld-link line from zig -v, got {len(lld)}", file=sys.stderr)
        return 1
    relink_zig(zig, lld[0], map_path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
