"""Hostile and careless clients: header injection through HELO, MAIL and
RCPT; over-long lines in commands and data; binary garbage; clients that
vanish or fall silent in data mode; 1000 connections at once; one address
that holds its cap of connections. The server must stay up, store nothing
it should not, and leave no temporary file."""
import os
import random
import smtplib
import socket
import unittest

from smtp_harness import GREETING, SEND_DATA, Raw, Server, ServerCase, harness_path, wait_until
from harness_support import DEADLINE, first_lines_at_once  # noqa: E402 (after the harness puts it on the path)

harness_path()  # out of the command line before unittest reads it


class Injection(ServerCase):
    def test_line_breaks_in_helo_and_mail_become_blanks(self):
        client = self.connect()
        self.assertEqual(client.cmd(b"HELO evil.example\nX-Injected: helo\rX-Too: cr"), "250 127.0.0.1")
        self.assertEqual(client.cmd(b"MAIL FROM:<bob\nX-Injected: mail@evil.example>"),
                         "250 <bob X-Injected: mail@evil.example> OK.")
        self.assertEqual(client.cmd(b"RCPT TO:<x\nX-Injected: rcpt@example.org>"), "550 Account does not exist.")
        self.assertEqual(client.cmd("RCPT TO:<ann@example.org>"), "250 <ann@example.org> OK.")
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send(b"Subject: clean\r\n\r\nbody\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        client.cmd("QUIT")
        self.server.wait_idle()
        stored = self.server.messages("ann")[-1]
        first_line, rest = stored.split(b"\r\n", 1)
        self.assertTrue(first_line.startswith(b"Received: from evil.example X-Injected: helo X-Too: cr [127.0.0.1] by "),
                        first_line)
        self.assertNotIn(b"\n", first_line)
        self.assertNotIn(b"\r", first_line)
        self.assertEqual(rest, b"Subject: clean\r\n\r\nbody\r\n.\r\n")
        text = self.server.log_text()
        self.assertIn("Host:[evil.example X-Injected: helo X-Too: cr], Mail From:[bob X-Injected: mail@evil.example], "
                      "For:[ann], 'Bad' For:[x x-injected: rcpt@example.org]", text)
        for line in text.split("\r\n"):
            self.assertFalse(line.startswith("X-"), line)


class LongLines(ServerCase):
    OPTIONS = ("--max-email=100000",)

    def test_a_command_line_beyond_4000_bytes_is_cut_there(self):
        client = self.connect()
        client.cmd("HELO client.example")
        # The '>' lies beyond the cut: no address in the first 4000 bytes.
        self.assertEqual(client.cmd("MAIL FROM:<" + "a" * 5000 + ">"), "501 Incorrect command")
        self.assertEqual(client.cmd("NOOP" + " " * 60000), "250 OK.")
        self.assertEqual(client.cmd("MAIL FROM:<" + "b" * 300 + ">"), "250 <" + "b" * 99 + "> OK.")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")

    def test_a_megabyte_line_ends_the_connection_and_nothing_else(self):
        for ending in (b"", b"\r\n"):
            client = self.connect()
            client.cmd("HELO client.example")
            try:
                client.send(b"NOOP " + b"x" * (1024 * 1024) + ending)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.assertTrue(client.closed_by_server())
        # The server goes on serving.
        other = self.connect()
        self.assertEqual(other.cmd("HELO client.example"), "250 127.0.0.1")

    def test_a_megabyte_data_line_is_replaced_by_the_size_notice(self):
        client = self.connect()
        client.envelope()
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send(b"Subject: big\r\n\r\n" + b"y" * (1024 * 1024) + b"\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
        self.server.wait_idle()
        notice = self.server.messages("ann")[-1]
        # (100000 + 500) / 1024 kilobytes.
        self.assertIn(b"was rejected due to its size. Currently emails are limited to 98 KB.", notice)
        self.assertTrue(notice.endswith(b"\r\n.\r\n"))


class Garbage(ServerCase):
    def noise_lines(self, rng, count):
        """Lines of random bytes with bare LFs inside (no CR, so no line end
        but the one after each); each starts with a byte that no greeting
        or command starts with."""
        lines = []
        for _ in range(count):
            raw = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 3000)))
            lines.append(b"\x80" + raw.replace(b"\r", b""))
        return lines

    def answers(self, client, count):
        return {client.line() for _ in range(count)}

    def test_binary_garbage_gets_answers_and_harms_nobody(self):
        rng = random.Random(7)
        for greeted in (False, True):
            client = self.connect()
            if greeted:
                client.cmd("HELO noisy.example")
            lines = self.noise_lines(rng, 40)
            client.send(b"".join(line + b"\r\n" for line in lines))
            answers = self.answers(client, len(lines))
            if greeted:
                self.assertLessEqual(answers, {"500 Unknown Command.", "500 Command Unknown"})
            else:
                self.assertLessEqual(answers, {"503 Please say hello, don't be awful.", "500 Command Unknown"})
                self.assertEqual(client.cmd("HELO x"), "250 127.0.0.1")
            self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
            self.assertTrue(client.closed_by_server())
        self.send_mail(b"after the noise\r\n.\r\n")
        self.assertEqual(self.body_of(self.server.messages("ann")[-1]), b"after the noise\r\n.\r\n")
        self.assertEqual(self.server.temporary_files(), [])

    def test_garbage_in_data_is_stored_exactly(self):
        rng = random.Random(11)
        noise = bytes(rng.randrange(256) for _ in range(50000)).replace(b"\r\n.\r\n", b"\r\n..\r\n")
        noise = noise.replace(b"\n.\n", b"\n..\n").replace(b"\n.\r", b"\n..\r").replace(b"\r.\r", b"\r..\r")
        noise = noise.replace(b"\r.\n", b"\r..\n")
        self.send_mail(noise + b"\r\n.\r\n")
        self.assertEqual(self.body_of(self.server.messages("ann")[-1]), noise + b"\r\n.\r\n")


