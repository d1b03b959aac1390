"""The scripts that run ARM64 and x86 Windows programs, on the paths a test
run takes without a root of their own: the probes' forced answers and
refusals, the root makers' one-line failures, wine-run's arguments and its
stop with no root, a half-made root refused.

  test_wine_scripts.py SCRIPTS_DIR
"""
import os
import subprocess
import sys
import tempfile

SCRIPTS = os.path.abspath(sys.argv[1])
failures = []


def run(argv, env_extra, timeout=120):
    env = dict(os.environ)
    for k in ("QX_ARM64_PROBE", "QX_ARM64_ROOT", "QX_DEBIAN_MIRROR", "QX_ARM64_ATTEMPTS",
              "QX_X86_PROBE", "QX_I386_ROOT", "QX_I386_ATTEMPTS", "QX_X86_EMULATE", "QX_IN_I386_ROOT"):
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
    fake_exe = os.path.join(tmp, "qx748.exe")
    open(fake_exe, "wb").close()
    missing_root = os.path.join(tmp, "no-root")
    unreachable = {"QX_DEBIAN_MIRROR": "http://127.0.0.1:9/debian"}

    for arch, probe_name, var, root_var, attempts_var, maker in (
            ("ARM64", "arm64-probe", "QX_ARM64_PROBE", "QX_ARM64_ROOT", "QX_ARM64_ATTEMPTS", "arm64-root"),
            ("x86", "x86-probe", "QX_X86_PROBE", "QX_I386_ROOT", "QX_I386_ATTEMPTS", "i386-root")):
        probe = os.path.join(SCRIPTS, probe_name)
        no_root = dict(unreachable, **{root_var: missing_root, attempts_var: "1"})
        # name, argv, environment, exit status, stdout must start with
        probe_cases = [
            ("probe forced yes", [probe, tmp, fake_exe], {var: "yes"}, 0, "yes\n"),
            ("probe forced no", [probe, tmp, fake_exe], {var: "no"}, 1, "the probe's answer was forced to no"),
            # A typo must not be taken as "ask the machine" or as yes.
            ("probe bad forced value", [probe, tmp, fake_exe], {var: "true"}, 1, f"{var} must be"),
            ("probe program not built", [probe, tmp, os.path.join(tmp, "none.exe")], {}, 1, "the probe program"),
            ("probe without arguments", [probe], {}, 1, "usage:"),
            # The root cannot be made (nothing listens there): the probe says
            # no with the root maker's reason, on one line.
            ("probe when the root cannot be made", [probe, tmp, fake_exe], no_root, 1, ""),
        ]
        for name, argv, env, want_rc, want_out in probe_cases:
            rc, out, err = run(argv, env)
            lines = out.splitlines()
            check(f"{arch} {name}", rc == want_rc and out.startswith(want_out) and len(lines) == 1,
                  f"exit {rc}, stdout {out!r}, stderr {err[-300:]!r}")
        # The reason names what failed, not just that something did.
        rc, out, err = run([probe, tmp, fake_exe], no_root)
        check(f"{arch} probe's reason is the root maker's",
              out.strip() != "" and not out.startswith((f"an {arch} program", f"{maker}:")),
              f"stdout {out!r}")
        check(f"{arch} failed root is not marked complete",
              not os.path.exists(os.path.join(missing_root, ".qx-complete")), "marker exists")
        rc, out, err = run([os.path.join(SCRIPTS, maker), "--check"], {root_var: missing_root})
        check(f"{arch} root --check on no root", rc == 1 and out == "" and len(err.splitlines()) == 1,
              f"exit {rc}, stdout {out!r}, stderr {err!r}")
        # Stopping where nothing was made neither fails nor makes a root.
        rc, out, err = run([os.path.join(SCRIPTS, "wine-run"), "--arch", {"ARM64": "arm64", "x86": "win32"}[arch],
                            "--prefix", os.path.join(tmp, "pfx"), "--stop"], {root_var: missing_root})
        check(f"{arch} wine-run stop with no root",
              rc == 0 and not os.path.exists(os.path.join(missing_root, "usr")), f"exit {rc}, stderr {err!r}")

    # A half-made i386 root (a creation cut short: files, no completion
    # mark) is never run from: the loader there only records that it ran.
    half = os.path.join(tmp, "half-root")
    os.makedirs(os.path.join(half, "usr/lib/wine"))
    half_ran = os.path.join(tmp, "half-ran")
    with open(os.path.join(half, "usr/lib/wine/wine"), "w") as f:
        f.write(f"#!/bin/sh\ntouch {half_ran}\n")
    os.chmod(os.path.join(half, "usr/lib/wine/wine"), 0o755)
    rc, out, err = run([os.path.join(SCRIPTS, "i386-root"), "--exec", "/usr/lib/wine/wine"], {"QX_I386_ROOT": half})
    check("half-made i386 root not run from", rc == 1 and "not made" in err and not os.path.exists(half_ran),
          f"exit {rc}, stderr {err!r}")

    root_tool = os.path.join(SCRIPTS, "arm64-root")
    wine_run = os.path.join(SCRIPTS, "wine-run")
    rc, out, err = run([wine_run, "--arch", "arm32", "x.exe"], {})
    check("wine-run unknown arch", rc == 2 and "arm64" in err, f"exit {rc}, stderr {err!r}")

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
