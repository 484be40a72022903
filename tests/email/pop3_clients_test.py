"""Everyday POP3 clients against seeded mailboxes: python's poplib
retrieves byte-exact (a large message too) and deletes; curl's pop3://
lists, retrieves and deletes; fetchmail and mpop collect a mailbox and
empty it. A client that is not installed skips with a message."""
import os
import shutil
import subprocess
import tempfile
import unittest

from pop3_harness import Account, ServerCase, harness_path, message, settings_file
from harness_support import poplib_login

harness_path()
TIMEOUT = 120

IDS = ["0:Mon::01:Jan:2024:10:00:0%d" % i for i in range(4)]
PLAIN = message(["Subject: plain", "From: a@example.org"], ["hello", "world"])
# Lines that began with a dot, stuffed by the sending client as SMTP
# asks; an empty line, 8-bit bytes and a dot that ends a line.
STUFFED = message(["Subject: stuffed"], ["..leading dot", "", ".. dot and blank", "...", b"caf\xe9 na\xefve",
                                         "end ."])
BIG = message(["Subject: big"], ["%07d %s" % (i, "z" * 70) for i in range(70000)])
TINY = message(["Subject: tiny"], [])


def body_lines(stored):
    """The lines a client hands on: without the "." line, unstuffed."""
    lines = stored[:-len(b".\r\n")].split(b"\r\n")[:-1]
    return [line[1:] if line.startswith(b".") else line for line in lines]


def unix_text(stored):
    return b"".join(line + b"\n" for line in body_lines(stored))


def mailbox():
    return Account("ann", "pw", messages=list(zip((PLAIN, STUFFED, BIG, TINY), IDS)))


class ClientCase(ServerCase):
    def accounts(self):
        return [mailbox()]

    def setUp(self):
        super().setUp()
        self.local = tempfile.mkdtemp(prefix="vtpop3-client-")
        self.addCleanup(shutil.rmtree, self.local, True)

    def assert_delivered(self, delivered):
        for number, content in enumerate((PLAIN, STUFFED, BIG, TINY), start=1):
            self.assertTrue(unix_text(content) in delivered, "message %d not delivered as sent" % number)

    def assert_emptied(self):
        # QUIT is answered once the mailbox is handed back: a login goes
        # through at once.
        self.assertEqual(self.login_when_free("ann", "pw").cmd("STAT"), "+OK 0 0")
        account = mailbox()
        self.server.wait_for_files("ann", settings_file([]),
                                   [account.message_name(n) for n in range(len(account.messages))])

    def run_tool(self, args, **kwargs):
        result = subprocess.run(args, capture_output=True, timeout=TIMEOUT, **kwargs)
        if result.returncode != 0:
            self.fail("%s failed (%d): %s %s" % (args[0], result.returncode, result.stdout.decode(errors="replace"),
                                                result.stderr.decode(errors="replace")))
        return result.stdout


class Poplib(ClientCase):
    def session(self):
        pop = poplib_login(self.server.port, "ann", "pw", TIMEOUT)
        self.addCleanup(pop.close)
        return pop

    def test_retrieves_byte_exact(self):
        pop = self.session()
        contents = (PLAIN, STUFFED, BIG, TINY)
        self.assertEqual(pop.stat(), (4, sum(len(c) - 3 for c in contents)))
        for number, content in enumerate(contents, start=1):
            response, lines, _ = pop.retr(number)
            self.assertEqual(response, b"+OK %d octets" % (len(content) - 3))
            self.assertTrue(lines == body_lines(content), "message %d differs" % number)
        self.assertEqual(pop.uidl(2), b"+OK 2 " + IDS[1].encode())
        response, lines, _ = pop.top(2, 1)
        self.assertEqual(lines, [b"Subject: stuffed", b"", b".leading dot"])
        pop.quit()

    def test_deletes(self):
        pop = self.session()
        for number in range(1, 5):
            pop.dele(number)
        self.assertEqual(pop.stat(), (0, 0))
        self.assertEqual(pop.quit(), b"+OK Thanks for visiting")
        self.assert_emptied()


class Curl(ClientCase):
    def url(self, path=""):
        return "pop3://127.0.0.1:%d/%s" % (self.server.port, path)

    def curl(self, *args):
        return self.run_tool(["curl", "--silent", "--show-error", "--max-time", str(TIMEOUT), "-u", "ann:pw"]
                             + list(args))

    def test_list_retrieve_delete(self):
        listing = self.curl(self.url())
        self.assertEqual(listing, b"".join(b"%d %d\r\n" % (n, len(c) - 3)
                                           for n, c in enumerate((PLAIN, STUFFED, BIG, TINY), start=1)))
        for number, content in enumerate((PLAIN, STUFFED, BIG), start=1):
            got = self.curl(self.url(str(number)))
            self.assertTrue(got == b"".join(line + b"\r\n" for line in body_lines(content)),
                            "message %d differs" % number)
        # One connection for the four deletions; its QUIT keeps them.
        self.curl("-X", "DELE", "-I", *(self.url(str(number)) for number in range(1, 5)))
        self.assert_emptied()


class Fetchmail(ClientCase):
    def test_collects_and_empties_the_mailbox(self):
        if shutil.which("fetchmail") is None:
            self.skipTest("fetchmail is not installed (apt-get install fetchmail)")
        out = os.path.join(self.local, "delivered")
        rc = os.path.join(self.local, "fetchmailrc")
        with open(rc, "w") as f:
            f.write('set no bouncemail\n'
                    'poll 127.0.0.1 with protocol POP3 and port %d and timeout 60:\n'
                    '  user "ann" there with password "pw"\n'
                    '  options fetchall no keep sslproto "" mda "cat >> %s"\n' % (self.server.port, out))
        os.chmod(rc, 0o600)
        env = dict(os.environ, HOME=self.local)
        self.run_tool(["fetchmail", "-f", rc, "--idfile", os.path.join(self.local, "ids"), "--nodetach",
                       "--nosyslog"], env=env)
        with open(out, "rb") as f:
            self.assert_delivered(f.read())
        self.assert_emptied()


class Mpop(ClientCase):
    def test_collects_and_empties_the_mailbox(self):
        if shutil.which("mpop") is None:
            self.skipTest("mpop is not installed (apt-get install mpop)")
        out = os.path.join(self.local, "mbox")
        open(out, "wb").close()
        conf = os.path.join(self.local, "mpoprc")
        with open(conf, "w") as f:
            f.write("account default\nhost 127.0.0.1\nport %d\nuser ann\npassword pw\nauth user\ntls off\n"
                    "delivery mbox %s\nkeep off\nreceived_header off\nuidls_file %s\ntimeout 60\n"
                    % (self.server.port, out, os.path.join(self.local, "uidls")))
        os.chmod(conf, 0o600)
        self.run_tool(["mpop", "-C", conf, "-q"], env=dict(os.environ, HOME=self.local))
        with open(out, "rb") as f:
            self.assert_delivered(f.read())
        self.assert_emptied()


if __name__ == "__main__":
    unittest.main()
