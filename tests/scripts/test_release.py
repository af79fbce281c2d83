#!/usr/bin/env python3
"""Tests of scripts/release.sh: the same sources built in two folders give the
same image, and a signed release verifies against its CA and only against it.

Two release builds of the shipped program: minutes on a small machine."""

import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PORTAL = os.path.join(ROOT, "scripts", "portal.py")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def copy_sources(target):
    """The repository as a fresh checkout has it: no build trees, no history."""
    def skipped(folder, names):
        return {"build", ".git"} & set(names) if folder == ROOT else set()
    shutil.copytree(ROOT, target, ignore=skipped, symlinks=True)
    return target


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True)


def make_ca(folder, name):
    """A throwaway CA: <name>.pem and <name>.key."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
            "-out", name + ".pem", "-days", "2", "-subj", "/CN=%s" % name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    return os.path.join(folder, name + ".pem")


def make_code_signing_cert(folder, ca):
    """A code-signing certificate issued by `ca`, its key encrypted with a
    passphrase kept in a file, as an operator's key is."""
    with open(os.path.join(folder, "pass.txt"), "w") as f:
        f.write("correct horse\n")
    with open(os.path.join(folder, "code.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-aes-256-cbc",
            "-pass", "file:pass.txt", "-out", "code.key", cwd=folder)
    openssl("req", "-new", "-key", "code.key", "-passin", "file:pass.txt",
            "-subj", "/CN=Orvane release test", "-out", "code.csr", cwd=folder)
    openssl("x509", "-req", "-in", "code.csr", "-CA", ca, "-CAkey", ca[:-4] + ".key",
            "-CAcreateserial", "-days", "2", "-extfile", "code.ext", "-out", "code.pem", cwd=folder)
    return [os.path.join(folder, n) for n in ("code.pem", "code.key", "pass.txt")]


def publish_signed(folder, name, private_key, version):
    """A portal folder as scripts/portal.py publishes it, at `version`."""
    client = os.path.join(folder, name + "-client")
    os.makedirs(client)
    with open(os.path.join(client, "wow.exe"), "wb") as f:
        f.write(b"MZ release %d" % version)
    portal = os.path.join(folder, name)
    subprocess.run([sys.executable, PORTAL, "publish", client, portal, "--base-url",
                    "http://update.kaimor.com/files/", "--version", str(version),
                    "--sign", private_key], check=True, capture_output=True)
    return portal


def pe_timestamp(image):
    header = struct.unpack_from("<I", image, 0x3C)[0]
    return struct.unpack_from("<I", image, header + 8)[0]


def cache_value(build, name):
    for line in read_bytes(os.path.join(build, "CMakeCache.txt")).decode().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    return None


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        tmp = cls.tmp.name
        keys = os.path.join(tmp, "keys")
        subprocess.run([sys.executable, PORTAL, "keygen", keys], check=True, capture_output=True)
        cls.key = os.path.join(keys, "public.pem")
        # The portal players are served: its current list sets the minimum.
        cls.portal = publish_signed(tmp, "portal", os.path.join(keys, "private.pem"), 5)
        cls.older_portal = publish_signed(tmp, "older-portal", os.path.join(keys, "private.pem"), 2)
        other_keys = os.path.join(tmp, "other-keys")
        subprocess.run([sys.executable, PORTAL, "keygen", other_keys], check=True, capture_output=True)
        cls.foreign_portal = publish_signed(tmp, "foreign-portal",
                                            os.path.join(other_keys, "private.pem"), 9)
        pki = os.path.join(tmp, "pki")
        os.mkdir(pki)
        cls.ca = make_ca(pki, "ca")
        cls.other_ca = make_ca(pki, "other-ca")
        cls.cert, cls.cert_key, cls.pass_file = make_code_signing_cert(pki, cls.ca)

        # The same sources in two folders of different names and depths; the
        # first builds in its default build folder, the second in one outside.
        cls.first = copy_sources(os.path.join(tmp, "a", "orvane"))
        cls.second = copy_sources(os.path.join(tmp, "another", "deeper", "checkout"))
        cls.first_out = os.path.join(tmp, "out-signed")
        cls.second_out = os.path.join(tmp, "out-plain")
        cls.second_build = os.path.join(tmp, "elsewhere", "build")
        # Version 5 both ways, so the images can be compared: given (over an
        # older portal's 2), and read from the portal.
        cls.signed = cls.release(cls.first, "--out", cls.first_out, "--min-version", "5",
                                 "--portal", cls.older_portal, *cls.signing(cls.ca))
        cls.plain = cls.release(cls.second, "--out", cls.second_out,
                                "--build-dir", cls.second_build, "--portal", cls.portal)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def signing(cls, ca):
        return ["--cert", cls.cert, "--cert-key", cls.cert_key, "--pass-file", cls.pass_file,
                "--ca", ca]

    @classmethod
    def release(cls, source, *extra):
        return subprocess.run(["bash", os.path.join(source, "scripts", "release.sh"),
                               "--key", cls.key] + list(extra),
                              capture_output=True, text=True)

    def test_builds_succeed_and_say_where_everything_is(self):
        for result, out in ((self.signed, self.first_out), (self.plain, self.second_out)):
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn(os.path.join(out, "Orvane.exe"), result.stdout)
            self.assertIn(os.path.join(out, "Orvane.exe.sha256"), result.stdout)
        self.assertIn(os.path.join(self.second_build, "src", "Orvane.exe"), self.plain.stdout)

    def test_the_image_does_not_depend_on_the_folder(self):
        first = read_bytes(os.path.join(self.first, "build", "release-i686", "src", "Orvane.exe"))
        second = read_bytes(os.path.join(self.second_out, "Orvane.exe"))
        self.assertEqual(pe_timestamp(second), 0)
        for folder in (self.first, self.second, self.second_build, self.tmp.name):
            self.assertNotIn(folder.encode(), second)
        self.assertEqual(hashlib.sha256(first).hexdigest(), hashlib.sha256(second).hexdigest())
        self.assertEqual(first, second)

    def test_the_options_reach_the_build(self):
        image = read_bytes(os.path.join(self.second_out, "Orvane.exe"))
        machine = struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]
        self.assertEqual(machine, 0x14C)  # the shipped build is 32-bit x86
        self.assertIn(read_bytes(self.key), image)  # the FILELISTKEY resource
        first_build = os.path.join(self.first, "build", "release-i686")
        for build in (self.second_build, first_build):
            self.assertEqual(cache_value(build, "ORVANE_MIN_FILELIST_VERSION"), "5", build)
        self.assertIn("Minimum list version: 5 (the list %s serves now)" % self.portal,
                      self.plain.stdout)
        self.assertIn("Minimum list version: 5 (given with --min-version)", self.signed.stdout)

    def test_the_sha256_beside_the_exe_checks_out(self):
        for out in (self.first_out, self.second_out):
            checked = subprocess.run(["sha256sum", "-c", "Orvane.exe.sha256"], cwd=out,
                                     capture_output=True, text=True)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_the_signature_verifies_against_its_ca_only(self):
        signed = os.path.join(self.first_out, "Orvane.exe")
        verdicts = {}
        for ca in (self.ca, self.other_ca):
            verdicts[ca] = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", ca],
                                          capture_output=True, text=True).returncode
        self.assertEqual(verdicts[self.ca], 0)
        self.assertNotEqual(verdicts[self.other_ca], 0)
        unsigned = os.path.join(self.second_out, "Orvane.exe")
        self.assertNotEqual(subprocess.run(["osslsigncode", "verify", "-in", unsigned,
                                            "-CAfile", self.ca], capture_output=True).returncode, 0)

    def test_the_signed_exe_is_the_image_and_its_signature(self):
        # What players get is the reproducible image: signing appends the
        # signature and sets only the header fields that point to it.
        image = read_bytes(os.path.join(self.second_out, "Orvane.exe"))
        signed = read_bytes(os.path.join(self.first_out, "Orvane.exe"))
        optional_header = struct.unpack_from("<I", image, 0x3C)[0] + 24  # PE32
        checksum = range(optional_header + 64, optional_header + 68)
        security_directory = range(optional_header + 96 + 4 * 8, optional_header + 96 + 5 * 8)
        self.assertGreater(len(signed), len(image))
        differing = {i for i in range(len(image)) if image[i] != signed[i]}
        self.assertTrue(differing)
        self.assertLessEqual(differing, set(checksum) | set(security_directory))

    def test_a_signature_that_does_not_verify_writes_nothing(self):
        signed = os.path.join(self.first_out, "Orvane.exe")
        before = read_bytes(signed)
        result = self.release(self.first, "--out", self.first_out, "--min-version", "5",
                              *self.signing(self.other_ca))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("does not verify", result.stderr)
        self.assertEqual(read_bytes(signed), before)
        self.assertEqual(sorted(os.listdir(self.first_out)), ["Orvane.exe", "Orvane.exe.sha256"])

    def test_usage_errors_build_nothing(self):
        empty = os.path.join(self.tmp.name, "empty-portal")
        os.makedirs(empty, exist_ok=True)
        cases = [
            ([], 2, "--key is required"),
            (["--key", "/nonexistent/public.pem"], 2, "no such key file"),
            (["--key", self.key, "--min-version", "-1"], 2, "whole number"),
            (["--key", self.key, "--min-version", "5", "--cert", self.cert], 2, "together"),
            # The minimum comes from somewhere, never silently 0.
            (["--key", self.key], 2, "--portal DIR (the published portal) or --min-version N"),
            (["--key", self.key, "--portal", empty], 1, "nothing is published"),
            (["--key", self.key, "--portal", self.portal, "--list-name", "beta.json"], 1,
             "holds no beta.json"),
            # A portal signed with another key: a release with this one would refuse its lists.
            (["--key", self.key, "--portal", self.foreign_portal], 1, "does not verify"),
        ]
        for args, code, expected in cases:
            with self.subTest(args=args):
                result = subprocess.run(["bash", os.path.join(self.first, "scripts", "release.sh")]
                                        + args, capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(expected, result.stderr)
                if code == 1:
                    self.assertIn("pass --min-version N", result.stderr)
                self.assertNotIn("building", result.stdout)

if __name__ == "__main__":
    unittest.main()
