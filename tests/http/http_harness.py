"""Starts the stand-alone web server (http_test_server) in a working folder
and stops it again; shared by the real-client tests."""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

START_DEADLINE_S = 20


class HttpServer:
    def __init__(self, binary, workdir, *options):
        self.process = subprocess.Popen([binary, workdir, *options], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.port = self._read_port()
        self.base = f"http://127.0.0.1:{self.port}"

    def _read_port(self):
        deadline = time.monotonic() + START_DEADLINE_S
        line = b""
        while time.monotonic() < deadline and not line.endswith(b"\n"):
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                byte = os.read(self.process.stdout.fileno(), 1)
                if not byte:
                    break
                line += byte
        match = re.match(rb"PORT (\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError(f"server did not report its port: {line!r}")
        return int(match.group(1))

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()
        return self.process.returncode


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
