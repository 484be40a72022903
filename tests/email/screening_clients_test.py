"""Screening end to end: the size limit at its exact boundary, and a
multipart message with a banned attachment sent by python's smtplib whose
notice poplib then reads byte for byte."""
import poplib
import re
import smtplib
import unittest
from email.message import EmailMessage
from email.policy import SMTP as SMTP_POLICY

from fake_relay_host import FakeRelayHost
from screening_harness import (PRODUCT, Server, Smtp, harness_path, notice_date, received_line_length,
                               wait_until)

LOCAL = "mail.example"
LIMIT = 1048576
BANNED = (".dat .exe .pif .scr .com .ade .adp .bas .bat .chm .cmd .cpl .crt .hlp .hta .inf .ins .isp .js .jse "
          ".lnk .mda .mdb .mde .mdz .msc .msi .msp .mst .pcd .reg .sct .shs .url .vb .vbe .vbs .wsc .wsf .wsh")


def size_notice(date, sender, subject, limit_kb, host):
    return ("From: %s\r\nDate: %s\r\nSubject: Incoming Mail Rejected - %s\r\n\r\nAn email from...\r\n\r\n<%s>\r\n\r\n"
            "was rejected due to its size. Currently emails are limited to %d KB. Please note, the sender was not "
            "informed of this rejection.\r\n\r\nFrom %s (%s)\r\n.\r\n"
            % (sender, date, subject, sender, limit_kb, PRODUCT, host)).encode("latin-1")


def attachment_notice(date, sender, subject, size_kb, name, banned, host):
    return ("From: %s\r\nDate: %s\r\nSubject: Incoming Mail Rejected - %s\r\n\r\nAn email from...\r\n\r\n<%s>\r\n\r\n"
            "was rejected due to an attachment contained within the email. The email was %d Kb in size and "
            "contained a file called '%s'. Please note, the sender was not informed of this rejection.\r\n\r\n"
            "Banned Extensions: \"%s\"\r\n\r\nFrom %s (%s)\r\n.\r\n"
            % (sender, date, subject, sender, size_kb, name, banned, PRODUCT, host)).encode("latin-1")


def message_of_stored_size(size):
    """Client bytes that the server stores as exactly `size` bytes."""
    head = b"Subject: Big One\r\n\r\n"
    body_size = size - received_line_length("client", LOCAL) - len(head) - len(b"\r\n.\r\n")
    # Lines of 998 bytes, each with its CR LF, and the rest on the last one.
    lines = []
    remaining = body_size
    while remaining > 1000:
        lines.append(b"x" * 998)
        remaining -= 1000
    lines.append(b"y" * remaining)
    body = b"\r\n".join(lines)
    assert len(body) == body_size
    return head + body + b"\r\n.\r\n"


class ScreeningEndToEnd(unittest.TestCase):
    def start(self, options=()):
        server = Server(["ann:pw:ann@local.example", "bob:secret:bob@local.example"],
                        ["--local-domain=" + LOCAL] + list(options))
        self.addCleanup(server.stop)
        return server

    def test_size_limit_at_the_exact_boundary(self):
        host = FakeRelayHost()
        self.addCleanup(host.close)
        server = self.start(["--relay-host=127.0.0.1", "--relay-port=%d" % host.port, "--relay-subnet=127."])

        exact = message_of_stored_size(LIMIT)
        Smtp(server.smtp_port).send_mail("Ann@Local.example", ["bob@local.example"], exact)
        wait_until(lambda: server.messages("bob"), "the first message")
        [stored] = server.messages("bob")
        self.assertEqual(len(stored), LIMIT)
        self.assertTrue(stored.endswith(exact[-100:]))

        # One byte more is replaced by the notice, for the local and the
        # relay recipient alike.
        over = message_of_stored_size(LIMIT + 1)
        self.assertEqual(len(over), len(exact) + 1)
        Smtp(server.smtp_port).send_mail("Ann@Local.example", ["bob@local.example", "far@far.example"], over)
        wait_until(lambda: len(server.messages("bob")) == 2, "the notice")
        notice = server.messages("bob")[1]
        self.assertEqual(notice, size_notice(notice_date(notice), "Ann@Local.example", "big one", 1024, LOCAL))
        server.wait_for_log("Email Relayed")
        [relayed] = host.messages()
        self.assertEqual(relayed.data + b"\r\n.\r\n", notice)

    def test_smtplib_attachment_notice_read_by_poplib(self):
        server = self.start()
        message = EmailMessage()
        message["From"] = "ann@local.example"
        message["To"] = "bob@local.example"
        message["Subject"] = "Quarterly Report"
        message.set_content("The installer is attached.\n")
        message.add_attachment(b"MZ\x90\x00" * 64, maintype="application", subtype="octet-stream",
                               filename="report.pdf")
        message.add_attachment(b"MZ\x90\x00" * 64, maintype="application", subtype="octet-stream",
                               params={"name": "setup.EXE"})
        data = message.as_bytes(policy=SMTP_POLICY)
        with smtplib.SMTP("127.0.0.1", server.smtp_port, local_hostname="client", timeout=20) as client:
            client.sendmail("ann@local.example", ["bob@local.example"], data)
        wait_until(lambda: server.messages("bob"), "the notice")
        [notice] = server.messages("bob")

        # What the server stored before it screened: its "Received:" line and
        # smtplib's bytes with the end-of-data mark.
        sent = re.sub(rb"(?m)^\.", b"..", data)
        if not sent.endswith(b"\r\n"):
            sent += b"\r\n"
        stored_size = received_line_length("client", LOCAL) + len(sent) + 3
        self.assertEqual(notice, attachment_notice(notice_date(notice), "ann@local.example", "quarterly report",
                                                   (stored_size + 500) >> 10, "setup.exe", BANNED, LOCAL))

        pop = poplib.POP3("127.0.0.1", server.pop3_port, timeout=20)
        try:
            pop.user("bob")
            pop.pass_("secret")
            response, lines, octets = pop.retr(1)
            self.assertEqual(response, b"+OK %d octets" % (len(notice) - 3))
            self.assertEqual(lines, notice[:-5].split(b"\r\n"))
            pop.quit()
        except poplib.error_proto as error:
            self.fail(str(error))


if __name__ == "__main__":
    harness_path()
    unittest.main()
