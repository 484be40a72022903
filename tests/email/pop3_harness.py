"""Mailboxes written byte by byte before the email_test_server harness
starts, the harness itself in a temporary folder, and a raw POP3 client
that returns replies exactly as sent."""
import os
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
PRODUCT = "Vantrel Server 2.33"
MAKER = "Quorvell-Labs"

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


# --- the settings file format: version 3, record count, records of a
# 300-byte zero-padded name, a 4-byte length and the value ---

def record(name, value):
    raw = name.encode("latin-1")
    return raw + b"\0" * (300 - len(raw)) + struct.pack("<i", len(value)) + value


def settings_file(records):
    return struct.pack("<ii", 3, len(records)) + b"".join(record(n, v) for n, v in records)


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


class Server:
    """One harness process over a working folder seeded with the accounts."""

    def __init__(self, accounts, local_domain=None, idle_ms=None):
        self.base = tempfile.mkdtemp(prefix="vtpop3-")
        self.work = os.path.join(self.base, "work")
        os.mkdir(self.work)
        self.accounts = {a.user: a for a in accounts}
        seed(self.work, accounts, local_domain)
        args = [harness_path(), self.work]
        if idle_ms is not None:
            args.append("--idle-ms=%d" % idle_ms)
        env = dict(os.environ, TZ="UTC")
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.output = b""
        try:
            self.smtp_port, self.port = self.read_ports()
        except BaseException:
            self.process.kill()
            self.process.wait()
            self.process.stdin.close()
            self.process.stdout.close()
            shutil.rmtree(self.base, ignore_errors=True)
            raise

    def read_ports(self):
        smtp = int(self.expect_line("SMTP ").split()[1])
        return smtp, int(self.expect_line("POP3 ").split()[1])

    def steer(self, command, answer):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.expect_line(answer)

    def expect_line(self, prefix):
        end = time.monotonic() + DEADLINE
        descriptor = self.process.stdout.fileno()
        while b"\n" not in self.output:
            ready, _, _ = select.select([descriptor], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(descriptor, 4096) if ready else b""
            if not chunk:
                raise AssertionError("harness did not answer")
            self.output += chunk
        line, self.output = self.output.split(b"\n", 1)
        line = line.decode()
        if not line.startswith(prefix):
            raise AssertionError("harness said %r, expected %s" % (line, prefix))
        return line

    def path(self, relative):
        return os.path.join(self.work, relative.replace("\\", "/"))

    def file_bytes(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def index_bytes(self, user):
        return self.file_bytes("email\\%s.dat" % self.accounts[user].stem)

    def log_text(self):
        logs = os.path.join(self.work, "logs")
        text = []
        for name in sorted(os.listdir(logs)):
            if name.startswith("pop3log_"):
                with open(os.path.join(logs, name), encoding="latin-1") as log:
                    text.append(log.read())
        return "".join(text)

    def wait_for_log(self, text):
        wait_until(lambda: text in self.log_text(), "log line " + text)

    def stop(self, deadline=DEADLINE):
        """Stops the harness; a sanitizer report or a hang fails the test.
        Returns the seconds the harness took to end."""
        hung = False
        started = time.monotonic()
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(deadline)
            except subprocess.TimeoutExpired:
                hung = True
                self.process.kill()
                self.process.wait()
        took = time.monotonic() - started
        self.process.stdout.close()
        shutil.rmtree(self.base, ignore_errors=True)
        if hung or self.process.returncode != 0:
            raise AssertionError("harness ended badly (exit %s)" % self.process.returncode)
        return took


class Raw:
    """A POP3 connection that returns reply lines exactly as sent."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.buffer = b""
        self.greeting = self.line()

    def raw_line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def line(self):
        return self.raw_line().decode("latin-1")

    def read_exact(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_through(self, mark=b"\r\n.\r\n"):
        """Bytes up to and including the first end mark."""
        while mark not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        end = self.buffer.index(mark) + len(mark)
        data, self.buffer = self.buffer[:end], self.buffer[end:]
        return data

    def send(self, text):
        if isinstance(text, str):
            text = text.encode("latin-1")
        self.sock.sendall(text + b"\r\n")

    def cmd(self, text):
        self.send(text)
        return self.line()

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

    def closed_by_server(self):
        """True once the server has closed the connection (within the
        socket's time-out)."""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return True
                self.buffer += chunk
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()


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