class Vanishing(ServerCase):
    OPTIONS = ("--idle-ms=1000",)

    def test_a_client_that_vanishes_in_data_mode_delivers_nothing(self):
        self.server.wait_idle()
        before = len(self.server.index("ann"))
        client = self.connect()
        client.envelope(sender="gone@client.example")
        client.cmd("DATA")
        client.send(b"Subject: half\r\n\r\nhalf a message\r\n")
        client.close()
        self.server.wait_for_log("***FAILED*** IP:[127.0.0.1], Host:[client.example], Mail From:[gone@client.example], "
                                 "For:[ann], 'Bad' For:[]")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("ann")), before)
        self.assertEqual(self.server.temporary_files(), [])

    def test_a_client_that_falls_silent_in_data_mode_is_let_go(self):
        self.server.wait_idle()
        before = len(self.server.index("ann"))
        client = self.connect()
        client.envelope(sender="silent@client.example")
        client.cmd("DATA")
        client.send(b"Subject: half\r\n\r\nand then nothing")
        self.assertTrue(client.closed_by_server())
        self.server.wait_for_log("***FAILED*** IP:[127.0.0.1], Host:[client.example], Mail From:[silent@client.example]")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("ann")), before)
        self.assertEqual(self.server.temporary_files(), [])

    def test_a_client_that_falls_silent_after_its_message_still_delivers_it(self):
        self.server.wait_idle()
        before = len(self.server.index("ann"))
        client = self.connect()
        client.envelope(sender="quiet@client.example")
        client.cmd("DATA")
        client.send(b"Subject: whole\r\n\r\ncomplete\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertTrue(client.closed_by_server())
        self.server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client.example], "
                                 "Mail From:[quiet@client.example], For:[ann], 'Bad' For:[]")
        self.server.wait_idle()
        self.assertEqual(len(self.server.index("ann")), before + 1)

    def test_an_unfinished_message_leaves_no_file(self):
        client = self.connect()
        client.envelope()
        client.cmd("DATA")
        client.send(b"Subject: cut short\r\n\r\nhalf")
        wait_until(lambda: len(self.server.queue_files()) == 1, "the message file in the queue")
        client.close()
        wait_until(lambda: self.server.queue_files() == [], "the message file to go")
        self.assertEqual(self.server.temporary_files(), [])


