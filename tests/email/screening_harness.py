"""Runs the email_test_server harness in a temporary folder for the
screening and relay tests, with a raw SMTP client for exact dialogues and
readers for the SMTP log and the stored mailbox files."""
import glob
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import harness_support  # noqa: E402
from harness_support import LineClient, TempServer, wait_until  # noqa: E402,F401

PRODUCT = "Vantrel Server 2.33"
# The long date form of the notices: "Tue, 07 Dec 2049 09:23:34".
DATE = r"[A-Z][a-z]{2}, \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d"


def harness_path():
    return harness_support.harness_path("email_test_server")


class Server(TempServer):
    """One harness process. accounts: "user:password:address" texts;
    options: "--name=value" texts."""

    def __init__(self, accounts, options=()):
        super().__init__("vtscreen-")
        args = [harness_path(), self.work] + list(options) + list(accounts)
        self.start(args, dict(os.environ, TMPDIR=self.base), self._read_ports)

    def _read_ports(self):
        self.smtp_port = int(self.expect_line("SMTP").split()[1])
        self.pop3_port = int(self.expect_line("POP3").split()[1])

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
        """Files left in the temporary folder or the mail queue."""
        queue = os.path.join(self.work, "mailqueue")
        return ([name for name in os.listdir(self.base) if name != "work"]
                + (os.listdir(queue) if os.path.isdir(queue) else []))



class Smtp(LineClient):
    """A raw SMTP connection that returns replies exactly as sent."""

    def __init__(self, port, source="127.0.0.1"):
        super().__init__(port, source)
        self.greeting = self.line()

    def send_mail(self, sender, recipients, data, helo="client"):
        """HELO, MAIL, RCPT for each, DATA, the bytes as given (they end
        with the end-of-data mark), QUIT. Returns the replies."""
        replies = [self.cmd("HELO " + helo), self.cmd("MAIL FROM:<%s>" % sender)]
        replies += [self.cmd("RCPT TO:<%s>" % r) for r in recipients]
        replies.append(self.cmd("DATA"))
        self.send_bytes(data)
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
