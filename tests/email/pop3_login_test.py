"""The POP3 greeting and authorization phase on the wire: the replies to
each kind of line, USER in capitals, the pause after a refused login, the
busy mailbox, QUIT, the log lines, a stop that does not wait for the
pause; the cap on connections per client address and the throttle on
failed logins per address."""
import poplib
import threading
import time
import unittest

from pop3_harness import DEADLINE, MAKER, PRODUCT, Account, Raw, Server, ServerCase, harness_path, message, wait_until
from harness_support import first_lines_at_once  # noqa: E402 (after the harness puts it on the path)

harness_path()

BAD_LOGIN = "-ERR Incorrect password or username, please restart from USER."
BUSY = "-ERR Mail box is busy, please try later."
SEND_USER = "-ERR Please send the USER command first"
RESTART = "-ERR Bad Command, please send the USER command"


def accounts():
    return [Account("ann", "Secret", messages=[(message(["Subject: one"], ["hello"]), "0:Mon::01:Jan:2024:10:00:00")]),
            Account("bob.smith", "pw")]


class Greeting(unittest.TestCase):
    def greeting(self, local_domain):
        server = Server(accounts(), local_domain)
        self.addCleanup(server.stop)
        client = Raw(server.port)
        self.addCleanup(client.close)
        return client.greeting

    def test_without_local_domain(self):
        self.assertEqual(self.greeting(None), "+OK Welcome, with %s by %s" % (PRODUCT, MAKER))

    def test_with_local_domain(self):
        self.assertEqual(self.greeting("mail.example.org"),
                         "+OK Welcome to mail.example.org, with %s by %s" % (PRODUCT, MAKER))


class Authorization(ServerCase):
    def accounts(self):
        return accounts()

    def test_replies_before_login(self):
        # (line sent, reply): the state carries from row to row.
        dialogue = [
            ("ab", "-ERR Bad Command"),
            ("USER", "-ERR Bad Command"),
            ("user ", "-ERR Bad Command"),
            ("STAT", "-ERR Bad Command"),
            ("PASS Secret", SEND_USER),
            ("LIST 1", SEND_USER),
            ("USER ann", "+OK Please send PASS now"),
            ("NOOP", "-ERR Bad Command"),
            ("LIST 1", RESTART),
            # The failed line started over: PASS now needs a USER first.
            ("PASS Secret", SEND_USER),
            ("USER ann", "+OK Please send PASS now"),
            ("USER bob.smith", RESTART),
            ("x" * 2000, SEND_USER),
        ]
        client = self.connect()
        for line, reply in dialogue:
            self.assertEqual(client.cmd(line), reply, line[:20])
        self.assertEqual(client.cmd("USER ann"), "+OK Please send PASS now")
        self.assertEqual(client.cmd("PASS Secret"), "+OK Welcome ann")

    def test_user_in_capitals_logs_in_lowercase(self):
        client = self.connect()
        self.assertEqual(client.cmd("USER ANN"), "+OK Please send PASS now")
        self.assertEqual(client.cmd("PASS Secret"), "+OK Welcome ann")
        self.server.wait_for_log("Logged In IP:[127.0.0.1], User:[ann], Password[6 characters]")
        self.assertNotIn("Secret", self.server.log_text())
        # A dot in the user name: the account's files have a blank there.
        other = self.connect()
        self.assertEqual(other.cmd("user Bob.Smith"), "+OK Please send PASS now")
        self.assertEqual(other.cmd("pass pw"), "+OK Welcome bob.smith")

    def test_wrong_password_waits_five_seconds(self):
        client = self.connect()
        client.cmd("USER ann")
        started = time.monotonic()
        # The password is compared with its letter case.
        self.assertEqual(client.cmd("PASS secret"), BAD_LOGIN)
        self.assertGreaterEqual(time.monotonic() - started, 4.9)
        self.server.wait_for_log("***BAD LOGIN*** IP:[127.0.0.1], User:[ann], Password[6 characters]")
        # The client starts again with USER.
        self.assertEqual(client.cmd("PASS Secret"), SEND_USER)
        client.cmd("USER ann")
        self.assertEqual(client.cmd("PASS Secret"), "+OK Welcome ann")

    def test_line_breaks_in_user_stay_out_of_the_log(self):
        client = self.connect()
        client.send(b"USER eve\nFri, 01 Jan -> Logged In\rx")
        self.assertEqual(client.line(), "+OK Please send PASS now")
        self.assertEqual(client.cmd("PASS a\nb"), BAD_LOGIN)
        self.server.wait_for_log("***BAD LOGIN*** IP:[127.0.0.1], User:[eve fri, 01 jan -> logged in x], "
                                 "Password[3 characters]")
        for line in self.server.log_text().splitlines():
            self.assertFalse(line.startswith("Fri, 01 Jan"), line)

    def test_long_user_name_is_cut(self):
        client = self.connect()
        self.assertEqual(client.cmd("USER " + "N" * 150), "+OK Please send PASS now")
        self.assertEqual(client.cmd("PASS " + "p" * 150), BAD_LOGIN)
        self.server.wait_for_log("User:[%s], Password[99 characters]" % ("n" * 99))

    def test_busy_mailbox(self):
        first = self.logged_in("ann", "Secret")
        second = self.connect()
        second.cmd("USER ann")
        started = time.monotonic()
        self.assertEqual(second.cmd("PASS Secret"), BUSY)
        self.assertLess(time.monotonic() - started, 2.0)
        self.server.wait_for_log("***BAD LOGIN*** IP:[127.0.0.1], User:[ann], Password[6 characters]")
        # Another mailbox is not held.
        self.logged_in("bob.smith", "pw")
        self.assertEqual(first.cmd("QUIT"), "+OK Thanks for visiting")
        self.login_when_free("ann", "Secret")

    def test_quit_before_login(self):
        client = self.connect()
        client.cmd("USER ann")
        self.assertEqual(client.cmd("quit"), "+OK Thanks for visiting")
        self.assertTrue(client.closed_by_server())
        # Nothing was held.
        self.logged_in("ann", "Secret")