class ThousandAtOnce(unittest.TestCase):
    CONNECTIONS = 1000

    def test_a_thousand_simultaneous_deliveries(self):
        server = Server(("ann:pw:ann@example.org",), ("--max-account=100000000",))
        clients = []
        try:
            for _ in range(self.CONNECTIONS):
                clients.append(Raw(server.smtp_port))
            self.assertEqual(server.connections(), self.CONNECTIONS)
            for step, expected in (("HELO many.example", "250 127.0.0.1"),
                                   ("MAIL FROM:<many@client.example>", "250 <many@client.example> OK."),
                                   ("RCPT TO:<ann@example.org>", "250 <ann@example.org> OK."),
                                   ("DATA", SEND_DATA)):
                for client in clients:
                    client.send(step + "\r\n")
                for client in clients:
                    self.assertEqual(client.line(), expected)
            for number, client in enumerate(clients):
                client.send(b"Subject: %d\r\n\r\nmessage %d\r\n.\r\nQUIT\r\n" % (number, number))
            for client in clients:
                self.assertEqual(client.line(), "250 Received OK.")
                self.assertEqual(client.line(), "221 Bye Bye.")
            for client in clients:
                client.close()
            clients = []
            server.wait_idle()
            stored = server.messages("ann")
            self.assertEqual(len(stored), self.CONNECTIONS)
            subjects = sorted(int(message.split(b"Subject: ")[1].split(b"\r\n")[0]) for message in stored)
            self.assertEqual(subjects, list(range(self.CONNECTIONS)))
            self.assertEqual(server.count("ann"), self.CONNECTIONS)
            self.assertEqual(server.temporary_files(), [])
        finally:
            for client in clients:
                client.close()
            server.stop()


class OneAddressAtItsCap(unittest.TestCase):
    OVER_CAP = "421 Too many connections from your address, closing channel."

    def test_an_address_at_its_cap_is_refused_at_once_and_others_still_deliver(self):
        server = Server(("ann:pw:ann@example.org",), ("--smtp-per-address-cap=3",))
        self.addCleanup(server.stop)
        opened = first_lines_at_once(server.smtp_port, 10)
        for _, client in opened:
            self.addCleanup(client.close)
        self.assertEqual(sorted(line for line, _ in opened), sorted([self.OVER_CAP] * 7 + [GREETING] * 3))
        for line, client in opened:
            if line == self.OVER_CAP:
                self.assertTrue(client.closed_by_server())
        with self.assertRaises(smtplib.SMTPConnectError) as refused:
            smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=DEADLINE)
        self.assertEqual(refused.exception.smtp_code, 421)
        # Another address delivers while this one holds its cap.
        with smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=DEADLINE,
                          source_address=("127.0.0.2", 0)) as client:
            client.sendmail("bob@client.example", ["ann@example.org"], b"Subject: other\r\n\r\nhello\r\n")
        wait_until(lambda: server.listed("ann") == 1, "the message from the other address")
        served = [client for line, client in opened if line == GREETING]
        self.assertEqual(served[0].cmd("HELO client.example"), "250 127.0.0.1")
        self.assertEqual(served[0].cmd("QUIT"), "221 Bye Bye.")

        def greeting():
            client = Raw(server.smtp_port)
            client.close()
            return client.greeting
        wait_until(lambda: greeting() == GREETING, "a free place")


if __name__ == "__main__":
    unittest.main()
