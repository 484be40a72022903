"""Starts the stand-alone web server (http_test_server) in a working folder
and stops it again; shared by the real-client tests."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from harness_support import HarnessProcess, strace_total, swapping  # noqa: E402,F401

START_DEADLINE_S = 20
STOP_DEADLINE_S = 30


class HttpServer(HarnessProcess):
    def __init__(self, binary, workdir, *options):
        super().__init__([binary, workdir, *options], stderr=subprocess.PIPE)
        try:
            self.port = int(self.expect_line("PORT ", START_DEADLINE_S).split()[1])
        except (AssertionError, IndexError, ValueError) as failure:
            self.stop()
            raise RuntimeError(f"server did not report its port: {failure}")
        self.base = f"http://127.0.0.1:{self.port}"

    def stop(self):
        return self.end(STOP_DEADLINE_S)[0]


def write_files(folder, files):
    """Writes {relative name: bytes} below `folder`, making folders on the way."""
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


class ServerCase(unittest.TestCase):
    """One server for the whole test class in a fresh working folder. A
    subclass fills the folder in prepare() and returns the server's options;
    a server that does not end cleanly fails the class."""
    PREFIX = "vt-http-"
    binary = None  # set by main()

    @classmethod
    def prepare(cls, work):
        return []

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix=cls.PREFIX)
        cls.server = HttpServer(ServerCase.binary, cls.work, *cls.prepare(cls.work))

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)
        if status != 0:
            raise AssertionError(f"server exited with {status}")


def main():
    """Takes the server binary from the command line and runs the tests."""
    ServerCase.binary = sys.argv.pop(1)
    unittest.main()
