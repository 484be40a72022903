#!/usr/bin/env python3
"""The control socket of the running program under the faults an operator
meets: commands at the same time, a client that sends garbage or stalls, a
server killed without a chance to clean up, another local user, and a fake
socket planted by one. None of them may hang a command, lie about the
server, or touch the settings.

Usage: program_control_test.py <vantrel-server> <vantrel-settings>"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from program_harness import Program, Workspace, binaries_from_command_line, wait_for

PROGRAM = None  # set by main
SETTINGS = None
DEADLINE_S = 20
SOCKET_NAME = "QUORVELL_LABS_VANTREL_SERVER.control"
NOBODY = ["setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups"]


class ControlSocketFaults(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-control-")
        self.addCleanup(self.space.close)
        self.data = self.space.data_folder("data")
        self.socket = os.path.join(self.space.tmpdir, SOCKET_NAME)

    def settings(self, *words, expect=0, env=None, prefix=()):
        result = subprocess.run([*prefix, SETTINGS, "--data-dir", self.data, *words],
                                env=env or self.space.env, cwd=self.space.top, capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(result.returncode, expect, " ".join(words) + ": " + result.stderr)
        return result

    def start(self):
        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        wait_for(lambda: os.path.exists(self.socket) or not program.running(), DEADLINE_S, "the socket")
        self.assertTrue(program.running(), program.stderr())
        return program

    def raw(self, payload):
        """Sends bytes to the socket as they are; returns the reply."""
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(DEADLINE_S)
            s.connect(self.socket)
            s.sendall(payload)
            s.shutdown(socket.SHUT_WR)
            return b"".join(iter(lambda: s.recv(4096), b""))

    def files(self):
        found = {}
        for name in sorted(os.listdir(self.data)):
            if name.endswith(".dat"):
                with open(os.path.join(self.data, name), "rb") as f:
                    found[name] = f.read()
        return found

    def test_faults_neither_hang_nor_lie_nor_change_settings(self):
        # Stopped: status says so with the status convention's code.
        self.assertEqual(self.settings("status", expect=3).stdout, "Vantrel Server 2.33 is not running.\n")
        self.assertEqual(self.settings("status", "--json", expect=3).stdout, '{"running":false}\n')
        self.settings("service", "ftp", "start", expect=1)

        program = self.start()
        self.assertEqual(os.stat(self.socket).st_mode & 0o777, 0o600)

        # Commands at the same time run one after the other, none lost.
        users = ["user%d" % i for i in range(8)]
        with ThreadPoolExecutor(len(users)) as pool:
            list(pool.map(lambda u: self.settings("mail-account", "add", u, "--address", u + "@example.com",
                                                  "--password", "pw"), users))
        listed = self.settings("mail-account", "list").stdout
        self.assertEqual(sorted(line.split("\t")[0] for line in listed.splitlines()), users)

        # Garbage is answered with an error; a client that stalls is dropped
        # within the time limit and holds up the next command only that long.
        before = self.files()
        self.assertTrue(self.raw(b"\xff" * 100).startswith(b"2 "))
        self.assertTrue(self.raw(b"x\0" * 40000).startswith(b"2 "))
        staller = socket.socket(socket.AF_UNIX)
        staller.connect(self.socket)
        begun = time.monotonic()
        self.settings("status")
        staller.settimeout(DEADLINE_S)
        self.assertEqual(staller.recv(4096)[:2], b"2 ")
        staller.close()
        self.assertLess(time.monotonic() - begun, 10)
        self.assertEqual(self.files(), before)

        if os.geteuid() == 0 and shutil.which("setpriv"):
            self.other_users_are_kept_out()

        # A killed server leaves its socket: no hang, the truth, the files.
        program.process.send_signal(signal.SIGKILL)
        program.process.wait(DEADLINE_S)
        self.assertTrue(os.path.exists(self.socket))
        begun = time.monotonic()
        self.assertEqual(self.settings("status", expect=3).stdout, "Vantrel Server 2.33 is not running.\n")
        self.assertEqual(self.settings("mail-account", "list").stdout, listed)
        self.assertLess(time.monotonic() - begun, 5)

    def other_users_are_kept_out(self):
        for folder in (self.space.top, self.space.tmpdir, self.data):
            os.chmod(folder, 0o755)
        # The socket's mode keeps another user out ...
        refused = self.settings("status", expect=1, prefix=NOBODY)
        self.assertIn("cannot be used", refused.stderr)
        # ... and so does the server, were the mode opened.
        os.chmod(self.socket, 0o666)
        self.assertIn("only the server's own user and root", self.settings("status", expect=1, prefix=NOBODY).stderr)
        os.chmod(self.socket, 0o600)

        # A socket another user planted in a shared folder is never used.
        shared = os.path.join(self.space.top, "shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        planted = subprocess.Popen(
            NOBODY + [sys.executable, "-c",
                      "import socket,sys\n"
                      "s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(); print(flush=True)\n"
                      "s.settimeout(%d)\n"
                      "try: c,_=s.accept(); sys.stdout.write(repr(c.recv(100)))\n"
                      "except OSError: pass\n" % DEADLINE_S,
                      os.path.join(shared, SOCKET_NAME)], stdout=subprocess.PIPE, text=True)
        self.assertEqual(planted.stdout.readline(), "\n")
        env = dict(self.space.env, TMPDIR=shared)
        self.assertIn("not safe to use", self.settings("status", expect=1, env=env).stderr)
        planted.kill()
        self.assertEqual(planted.communicate(timeout=DEADLINE_S)[0], "")


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__, private_network=False)
    unittest.main()


if __name__ == "__main__":
    main()
