"""Runs the ftp_test_server harness in a temporary folder for the protocol
tests, and a raw control-connection client for exact replies."""
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ALL_RIGHTS = 63
FILE_READ, FILE_WRITE, FILE_MODIFY = 1, 2, 4
FOLDER_READ, FOLDER_CREATE, FOLDER_MODIFY = 8, 16, 32

WELCOME = "Welcome to Quorvell-Labs - Vantrel Server 2.33."
GREETING = "220 %s (Vantrel Server 2.33 by Quorvell-Labs)." % WELCOME
DEADLINE = 20.0


_harness = None


def harness_path():
    """Takes the harness executable out of the command line (unittest's own
    options may come before or after it); later calls return the same."""
    global _harness
    if _harness is not None:
        return _harness
    for index, arg in enumerate(sys.argv[1:], start=1):
        if os.path.isfile(arg) and os.access(arg, os.X_OK):
            _harness = sys.argv.pop(index)
            return _harness
    sys.exit("usage: %s <ftp_test_server> [unittest options]" % sys.argv[0])


def wait_until(condition, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.01)
    raise AssertionError("timed out waiting for " + what)


class Server:
    """One harness process. accounts: (user, password, rights[, folder name])."""

    def __init__(self, harness, accounts, welcome=None, idle_ms=None):
        self.base = tempfile.mkdtemp(prefix="vtftp-")
        self.work = os.path.join(self.base, "work")
        os.mkdir(self.work)
        self.roots = {}
        args = [harness, self.work]
        if welcome is not None:
            args.append("--welcome=" + welcome)
        if idle_ms is not None:
            args.append("--idle-ms=%d" % idle_ms)
        for account in accounts:
            user, password, rights = account[:3]
            name = account[3] if len(account) > 3 else user
            root = os.path.join(self.base, name)
            os.makedirs(root, exist_ok=True)
            self.roots[user] = root
            args.append("%s:%s:%d:%s" % (user, password, rights, root))
        env = dict(os.environ, TZ="UTC")
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.port = int(self.expect_line("PORT").split()[1])

    def expect_line(self, prefix):
        ready, _, _ = select.select([self.process.stdout], [], [], DEADLINE)
        if not ready:
            raise AssertionError("harness did not answer")
        line = self.process.stdout.readline().decode()
        if not line.startswith(prefix):
            raise AssertionError("harness said %r, expected %s" % (line, prefix))
        return line

    def steer(self, command, answer):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.expect_line(answer)

    def root(self, user):
        return self.roots[user]

    def log_text(self):
        logs = os.path.join(self.work, "logs")
        text = []
        for name in sorted(os.listdir(logs)):
            with open(os.path.join(logs, name), encoding="latin-1") as log:
                text.append(log.read())
        return "".join(text)

    def wait_for_log(self, text):
        wait_until(lambda: text in self.log_text(), "log line " + text)

    def stop(self):
        """Stops the harness; a sanitizer report or a hang fails the test."""
        hung = False
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(DEADLINE)
            except subprocess.TimeoutExpired:
                hung = True
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        shutil.rmtree(self.base, ignore_errors=True)
        if hung or self.process.returncode != 0:
            raise AssertionError("harness ended badly (exit %s)" % self.process.returncode)


class Raw:
    """A control connection that returns replies exactly as sent."""

    def __init__(self, port, source="127.0.0.1"):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE,
                                             source_address=(source, 0))
        self.buffer = b""
        self.greeting = self.reply()

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError("control connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1")

    def reply(self):
        first = self.line()
        lines = [first]
        if len(first) > 3 and first[3] == "-":
            while not (lines[-1][:3] == first[:3] and lines[-1][3:4] == " "):
                lines.append(self.line())
        return "\r\n".join(lines)

    def send(self, text):
        if isinstance(text, str):
            text = text.encode("latin-1")
        self.sock.sendall(text + b"\r\n")

    def cmd(self, text):
        self.send(text)
        return self.reply()

    def login(self, user, password):
        self.cmd("USER " + user)
        reply = self.cmd("PASS " + password)
        assert reply.startswith("230"), reply
        return reply

    def pasv(self):
        reply = self.cmd("PASV")
        assert reply.startswith("227 Entering Passive Mode ("), reply
        numbers = [int(n) for n in reply[reply.index("(") + 1:reply.index(")")].split(",")]
        return socket.create_connection(("127.0.0.1", numbers[4] * 256 + numbers[5]), timeout=DEADLINE)

    def closed_by_server(self):
        """True once the server has closed the control connection."""
        try:
            while True:
                chunk = self.sock.recv(4096)
                if not chunk:
                    return True
                self.buffer += chunk
        except (ConnectionResetError, socket.timeout):
            return False

    def close(self):
        self.sock.close()


def read_all(sock):
    data = []
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return b"".join(data)
        data.append(chunk)


def connect(test, port, source="127.0.0.1"):
    """A Raw connection that is closed when `test` ends."""
    client = Raw(port, source)
    test.addCleanup(client.close)
    return client


def logged_in(test, port, user="ann", password="pw", source="127.0.0.1"):
    """A Raw connection, logged in, closed when `test` ends."""
    client = connect(test, port, source)
    client.login(user, password)
    return client


class ServerCase(unittest.TestCase):
    """Tests that share one harness. ACCOUNTS as for Server; `root` is the
    folder of the first account."""
    ACCOUNTS = [("ann", "pw", ALL_RIGHTS)]

    @classmethod
    def setUpClass(cls):
        cls.server = Server(harness_path(), cls.ACCOUNTS)
        cls.root = cls.server.root(cls.ACCOUNTS[0][0])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self, source="127.0.0.1"):
        return connect(self, self.server.port, source)

    def session(self, user="ann", password="pw", source="127.0.0.1"):
        return logged_in(self, self.server.port, user, password, source)
