"""The POP3 greeting and authorization phase on the wire: the replies to
each kind of line, USER in capitals, the pause after a refused login, the
busy mailbox, QUIT, the log lines, and a stop that does not wait for the
pause."""
import threading
import time
import unittest

from pop3_harness import MAKER, PRODUCT, Account, Raw, Server, ServerCase, harness_path, message

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


if __name__ == "__main__":
    unittest.main()
