#!/usr/bin/env python3
"""Mail over TLS in the whole program, set up with vantrel-settings task
commands only: python's smtplib and poplib deliver and fetch a message over
STARTTLS, STLS and the implicit ports 465 and 995. The implicit ports are
checked against the other services' ports both ways. With a certificate
that cannot be loaded, switching mail TLS on is refused and the email
service does not activate.

The mail ports are fixed ports, so the test runs in a user and network
namespace of its own; without one it is skipped.

Usage: program_mail_tls_test.py <vantrel-server> <vantrel-settings>"""

import poplib
import smtplib
import unittest

from program_harness import (Program, Workspace, binaries_from_command_line, check_broken_certificate, run_settings,
                             trusting_context, wait_for)

PROGRAM = None  # set by main
SETTINGS = None
PORTS = (25, 110, 465, 995)
DEADLINE_S = 20
MESSAGE = b"Subject: program over TLS\r\n\r\nhello\r\n"


class MailOverTls(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-mailtls-")
        self.addCleanup(self.space.close)
        self.data = self.space.data_folder("data")

    def settings(self, *words, expect=0):
        return run_settings(SETTINGS, self.space, self.data, *words, expect=expect)

    def start(self):
        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        program.wait_listening(PORTS, DEADLINE_S)
        return program

    def context(self):
        return trusting_context(self.data)

    def fetch_all(self, pop):
        """Every message of ann's mailbox, joined."""
        pop.user("ann")
        pop.pass_("pw")
        fetched = b"".join(b"\n".join(pop.retr(n + 1)[1]) for n in range(pop.stat()[0]))
        pop.quit()
        return fetched

    def both_delivered(self):
        fetched = self.fetch_all(poplib.POP3_SSL("127.0.0.1", 995, context=self.context(), timeout=DEADLINE_S))
        return b"\nstarttls" in fetched and b"\nsmtps" in fetched

    def test_mail_over_starttls_stls_and_the_implicit_ports(self):
        self.settings("mail-account", "add", "ann", "--address", "ann@example.org", "--password", "pw")
        self.assertNotIn("tls", self.settings("mail-routing", "show").stdout)
        refused = self.settings("mail-routing", "set", "--tls", "on", "--smtps-port", "21", expect=1)
        self.assertIn("The 'SMTPS port' 21 is already used by the FTP server.", refused.stderr)
        self.settings("mail-routing", "set", "--tls", "on", "--smtps-port", "465", "--pop3s-port", "995")
        self.assertEqual(self.settings("mail-routing", "show").stdout.splitlines()[-5:],
                         ["tls\ton", "smtps-port\t465", "pop3s-port\t995", "relay-requires-tls\toff",
                          "relay-host-requires-tls\toff"])
        refused = self.settings("ftp-site", "set", "--implicit-port", "465", expect=1)
        self.assertIn("already used by the SMTP server's implicit TLS port", refused.stderr)
        self.settings("autostart", "email", "on")
        program = self.start()

        with smtplib.SMTP("127.0.0.1", 25, timeout=DEADLINE_S) as client:
            client.starttls(context=self.context())
            client.sendmail("bob@client.example", ["ann@example.org"], MESSAGE + b"starttls\r\n")
        with smtplib.SMTP_SSL("127.0.0.1", 465, context=self.context(), timeout=DEADLINE_S) as client:
            client.sendmail("bob@client.example", ["ann@example.org"], MESSAGE + b"smtps\r\n")
        pop = poplib.POP3("127.0.0.1", 110, timeout=DEADLINE_S)
        pop.stls(context=self.context())
        wait_for(self.both_delivered, DEADLINE_S, "both messages")
        self.assertEqual(pop.user("ann"), b"+OK Please send PASS now")
        pop.quit()
        self.assertEqual(program.terminate(), 0, program.stderr())

        # A certificate that cannot be loaded: the email service does not start.
        check_broken_certificate(self, PROGRAM, 25, "mail-routing")


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
