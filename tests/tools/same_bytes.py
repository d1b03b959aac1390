#!/usr/bin/env python3
"""The same qx748 cases through several builds, compared byte for byte.

    same_bytes.py NAME=COMMAND [NAME=COMMAND ...]

COMMAND is a shell command prefix that starts one build of qx748 (the Linux
program, or a qx748.exe under scripts/wine-run). Every case runs in a fresh
folder per build; its exit status, standard output, standard error and every
file it writes must be equal for all builds. The cases cover what golden
files are made from: corrections at the settings' extremes and every radius
class on odd sizes, bottom-up and top-down, in bands on several threads, the
preview's cut-out, device-mode blocks, and the errors. Prints one line a
case and a closing count; exits 1 on any difference.
"""
import random
import shlex
import struct
import subprocess
import sys
import tempfile
from pathlib import Path


def bmp(width, height, seed, top_down=False):
    rng = random.Random(seed)
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for _ in range(height):
        row = bytes(rng.randrange(256) for _ in range(width * 3))
        pixels += row + bytes(stride - len(row))
    h = -height if top_down else height
    info = struct.pack("<IiiHHIIiiII", 40, width, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 54)
    return head + info + bytes(pixels)


INPUTS = {
    "odd.bmp": bmp(37, 23, 1),
    "top.bmp": bmp(41, 17, 2, top_down=True),
    "wide.bmp": bmp(257, 201, 3),
    "big.bmp": bmp(401, 389, 5),
    "tiny.bmp": bmp(2, 2, 4),
    "junk.bmp": b"BM" + bytes(range(200)),
}

SETS = {
    "default": [],
    "extremes-low": ["brightness=-10", "contrast=-10", "saturation=-10", "cyanRed=-10",
                     "magentaGreen=-10", "yellowBlue=-10"],
    "extremes-high": ["brightness=10", "contrast=10", "saturation=10", "cyanRed=10",
                      "magentaGreen=10", "yellowBlue=10", "sharpness=7"],
    "radius-small": ["unsharpMask=1", "unsharpRadius=1", "unsharpAmount=5", "unsharpThreshold=3"],
    "radius-mid": ["unsharpMask=1", "unsharpRadius=9", "unsharpAmount=8", "unsharpThreshold=0", "sharpness=3"],
    "radius-max": ["unsharpMask=1", "unsharpRadius=30", "unsharpAmount=12", "unsharpThreshold=20"],
    "worst": ["unsharpMask=1", "unsharpRadius=29", "unsharpAmount=12", "unsharpThreshold=0", "sharpness=7"],
}


def set_words(name):
    return " ".join("--set " + s for s in SETS[name])


def cases():
    yield "version", "--version", []
    yield "help", "--help", []
    for picture in ("odd.bmp", "top.bmp", "wide.bmp", "tiny.bmp"):
        for s in SETS:
            yield f"correct/{picture}/{s}", f"correct {set_words(s)} {picture} out.bmp", ["out.bmp"]
    yield "correct/wide.bmp/worst/3-threads", f"correct --threads 3 {set_words('worst')} wide.bmp out.bmp", ["out.bmp"]
    yield "preview/builtin/worst", f"preview {set_words('worst')} out.bmp", ["out.bmp"]
    yield "preview/wide/mid", f"preview {set_words('radius-mid')} --picture wide.bmp out.bmp", ["out.bmp"]
    yield "preview/junk", "preview --picture junk.bmp out.bmp", ["out.bmp"]
    # Above 96 DPI: the built-in photograph at its 288 and 384 sizes, and a
    # larger picture's centre at those sides.
    for side in (288, 384):
        yield f"preview/builtin/{side}/worst", f"preview --side {side} {set_words('worst')} out.bmp", ["out.bmp"]
        yield f"preview/big/{side}/mid", f"preview --side {side} {set_words('radius-mid')} --picture big.bmp out.bmp", ["out.bmp"]
    yield "preview/bad-side", "preview --side 0 out.bmp", ["out.bmp"]
    yield "correct/junk", "correct junk.bmp out.bmp", ["out.bmp"]
    yield "correct/missing", "correct missing.bmp out.bmp", ["out.bmp"]
    yield "correct/bad-set", "correct --set brightness=11 odd.bmp out.bmp", ["out.bmp"]
    yield "devmode/default+show", "devmode default dm.bin && {qx} devmode show dm.bin", ["dm.bin"]
    yield "devmode/json", "devmode default dm.bin && {qx} devmode show dm.bin --json", ["dm.bin"]
    yield "devmode/convert-junk", "devmode default dm.bin && {qx} devmode convert junk.bmp dm.bin", ["dm.bin"]
    yield "devmode/merge-short", "devmode default dm.bin && {qx} devmode merge tiny.bmp dm.bin", ["dm.bin"]
    yield "unknown", "frobnicate", []


def run(command, words, folder):
    for name, data in INPUTS.items():
        (folder / name).write_bytes(data)
    line = command + " " + words.replace("{qx}", command)
    p = subprocess.run(line, shell=True, cwd=folder, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return p.returncode, p.stdout, p.stderr


def main(argv):
    builds = []
    for arg in argv[1:]:
        name, _, command = arg.partition("=")
        if not command:
            sys.exit(f"same_bytes.py: expected NAME=COMMAND, got {arg!r}")
        first = shlex.split(command)[0]
        if "/" in first and not Path(first).exists():
            sys.exit(f"same_bytes.py: {name}: {first} does not exist (build it first)")
        builds.append((name, command))
    if len(builds) < 2:
        sys.exit("same_bytes.py: give at least two builds")
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="qx748-same-") as tmp:
        # A first start may create a Wine prefix and say so on stderr.
        for name, command in builds:
            run(command, "--version", Path(tmp))
        for case, words, outputs in cases():
            results = []
            for name, command in builds:
                folder = Path(tmp) / case.replace("/", "_") / name
                folder.mkdir(parents=True)
                rc, out, err = run(command, words, folder)
                files = {o: (folder / o).read_bytes() if (folder / o).exists() else None for o in outputs}
                results.append((name, (rc, out, err, files)))
            first_name, first = results[0]
            differ = [n for n, r in results[1:] if r != first]
            if differ:
                failed += 1
                print(f"case {case}: DIFFERS ({first_name} vs {', '.join(differ)})")
                for n, r in results:
                    print(f"    {n}: exit {r[0]}, stdout {len(r[1])} bytes, stderr {r[2][:120]!r}, files "
                          + ", ".join(f"{k}={len(v) if v is not None else 'missing'}" for k, v in r[3].items()))
            else:
                passed += 1
                sizes = ", ".join(f"{k} {len(v)} bytes" for k, v in first[3].items() if v is not None)
                print(f"case {case}: same (exit {first[0]}{', ' + sizes if sizes else ''})")
    print(f"same bytes: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
