"""Runs the ftp_test_server harness in a temporary folder for the protocol
tests, and a raw control-connection client for exact replies."""
import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import harness_support  # noqa: E402
from harness_support import (DEADLINE, LineClient, TempServer, read_logs, swapping,  # noqa: E402,F401
                             strace_attached, strace_total, wait_until)

ALL_RIGHTS = 63
FILE_READ, FILE_WRITE, FILE_MODIFY = 1, 2, 4
FOLDER_READ, FOLDER_CREATE, FOLDER_MODIFY = 8, 16, 32

WELCOME = "Welcome to Quorvell-Labs - Vantrel Server 2.33."
GREETING = "220 %s (Vantrel Server 2.33 by Quorvell-Labs)." % WELCOME


def harness_path():
    return harness_support.harness_path("ftp_test_server")


class Server(TempServer):
    """One harness process. accounts: (user, password, rights[, folder name]);
    options: more "--name=value" words for the harness."""

    def __init__(self, harness, accounts, welcome=None, idle_ms=None, options=()):
        super().__init__("vtftp-")
        self.roots = {}
        args = [harness, self.work, *options]
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
        self.start(args, dict(os.environ, TZ="UTC"), self._read_port)

    def _read_port(self):
        self.port = int(self.expect_line("PORT").split()[1])

    def root(self, user):
        return self.roots[user]

    def log_text(self):
        return read_logs(os.path.join(self.work, "logs"))

    def wait_for_log(self, text):
        wait_until(lambda: text in self.log_text(), "log line " + text)


class Raw(LineClient):
    """A control connection that returns replies exactly as sent."""

    def __init__(self, port, source="127.0.0.1"):
        super().__init__(port, source)
        self.greeting = self.reply()

    def reply(self):
        first = self.line()
        lines = [first]
        if len(first) > 3 and first[3] == "-":
            while not (lines[-1][:3] == first[:3] and lines[-1][3:4] == " "):
                lines.append(self.line())
        return "\r\n".join(lines)

    def send(self, text):
        self.send_line(text)

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
        """True once the server has closed the control connection; a reset
        is not a close."""
        return super().closed_by_server(reset_is_close=False)


def read_all(sock, reset_ends=False):
    """The bytes up to the end of the stream; with `reset_ends`, a reset
    (an aborted transfer) ends it as well."""
    data = []
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            if not reset_ends:
                raise
            chunk = b""
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
