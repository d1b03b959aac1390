#!/usr/bin/env python3
"""Linker launcher that leaves the linker's map of every release link.

    CMAKE_CXX_LINKER_LAUNCHER="tools/dist/link_with_map.py;--maps;DIR[;--zig;ZIG]"

The link itself runs unchanged; DIR/<output name>.map then says which
object code went into the output (tools/dist/notices.py reads it). GCC and
clang drivers write it themselves (-Wl,-Map=, GNU ld and lld alike). Zig's
driver takes no map option, so its link runs with -v, which prints the
lld-link command it ran, and that command is run again into a scratch
folder with -lldmap: the same inputs through the same linker.

GNU ld's map names an archive member "archive(member)"; lld's names the
member alone, which would leave a library's code looking like ours. So
lld links also run verbose, and the members lld says it loaded ("Loaded
libstdc++.a(eh_alloc.o) for ...") are written into its map as GNU ld
writes them, with the archive's path as lld read it.
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


def loaded_members(verbose):
    """{member: archive path} from lld's verbose output, and that output's other lines."""
    read, loaded, rest = {}, [], []
    for line in verbose.splitlines():
        text = line.split(": ", 1)[1] if line.startswith(("ld.lld: ", "lld-link: ")) else line
        if text.startswith("Reading "):
            path = text[len("Reading "):].strip()
            read.setdefault(os.path.basename(path), path)
        elif text.startswith("Loaded ") and ") for " in text:
            # The symbol after "for" may itself hold " for " ("vtable for ...").
            what = text[len("Loaded "):].split(") for ", 1)[0] + ")"
            if what.endswith(")") and "(" in what:
                archive, member = what[:-1].split("(", 1)
                loaded.append((archive, member))
        elif text is line or "warning:" in text or "error:" in text:
            rest.append(line)  # the rest of what verbose adds is the linker's progress
    members = {}
    for archive, member in loaded:
        members.setdefault(member, read.get(os.path.basename(archive), archive))
    # Zig's archives name members by full path (unique: a folder per object), which
    # lld's map shows; their own listing says which archive each is in.
    for path in read.values():
        if path.lower().endswith((".a", ".lib")):
            for full in archive_listing(path):
                if os.path.isabs(full):
                    members.setdefault(full, path)
    return members, rest


_listings = {}


def archive_listing(path):
    if path not in _listings:
        run = subprocess.run(["llvm-ar-14", "t", path], capture_output=True, text=True)
        _listings[path] = run.stdout.splitlines() if run.returncode == 0 else []
    return _listings[path]


def name_archives(map_text, members):
    """lld's map with each loaded member written archive(member)."""
    out = []
    for line in map_text.splitlines(keepends=True):
        cols = line.split(None, 3)
        if len(cols) == 4 and ":(" in cols[3]:
            path, _, rest = cols[3].rpartition(":(")
            if path in members:
                at = line.index(cols[3], len(line) - len(line.lstrip()))
                line = line[:at] + f"{members[path]}({path}):({rest}"
        out.append(line)
    return "".join(out)


def relink_zig(zig, lld_line, map_path):
    args = lld_line.split()[1:]
    with tempfile.TemporaryDirectory(prefix="qx-linkmap-") as scratch:
        moved = []
        for a in args:
            for opt in ("-OUT:", "-PDB:", "-IMPLIB:"):
                if a.upper().startswith(opt):
                    a = opt + os.path.join(scratch, os.path.basename(a[len(opt):]))
                    break
            moved.append(a)
        run = subprocess.run([zig, "lld-link", *moved, "-verbose", "-lldmap:" + str(map_path)],
                             capture_output=True, text=True)
        if run.returncode != 0:
            sys.stderr.write(run.stdout + run.stderr)
            raise SystemExit(f"link_with_map: the map link failed ({run.returncode})")
    members, _ = loaded_members(run.stdout + run.stderr)
    map_path.write_text(name_archives(map_path.read_text(), members))


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
        if not any(a in ("-fuse-ld=lld", "-fuse-ld=lld-14") or a.startswith("-fuse-ld=lld") for a in argv):
            return subprocess.run([*argv, f"-Wl,-Map={map_path}"]).returncode
        run = subprocess.run([*argv, f"-Wl,-Map={map_path}", "-Wl,--verbose"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        members, rest = loaded_members(run.stderr)
        sys.stdout.write(run.stdout)
        sys.stderr.write("".join(l + "\n" for l in rest if not l.startswith("lld-link ")))
        if run.returncode == 0:
            map_path.write_text(name_archives(map_path.read_text(), members))
        return run.returncode
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
