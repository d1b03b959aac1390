#!/usr/bin/env python3
"""The device-mode layout table in docs/integration.md is what the code's
field table produces, and the generator's check notices a stale table.

    test_layout_doc.py GENERATOR DOC
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile


def check(generator, doc):
    run = subprocess.run([generator, "--check", str(doc)], capture_output=True, text=True, timeout=30)
    return run.returncode, run.stdout + run.stderr


def main():
    generator, doc = sys.argv[1], pathlib.Path(sys.argv[2])
    failures = 0

    def expect(ok, what, out):
        nonlocal failures
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures += 1
            print("      " + out.strip().replace("\n", "\n      "))

    rc, out = check(generator, doc)
    expect(rc == 0, f"{doc.name}: table matches the code", out)

    text = doc.read_text()
    table = subprocess.run([generator], capture_output=True, text=True, check=True).stdout
    rows = table.splitlines()[2:]
    expect(len(rows) >= 20 and "| 576 |" in rows[0], "generator prints one row per field, dwSize first",
           table)
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="qx-layout-doc-"))
    try:
        stale = tmp / "integration.md"
        # One changed cell, one row dropped, the markers gone: each must fail.
        variants = {
            "a changed range": text.replace("| -10..10 |", "| -10..11 |", 1),
            "a dropped row": text.replace(rows[-1] + "\n", "", 1),
            "no markers": text.replace("<!-- devmode-layout:begin", "<!-- layout", 1),
        }
        for what, variant in variants.items():
            if variant == text:
                expect(False, f"{what}: variant differs from the document", "the document lacks the text to change")
                continue
            stale.write_text(variant)
            rc, out = check(generator, stale)
            expect(rc == 1, f"{what}: rejected", out)
        # --update repairs a stale table and touches nothing else.
        stale.write_text(variants["a changed range"])
        subprocess.run([generator, "--update", str(stale)], capture_output=True, check=True)
        expect(stale.read_text() == text, "--update restores the document", stale.read_text()[:200])
    finally:
        shutil.rmtree(tmp)
    print(f"layout doc: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
