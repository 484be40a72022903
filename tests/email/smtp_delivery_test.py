"""What a delivery leaves behind: the message file ("Received:" line and
the client's bytes exactly), the index record and "count", the log line;
one delivery per account however many of its addresses are named; the end
of data wherever the receives split it and with the next commands in the
same packet; and the lenient-reader end marks, each stored with its dot
doubled and read back whole over POP3."""
import re
import socket
import time
import unittest

from smtp_harness import RECEIVED_LINE, SEND_DATA, ServerCase, harness_path
from harness_support import poplib_login

harness_path()  # out of the command line before unittest reads it

MESSAGE_ID = re.compile(r"\d+:[A-Z][a-z]{2}::\d{2}:[A-Z][a-z]{2}:\d{4}:\d{2}:\d{2}:\d{2}$")


class Stored(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org", "j.doe:pw:jd@example.org")

    def test_the_message_file_index_and_count_of_one_delivery(self):
        data = b"Subject: exact\r\n\r\nline one\r\n..dot-stuffed\r\n\r\n.\r\n"
        self.send_mail(data, recipients=("jd@example.org",))
        index = self.server.index("j.doe")
        self.assertEqual(len(index), 1)
        path, message_id = index[0]
        self.assertEqual(path, "email\\0@j doe_e.dat")
        self.assertRegex(message_id, MESSAGE_ID)
        self.assertEqual(self.server.count("j.doe"), 1)
        stored = self.server.messages("j.doe")[0]
        match = RECEIVED_LINE.match(stored)
        self.assertIsNotNone(match, stored)
        self.assertEqual((match["helo"], match["ip"], match["by"]),
                         (b"client.example", b"127.0.0.1", b"127.0.0.1"))
        self.assertEqual(stored[match.end():], data)
        self.server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client.example], "
                                 "Mail From:[bob@client.example], For:[j.doe], 'Bad' For:[]")
        # Nothing is left in the temporary folder.
        self.assertEqual(self.server.temporary_files(), [])

    def test_numbers_go_on_and_every_message_is_exact(self):
        bodies = [b"first\r\n.\r\n", bytes(range(256)) + b"\r\n.\r\n", b"\r\n.\r\n"]
        before = self.server.count("ann")
        for body in bodies:
            self.send_mail(body)
        self.assertEqual(self.server.count("ann"), before + 3)
        paths = [path for path, _ in self.server.index("ann")][-3:]
        self.assertEqual(paths, ["email\\%d@ann_e.dat" % n for n in range(before, before + 3)])
        stored = self.server.messages("ann")[-3:]
        self.assertEqual([self.body_of(s) for s in stored], bodies)

    def test_a_message_that_is_just_the_dot(self):
        client = self.connect()
        client.envelope()
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send(".\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.server.wait_idle()
        self.assertEqual(self.body_of(self.server.messages("ann")[-1]), b".\r\n")

    def test_two_addresses_of_one_account_deliver_once(self):
        before = len(self.server.index("ann"))
        client = self.connect()
        client.cmd("HELO client.example")
        client.cmd("MAIL FROM:<bob@client.example>")
        self.assertEqual(client.cmd("RCPT TO:<ann@example.org>"), "250 <ann@example.org> OK.")
        self.assertEqual(client.cmd("RCPT TO:<ANN@example.org>"), "250 <ann@example.org> OK.")
        self.assertEqual(client.cmd("RCPT TO:<jd@example.org>"), "250 <jd@example.org> OK.")
        self.assertEqual(client.cmd("RCPT TO:<zed@example.org>"), "550 Account does not exist.")
        client.cmd("DATA")
        client.send("Subject: twice\r\n\r\nonce\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("ann")), before + 1)
        self.server.wait_for_log("Mail From:[bob@client.example], For:[ann, j.doe], 'Bad' For:[zed@example.org]")

    def test_a_full_mailbox_is_skipped(self):
        # A second server whose quota takes one small message only.
        from smtp_harness import Server
        server = Server(("ann:pw:ann@example.org", "cy:pw:cy@example.org"), ("--max-account=200",))
        try:
            for _ in range(2):
                client = socket.create_connection(("127.0.0.1", server.smtp_port), timeout=20)
                client.sendall(b"HELO h.example\r\nMAIL FROM:<b@c>\r\nRCPT TO:<ann@example.org>\r\n"
                               b"RCPT TO:<cy@example.org>\r\n")
                data = b""
                while data.count(b"\r\n") < 5:
                    data += client.recv(4096)
                client.sendall(b"DATA\r\nshort\r\n.\r\nQUIT\r\n")
                while not data.endswith(b"221 Bye Bye.\r\n"):
                    chunk = client.recv(4096)
                    self.assertTrue(chunk, data)
                    data += chunk
                client.close()
                server.wait_idle()
            self.assertEqual(len(server.index("ann")), 1)
            lines = [line for line in server.log_lines() if line.startswith("Mail Received")]
            self.assertEqual(lines[-1], "Mail Received: IP:[127.0.0.1], Host:[h.example], Mail From:[b@c], "
                                        "For:[], 'Bad' For:[]")
        finally:
            server.stop()


class CatchAll(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org", "box:pw:box@example.org")
    OPTIONS = ("--catch-all=box",)

    def test_unknown_addresses_of_any_domain_go_to_the_catch_all_once(self):
        client = self.connect()
        client.cmd("HELO client.example")
        client.cmd("MAIL FROM:<bob@client.example>")
        for address in ("x@example.org", "y@elsewhere.example", "box@example.org"):
            self.assertEqual(client.cmd("RCPT TO:<%s>" % address), "250 <%s> OK." % address)
        client.cmd("DATA")
        client.send("to the box\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("box")), 1)
        self.assertEqual(self.server.index("ann"), [])


class EndOfData(ServerCase):
    """The mark at any place of the receives, and commands behind it."""

    def start_data(self):
        client = self.connect()
        client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        client.envelope()
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        return client

    def last_body(self):
        self.server.wait_idle()
        return self.body_of(self.server.messages("ann")[-1])

    def test_the_mark_split_over_receives(self):
        for pieces in ([b"split\r\n", b".\r\n"], [b"split\r", b"\n.", b"\r\n"], [b"split\r\n.\r", b"\n"],
                       [b"split", b"\r", b"\n", b".", b"\r", b"\n"]):
            client = self.start_data()
            for piece in pieces:
                client.send(piece)
                # Apart in time, so that they arrive in receives of their own.
                time.sleep(0.05)
            self.assertEqual(client.line(), "250 Received OK.")
            self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
            self.assertEqual(self.last_body(), b"split\r\n.\r\n")

    def test_the_next_commands_in_the_same_packet_as_the_mark(self):
        client = self.connect()
        client.send(b"HELO client.example\r\nMAIL FROM:<bob@client.example>\r\nRCPT TO:<ann@example.org>\r\n"
                    b"DATA\r\nSubject: piped\r\n\r\nbody\r\n.\r\nNOOP\r\nDATA\r\nRSET\r\nQUIT\r\n")
        replies = [client.line() for _ in range(9)]
        self.assertEqual(replies, ["250 127.0.0.1", "250 <bob@client.example> OK.", "250 <ann@example.org> OK.",
                                   SEND_DATA, "250 Received OK.", "250 OK.", "503 DATA command already received.",
                                   "250 OK.", "221 Bye Bye."])
        self.assertTrue(client.closed_by_server())
        # RSET came after the message was acknowledged: it is delivered all the same.
        self.server.wait_idle()
        self.assertEqual(self.last_body(), b"Subject: piped\r\n\r\nbody\r\n.\r\n")
        self.assertFalse(any("***FAILED***" in line for line in self.server.log_lines()))

    def test_the_next_commands_behind_the_mark_are_not_stored(self):
        client = self.start_data()
        client.send(b"kept\r\n.\r\nQUIT\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.line(), "221 Bye Bye.")
        self.assertEqual(self.last_body(), b"kept\r\n.\r\n")

    def test_a_second_mark_in_the_same_packet_is_a_command_not_a_message(self):
        client = self.start_data()
        client.send(b"one\r\n.\r\nDATA\r\nsmuggled\r\n.\r\nQUIT\r\n")
        replies = [client.line() for _ in range(4)]
        self.assertEqual(replies, ["250 Received OK.", "503 DATA command already received.", "500 Unknown Command.",
                                   "500 Command Unknown"])
        self.assertEqual(client.line(), "221 Bye Bye.")
        self.assertEqual(self.last_body(), b"one\r\n.\r\n")


# Each line end a lenient reader takes for the end of a message, inside a
# message; stored with the lone dot doubled and read back whole.
LENIENT_FORMS = [
    ("LF dot LF", b"\n.\n", b"\n..\n"),
    ("LF dot CRLF", b"\n.\r\n", b"\n..\r\n"),
    ("CRLF dot LF", b"\r\n.\n", b"\r\n..\n"),
    ("CR dot CR", b"\r.\r", b"\r..\r"),
]


class Smuggling(ServerCase):
    ACCOUNTS = ("ann:pw:ann@example.org",)

    def retrieve_all(self):
        """Every message of ann over POP3, as poplib hands out its lines, and
        deletes them."""
        pop = poplib_login(self.server.pop_port, "ann", "pw")
        try:
            count, _ = pop.stat()
            messages = []
            for number in range(1, count + 1):
                messages.append(pop.retr(number)[1])
                pop.dele(number)
            # A reader that took a smuggled mark for the end would be out of
            # step here.
            self.assertTrue(pop.noop().startswith(b"+OK"))
        finally:
            pop.quit()
        return messages

    def test_each_lenient_mark_is_stored_doubled_and_read_back_whole(self):
        self.retrieve_all()
        for name, form, stored_form in LENIENT_FORMS:
            with self.subTest(name):
                hidden = (b"Subject: " + name.encode() + b"\r\n\r\nbefore" + form +
                          b"MAIL FROM:<x@evil.example>\r\nRCPT TO:<ann@example.org>\r\nDATA\r\n"
                          b"Subject: smuggled\r\n\r\nafter\r\n.\r\n")
                self.send_mail(hidden)
                stored = self.body_of(self.server.messages("ann")[-1])
                self.assertEqual(stored, hidden.replace(form, stored_form, 1))
                messages = self.retrieve_all()
                self.assertEqual(len(messages), 1)
                lines = messages[0]
                # The whole message came back, up to its real last line.
                self.assertEqual(lines[-1], b"after")
                self.assertIn(b"Subject: smuggled", lines)

    def test_a_smuggled_mark_right_after_data(self):
        self.retrieve_all()
        self.send_mail(b".\nSubject: hidden\r\n\r\nx\r\n.\r\n")
        self.assertEqual(self.body_of(self.server.messages("ann")[-1]), b"..\nSubject: hidden\r\n\r\nx\r\n.\r\n")
        messages = self.retrieve_all()
        self.assertEqual(len(messages), 1)
        self.assertEqual(messages[0][-1], b"x")


if __name__ == "__main__":
    unittest.main()
