#!/usr/bin/env python3
"""scripts/sign-drop signs with a PKCS#12 certificate, all files or none.

    test_sign.py SIGN-DROP SMALL.dll

A certificate authority and a code-signing certificate are made for the
test with openssl; signatures are verified by osslsigncode against that
authority alone.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SIGN = PE = None
PASSWORD = "Throwaway-pass 42"
EPOCH = "1765000000"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


class SignDrop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = pathlib.Path(tempfile.mkdtemp(prefix="qx-sign-keys-"))
        k = cls.keys
        (k / "leaf.cnf").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                    "extendedKeyUsage=codeSigning\n")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                "-days", "30", "-subj", "/CN=QX748 test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=k)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
                "-subj", "/CN=QX748 test vendor", cwd=k)
        openssl("x509", "-req", "-in", "leaf.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", "leaf.pem", "-days", "30", "-extfile", "leaf.cnf", cwd=k)
        openssl("pkcs12", "-export", "-in", "leaf.pem", "-inkey", "leaf.key", "-certfile", "ca.pem",
                "-out", "vendor.p12", "-passout", f"pass:{PASSWORD}", cwd=k)
        # Encrypted the older way (RC2), as certificate exports long did: OpenSSL 3 reads it only
        # with its legacy provider.
        openssl("pkcs12", "-export", "-legacy", "-in", "leaf.pem", "-inkey", "leaf.key", "-certfile", "ca.pem",
                "-out", "legacy.p12", "-passout", f"pass:{PASSWORD}", cwd=k)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="qx-sign-test-"))
        self.scratch = self.tmp / "scratch"
        self.scratch.mkdir()
        self.files = []
        for name in ("QX748SP.dll", "qx748.exe"):
            path = self.tmp / "drop" / name
            path.parent.mkdir(exist_ok=True)
            shutil.copy(PE, path)
            self.files.append(path)
        self.original = pathlib.Path(PE).read_bytes()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def sign(self, *files, **env):
        full = {k: v for k, v in os.environ.items() if not k.startswith("QX_SIGN_")}
        full.update({"QX_SIGN_PKCS12": str(self.keys / "vendor.p12"), "QX_SIGN_PASSWORD": PASSWORD,
                     "SOURCE_DATE_EPOCH": EPOCH, "TMPDIR": str(self.scratch)})
        full.update({k: v for k, v in env.items() if v is not None})
        for k, v in env.items():
            if v is None:
                full.pop(k, None)
        run = subprocess.run([SIGN, "sign", *map(str, files or self.files)], capture_output=True, text=True,
                             env=full, timeout=120)
        self.assertNotIn(PASSWORD, run.stdout + run.stderr, "the password was printed")
        self.assertEqual(list(self.scratch.iterdir()), [], "a staging folder was left behind")
        return run

    def verify(self, path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.keys / "ca.pem"), "-in", str(path)],
                              capture_output=True, text=True, timeout=60)

    def test_signs_every_file_verifiably_and_reproducibly(self):
        run = self.sign()
        self.assertEqual(run.returncode, 0, run.stderr)
        first = [f.read_bytes() for f in self.files]
        for f in self.files:
            v = self.verify(f)
            self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
            self.assertIn("Signature verification: ok", v.stdout)
        self.assertNotEqual(first[0], self.original)
        # Again from unsigned copies, the password from a file this time: the same bytes.
        (self.tmp / "pass.txt").write_text(PASSWORD + "\n")
        for f in self.files:
            shutil.copy(PE, f)
        run = self.sign(QX_SIGN_PASSWORD=None, QX_SIGN_PASSWORD_FILE=str(self.tmp / "pass.txt"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual([f.read_bytes() for f in self.files], first)
        # The same key and certificate in an RC2-encrypted file: the same signatures.
        for f in self.files:
            shutil.copy(PE, f)
        run = self.sign(QX_SIGN_PKCS12=str(self.keys / "legacy.p12"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual([f.read_bytes() for f in self.files], first)

    def test_bad_certificate_or_password_changes_nothing(self):
        garbage = self.tmp / "garbage.p12"
        garbage.write_bytes(b"not a certificate\n" * 20)
        cases = [({"QX_SIGN_PASSWORD": "wrong " + PASSWORD}, "password does not open"),
                 ({"QX_SIGN_PKCS12": str(garbage)}, "not a usable PKCS#12"),
                 ({"QX_SIGN_PKCS12": str(self.tmp / "missing.p12")}, "cannot read the certificate"),
                 ({"QX_SIGN_PASSWORD": None, "QX_SIGN_PASSWORD_FILE": str(self.tmp / "nope")},
                  "cannot read the password file")]
        for env, message in cases:
            with self.subTest(message=message):
                run = self.sign(**env)
                self.assertNotEqual(run.returncode, 0)
                self.assertIn(message, run.stderr)
                self.assertEqual([f.read_bytes() for f in self.files], [self.original] * 2)

    def test_one_unsignable_file_leaves_all_unsigned(self):
        # The first file signs, the last is no PE: the first must not stay signed alone.
        bad = self.tmp / "drop" / "broken.dll"
        bad.write_bytes(b"MZ" + b"\0" * 100)
        run = self.sign(*self.files, bad)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("no file was changed", run.stderr)
        self.assertEqual([f.read_bytes() for f in self.files], [self.original] * 2)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        sys.exit(2)
    SIGN, PE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
