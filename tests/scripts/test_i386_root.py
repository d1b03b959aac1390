"""The i386 root's runner on this machine: what it mounts stays in its own
namespace, and the qemu-i386 path (forced here, where the kernel runs
32-bit code) really emulates, leaves the host's binfmt table alone, and is
cut off by its time limit with one line and nothing left running.

  test_i386_root.py SCRIPTS_DIR PROGRAM.exe
"""
import os
import subprocess
import sys
import tempfile

SCRIPTS = os.path.abspath(sys.argv[1])
PROGRAM = sys.argv[2]
ROOT_TOOL = os.path.join(SCRIPTS, "i386-root")
failures = []


def run(argv, emulate, timeout=300):
    env = dict(os.environ, QX_X86_EMULATE="1" if emulate else "0", QX_X86_EMULATED_SECONDS="5")
    for k in ("QX_X86_PROBE", "QX_IN_I386_ROOT"):
        env.pop(k, None)
    p = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def check(name, cond, detail):
    print(("ok    " if cond else "FAIL  ") + name)
    if not cond:
        failures.append(name)
        print("      " + detail)


def host_state():
    with open("/proc/self/mountinfo") as f:
        mounts = f.read()
    return ("qx748-i386" in mounts, os.path.exists("/usr/lib/wine/wine"),
            os.path.exists("/proc/sys/fs/binfmt_misc/qemu-i386"))


before = host_state()
root = subprocess.run([ROOT_TOOL, "--check"], capture_output=True, text=True).stdout.strip()
sleep = os.path.join(root, "usr/bin/sleep")
# Which program the kernel started for an i386 one, seen from its parent.
who = f"/usr/lib/i386-linux-gnu/ld-linux.so.2 {sleep} 2 & p=$!; sleep 0.5; readlink /proc/$p/exe; wait; " \
      "/usr/lib/wine/wine --version"
for emulate, want in ((False, "/usr/lib/i386-linux-gnu/ld-linux.so.2"), (True, "/usr/bin/qemu-i386-static")):
    rc, out, err = run([ROOT_TOOL, "--exec", "sh", "-c", who], emulate)
    lines = out.splitlines()
    check(f"i386 program started by {os.path.basename(want)}",
          rc == 0 and len(lines) == 2 and os.path.realpath(lines[0]) == os.path.realpath(want)
          and lines[1].startswith("wine-"), f"exit {rc}, stdout {out!r}, stderr {err[-300:]!r}")
check("nothing of the namespace left on the host", host_state() == before,
      f"(overlay mounted, wine loader there, qemu-i386 registered) before {before}, after {host_state()}")

# Forced emulation with a limit no wineboot meets: the probe gives up in
# time, says so on one line, and nothing of the prefix runs afterwards.
with tempfile.TemporaryDirectory() as tmp:
    prefix = os.path.join(tmp, "pfx")
    rc, out, err = run([os.path.join(SCRIPTS, "x86-probe"), prefix, PROGRAM, "--version"], True, timeout=120)
    check("emulated probe cut off by its limit",
          rc == 1 and out.startswith("an x86 program under 32-bit Wine did not finish within 5 s under qemu-i386")
          and len(out.splitlines()) == 1, f"exit {rc}, stdout {out!r}")
    left = []
    for p in os.listdir("/proc"):
        try:
            with open(f"/proc/{p}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() in f.read().split(b"\0"):
                    left.append(p)
        except (OSError, ValueError):
            pass
    check("nothing of the cut-off prefix still runs", not left, f"processes {left}")

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
