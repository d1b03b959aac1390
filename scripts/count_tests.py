#!/usr/bin/env python3
"""Counts the test cases of a scripts/test.sh run from its logs.

    count_tests.py LOGDIR PRESET...

GoogleTest programs count their own cases (passed, failed, skipped); every
other ctest entry counts as one case. PRESET.skipped holds the number of
ctest entries a preset could not run on this machine: each counts as one
skipped case, never as passed. The fuzz log and the skip-path run add one
case each; the degraded-mirror log and the same-bytes table one for each
case they print, and the same-bytes-from-two-folders log one for each
toolchain it names. Prints one line a stage and the closing
"total: N passed, N failed, N skipped". Exits 0 when nothing failed, 3 when
something did; any other status means the logs could not be counted.
"""
import pathlib
import re
import sys

RESULT = re.compile(r"^\s*\d+/(\d+) Test\s+#(\d+): (\S+) \.+\s*(\*{0,3}[\w ]+?)\s+[\d.]+ sec", re.M)


def ctest_counts(text):
    """(passed, failed, skipped, entries) of one ctest -V log."""
    gp = sum(int(n) for n in re.findall(r"^\d+: \[  PASSED  \] (\d+) tests?\.", text, re.M))
    gf = sum(int(n) for n in re.findall(r"^\d+: \[  FAILED  \] (\d+) tests?, listed below", text, re.M))
    gs = sum(int(n) for n in re.findall(r"^\d+: \[  SKIPPED \] (\d+) tests?, listed below", text, re.M))
    gtest_ids = set(re.findall(r"^(\d+): \[==========\] Running", text, re.M))
    results = RESULT.findall(text)
    entries = int(results[0][0]) if results else 0
    other_p = other_f = crashed = 0
    for _, ident, _, outcome in results:
        ok = outcome.strip() == "Passed"
        if ident in gtest_ids:
            # A program that died before its summary still failed.
            crashed += 0 if ok else 1
        elif ok:
            other_p += 1
        else:
            other_f += 1
    failed = gf + other_f + (crashed if gf == 0 else 0)
    if len(results) < entries:
        failed += entries - len(results)  # entries that never reported
    return gp + other_p, failed, gs, entries


# The forced no-probe runs: log name, preset, the why-line they must print.
SKIP_PATHS = [
    ("skip-path", "win32", "==> [win32] x86 code does not run here: the probe's answer was forced to no"),
    ("skip-path-arm64", "winarm64", "==> [winarm64] ARM64 code does not run here: the probe's answer was forced to no"),
]


def skip_path(logdir, name, preset, why_line, real_entries):
    """One case: the forced no-probe run printed its reason, ran only the
    build checks, and counted every Wine test as skipped."""
    out = logdir / f"{name}.out"
    rc_file = logdir / f"{name}.rc"
    if not out.exists() or not rc_file.exists():
        return None
    text = out.read_text(errors="replace")
    problems = []
    if rc_file.read_text().strip() != "0":
        problems.append("exit status " + rc_file.read_text().strip())
    if why_line not in text:
        problems.append(f"no line saying why the {preset} tests did not run")
    inner = logdir / name
    skipped_file = inner / f"{preset}.skipped"
    skipped = int(skipped_file.read_text()) if skipped_file.exists() else 0
    m = re.search(r"^total: (\d+) passed, (\d+) failed, (\d+) skipped$", text, re.M)
    if not m:
        problems.append("no total line")
    else:
        if int(m.group(2)) != 0 or int(m.group(1)) == 0:
            problems.append("total line " + m.group(0))
        if skipped == 0 or int(m.group(3)) != skipped:
            problems.append(f"skipped {m.group(3)}, expected the {skipped} Wine tests")
    inner_log = inner / f"{preset}.ctest.log"
    ran = ctest_counts(inner_log.read_text(errors="replace"))[3] if inner_log.exists() else 0
    if real_entries and ran + skipped != real_entries:
        problems.append(f"{ran} run + {skipped} skipped != {real_entries} tests of the real run")
    return problems


def main(argv):
    logdir = pathlib.Path(argv[1])
    passed = failed = skipped = 0
    real_entries = {}
    for preset in argv[2:]:
        log = logdir / f"{preset}.ctest.log"
        if not log.exists():
            print(f"    [{preset}] no test log (its build failed)")
            failed += 1
            continue
        p, f, s, entries = ctest_counts(log.read_text(errors="replace"))
        skipped_file = logdir / f"{preset}.skipped"
        if skipped_file.exists():
            s += int(skipped_file.read_text())
        else:
            real_entries[preset] = entries
        print(f"    [{preset}] {p} passed, {f} failed, {s} skipped")
        passed, failed, skipped = passed + p, failed + f, skipped + s
    for name, preset, why_line in SKIP_PATHS:
        problems = skip_path(logdir, name, preset, why_line, real_entries.get(preset, 0))
        if problems is None:
            continue
        if problems:
            print(f"    [{name}] FAILED: " + "; ".join(problems))
            failed += 1
        else:
            print(f"    [{name}] 1 passed")
            passed += 1
    same = logdir / "same-bytes.log"
    if same.exists():
        m = re.search(r"^same bytes: (\d+) passed, (\d+) failed$", same.read_text(errors="replace"), re.M)
        sp, sf = (int(m.group(1)), int(m.group(2))) if m else (0, 1)
        print(f"    [same-bytes] {sp} passed, {sf} failed")
        passed, failed = passed + sp, failed + sf
    repro = logdir / "repro.log"
    if repro.exists():
        text = repro.read_text(errors="replace")
        rp = len(re.findall(r"^repro \S+: PASSED", text, re.M))
        rf = len(re.findall(r"^repro \S+: FAILED", text, re.M))
        rs = len(re.findall(r"^repro \S+: SKIPPED", text, re.M))
        if rp + rf + rs == 0:
            rf = 1  # the stage ran but reported no case (a missing tool)
        print(f"    [repro] {rp} passed, {rf} failed, {rs} skipped")
        passed, failed, skipped = passed + rp, failed + rf, skipped + rs
    degraded = logdir / "degraded.log"
    if degraded.exists():
        text = degraded.read_text(errors="replace")
        dp = len(re.findall(r"^degraded \S+: PASSED$", text, re.M))
        df = len(re.findall(r"^degraded \S+: FAILED", text, re.M))
        if dp + df == 0:
            df = 1  # the stage ran but reported no case
        print(f"    [degraded] {dp} passed, {df} failed")
        passed, failed = passed + dp, failed + df
    fuzz = logdir / "fuzz.log"
    if fuzz.exists():
        text = fuzz.read_text(errors="replace")
        fp = len(re.findall(r"^fuzz \S+: PASSED", text, re.M))
        ff = len(re.findall(r"^fuzz \S+: FAILED", text, re.M))
        print(f"    [fuzz] {fp} passed, {ff} failed")
        passed, failed = passed + fp, failed + ff
    print(f"total: {passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 else 3


if __name__ == "__main__":
    sys.exit(main(sys.argv))
