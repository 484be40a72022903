#!/usr/bin/env python3
"""The session limits hold under the common default of 1024 open files: the
program raises its soft limit to the hard one, so 1000 FTP clients are all
greeted, and it says on standard error when even the hard limit is too low,
with a number of files that covers every service busy at its limit. With
every service that busy (uploads, downloads that stall, connects that never
complete, mail half sent, logins half done) SIGTERM still ends the program,
its settings saved, within seconds.

The FTP service listens on port 21, which is not configurable, so the test
runs itself in a network namespace of its own (unshare), where that port is
private; without user namespaces it is skipped.

Usage: program_sessions_test.py <vantrel-server>"""

import errno
import ftplib
import json
import os
import re
import resource
import selectors
import signal
import socket
import subprocess
import sys
import time
import unittest

from program_harness import Program, Workspace, binaries_from_command_line, seed_settings, wait_for

PROGRAM = None  # set by main
SETTINGS = None
PORTS = {"ftp": 21, "http": 80, "smtp": 25, "pop3": 110}
BUSY = 1000
STOP_LIMIT_S = 5
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


class BusyStop(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-busy-")
        self.addCleanup(self.space.close)
        self.data = self.space.data_folder("data")
        self.root = self.space.data_folder("root")
        self.sockets = []
        self.addCleanup(lambda: [s.close() for s in self.sockets])

    def settings(self, *words):
        result = subprocess.run([SETTINGS, "--data-dir", self.data, *words], env=self.space.env,
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, " ".join(words) + ": " + result.stderr)
        return result.stdout

    def budget(self):
        """The number of files the program says it needs, from a start under
        a limit too low for it."""
        program = Program(PROGRAM, self.data, self.space.env, limit_open_files(64, 64))
        try:
            wait_for(lambda: TOO_FEW in program.stderr() or not program.running(), 20, "the warning")
            return int(re.search(r"connections \((\d+)\)", program.stderr()).group(1))
        finally:
            program.terminate()

    def connect(self, port):
        s = socket.create_connection(("127.0.0.1", port), timeout=20)
        self.sockets.append(s)
        return s

    def ftp_uploads(self, count):
        for i in range(count):
            ftp = ftplib.FTP()
            ftp.connect("127.0.0.1", PORTS["ftp"], timeout=20)
            ftp.login("ann", "pw")
            data = ftp.transfercmd("STOR up%d.bin" % i)
            data.sendall(b"u" * 4096)
            self.sockets += [ftp.sock, data]

    def ftp_connects_that_hang(self, count):
        """PORT to a listener whose queue is full: the server's connect waits."""
        full = socket.socket()
        full.bind(("127.0.0.1", 0))
        full.listen(0)
        self.sockets.append(full)
        for _ in range(4):  # fills the queue; further SYNs are dropped
            try:
                filler = socket.socket()
                filler.setblocking(False)
                filler.connect_ex(full.getsockname())
                self.sockets.append(filler)
            except OSError:
                pass
        port = full.getsockname()[1]
        for _ in range(count):
            s = self.connect(PORTS["ftp"])
            s.sendall(b"USER ann\r\nPASS pw\r\nPORT 127,0,0,1,%d,%d\r\nLIST\r\n" % (port >> 8, port & 255))

    def test_every_service_busy_stays_within_its_files_and_stops_in_seconds(self):
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        if hard != resource.RLIM_INFINITY and hard < 20000:
            self.skipTest("the hard limit of open files (%d) is too low for this load" % hard)
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        with open(os.path.join(self.root, "big.bin"), "wb") as f:
            f.truncate(64 * 1024 * 1024)
        self.settings("ftp-account", "add", "ann", "--password", "pw", "--folder", self.root,
                      "--rights", "file-read,file-write,folder-read")
        self.settings("http-site", "set", "--port", "80", "--default-folder", self.root)
        self.settings("mail-account", "add", "joe", "--address", "joe@example.com", "--password", "pw")
        self.settings("mail-routing", "set", "--local-domain", "example.com")
        for service in ("ftp", "http", "email"):
            self.settings("autostart", service, "on")
        budget = self.budget()

        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        for port in PORTS.values():
            wait_for(lambda: listening(port) or not program.running(), 20, "port %d" % port)

        self.ftp_uploads(BUSY - 100)
        self.ftp_connects_that_hang(100)
        for _ in range(BUSY):
            self.connect(PORTS["http"]).sendall(b"GET /big.bin HTTP/1.0\r\nHost: www.example\r\n\r\n")
            self.connect(PORTS["smtp"]).sendall(
                b"HELO client\r\nMAIL FROM:<a@client.example>\r\nRCPT TO:<joe@example.com>\r\n"
                b"DATA\r\nSubject: half sent\r\n\r\n" + b"x" * 1000 + b"\r\n")
            self.connect(PORTS["pop3"]).sendall(b"USER joe\r\n")

        seen = []

        def every_session():
            services = json.loads(self.settings("status", "--json"))["services"]
            seen[:] = [services[k]["connections"] for k in ("ftp", "http", "email")]
            return seen == [BUSY, BUSY, 2 * BUSY]
        try:
            wait_for(every_session, 120, "every session")
        except AssertionError:
            raise AssertionError("sessions of FTP, HTTP, email: %s" % seen)
        queue = os.path.join(self.data, "mailqueue")
        wait_for(lambda: len(os.listdir(queue)) == BUSY, 60, "the messages being received")
        used = len(os.listdir("/proc/%d/fd" % program.process.pid))
        self.assertLessEqual(used, budget)

        began = time.monotonic()
        program.process.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(), 0, program.stderr())
        self.assertLess(time.monotonic() - began, STOP_LIMIT_S)
        print("files in use %d of %d; stopped in %.2f s" % (used, budget, time.monotonic() - began),
              file=sys.stderr)


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
