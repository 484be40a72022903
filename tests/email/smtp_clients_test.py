"""Everyday mail programs deliver to the server: python's smtplib, curl's
smtp://, swaks and msmtp. Each greets with EHLO first and falls back to
HELO; each message lands in the mailbox exactly as sent and comes back
whole over POP3. A program that is not installed skips with a message."""
import os
import shutil
import smtplib
import subprocess
import tempfile
import unittest

from smtp_harness import ServerCase, harness_path
from harness_support import poplib_login

harness_path()  # out of the command line before unittest reads it
TIMEOUT = 60


class Clients(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org", "cy:pw:cy@example.org")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.local = tempfile.mkdtemp(prefix="vtsmtp-client-")

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.local, ignore_errors=True)

    def message_file(self, name, data):
        path = os.path.join(self.local, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def last_stored(self, user="ann"):
        self.server.wait_idle()
        return self.body_of(self.server.messages(user)[-1])

    def need(self, program):
        if shutil.which(program) is None:
            self.skipTest("%s is not installed (apt-get install %s)" % (program, program))

    def test_smtplib_falls_back_to_helo_and_the_mail_comes_back_over_pop3(self):
        body = (b"From: bob@client.example\r\nSubject: smtplib\r\n\r\nline\r\n.leading dot\r\n"
                b"..two dots\r\n\r\nlast")
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=TIMEOUT) as client:
            refused = client.sendmail("bob@client.example", ["ann@example.org", "nobody@example.org", "cy@example.org"],
                                      body)
            self.assertEqual(refused, {"nobody@example.org": (550, b"Account does not exist.")})
            self.assertEqual(client.helo_resp, b"127.0.0.1")
            self.assertFalse(client.does_esmtp)
        # smtplib stuffs the dots and ends the data with CR LF "." CR LF.
        stored = b"From: bob@client.example\r\nSubject: smtplib\r\n\r\nline\r\n..leading dot\r\n" \
                 b"...two dots\r\n\r\nlast\r\n.\r\n"
        self.assertEqual(self.last_stored("ann"), stored)
        self.assertEqual(self.last_stored("cy"), stored)
        self.server.wait_for_log("Mail From:[bob@client.example], For:[ann, cy], 'Bad' For:[nobody@example.org]")

        pop = poplib_login(self.server.pop_port, "cy", "pw", TIMEOUT)
        try:
            _, lines, _ = pop.retr(pop.stat()[0])
        finally:
            pop.quit()
        self.assertEqual(lines[0].startswith(b"Received: from "), True)
        self.assertEqual(lines[1:], body.split(b"\r\n"))

    def test_curl(self):
        data = b"Subject: curl\r\n\r\nsent by curl\r\n"
        subprocess.run(["curl", "--silent", "--show-error", "--max-time", str(TIMEOUT),
                        "smtp://127.0.0.1:%d" % self.server.smtp_port, "--mail-from", "bob@client.example",
                        "--mail-rcpt", "ann@example.org", "--upload-file", self.message_file("curl.txt", data)],
                       check=True, timeout=TIMEOUT)
        self.assertEqual(self.last_stored(), data + b".\r\n")

    def test_swaks(self):
        self.need("swaks")
        result = subprocess.run(["swaks", "--server", "127.0.0.1:%d" % self.server.smtp_port,
                                 "--helo", "swaks.example", "--from", "bob@client.example",
                                 "--to", "ann@example.org", "--data", "Subject: swaks\r\n\r\nsent by swaks"],
                                capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout[-2000:])
        self.assertIn(b"-> HELO swaks.example", result.stdout)
        self.assertEqual(self.last_stored(), b"Subject: swaks\r\n\r\nsent by swaks\r\n.\r\n")
        self.server.wait_for_log("Host:[swaks.example], Mail From:[bob@client.example], For:[ann]")

    def test_msmtp(self):
        self.need("msmtp")
        data = b"Subject: msmtp\r\nFrom: bob@client.example\r\n\r\nsent by msmtp\r\n"
        with open(self.message_file("msmtp.txt", data), "rb") as message:
            subprocess.run(["msmtp", "--host=127.0.0.1", "--port=%d" % self.server.smtp_port, "--auth=off",
                            "--tls=off", "--domain=msmtp.example", "--from=bob@client.example", "ann@example.org"],
                           stdin=message, check=True, timeout=TIMEOUT)
        stored = self.last_stored()
        # msmtp may add headers of its own in front; the rest is ours.
        self.assertTrue(stored.endswith(b"\r\n" + data + b".\r\n") or stored == data + b".\r\n", stored)
        self.server.wait_for_log("Host:[msmtp.example], Mail From:[bob@client.example], For:[ann]")


if __name__ == "__main__":
    unittest.main()
