"""The ARM64 execution scripts on the paths a test run takes without
emulation: the probe's forced answers and its refusals, the root maker's
one-line failures, wine-run's arguments and its stop with no root.

  test_arm64_scripts.py SCRIPTS_DIR
"""
import os
import subprocess
import sys
import tempfile

SCRIPTS = sys.argv[1]
failures = []


def run(argv, env_extra, timeout=120):
    env = dict(os.environ)
    for k in ("QX_ARM64_PROBE", "QX_ARM64_ROOT", "QX_DEBIAN_MIRROR", "QX_ARM64_ATTEMPTS"):
        env.pop(k, None)
    env.update(env_extra)
    p = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def check(name, cond, detail):
    print(("ok    " if cond else "FAIL  ") + name)
    if not cond:
        failures.append(name)
        print("      " + detail)


with tempfile.TemporaryDirectory() as tmp:
    probe = os.path.join(SCRIPTS, "arm64-probe")
    fake_exe = os.path.join(tmp, "qx748.exe")
    open(fake_exe, "wb").close()
    missing_root = os.path.join(tmp, "no-root")

    # name, argv, environment, exit status, stdout must start with
    probe_cases = [
        ("probe forced yes", [probe, tmp, fake_exe], {"QX_ARM64_PROBE": "yes"}, 0, "yes\n"),
        ("probe forced no", [probe, tmp, fake_exe], {"QX_ARM64_PROBE": "no"}, 1, "the probe's answer was forced to no"),
        # A typo must not be taken as "ask the machine" or as yes.
        ("probe bad forced value", [probe, tmp, fake_exe], {"QX_ARM64_PROBE": "true"}, 1, "QX_ARM64_PROBE must be"),
        ("probe program not built", [probe, tmp, os.path.join(tmp, "none.exe")], {}, 1, "the probe program"),
        ("probe without arguments", [probe], {}, 1, "usage:"),
        # The root cannot be made (nothing listens there): the probe says
        # no with the root maker's reason, on one line.
        ("probe when the root cannot be made", [probe, tmp, fake_exe],
         {"QX_ARM64_ROOT": missing_root, "QX_DEBIAN_MIRROR": "http://127.0.0.1:9/debian",
          "QX_ARM64_ATTEMPTS": "1"}, 1, ""),
    ]
    for name, argv, env, want_rc, want_out in probe_cases:
        rc, out, err = run(argv, env)
        lines = out.splitlines()
        check(name, rc == want_rc and out.startswith(want_out) and len(lines) == 1,
              f"exit {rc}, stdout {out!r}, stderr {err[-300:]!r}")
    # The reason names what failed, not just that something did.
    rc, out, err = run([probe, tmp, fake_exe], {"QX_ARM64_ROOT": missing_root,
                       "QX_DEBIAN_MIRROR": "http://127.0.0.1:9/debian", "QX_ARM64_ATTEMPTS": "1"})
    check("probe's reason is the root maker's",
          out.strip() != "" and not out.startswith(("an ARM64 program", "arm64-root:")),
          f"stdout {out!r}")
    check("a failed root is not marked complete", not os.path.exists(os.path.join(missing_root, ".qx-complete")),
          "marker exists")

    root_tool = os.path.join(SCRIPTS, "arm64-root")
    rc, out, err = run([root_tool, "--check"], {"QX_ARM64_ROOT": missing_root})
    check("root --check on no root", rc == 1 and out == "" and len(err.splitlines()) == 1,
          f"exit {rc}, stdout {out!r}, stderr {err!r}")

    wine_run = os.path.join(SCRIPTS, "wine-run")
    rc, out, err = run([wine_run, "--arch", "arm32", "x.exe"], {})
    check("wine-run unknown arch", rc == 2 and "arm64" in err, f"exit {rc}, stderr {err!r}")
    # Stopping where nothing was made neither fails nor makes a root.
    rc, out, err = run([wine_run, "--arch", "arm64", "--prefix", os.path.join(tmp, "pfx"), "--stop"],
                       {"QX_ARM64_ROOT": missing_root})
    check("wine-run stop with no root", rc == 0 and not os.path.exists(os.path.join(missing_root, "usr")),
          f"exit {rc}, stderr {err!r}")

    # A made root (as far as the marker goes) whose loader only records that
    # it ran: a prefix, working folder or program that exists inside the
    # root too must be refused, not handed to the root's copy.
    import re
    text = open(root_tool).read()
    packages = re.search(r"^packages=(\S+)", text, re.M).group(1)
    suite = re.search(r'^suite="\$\{QX_ARM64_SUITE:-(\w+)\}"', text, re.M).group(1)
    fake = os.path.join(tmp, "fake-root")
    ran = os.path.join(tmp, "loader-ran")
    os.makedirs(os.path.join(fake, "usr/lib/wine"))
    os.makedirs(os.path.join(fake, "etc"))
    open(os.path.join(fake, "etc/hostname"), "w").close()
    with open(os.path.join(fake, ".qx-complete"), "w") as f:
        f.write(f"{suite} {packages}\n")
    loader = os.path.join(fake, "usr/lib/wine/wine64")
    with open(loader, "w") as f:
        f.write(f"#!/bin/sh\ntouch {ran}\n")
    os.chmod(loader, 0o755)
    shadow_cases = [
        ("program shadowed by the root", ["--prefix", os.path.join(tmp, "pfx"), "/etc/hostname"], tmp),
        ("prefix shadowed by the root", ["--prefix", "/etc", fake_exe], tmp),
        ("working folder shadowed by the root", ["--prefix", os.path.join(tmp, "pfx"), fake_exe], "/etc"),
    ]
    for name, args, cwd in shadow_cases:
        env = dict(os.environ, QX_ARM64_ROOT=fake)
        p = subprocess.run([wine_run, "--arch", "arm64"] + args, env=env, cwd=cwd,
                           capture_output=True, text=True, timeout=60)
        check(name, p.returncode == 2 and "shadowed" in p.stderr and not os.path.exists(ran),
              f"exit {p.returncode}, stderr {p.stderr!r}")

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
