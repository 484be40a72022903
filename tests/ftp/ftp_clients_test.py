"""Everyday clients against the server: curl in passive and active mode
and an lftp mirror round trip, with byte-exact content checks."""
import filecmp
import os
import shutil
import subprocess
import tempfile
import unittest

from ftp_harness import ServerCase, harness_path

harness_path()  # out of the command line before unittest reads it
TIMEOUT = 120


class Clients(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.local = tempfile.mkdtemp(prefix="vtftp-client-")
        cls.payload = os.path.join(cls.local, "payload.bin")
        with open(cls.payload, "wb") as f:
            f.write(os.urandom(4 * 1024 * 1024 + 17))
        shutil.copy(cls.payload, os.path.join(cls.root, "served.bin"))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.local, ignore_errors=True)

    def url(self, name):
        return "ftp://ann:pw@127.0.0.1:%d/%s" % (self.server.port, name)

    def curl(self, *args):
        subprocess.run(["curl", "--silent", "--show-error", "--fail", "--max-time", str(TIMEOUT)] + list(args),
                       check=True, timeout=TIMEOUT)

    def check_curl(self, mode_args, tag):
        downloaded = os.path.join(self.local, "down-" + tag)
        self.curl(*mode_args, "-o", downloaded, self.url("served.bin"))
        self.assertTrue(filecmp.cmp(downloaded, self.payload, shallow=False))
        self.curl(*mode_args, "-T", self.payload, self.url("up-" + tag))
        self.assertTrue(filecmp.cmp(os.path.join(self.root, "up-" + tag), self.payload, shallow=False))

    def test_curl_passive(self):
        self.check_curl(["--ftp-pasv"], "pasv")

    def test_curl_active(self):
        self.check_curl(["--ftp-port", "127.0.0.1"], "port")

    def test_lftp_mirror_round_trip(self):
        tree = os.path.join(self.local, "tree")
        os.makedirs(os.path.join(tree, "sub", "deeper"))
        for name, size in (("a.txt", 10), ("sub/b.bin", 300000), ("sub/deeper/c.bin", 1500000), ("empty", 0)):
            with open(os.path.join(tree, name), "wb") as f:
                f.write(os.urandom(size))
        back = os.path.join(self.local, "back")
        script = ("set ftp:passive-mode on; set net:max-retries 1; set net:timeout 30; "
                  "set ftp:use-feat off; set ftp:use-mdtm off; set ftp:use-size on; "
                  "mirror -R --no-perms %s /mirror; mirror --no-perms /mirror %s; "
                  "put %s -o /single.bin; bye" % (tree, back, self.payload))
        subprocess.run(["lftp", "-u", "ann,pw", "-p", str(self.server.port), "-e", script, "127.0.0.1"],
                       check=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
        comparison = filecmp.dircmp(tree, back)
        self.assertEqual(comparison.left_only + comparison.right_only, [])
        for name in ("a.txt", "sub/b.bin", "sub/deeper/c.bin", "empty"):
            self.assertTrue(filecmp.cmp(os.path.join(tree, name), os.path.join(back, name), shallow=False), name)
            self.assertTrue(filecmp.cmp(os.path.join(tree, name), os.path.join(self.root, "mirror", name),
                                        shallow=False), name)
        self.assertTrue(filecmp.cmp(self.payload, os.path.join(self.root, "single.bin"), shallow=False))


if __name__ == "__main__":
    unittest.main()
