#!/usr/bin/env python3
"""The set-up on a degraded package mirror, without one: stand-in apt-get,
dpkg, dpkg-query and debootstrap first on PATH answer as the real ones did
on a day the security suite's i386 index was stale.

    degraded_mirror.py ROOT [--with-test-run]

Prints one line a case, "degraded CASE: PASSED" or "degraded CASE: FAILED:
why". --with-test-run adds the cases that run scripts/test.sh on the win32
preset (built already) with the i386 root failing to be made and on the Linux aarch64
preset with the ARM64 group failing, and check their reason and count lines. Exits 1 when a case failed.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

# What the real apt-get printed that day.
UPDATE_FAIL = """\
Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""
HELD_BROKEN = """\
The following packages have unmet dependencies:
 g++-aarch64-linux-gnu : Depends: gcc-aarch64-linux-gnu (>= 4:12.2.0-3) but it is not going to be installed
E: Unable to correct problems, you have held broken packages.
"""
# debootstrap on a mirror that fails the i386 root's download.
DEBOOTSTRAP_FAIL = """\
I: Retrieving InRelease
I: Checking Release signature
I: Retrieving Packages
W: Couldn't download http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages.xz
E: Couldn't download packages: libc6 libwine wine32
"""

FAKE_APT = r"""#!/bin/sh
echo "apt-get $*" >> "$FAKE_DIR/calls"
case "$1" in
  update)
    if [ -n "$FAKE_UPDATE_FAIL" ]; then cat "$FAKE_DIR/update_fail"; exit 100; fi
    exit 0 ;;
  install)
    shift
    pkgs=""
    for a in "$@"; do case "$a" in -*) ;; *) pkgs="$pkgs $a" ;; esac; done
    for p in $pkgs; do
      for b in $FAKE_UNKNOWN; do [ "$p" = "$b" ] && { echo "E: Unable to locate package $p"; exit 100; }; done
      for b in $FAKE_BROKEN; do [ "$p" = "$b" ] && { cat "$FAKE_DIR/held_broken"; exit 100; }; done
    done
    case " $* " in *" -s "*) exit 0 ;; esac
    for p in $pkgs; do echo "$p" >> "$FAKE_DIR/db"; done
    exit 0 ;;
esac
exit 0
"""
FAKE_DPKG_QUERY = r"""#!/bin/sh
for p; do :; done
grep -qxF "$p" "$FAKE_DIR/db" 2>/dev/null || exit 1
printf 'install ok installed'
"""
FAKE_DEBOOTSTRAP = r"""#!/bin/sh
echo "debootstrap $*" >> "$FAKE_DIR/calls"
cat "$FAKE_DIR/debootstrap_fail"
exit 1
"""
FAKE_DPKG = r"""#!/bin/sh
case "$1" in
  --print-foreign-architectures) [ -f "$FAKE_DIR/i386" ] && echo i386; exit 0 ;;
  --add-architecture) touch "$FAKE_DIR/i386"; exit 0 ;;
esac
exit 0
"""

CORE = ["cmake", "ninja-build", "g++", "googletest", "libgtest-dev", "libbenchmark-dev", "python3",
        "g++-mingw-w64-x86-64-posix", "g++-mingw-w64-i686-posix", "binutils-mingw-w64-x86-64",
        "binutils-mingw-w64-i686", "wine64", "util-linux", "debootstrap", "clang", "libclang-rt-14-dev"]
ARM64 = ["llvm-14", "qemu-user-static", "g++-aarch64-linux-gnu"] + ([] if shutil.which("npm") else ["npm"])


