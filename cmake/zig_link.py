#!/usr/bin/env python3
"""Links through `zig cc`/`zig c++` and writes the linker's map beside it.

    cmake/zig_link.py ZIG LANG TARGET ARG... -Wl,-qx-map=MAP ...

Zig 0.11's driver refuses the linker's map switch, so the link runs once as
Zig runs it, verbosely, and lld-link's command from that run is run again
through `zig lld-link` with -lldmap added: the same inputs, the same image,
and the map. Any failure fails the link.
"""
import shlex
import subprocess
import sys

MAP_ARG = "-Wl,-qx-map="


def main(argv):
    zig, lang, target, args = argv[1], argv[2], argv[3], argv[4:]
    maps = [a[len(MAP_ARG):] for a in args if a.startswith(MAP_ARG)]
    args = [a for a in args if not a.startswith(MAP_ARG)]
    run = subprocess.run([zig, lang, "-target", target, *args, "-v"],
                         stderr=subprocess.PIPE, text=True)
    links = [l for l in run.stderr.splitlines() if l.startswith("lld-link ")]
    rest = "\n".join(l for l in run.stderr.splitlines() if not l.startswith("lld-link "))
    if rest:
        print(rest, file=sys.stderr)
    if run.returncode != 0:
        return run.returncode
    if not maps:
        return 0
    if len(links) != 1:
        print(f"zig_link: expected one lld-link command from zig, got {len(links)}", file=sys.stderr)
        return 1
    cmd = shlex.split(links[0])[1:]
    return subprocess.run([zig, "lld-link", *cmd, f"-lldmap:{maps[-1]}"]).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
