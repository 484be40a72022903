"""The greeting, the login dialogue and the end of a session, with the
exact replies and log lines; the cap on connections per client address
and the throttle on failed logins per address."""
import ftplib
import re
import threading
import time
import unittest

from ftp_harness import (ALL_RIGHTS, DEADLINE, GREETING, WELCOME, Raw, Server, ServerCase, connect,
                         harness_path, wait_until)
from harness_support import first_lines_at_once

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


OVER_CAP = "421 Too many connections from your address, please try later."
BAD_PASSWORD = "530 Bad password, please restart from USER."


class PerAddressCap(unittest.TestCase):
    def test_an_address_at_its_cap_is_refused_at_once_until_a_session_ends(self):
        server = Server(HARNESS, [("bob", "pw", ALL_RIGHTS)], options=["--per-address-cap=3"])
        self.addCleanup(server.stop)
        # Ten at once: exactly three are served, the rest refused and closed.
        opened = first_lines_at_once(server.port, 10)
        for _, client in opened:
            self.addCleanup(client.close)
        lines = sorted(line for line, _ in opened)
        self.assertEqual(lines, sorted([OVER_CAP] * 7 + [GREETING] * 3))
        for line, client in opened:
            if line == OVER_CAP:
                self.assertTrue(client.closed_by_server())
        # As ftplib sees it.
        with self.assertRaises(ftplib.error_temp) as refused:
            ftplib.FTP().connect("127.0.0.1", server.port, timeout=DEADLINE)
        self.assertEqual(str(refused.exception), OVER_CAP)
        self.assertEqual(server.steer("count", "COUNT"), "COUNT 3")
        # Another address has a count of its own.
        self.assertEqual(connect(self, server.port, "127.0.0.2").greeting, GREETING)
        # A session that ends gives its place back, and only its own.
        served = [client for line, client in opened if line == GREETING]
        self.assertEqual(served[0].cmd("QUIT"), "221 Thanks for visiting.")
        served[1].close()

        def greeting():
            c = Raw(server.port)
            c.close()
            return c.greeting
        # The third session and the other address's are left.
        wait_until(lambda: server.steer("count", "COUNT") == "COUNT 2", "two sessions")
        wait_until(lambda: greeting() == GREETING, "a free place")
        for _ in range(2):
            self.assertEqual(connect(self, server.port).greeting, GREETING)
        self.assertEqual(greeting(), OVER_CAP)


class FailedLoginThrottle(unittest.TestCase):
    def fail_at_once(self, port, count):
        """`count` wrong passwords on as many connections at once."""
        replies = []

        def one():
            c = Raw(port)
            try:
                c.cmd("USER bob")
                replies.append(c.cmd("PASS wrong"))
            finally:
                c.close()
        threads = [threading.Thread(target=one) for _ in range(count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(replies, [BAD_PASSWORD] * count)

    def test_ten_failures_in_a_minute_refuse_the_address_for_a_minute(self):
        # (harness options, failures, whether the right password is then refused)
        for options, failures, throttled in (([], 10, True), (["--failed-login-limit=0"], 12, False)):
            with self.subTest(options=options):
                server = Server(HARNESS, [("bob", "Secret", ALL_RIGHTS)], options=options)
                self.addCleanup(server.stop)
                self.fail_at_once(server.port, failures)
                c = connect(self, server.port)
                c.cmd("USER bob")
                started = time.monotonic()
                if not throttled:
                    self.assertTrue(c.cmd("PASS Secret").startswith("230"))
                    self.assertNotIn("THROTTLED", server.log_text())
                    continue
                self.assertEqual(c.cmd("PASS Secret"), BAD_PASSWORD)
                self.assertGreaterEqual(time.monotonic() - started, 4.5)
                server.wait_for_log("***LOGIN THROTTLED***")
                log = server.log_text()
                self.assertEqual(log.count("***LOGIN THROTTLED***"), 1)
                self.assertIn("***LOGIN THROTTLED*** IP:[127.0.0.1], Failed Logins:[10], Refused For:[60 seconds]",
                              log)
                self.assertEqual(log.count("***BAD LOGIN*** IP:[127.0.0.1], User:[bob]"), 11)
                # Another address is not throttled.
                connect(self, server.port, "127.0.0.2").login("bob", "Secret")
                # A minute on, the address may log in again.
                server.steer("advance 60000", "ADVANCED")
                connect(self, server.port).login("bob", "Secret")


if __name__ == "__main__":
    unittest.main()