class Fake:
    def __init__(self, root, installed, update_fail=False, broken=(), unknown=(), i386=False):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="qx-degraded-"))
        for name, text in (("apt-get", FAKE_APT), ("dpkg-query", FAKE_DPKG_QUERY), ("dpkg", FAKE_DPKG),
                           ("debootstrap", FAKE_DEBOOTSTRAP)):
            f = self.dir / name
            f.write_text(text)
            f.chmod(0o755)
        (self.dir / "update_fail").write_text(UPDATE_FAIL)
        (self.dir / "held_broken").write_text(HELD_BROKEN)
        (self.dir / "debootstrap_fail").write_text(DEBOOTSTRAP_FAIL)
        (self.dir / "db").write_text("".join(p + "\n" for p in installed))
        if i386:
            (self.dir / "i386").touch()
        self.state = self.dir / "state"
        self.env = dict(os.environ, PATH=f"{self.dir}:{os.environ['PATH']}", FAKE_DIR=str(self.dir),
                        FAKE_UPDATE_FAIL="1" if update_fail else "", FAKE_BROKEN=" ".join(broken),
                        FAKE_UNKNOWN=" ".join(unknown), QX_DEPS_STATE=str(self.state),
                        QX_APT_RETRY_PAUSE="0", QX_I386_ROOT=str(self.dir / "i386-root"),
                        QX_I386_RETRY_PAUSE="0")
        # What the calling test command learnt of the real mirror is not ours.
        for name in ("QX_APT_UPDATED", "QX_DEPS_UPDATED_FILE"):
            self.env.pop(name, None)
        self.root = root

    def deps(self, *args):
        r = subprocess.run([str(self.root / "scripts/deps.sh"), *args], env=self.env,
                           capture_output=True, text=True, timeout=120)
        return r.returncode, r.stdout + r.stderr

    def test_sh(self, presets):
        """The README's test command on PRESETS with these stand-ins, no
        fuzzing and no nested forced-probe runs."""
        env = dict(self.env, QX_PRESETS=presets, QX_FUZZ_SECONDS="skip", QX_SKIP_PATH="skip",
                   QX_TEST_LOGDIR=str(self.dir / "logs"))
        env.pop("QX_X86_PROBE", None)
        env.pop("QX_ARM64_PROBE", None)
        r = subprocess.run([str(self.root / "scripts/test.sh")], env=env, capture_output=True, text=True,
                           timeout=1800)
        return r.returncode, r.stdout + r.stderr

    def calls(self):
        p = self.dir / "calls"
        return p.read_text().splitlines() if p.exists() else []

    def foreign_problems(self):
        """The host must gain no foreign architecture, nor any package of one."""
        problems = []
        if (self.dir / "i386").exists():
            problems.append("the i386 architecture was added to the host")
        if any(":i386" in c for c in self.calls()):
            problems.append("an i386 package was asked for on the host")
        return problems

    def unavailable(self, group):
        p = self.state / f"{group}.unavailable"
        return p.read_text().strip() if p.exists() else None


def case_index_fails_all_install(root):
    f = Fake(root, CORE, update_fail=True)
    rc, out = f.deps("--group", "arm64", "clang", "libclang-rt-14-dev")
    updates = sum(1 for c in f.calls() if c == "apt-get update -q")
    problems = []
    if rc != 0:
        problems.append(f"exit {rc}")
    if updates != 3:
        problems.append(f"{updates} update tries, expected 3")
    if "going on with the indexes there are" not in out or "Mirror sync in progress?" not in out:
        problems.append("no line naming the failed index")
    if f.unavailable("arm64") is not None:
        problems.append("arm64 group marked unavailable though it installed")
    if "qemu-user-static" not in (f.dir / "db").read_text().split():
        problems.append("qemu-user-static not installed")
    return problems + f.foreign_problems()


def case_arm64_group_reason(root):
    f = Fake(root, [p for p in CORE if p != "wine64"], update_fail=True, broken=["g++-aarch64-linux-gnu"])
    rc, out = f.deps("--group", "arm64", "clang", "libclang-rt-14-dev")
    why = f.unavailable("arm64") or ""
    problems = []
    if rc != 0:
        problems.append(f"exit {rc}: {out[-300:]}")
    if "wine64" not in (f.dir / "db").read_text().split():
        problems.append("the 64-bit Wine package was not installed")
    if not re.match(r"^(\S+ )*g\+\+-aarch64-linux-gnu( \S+)* could not be installed: "
                    r"Unable to correct problems, you have held broken packages\.", why):
        problems.append(f"reason {why!r}")
    if "g++-aarch64-linux-gnu : Depends:" not in why or "Mirror sync in progress?" not in why or "[IP:" in why:
        problems.append(f"reason lacks apt's dependency or index line: {why!r}")
    if "\n" in why:
        problems.append("reason is more than one line")
    return problems


def case_core_missing(root):
    f = Fake(root, [p for p in CORE if p != "cmake"], update_fail=True, unknown=["cmake"])
    rc, out = f.deps("--group", "arm64", "clang")
    problems = []
    if rc == 0:
        problems.append("exit 0 with a needed package missing")
    m = re.search(r"^deps\.sh: FAILED: needed packages could not be installed: (.*) \(apt: (.*)\)$", out, re.M)
    if not m or m.group(1) != "cmake" or "Unable to locate package cmake" not in m.group(2):
        problems.append("no line naming cmake and apt's reason")
    if any("qemu-user-static" in c for c in f.calls()):
        problems.append("went on to the arm64 group after a needed package failed")
    return problems


