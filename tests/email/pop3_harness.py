"""Mailboxes written byte by byte before the email_test_server harness
starts, the harness itself in a temporary folder, and a raw POP3 client
that returns replies exactly as sent."""
import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import harness_support  # noqa: E402
from harness_support import (DEADLINE, LineClient, TempServer, read_logs, settings_file,  # noqa: E402,F401
                             wait_until)

PRODUCT = "Vantrel Server 2.33"
MAKER = "Quorvell-Labs"


def harness_path():
    return harness_support.harness_path("email_test_server")


def text_value(text, width=None):
    """A text with its terminating zero; account texts are 101 bytes long,
    the rest filler."""
    value = text.encode("latin-1") + b"\0"
    if width is not None:
        value += b"\0" * (width - len(value))
    return value


def int_value(number):
    return struct.pack("<i", number)


def message(head, body_lines=(), final=b".\r\n"):
    """A stored message: head lines, an empty line, body lines, the "." line."""
    lines = [h.encode("latin-1") if isinstance(h, str) else h for h in head]
    body = [b.encode("latin-1") if isinstance(b, str) else b for b in body_lines]
    return b"".join(line + b"\r\n" for line in lines + [b""] + body) + final


class Account:
    """One mail account with its stored messages: (bytes, id) pairs, or
    None for a message number whose file is missing."""

    def __init__(self, user, password, address=None, messages=(), extra_count=0):
        self.user = user
        self.password = password
        self.address = address or user + "@example.org"
        self.messages = list(messages)
        self.count = len(self.messages) + extra_count

    @property
    def stem(self):
        return self.user.replace(".", " ")

    def message_name(self, number):
        return "email\\%d@%s_e.dat" % (number, self.stem)

    def index_records(self, numbers=None):
        numbers = range(len(self.messages)) if numbers is None else numbers
        return [(self.message_name(n), text_value(self.messages[n][1])) for n in numbers]


def seed(work, accounts, local_domain=None):
    os.makedirs(os.path.join(work, "email"), exist_ok=True)
    os.makedirs(os.path.join(work, "logs"), exist_ok=True)
    with open(os.path.join(work, "emailaccounts.dat"), "wb") as f:
        f.write(settings_file([(a.user, b"\0") for a in accounts]))
    if local_domain is not None:
        with open(os.path.join(work, "emailmapper.dat"), "wb") as f:
            f.write(settings_file([("relayhost", text_value("")), ("relaysubnet", text_value("")),
                                   ("localhost", text_value(local_domain)), ("catchalluser", text_value(""))]))
    for account in accounts:
        folder = os.path.join(work, "email")
        with open(os.path.join(folder, account.stem + "_s.dat"), "wb") as f:
            f.write(settings_file([("count", int_value(account.count)),
                                   ("address", text_value(account.address, 101)),
                                   ("password", text_value(account.password, 101))]))
        with open(os.path.join(folder, account.stem + ".dat"), "wb") as f:
            f.write(settings_file(account.index_records()))
        for number, (content, _) in enumerate(account.messages):
            if content is not None:
                with open(os.path.join(work, account.message_name(number).replace("\\", "/")), "wb") as f:
                    f.write(content)


class Server(TempServer):
    """One harness process over a working folder seeded with the accounts;
    options: more "--name=value" words for the harness."""

    def __init__(self, accounts, local_domain=None, idle_ms=None, options=()):
        super().__init__("vtpop3-")
        self.accounts = {a.user: a for a in accounts}
        seed(self.work, accounts, local_domain)
        args = [harness_path(), self.work, *options]
        if idle_ms is not None:
            args.append("--idle-ms=%d" % idle_ms)
        self.start(args, dict(os.environ, TZ="UTC"), self._read_ports)

    def _read_ports(self):
        self.smtp_port = int(self.expect_line("SMTP ").split()[1])
        self.port = int(self.expect_line("POP3 ").split()[1])

    def path(self, relative):
        return os.path.join(self.work, relative.replace("\\", "/"))

    def file_bytes(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def index_bytes(self, user):
        return self.file_bytes("email\\%s.dat" % self.accounts[user].stem)

    def wait_for_files(self, user, index, gone=()):
        """Waits until the account's index holds exactly `index` and the
        files `gone` are removed: the hand-back releases the mailbox first
        and writes its files after."""
        def written():
            return (self.index_bytes(user) == index
                    and not any(os.path.exists(self.path(name)) for name in gone))
        wait_until(written, "the mailbox files of " + user)

    def log_text(self):
        return read_logs(os.path.join(self.work, "logs"), "pop3log_")

    def wait_for_log(self, text):
        wait_until(lambda: text in self.log_text(), "log line " + text)


class Raw(LineClient):
    """A POP3 connection that returns reply lines exactly as sent."""

    def __init__(self, port, source="127.0.0.1"):
        super().__init__(port, source)
        self.greeting = self.line()

    def send(self, text):
        self.send_line(text)

    def listing(self, text):
        """A command with a multi-line answer: first line, then the lines
        before the "." line."""
        first = self.cmd(text)
        lines = []
        if first.startswith("+OK"):
            while True:
                line = self.line()
                if line == ".":
                    break
                lines.append(line)
        return first, lines

    def login(self, user, password):
        assert self.cmd("USER " + user) == "+OK Please send PASS now"
        reply = self.cmd("PASS " + password)
        assert reply.startswith("+OK Welcome "), reply
        return reply


class ServerCase(unittest.TestCase):
    """A fresh server per test, over the accounts that accounts() gives."""

    local_domain = None
    idle_ms = None

    def accounts(self):
        raise NotImplementedError

    def setUp(self):
        self.server = Server(self.accounts(), self.local_domain, self.idle_ms)
        self.addCleanup(self.server.stop)

    def connect(self):
        client = Raw(self.server.port)
        self.addCleanup(client.close)
        return client

    def logged_in(self, user, password):
        client = self.connect()
        client.login(user, password)
        return client

    def login_when_free(self, user, password):
        """Logs in once the mailbox's lock is released (a hand-back ends
        after the client has seen its QUIT reply or gone away)."""
        end = time.monotonic() + DEADLINE
        while True:
            client = self.connect()
            client.cmd("USER " + user)
            reply = client.cmd("PASS " + password)
            if reply.startswith("+OK Welcome"):
                return client
            client.close()
            if reply != "-ERR Mail box is busy, please try later." or time.monotonic() > end:
                raise AssertionError("login failed: " + reply)
            time.sleep(0.02)