class StopDuringPause(unittest.TestCase):
    def test_deactivation_does_not_wait_for_the_pause(self):
        server = Server(accounts())
        client = Raw(server.port)
        self.addCleanup(client.close)
        client.cmd("USER ann")
        client.send("PASS wrong")
        # The refusal is logged before the pause begins.
        server.wait_for_log("***BAD LOGIN***")
        replies = []
        reader = threading.Thread(target=lambda: replies.append(client.closed_by_server()))
        reader.start()
        took = server.stop()
        reader.join()
        self.assertLess(took, 3.0)
        self.assertEqual(replies, [True])
        self.assertNotIn(BAD_LOGIN.encode(), client.buffer)


GREETING = "+OK Welcome, with %s by %s" % (PRODUCT, MAKER)
OVER_CAP = "-ERR Too many connections from your address, please try later."


class PerAddressCap(unittest.TestCase):
    def test_an_address_at_its_cap_is_refused_at_once_until_a_session_ends(self):
        server = Server(accounts(), options=["--pop3-per-address-cap=2"])
        self.addCleanup(server.stop)
        opened = first_lines_at_once(server.port, 8)
        for _, client in opened:
            self.addCleanup(client.close)
        self.assertEqual(sorted(line for line, _ in opened), sorted([OVER_CAP] * 6 + [GREETING] * 2))
        for line, client in opened:
            if line == OVER_CAP:
                self.assertTrue(client.closed_by_server())
        with self.assertRaises(poplib.error_proto) as refused:
            poplib.POP3("127.0.0.1", server.port, timeout=DEADLINE)
        self.assertEqual(refused.exception.args[0].decode(), OVER_CAP)
        other = Raw(server.port, "127.0.0.2")
        self.addCleanup(other.close)
        self.assertEqual(other.greeting, GREETING)
        # SMTP keeps its own count, without a cap here.
        smtp = [Raw(server.smtp_port) for _ in range(3)]
        for client in smtp:
            self.addCleanup(client.close)
            self.assertTrue(client.greeting.startswith("220 "), client.greeting)
        served = [client for line, client in opened if line == GREETING]
        self.assertEqual(served[0].cmd("QUIT"), "+OK Thanks for visiting")

        def greeting():
            c = Raw(server.port)
            c.close()
            return c.greeting
        wait_until(lambda: greeting() == GREETING, "a free place")


class FailedLoginThrottle(unittest.TestCase):
    def test_ten_failures_in_a_minute_refuse_the_address_for_a_minute(self):
        # (harness options, failures, whether the right password is then refused)
        for options, failures, throttled in (([], 10, True), (["--pop3-failed-login-limit=0"], 12, False)):
            with self.subTest(options=options):
                server = Server(accounts(), options=options)
                self.addCleanup(server.stop)
                replies = []

                def guess():
                    c = Raw(server.port)
                    try:
                        c.cmd("USER ann")
                        replies.append(c.cmd("PASS guess"))
                    finally:
                        c.close()
                threads = [threading.Thread(target=guess) for _ in range(failures)]
                for thread in threads:
                    thread.start()
                for thread in threads:
                    thread.join()
                self.assertEqual(replies, [BAD_LOGIN] * failures)
                client = Raw(server.port)
                self.addCleanup(client.close)
                client.cmd("USER ann")
                started = time.monotonic()
                if not throttled:
                    self.assertEqual(client.cmd("PASS Secret"), "+OK Welcome ann")
                    self.assertNotIn("THROTTLED", server.log_text())
                    continue
                self.assertEqual(client.cmd("PASS Secret"), BAD_LOGIN)
                self.assertGreaterEqual(time.monotonic() - started, 4.5)
                server.wait_for_log("***LOGIN THROTTLED***")
                log = server.log_text()
                self.assertEqual(log.count("***LOGIN THROTTLED***"), 1)
                self.assertIn("***LOGIN THROTTLED*** IP:[127.0.0.1], Failed Logins[10], Refused For[60 seconds]", log)
                other = Raw(server.port, "127.0.0.2")
                self.addCleanup(other.close)
                other.login("bob.smith", "pw")
                server.steer("advance 60000", "ADVANCED")
                again = Raw(server.port)
                self.addCleanup(again.close)
                again.login("ann", "Secret")


if __name__ == "__main__":
    unittest.main()