def case_nothing_missing(root):
    f = Fake(root, CORE + ARM64, update_fail=True)
    rc, out = f.deps("--group", "arm64", "clang", "libclang-rt-14-dev")
    problems = []
    if rc != 0:
        problems.append(f"exit {rc}")
    if f.calls():
        problems.append("called apt-get with nothing to install: " + "; ".join(f.calls()))
    return problems


def count_line_problems(out, skipped, some_passed):
    """The test command's closing count: nothing failed, exactly `skipped`
    (never 0) skipped, and something passed where something ran."""
    t = re.search(r"^total: (\d+) passed, (\d+) failed, (\d+) skipped$", out, re.M)
    if not t:
        return ["no count line"]
    if int(t.group(2)) != 0 or int(t.group(3)) != skipped or skipped == 0 or (some_passed and int(t.group(1)) == 0):
        return [f"count line {t.group(0)!r}, expected {skipped} skipped"]
    return []


def case_test_run(root):
    """The README's test command on the win32 preset where the i386 root
    cannot be made, a half-made one (no completion mark) lying there: its
    reason line, its count line, the mirror retried, the half-made root
    not used, the host given no foreign architecture."""
    f = Fake(root, CORE + ARM64, update_fail=True)
    half = f.dir / "i386-root" / "usr/lib/wine"
    half.mkdir(parents=True)
    (half / "wine").write_text("#!/bin/sh\necho wine-8.0\n")
    (half / "wine").chmod(0o755)
    rc, out = f.test_sh("win32")
    problems = [f"exit {rc}"] if rc != 0 else []
    m = re.search(r"^==> \[win32\] x86 code does not run here: debootstrap failed: "
                  r"E: Couldn't download packages: libc6 libwine wine32 \(log: [^)]*\); (\d+) Wine tests not run, "
                  r"counted as skipped$", out, re.M)
    if not m:
        problems.append("no reason line giving debootstrap's reason")
    tries = sum(1 for c in f.calls() if c.startswith("debootstrap --foreign --arch=i386"))
    if tries != 3:
        problems.append(f"{tries} tries to make the root, expected 3")
    listed = subprocess.run(["ctest", "--preset", "win32", "-N", "-L", "wine"], cwd=root,
                            capture_output=True, text=True).stdout
    wine_tests = len(re.findall(r"^ *Test +#", listed, re.M))
    problems += count_line_problems(out, wine_tests, some_passed=True)
    if m and int(m.group(1)) != wine_tests:
        problems.append(f"reason line says {m.group(1)} tests, ctest lists {wine_tests}")
    return problems + f.foreign_problems()


def case_arm64_group_broken(root):
    """The ARM64 packages cannot be installed: the Linux aarch64 preset is
    not built, its tests counted as skipped with apt's reason."""
    f = Fake(root, CORE, update_fail=True, broken=["g++-aarch64-linux-gnu"])
    rc, out = f.test_sh("linux-arm64")
    problems = [f"exit {rc}"] if rc != 0 else []
    m = re.search(r"^==> \[linux-arm64\] not built here: .*g\+\+-aarch64-linux-gnu.* could not be installed: "
                  r"Unable to correct problems, you have held broken packages\..*; (\d+) tests not run, "
                  r"counted as skipped$", out, re.M)
    if not m:
        problems.append("no line giving apt's reason for the ARM64 group")
    if m:
        problems += count_line_problems(out, int(m.group(1)), some_passed=False)
    return problems


def main(argv):
    root = pathlib.Path(argv[1]).resolve()
    cases = [case_index_fails_all_install, case_arm64_group_reason, case_core_missing, case_nothing_missing]
    if "--with-test-run" in argv:
        cases += [case_test_run, case_arm64_group_broken]
    failed = 0
    for case in cases:
        name = case.__name__[len("case_"):]
        try:
            problems = case(root)
        except Exception as e:  # a case that cannot run has failed
            problems = [f"{type(e).__name__}: {e}"]
        if problems:
            failed += 1
            print(f"degraded {name}: FAILED: " + "; ".join(problems))
        else:
            print(f"degraded {name}: PASSED")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
