"""Runs the email_test_server harness in a temporary folder for the SMTP
tests, and reads what it stored: mailbox index files, message files,
account files and the SMTP log. Raw is an SMTP connection that returns the
replies exactly as sent."""
import os
import re
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import harness_support  # noqa: E402
from harness_support import (LineClient, TempServer, read_logs, read_settings,  # noqa: E402,F401
                             wait_until)

GREETING = "220 Welcome, Quorvell-Labs Vantrel Server 2.33 ready and waiting."
SEND_DATA = "354 Please send the data and end with a <CRLF>.<CRLF>"
RECEIVED_LINE = re.compile(
    rb"Received: from (?P<helo>[^\r\n]*) \[(?P<ip>[0-9.]+)\] by (?P<by>[^\r\n]*) with Quorvell-Labs "
    rb"Vantrel Server 2\.33; [A-Z][a-z]{2}, \d{2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2}\r\n")


def harness_path():
    return harness_support.harness_path("email_test_server")


class Server(TempServer):
    """One harness process in its own working folder, with its own TMPDIR so
    that the sessions' message files can be watched. accounts: strings
    "user:password:address"; options: "--name=value" strings. With
    launch=False the folders are made and launch() starts the process."""

    def __init__(self, accounts=("ann:pw:ann@example.org",), options=(), launch=True):
        super().__init__("vtsmtp-")
        self.temp = os.path.join(self.base, "tmp")
        os.mkdir(self.temp)
        self.options = list(options)
        if launch:
            self.launch(accounts)

    def launch(self, accounts=()):
        """Starts a harness process on the working folder. Without accounts
        it serves what the folder holds: after end() or end_by_signal() this
        is a restart of the program."""
        self.start([harness_path(), self.work, *self.options, *accounts], dict(os.environ, TMPDIR=self.temp),
                   self._read_ports)

    def _read_ports(self):
        self.smtp_port = int(self.expect_line("SMTP").split()[1])
        self.pop_port = int(self.expect_line("POP3").split()[1])
        if "--implicit-tls" in self.options:
            self.smtps_port = int(self.expect_line("SMTPS").split()[1])
            self.pop3s_port = int(self.expect_line("POP3S").split()[1])

    def connections(self):
        return int(self.steer("count", "COUNT").split()[1])

    def listed(self, user):
        """The number of messages the user's mailbox lists now."""
        return int(self.steer("mailbox " + user, "MAILBOX").split()[1])

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
        return read_logs(self.path("logs"), "smtplog_", newline="")

    def log_lines(self):
        """The texts of the SMTP log's lines, without their dates."""
        return [line.split(" -> ", 1)[1] for line in self.log_text().split("\r\n") if " -> " in line]

    def wait_for_log(self, text):
        wait_until(lambda: any(text in line for line in self.log_lines()), "log line " + text)

    def temporary_files(self):
        """What is left in the temporary folder and in the mail queue."""
        return os.listdir(self.temp) + self.queue_files()

    def queue_files(self):
        folder = self.path("mailqueue")
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class Raw(LineClient):
    """An SMTP connection that returns each reply line exactly as sent."""

    def __init__(self, port):
        super().__init__(port)
        self.greeting = self.line()

    def send(self, data):
        self.send_bytes(data)

    def envelope(self, sender="bob@client.example", recipients=("ann@example.org",), helo="client.example"):
        assert self.cmd("HELO " + helo).startswith("250 "), "HELO"
        assert self.cmd("MAIL FROM:<%s>" % sender).startswith("250 "), "MAIL"
        for recipient in recipients:
            reply = self.cmd("RCPT TO:<%s>" % recipient)
            assert reply.startswith("250 "), reply


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
