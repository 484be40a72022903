"""Runs the email_test_server harness in a temporary folder for the
screening and relay tests, with a raw SMTP client for exact dialogues and
readers for the SMTP log and the stored mailbox files."""
import glob
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time

DEADLINE = 20.0
PRODUCT = "Vantrel Server 2.33"
# The long date form of the notices: "Tue, 07 Dec 2049 09:23:34".
DATE = r"[A-Z][a-z]{2}, \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d"

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


class Server:
    """One harness process. accounts: "user:password:address" texts;
    options: "--name=value" texts."""

    def __init__(self, accounts, options=()):
        self.base = tempfile.mkdtemp(prefix="vtscreen-")
        self.work = os.path.join(self.base, "work")
        os.mkdir(self.work)
        args = [harness_path(), self.work] + list(options) + list(accounts)
        env = dict(os.environ, TMPDIR=self.base)
        # Unbuffered, so that select sees every line that readline has not taken.
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, bufsize=0)
        self.smtp_port = int(self.expect_line("SMTP").split()[1])
        self.pop3_port = int(self.expect_line("POP3").split()[1])

    def expect_line(self, prefix):
        ready, _, _ = select.select([self.process.stdout], [], [], DEADLINE)
        if not ready:
            raise AssertionError("harness did not answer")
        line = self.process.stdout.readline().decode()
        if not line.startswith(prefix):
            raise AssertionError("harness said %r, expected %s" % (line, prefix))
        return line

    def log_lines(self):
        """The text of every SMTP log line, without its date."""
        lines = []
        for name in sorted(glob.glob(os.path.join(self.work, "logs", "smtplog_*.txt"))):
            with open(name, encoding="latin-1", newline="") as log:
                for line in log.read().split("\r\n"):
                    if " -> " in line:
                        lines.append(line.split(" -> ", 1)[1])
        return lines

    def wait_for_log(self, start):
        """The first log line that starts with `start`, once it is there."""
        found = []

        def present():
            found[:] = [line for line in self.log_lines() if line.startswith(start)]
            return bool(found)

        wait_until(present, "log line " + start)
        return found[0]

    def messages(self, user):
        """The stored messages of `user`, in the order of their numbers."""
        def number(path):
            return int(os.path.basename(path).split("@", 1)[0])

        paths = sorted(glob.glob(os.path.join(self.work, "email", "*@%s_e.dat" % user)), key=number)
        result = []
        for path in paths:
            with open(path, "rb") as message:
                result.append(message.read())
        return result

    def temporary_files(self):
        """Files left in the temporary folder (message and notice files)."""
        return [name for name in os.listdir(self.base) if name != "work"]

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


class Smtp:
    """A raw SMTP connection that returns replies exactly as sent."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.buffer = b""
        self.greeting = self.line()

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1")

    def cmd(self, text):
        self.sock.sendall(text.encode("latin-1") + b"\r\n")
        return self.line()

    def send_mail(self, sender, recipients, data, helo="client"):
        """HELO, MAIL, RCPT for each, DATA, the bytes as given (they end
        with the end-of-data mark), QUIT. Returns the replies."""
        replies = [self.cmd("HELO " + helo), self.cmd("MAIL FROM:<%s>" % sender)]
        replies += [self.cmd("RCPT TO:<%s>" % r) for r in recipients]
        replies.append(self.cmd("DATA"))
        self.sock.sendall(data)
        replies.append(self.line())
        replies.append(self.cmd("QUIT"))
        self.sock.close()
        return replies


def received_line_length(helo, local_domain):
    """Bytes of the "Received:" line the server puts before a message."""
    return len("Received: from %s [127.0.0.1] by %s with Quorvell-Labs %s; " % (helo, local_domain, PRODUCT)) \
        + len("Tue, 07 Dec 2049 09:23:34") + 2


def undelivered_notice(date, recipients):
    return ("From: %s\r\nDate: %s\r\nSubject: Mail Undelivered\r\n\r\nAn email from you failed to be sent "
            "through the SMTP relay server.\r\nSent on %s, for...\r\n\r\n" % (PRODUCT, date, date)
            + "".join(r + "\r\n" for r in recipients)
            + "\r\nPlease contact your administrator.\r\n\r\nFrom %s\r\n.\r\n" % PRODUCT).encode("latin-1")


def notice_date(notice):
    """The date a stored notice carries."""
    match = re.search(rb"\r\nDate: (" + DATE.encode() + rb")\r\n", notice)
    if not match:
        raise AssertionError("no date in %r" % notice[:200])
    return match.group(1).decode()
