"""Relaying through a relay host that the test plays: its dialogue, the
recipients it refuses, hosts that drop, never answer or cannot be reached,
the "Mail Undelivered" notice for a local sender, and messages that try to
smuggle a second message past the relay host."""
import unittest

from fake_relay_host import FakeRelayHost, unused_port
from screening_harness import (Server, Smtp, harness_path, notice_date, undelivered_notice, wait_until)

LOCAL = "mail.example"
ACCOUNTS = ["ann:pw:ann@local.example", "bob:pw:bob@local.example"]
MESSAGE = b"Subject: Plans\r\n\r\nSee you there.\r\n.\r\n"
FAR = ["a@far.example", "b@far.example", "c@far.example"]


class RelayTest(unittest.TestCase):
    def start(self, relay_port, idle_ms=None, subnet="127.0.0."):
        options = ["--local-domain=" + LOCAL, "--relay-host=127.0.0.1", "--relay-port=%d" % relay_port,
                   "--relay-subnet=" + subnet]
        if idle_ms is not None:
            options.append("--idle-ms=%d" % idle_ms)
        server = Server(ACCOUNTS, options)
        self.addCleanup(server.stop)
        return server

    def fake(self, **behaviour):
        host = FakeRelayHost(**behaviour)
        self.addCleanup(host.close)
        return host

    def send(self, server, sender, recipients, data=MESSAGE):
        replies = Smtp(server.smtp_port).send_mail(sender, recipients, data)
        self.assertEqual(replies[-2:], ["250 Received OK.", "221 Bye Bye."])
        return replies

    def expect_notice(self, server, recipients):
        wait_until(lambda: server.messages("ann"), "the notice in ann's mailbox")
        notices = server.messages("ann")
        self.assertEqual(len(notices), 1)
        self.assertEqual(notices[0], undelivered_notice(notice_date(notices[0]), recipients))
        server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                            "For:[ann], 'Bad' For:[]")

    def test_several_greeting_lines_and_one_refused_recipient(self):
        host = self.fake(greeting=["220-relay.example", "220-still greeting", "220 ready"],
                         refuse={"c@far.example": "550 no such user"})
        server = self.start(host.port)
        replies = self.send(server, "ann@local.example", FAR)
        self.assertEqual(replies[2:5], ["250 <%s> OK." % r for r in FAR])
        line = server.wait_for_log("Email Relayed")
        self.assertEqual(line, "Email Relayed: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                               "Sent To:[a@far.example, b@far.example], Failed To Send[c@far.example]")
        self.assertEqual(host.commands, ["HELO mail.example", "MAIL FROM:<ann@local.example>"]
                         + ["RCPT TO:<%s>" % r for r in FAR] + ["DATA", "QUIT"])
        [message] = host.messages()
        self.assertEqual(message.recipients, ["a@far.example", "b@far.example"])
        self.assertTrue(message.data.startswith(b"Received: from client [127.0.0.1] by mail.example with "))
        self.assertTrue(message.data.endswith(b"\r\nSubject: Plans\r\n\r\nSee you there."))
        self.expect_notice(server, ["c@far.example"])

    def test_all_recipients_refused_sends_no_data(self):
        host = self.fake(refuse={r: "550 no" for r in FAR[:2]})
        server = self.start(host.port)
        self.send(server, "ann@local.example", FAR[:2])
        self.assertEqual(server.wait_for_log("***RELAY FAILED***"),
                         "***RELAY FAILED*** Host:[127.0.0.1], Mail From:[ann@local.example]")
        self.assertNotIn("DATA", host.commands)
        self.assertEqual(host.messages(), [])
        self.expect_notice(server, FAR[:2])

    def test_drop_after_quit_is_a_success(self):
        host = self.fake(quit="drop")
        server = self.start(host.port)
        self.send(server, "ann@local.example", ["a@far.example"])
        server.wait_for_log("Email Relayed: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                            "Sent To:[a@far.example]")
        self.assertEqual(len(host.messages()), 1)
        self.assertNotIn("***RELAY FAILED***", "\n".join(server.log_lines()))
        self.assertEqual(server.messages("ann"), [], "nothing was refused: no notice")

    def test_host_that_keeps_the_connection_after_quit_has_relayed(self):
        # The 250 after the data is the relay's success; a host that then
        # answers QUIT (or not) but never closes is not waited for until the
        # idle limit.
        for quit in ["hold", "mute"]:
            with self.subTest(quit=quit):
                host = self.fake(quit=quit)
                server = self.start(host.port, idle_ms=600000)
                self.send(server, "ann@local.example", ["bob@local.example", "a@far.example"])
                server.wait_for_log("Email Relayed: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                                    "Sent To:[a@far.example]")
                server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                                    "For:[bob], 'Bad' For:[]")
                wait_until(host.finished.is_set, "the server to close the relay connection")
                self.assertEqual(len(host.messages()), 1)
                self.assertEqual(len(server.messages("bob")), 1)
                self.assertEqual(server.messages("ann"), [], "the host took the message: no notice")
                self.assertNotIn("***RELAY FAILED***", "\n".join(server.log_lines()))

    def test_unreachable_host_fails_and_the_sender_learns_of_every_recipient(self):
        server = self.start(unused_port())
        self.send(server, "ann@local.example", FAR[:2])
        server.wait_for_log("***RELAY FAILED*** Host:[127.0.0.1], Mail From:[ann@local.example]")
        self.expect_notice(server, FAR[:2])

    def test_host_that_never_answers_is_ended_by_the_idle_limit(self):
        host = self.fake(silent=True)
        server = self.start(host.port, idle_ms=1500)
        self.send(server, "ann@local.example", ["a@far.example"])
        server.wait_for_log("***RELAY FAILED*** Host:[127.0.0.1], Mail From:[ann@local.example]")
        self.assertEqual(host.connections, 1)
        self.expect_notice(server, ["a@far.example"])

    def test_sender_that_is_not_local_gets_no_notice(self):
        host = self.fake(refuse={"a@far.example": "550 no"})
        server = self.start(host.port)
        self.send(server, "stranger@far.example", ["a@far.example"])
        server.wait_for_log("***RELAY FAILED*** Host:[127.0.0.1], Mail From:[stranger@far.example]")
        self.assertEqual(server.messages("ann") + server.messages("bob"), [])
        self.assertFalse(any(line.startswith("Mail Received") for line in server.log_lines()))

    def test_local_and_relay_recipients_both_get_the_message(self):
        host = self.fake()
        server = self.start(host.port)
        self.send(server, "ann@local.example", ["bob@local.example", "a@far.example"])
        server.wait_for_log("Mail Received: IP:[127.0.0.1], Host:[client], Mail From:[ann@local.example], "
                            "For:[bob], 'Bad' For:[]")
        [stored] = server.messages("bob")
        [relayed] = host.messages()
        self.assertEqual(relayed.data + b"\r\n.\r\n", stored, "the stored bytes go on unchanged")

    def test_client_outside_the_relay_subnet_is_refused(self):
        # The subnet is compared in whole octets: 127.0.0.1 is not 127.0.0.15.
        for subnet, source in (("10.", "127.0.0.1"), ("127.0.0.1", "127.0.0.15"), ("127.0.0.1", "127.0.0.100")):
            with self.subTest(subnet=subnet, source=source):
                host = self.fake()
                server = self.start(host.port, subnet=subnet)
                client = Smtp(server.smtp_port, source)
                client.cmd("HELO client")
                client.cmd("MAIL FROM:<ann@local.example>")
                self.assertEqual(client.cmd("RCPT TO:<a@far.example>"), "550 Account does not exist.")
                client.cmd("QUIT")
                client.sock.close()
                self.assertEqual(host.connections, 0)

    def test_smuggled_end_marks_reach_the_relay_host_as_one_message(self):
        # The relay host reads data leniently: unless the server stuffed the
        # lone dot of each form, the host would end the message there and
        # take the rest as a second mail.
        for form in [b"\n.\n", b"\n.\r\n", b"\r\n.\n", b"\r.\r"]:
            with self.subTest(form=form):
                host = self.fake()
                server = self.start(host.port)
                smuggled = (b"Subject: hello\r\n\r\nfirst part" + form
                            + b"MAIL FROM:<evil@far.example>\r\nRCPT TO:<victim@far.example>\r\nDATA\r\n"
                              b"Subject: smuggled\r\n\r\nsecond part\r\n.\r\n")
                self.send(server, "ann@local.example", ["a@far.example"], smuggled)
                server.wait_for_log("Email Relayed")
                wait_until(host.finished.is_set, "the relay host's connection to end")
                self.assertEqual(host.commands, ["HELO mail.example", "MAIL FROM:<ann@local.example>",
                                                 "RCPT TO:<a@far.example>", "DATA", "QUIT"])
                [message] = host.messages()
                self.assertIn(b"first part" + form.replace(b".", b"..") + b"MAIL FROM:<evil", message.data)
                self.assertTrue(message.data.endswith(b"\r\nsecond part"))

if __name__ == "__main__":
    harness_path()
    unittest.main()
