"""Runs the email_test_server harness in a temporary folder for the SMTP
tests, and reads what it stored: mailbox index files, message files,
account files and the SMTP log. Raw is an SMTP connection that returns the
replies exactly as sent."""
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

DEADLINE = 20.0
GREETING = "220 Welcome, Quorvell-Labs Vantrel Server 2.33 ready and waiting."
SEND_DATA = "354 Please send the data and end with a <CRLF>.<CRLF>"
RECEIVED_LINE = re.compile(
    rb"Received: from (?P<helo>[^\r\n]*) \[(?P<ip>[0-9.]+)\] by (?P<by>[^\r\n]*) with Quorvell-Labs "
    rb"Vantrel Server 2\.33; [A-Z][a-z]{2}, \d{2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2}\r\n")

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
    sys.exit("usage: %s <email_test_server> [unittest options]" % sys.argv[0])


def wait_until(condition, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.01)
    raise AssertionError("timed out waiting for " + what)


def read_settings(path):
    """The records of a settings file: [(name, value bytes)]."""
    with open(path, "rb") as f:
        data = f.read()
    version, count = struct.unpack_from("<ii", data, 0)
    assert version == 3, path
    records, at = [], 8
    for _ in range(max(count, 0)):
        name = data[at:at + 300].split(b"\0", 1)[0].decode("latin-1")
        (length,) = struct.unpack_from("<i", data, at + 300)
        records.append((name, data[at + 304:at + 304 + length]))
        at += 304 + length
    assert at == len(data), "trailing bytes in " + path
    return records


class Server:
    """One harness process in its own working folder, with its own TMPDIR so
    that the sessions' message files can be watched. accounts: strings
    "user:password:address"; options: "--name=value" strings."""

    def __init__(self, accounts=("ann:pw:ann@example.org",), options=()):
        self.base = tempfile.mkdtemp(prefix="vtsmtp-")
        self.work = os.path.join(self.base, "work")
        self.temp = os.path.join(self.base, "tmp")
        os.mkdir(self.work)
        os.mkdir(self.temp)
        env = dict(os.environ, TMPDIR=self.temp)
        self.output = b""
        self.process = subprocess.Popen([harness_path(), self.work, *options, *accounts],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.smtp_port = int(self.expect_line("SMTP").split()[1])
        self.pop_port = int(self.expect_line("POP3").split()[1])

    def expect_line(self, prefix):
        end = time.monotonic() + DEADLINE
        while b"\n" not in self.output:
            ready, _, _ = select.select([self.process.stdout], [], [], max(0, end - time.monotonic()))
            chunk = os.read(self.process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                raise AssertionError("harness did not answer")
            self.output += chunk
        line, self.output = self.output.split(b"\n", 1)
        line = line.decode()
        if not line.startswith(prefix):
            raise AssertionError("harness said %r, expected %s" % (line, prefix))
        return line

    def steer(self, command, answer):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.expect_line(answer)

    def connections(self):
        return int(self.steer("count", "COUNT").split()[1])

    def wait_idle(self):
        """Every session has ended (and so finished its delivery)."""
        wait_until(lambda: self.connections() == 0, "all sessions to end")

    # --- what was stored ---
    def path(self, *names):
        return os.path.join(self.work, *names)

    def stem(self, user):
        return user.replace(".", " ")

    def index(self, user):
        """[(message file path as recorded, id)] of the user's mailbox."""
        path = self.path("email", self.stem(user) + ".dat")
        if not os.path.exists(path):
            return []
        return [(name, value.rstrip(b"\0").decode("latin-1")) for name, value in read_settings(path)]

    def messages(self, user):
        """The stored messages of the user, in delivery order."""
        stored = []
        for name, _ in self.index(user):
            with open(self.path(*name.split("\\")), "rb") as f:
                stored.append(f.read())
        return stored

    def count(self, user):
        for name, value in read_settings(self.path("email", self.stem(user) + "_s.dat")):
            if name == "count":
                return struct.unpack("<i", value)[0]
        return None

    def log_text(self):
        logs = self.path("logs")
        text = []
        for name in sorted(os.listdir(logs)):
            if name.startswith("smtplog_"):
                with open(os.path.join(logs, name), encoding="latin-1", newline="") as log:
                    text.append(log.read())
        return "".join(text)

    def log_lines(self):
        """The texts of the SMTP log's lines, without their dates."""
        return [line.split(" -> ", 1)[1] for line in self.log_text().split("\r\n") if " -> " in line]

    def wait_for_log(self, text):
        wait_until(lambda: any(text in line for line in self.log_lines()), "log line " + text)

    def temporary_files(self):
        return os.listdir(self.temp)

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
    """An SMTP connection that returns each reply line exactly as sent."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.buffer = b""
        self.greeting = self.line()

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError("connection closed; unread: %r" % self.buffer)
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1")

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def cmd(self, text):
        self.send(text + "\r\n" if isinstance(text, str) else text + b"\r\n")
        return self.line()

    def envelope(self, sender="bob@client.example", recipients=("ann@example.org",), helo="client.example"):
        assert self.cmd("HELO " + helo).startswith("250 "), "HELO"
        assert self.cmd("MAIL FROM:<%s>" % sender).startswith("250 "), "MAIL"
        for recipient in recipients:
            reply = self.cmd("RCPT TO:<%s>" % recipient)
            assert reply.startswith("250 "), reply

    def closed_by_server(self):
        """True once the server has closed the connection."""
        try:
            self.sock.settimeout(DEADLINE)
            while True:
                chunk = self.sock.recv(4096)
                if not chunk:
                    return True
                self.buffer += chunk
        except ConnectionResetError:
            # Closed with our bytes still unread on its side.
            return True
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()


class ServerCase(unittest.TestCase):
    """One server per test class; the class lists its accounts and options.
    A server that does not end cleanly fails the class."""
    ACCOUNTS = ("ann:pw:ann@example.org",)
    OPTIONS = ()

    @classmethod
    def setUpClass(cls):
        cls.server = Server(cls.ACCOUNTS, cls.OPTIONS)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self):
        client = Raw(self.server.smtp_port)
        self.addCleanup(client.close)
        return client

    def send_mail(self, data, recipients=("ann@example.org",), sender="bob@client.example"):
        """A whole dialogue on a raw connection; data are the bytes after
        DATA, end mark included. Returns once the session has ended."""
        client = self.connect()
        client.envelope(sender, recipients)
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send(data)
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
        self.assertTrue(client.closed_by_server())
        self.server.wait_idle()

    def body_of(self, stored):
        """A stored message without its "Received:" line."""
        match = RECEIVED_LINE.match(stored)
        self.assertIsNotNone(match, stored[:200])
        return stored[match.end():]
