"""The greeting, the login dialogue and the end of a session, with the
exact replies and log lines."""
import re
import time
import unittest

from ftp_harness import (ALL_RIGHTS, GREETING, WELCOME, Raw, Server, ServerCase, connect, harness_path,
                         wait_until)

HARNESS = harness_path()


class LoginDialogue(ServerCase):
    ACCOUNTS = [("bob", "Secret", ALL_RIGHTS), ("anonymous", "", ALL_RIGHTS)]

    def test_greeting_and_login_lowercase_the_user(self):
        c = self.connect()
        self.assertEqual(c.greeting, GREETING)
        self.assertEqual(c.cmd("USER BoB"), "331 Please send PASS now.")
        self.assertEqual(c.cmd("PASS Secret"), "230- %s\r\n230 User 'bob' logged in." % WELCOME)
        self.server.wait_for_log("Logged In IP:[127.0.0.1], User:[bob], Password:[6 characters]")
        self.assertEqual(c.cmd("USER bob"), "550 Your already logged in.")
        self.assertEqual(c.cmd("PASS x"), "550 Your already logged in.")

    def test_anonymous_logs_the_address_given_as_password(self):
        c = self.connect()
        self.assertEqual(c.cmd("USER Anonymous"), "331 Please send your email address as the PASS.")
        self.assertEqual(c.cmd("PASS ann@example.org"),
                         "230- %s\r\n230 User 'anonymous' logged in." % WELCOME)
        self.server.wait_for_log("Logged In IP:[127.0.0.1], User:[anonymous], Password:[ann@example.org]")

    def test_out_of_order_and_short_lines(self):
        c = self.connect()
        self.assertEqual(c.cmd("PASS Secret"), "530 Please send the USER command first.")
        self.assertEqual(c.cmd("USER"), "530 Bad command.")
        self.assertEqual(c.cmd("ab"), "530 Bad command.")
        self.assertEqual(c.cmd("NOOP"), "530 Bad command.")
        self.assertEqual(c.cmd("USER bob"), "331 Please send PASS now.")
        self.assertEqual(c.cmd("NOOP x"), "530 Bad command, please restart from USER.")
        self.assertEqual(c.cmd("PASS Secret"), "530 Please send the USER command first.")
        # Telnet interrupt and data-mark bytes ahead of a command are dropped.
        c.send(b"\xff\xf4\xf2USER bob")
        self.assertEqual(c.reply(), "331 Please send PASS now.")
        self.assertTrue(c.cmd("PASS Secret").startswith("230"))

    def test_quit_during_login_closes_without_time_out_reply(self):
        c = self.connect()
        self.assertEqual(c.cmd("USER bob"), "331 Please send PASS now.")
        self.assertEqual(c.cmd("quit"), "221 Thanks for visiting.")
        self.assertTrue(c.closed_by_server())
        self.assertEqual(c.buffer, b"")

    def test_quit_after_login(self):
        c = self.connect()
        c.login("bob", "Secret")
        self.assertEqual(c.cmd("QUIT"), "221 Thanks for visiting.")
        self.assertTrue(c.closed_by_server())
        self.assertEqual(c.buffer, b"")

    def test_wrong_password_is_refused_after_a_delay(self):
        c = self.connect()
        c.cmd("USER bob")
        started = time.monotonic()
        # The password differs only in the case of one letter.
        self.assertEqual(c.cmd("PASS secret"), "530 Bad password, please restart from USER.")
        self.assertGreaterEqual(time.monotonic() - started, 4.5)
        self.server.wait_for_log("***BAD LOGIN*** IP:[127.0.0.1], User:[bob], Password:[6 characters]")
        self.assertEqual(c.cmd("PASS Secret"), "530 Please send the USER command first.")

    def test_log_lines_cannot_be_forged(self):
        c = self.connect()
        c.send(b"USER eve\rFAKE\nLogged In IP:[1.2.3.4]")
        self.assertEqual(c.reply(), "331 Please send PASS now.")
        self.assertEqual(c.cmd("PASS x"), "530 Bad password, please restart from USER.")
        self.server.wait_for_log("***BAD LOGIN***")
        dated = re.compile(r"^\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d -> ")
        for line in self.server.log_text().split("\r\n"):
            if line:
                self.assertRegex(line, dated)
        self.assertIn("User:[eve fake logged in ip:[1.2.3.4]]", self.server.log_text())


class WithoutAnonymousAccount(unittest.TestCase):
    def test_anonymous_needs_its_account(self):
        server = Server(HARNESS, [("bob", "pw", ALL_RIGHTS)])
        self.addCleanup(server.stop)
        c = connect(self, server.port)
        self.assertEqual(c.cmd("USER anonymous"), "331 Please send your email address as the PASS.")
        self.assertEqual(c.cmd("PASS me@x"), "530 Bad password, please restart from USER.")


class CustomWelcomeAndDeactivation(unittest.TestCase):
    def test_welcome_message_and_time_out_reply_on_deactivation(self):
        server = Server(HARNESS, [("bob", "pw", ALL_RIGHTS)], welcome="Hello there")
        self.addCleanup(server.stop)
        clients = [Raw(server.port) for _ in range(2)]
        for c in clients:
            self.addCleanup(c.close)
            self.assertEqual(c.greeting, "220 Hello there (Vantrel Server 2.33 by Quorvell-Labs).")
            self.assertEqual(c.login("bob", "pw"), "230- Hello there\r\n230 User 'bob' logged in.")
        wait_until(lambda: server.steer("count", "COUNT") == "COUNT 2", "two sessions")
        server.steer("deactivate", "DEACTIVATED")
        for c in clients:
            self.assertEqual(c.reply(), "421 Control connection time out.")
            self.assertTrue(c.closed_by_server())
        self.assertEqual(server.steer("count", "COUNT"), "COUNT 0")


if __name__ == "__main__":
    unittest.main()
