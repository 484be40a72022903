"""cmake --install of the built tree into a scratch prefix: every file in
its place and valid, the service naming the installed program.
    install_test.py BUILD_DIR"""

import os
import subprocess
import sys
import tempfile
import unittest

from install_checks import InstalledTree, run

BUILD = None


class InstallTest(unittest.TestCase):
    def test_install_into_a_scratch_prefix(self):
        with tempfile.TemporaryDirectory(prefix="vt-install-") as scratch:
            prefix = os.path.join(scratch, "usr")
            result = run(["cmake", "--install", BUILD, "--prefix", prefix])
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            InstalledTree(self, prefix, os.path.join(prefix, "bin", "vantrel-server")).check_all()


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
