#!/usr/bin/env python3
"""The session limits hold under the common default of 1024 open files: the
program raises its soft limit to the hard one, so 1000 FTP clients are all
greeted, and it says on standard error when even the hard limit is too low.

The FTP service listens on port 21, which is not configurable, so the test
runs itself in a network namespace of its own (unshare), where that port is
private; without user namespaces it is skipped.

Usage: program_sessions_test.py <vantrel-server>"""

import errno
import os
import resource
import selectors
import socket
import sys
import time
import unittest

from program_harness import Program, Workspace, enter_private_network, seed_settings, wait_for

PROGRAM = None  # set by main
CLIENTS = 1000
FTP_PORT = 21
DEFAULT_SOFT_LIMIT = 1024
GREETING_DEADLINE_S = 60
TOO_FEW = "too few for every service's sessions"


def limit_open_files(soft, hard=None):
    def apply():
        current_hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, current_hard if hard is None else hard))
    return apply


def greet_all(count, deadline_s):
    """Opens `count` connections to the FTP port and returns how many got
    their "220 " greeting before the deadline."""
    selector = selectors.DefaultSelector()
    sockets, received, greeted = [], {}, 0
    try:
        for _ in range(count):
            s = socket.socket()
            s.setblocking(False)
            result = s.connect_ex(("127.0.0.1", FTP_PORT))
            if result not in (0, errno.EINPROGRESS):
                s.close()
                raise AssertionError("connect failed: %s" % os.strerror(result))
            sockets.append(s)
            received[s] = b""
            selector.register(s, selectors.EVENT_READ)
        end = time.monotonic() + deadline_s
        while greeted < count and time.monotonic() < end:
            for key, _ in selector.select(timeout=0.5):
                s = key.fileobj
                try:
                    chunk = s.recv(4096)
                except (ConnectionResetError, BlockingIOError):
                    chunk = b""
                received[s] += chunk
                if b"\r\n" in received[s] or not chunk:
                    selector.unregister(s)
                    if received[s].startswith(b"220 "):
                        greeted += 1
        return greeted
    finally:
        selector.close()
        for s in sockets:
            s.close()


class SessionLimits(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-sessions-")
        self.addCleanup(self.space.close)

    def start(self, data, preexec_fn):
        program = Program(PROGRAM, data, self.space.env, preexec_fn)
        self.addCleanup(program.kill)
        return program

    def test_a_thousand_ftp_clients_are_greeted_under_the_default_limit(self):
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        if hard != resource.RLIM_INFINITY and hard < 2 * CLIENTS + 200:
            self.skipTest("the hard limit of open files (%d) is too low for %d clients" % (hard, CLIENTS))
        # The clients' own sockets.
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        data = self.space.data_folder("data")
        seed_settings(data, ftp_autostart=1)
        program = self.start(data, limit_open_files(DEFAULT_SOFT_LIMIT))
        program.wait_loaded()

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", FTP_PORT)) == 0
        wait_for(lambda: listening() or not program.running(), 20, "the FTP port")
        self.assertTrue(program.running(), program.stderr())

        greeted = greet_all(CLIENTS, GREETING_DEADLINE_S)
        self.assertEqual(greeted, CLIENTS, program.stderr())
        self.assertEqual(program.terminate(), 0, program.stderr())
        self.assertNotIn(TOO_FEW, program.stderr())

    def test_a_hard_limit_too_low_for_every_session_is_reported(self):
        data = self.space.data_folder("data")
        program = self.start(data, limit_open_files(DEFAULT_SOFT_LIMIT, DEFAULT_SOFT_LIMIT))
        wait_for(lambda: TOO_FEW in program.stderr() or not program.running(), 20,
                 "the warning about open files")
        self.assertIn("at most 1024 files may be open", program.stderr())
        self.assertEqual(program.terminate(), 0, program.stderr())


def main():
    global PROGRAM
    enter_private_network(__file__)
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()


if __name__ == "__main__":
    main()
