"""The SMTP dialogue with its exact replies, over a raw connection: the
greeting rule, MAIL and RCPT with their 501/550/503 answers, DATA, RSET,
NOOP, QUIT and unknown commands."""
import unittest

from smtp_harness import GREETING, SEND_DATA, ServerCase, harness_path

harness_path()  # out of the command line before unittest reads it


class Greeting(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org",)

    def test_greeting_text(self):
        self.assertEqual(self.connect().greeting, GREETING)

    def test_commands_before_hello_are_refused_and_the_session_goes_on(self):
        client = self.connect()
        for line in ("QUIT", "EHLO client.example", "MAIL FROM:<a@b>", "HELO ", "HELLO", "NOOP"):
            self.assertEqual(client.cmd(line), "503 Please say hello, don't be awful.", line)
        self.assertEqual(client.cmd("HELO x"), "250 127.0.0.1")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")

    def test_short_lines_are_unknown_before_and_after_hello(self):
        client = self.connect()
        for line in ("a", "ab", "abc"):
            self.assertEqual(client.cmd(line), "500 Command Unknown", line)
        self.assertEqual(client.cmd("helo x"), "250 127.0.0.1")
        self.assertEqual(client.cmd("ABC"), "500 Command Unknown")
        # An empty line is no command and gets no answer.
        client.send("\r\n")
        self.assertEqual(client.cmd("NOOP"), "250 OK.")

    def test_any_line_of_six_starting_with_h_greets(self):
        for line in ("HELO x", "helo client", "Hxxxxhost", "hello there"):
            client = self.connect()
            self.assertEqual(client.cmd(line), "250 127.0.0.1", line)
            self.assertEqual(client.cmd("NOOP"), "250 OK.")
            client.cmd("QUIT")

    def test_unknown_commands_after_hello(self):
        client = self.connect()
        client.cmd("HELO x")
        for line in ("EHLO x", "HELO again", "VRFY ann", "AUTH PLAIN", "STARTTLS", "TURN"):
            self.assertEqual(client.cmd(line), "500 Unknown Command.", line)
        # The first four letters decide, in any case.
        self.assertEqual(client.cmd("nOoPy"), "250 OK.")


class LocalDomain(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org",)
    OPTIONS = ("--local-domain=mail.example.org",)

    def test_hello_names_the_local_domain(self):
        client = self.connect()
        self.assertEqual(client.cmd("HELO client.example"), "250 mail.example.org")

    def test_a_client_with_our_name_is_sent_away_and_logged_as_a_loop(self):
        client = self.connect()
        self.assertEqual(client.cmd("HELO mail.example.org"),
                         "554 You have the same host name has me. Fatal error.")
        self.assertTrue(client.closed_by_server())
        self.server.wait_for_log("***INTERNAL MAIL LOOP DETECTED! CHECK SETTINGS*** IP:[127.0.0.1], "
                                 "Host:[mail.example.org], Mail From:[]")


class Envelope(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org", "cat:pw:Cat@Example.org", "dan:pw:dan@example.org")

    def greeted(self):
        client = self.connect()
        client.cmd("HELO client.example")
        return client

    def test_mail_forms(self):
        client = self.greeted()
        cases = [
            ("MAIL FROM:<bob@client.example>", "250 <bob@client.example> OK."),
            ("MAIL FROM:<>", "250 <> OK."),
            ("MAIL FROM: <Bob@Client.Example> SIZE=10", "250 <Bob@Client.Example> OK."),
            ("mail from: bob@client.example", "250 <bob@client.example> OK."),
            ("MAILING LIST <x@y>", "250 <x@y> OK."),
            ("MAIL FROM:bob@client.example", "501 Incorrect command"),
            ("MAIL FROM: ", "501 Incorrect command"),
            ("MAIL", "501 Incorrect command"),
        ]
        for line, reply in cases:
            self.assertEqual(client.cmd(line), reply, line)

    def test_rcpt_forms(self):
        client = self.greeted()
        cases = [
            ("RCPT TO:<ann@example.org>", "250 <ann@example.org> OK."),
            ("RCPT TO:<ANN@Example.ORG>", "250 <ann@example.org> OK."),
            ("rcpt to: dan@example.org", "250 <dan@example.org> OK."),
            ("RCPT TO:<nobody@example.org>", "550 Account does not exist."),
            ("RCPT TO:ann@example.org", "501 Incorrect command"),
            ("RCPT", "501 Incorrect command"),
            # The address is lowercased before the lookup: an account listed
            # with capitals is never found.
            ("RCPT TO:<Cat@Example.org>", "550 Account does not exist."),
        ]
        for line, reply in cases:
            self.assertEqual(client.cmd(line), reply, line)

    def test_data_needs_a_recipient_and_comes_once(self):
        client = self.greeted()
        self.assertEqual(client.cmd("DATA"), "503 Not yet received the RCPT.")
        client.cmd("MAIL FROM:<bob@client.example>")
        self.assertEqual(client.cmd("RCPT TO:<nobody@example.org>"), "550 Account does not exist.")
        self.assertEqual(client.cmd("DATA"), "503 Not yet received the RCPT.")
        client.cmd("RCPT TO:<ann@example.org>")
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send("first\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.cmd("DATA"), "503 DATA command already received.")
        self.assertEqual(client.cmd("NOOP"), "250 OK.")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
        self.assertTrue(client.closed_by_server())

    def test_rset_after_250_keeps_the_message_and_forgets_the_recipients(self):
        client = self.greeted()
        client.cmd("MAIL FROM:<bob@client.example>")
        client.cmd("RCPT TO:<dan@example.org>")
        client.cmd("DATA")
        client.send("Subject: first\r\n\r\nfirst\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.cmd("RSET"), "250 OK.")
        # Still greeted, but no recipient and no DATA any more.
        self.assertEqual(client.cmd("DATA"), "503 Not yet received the RCPT.")
        client.cmd("MAIL FROM:<eve@client.example>")
        client.cmd("RCPT TO:<dan@example.org>")
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send("Subject: second\r\n\r\nsecond\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.assertTrue(client.closed_by_server())
        self.server.wait_idle()
        # An acknowledged message is delivered whatever comes after it.
        stored = self.server.messages("dan")
        self.assertEqual([self.body_of(m) for m in stored[-2:]],
                         [b"Subject: first\r\n\r\nfirst\r\n.\r\n", b"Subject: second\r\n\r\nsecond\r\n.\r\n"])
        for sender in ("bob", "eve"):
            self.server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client.example], "
                                     "Mail From:[%s@client.example], For:[dan], 'Bad' For:[]" % sender)

    def test_quit_without_data_delivers_nothing_and_logs_the_failure(self):
        self.server.wait_idle()
        before = len(self.server.index("ann"))
        client = self.greeted()
        client.cmd("MAIL FROM:<bob@client.example>")
        client.cmd("RCPT TO:<ann@example.org>")
        client.cmd("RCPT TO:<ghost@example.org>")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
        self.assertTrue(client.closed_by_server())
        self.server.wait_for_log("***FAILED*** IP:[127.0.0.1], Host:[client.example], "
                                 "Mail From:[bob@client.example], For:[ann], 'Bad' For:[ghost@example.org]")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("ann")), before)


class TooManyRecipients(ServerCase):
    ACCOUNTS = tuple("u%d:pw:u%d@example.org" % (i, i) for i in range(101))

    def test_the_hundred_and_first_local_account_is_refused(self):
        client = self.connect()
        client.cmd("HELO client.example")
        client.cmd("MAIL FROM:<bob@client.example>")
        for i in range(100):
            self.assertEqual(client.cmd("RCPT TO:<u%d@example.org>" % i), "250 <u%d@example.org> OK." % i)
        # Once 100 are held, even a held account's address is refused.
        self.assertEqual(client.cmd("RCPT TO:<u100@example.org>"), "503 Too many RCPT commands.")
        self.assertEqual(client.cmd("RCPT TO:<u0@example.org>"), "503 Too many RCPT commands.")
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send("hello all\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.server.wait_idle()
        for i in range(100):
            self.assertEqual(len(self.server.index("u%d" % i)), 1, i)
        self.assertEqual(self.server.index("u100"), [])
        users = ", ".join("u%d" % i for i in range(100))
        self.server.wait_for_log("For:[%s], 'Bad' For:[u100@example.org, u0@example.org]" % users)


if __name__ == "__main__":
    unittest.main()
