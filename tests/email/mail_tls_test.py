#!/usr/bin/env python3
"""Mail over TLS against the email_test_server harness: with it off, EHLO,
STARTTLS, CAPA and STLS get the replies they always had and email.dat
stays as it was; with it on, the EHLO and CAPA lists, pipelined commands
and message bytes inside TLS, and real clients (python's smtplib and
poplib, openssl s_client, curl, swaks, msmtp, mpop, fetchmail) over
STARTTLS, STLS and the implicit ports, issued no session tickets; with it required, one table of the
hostile cases: bytes pipelined behind STARTTLS and STLS, a second STARTTLS,
STLS after login, a SIZE too big, a login in clear, relaying in clear,
garbage handshakes and a thousand stalled ones. A client program that is not installed skips.

Usage: mail_tls_test.py <email_test_server>"""
import os
import poplib
import resource
import shutil
import smtplib
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import unittest.mock

from smtp_harness import Server, harness_path, wait_until  # first: it finds harness_support
from harness_support import LineClient, read_logs, read_settings, trusting_context  # noqa: E402
from fake_relay_host import FakeRelayHost  # noqa: E402

harness_path()  # out of the command line before unittest reads it
TIMEOUT = 60
MAX_EMAIL = 2 * 1024 * 1024
ACCOUNTS = ("ann:pw:ann@example.org",)
EXTENSIONS = ["250-SIZE %d" % MAX_EMAIL, "250-8BITMIME", "250 PIPELINING"]
CAPABILITIES = ["+OK Capability list follows", "USER", "TOP", "UIDL"]
STALLED = 1000
MESSAGE = b"Subject: over TLS\r\n\r\nline\r\n..dot\r\n"


class Client(LineClient):
    """A raw SMTP or POP3 connection that can turn to TLS."""

    def __init__(self, port, context=None):
        super().__init__(port)
        if context is not None:
            self.secure(context)
        self.greeting = self.line()

    def secure(self, context):
        assert self.buffer == b"", self.buffer
        self.sock = context.wrap_socket(self.sock)

    def lines_until(self, last):
        """Reply lines up to and including the first that `last` accepts."""
        lines = [self.line()]
        while not last(lines[-1]):
            lines.append(self.line())
        return lines

    def ehlo(self, host="client.example"):
        self.send_line("EHLO " + host)
        return self.lines_until(lambda line: not line.startswith("250-"))

    def capa(self):
        self.send_line("CAPA")
        return self.lines_until(lambda line: line == "." or line.startswith("-ERR"))


class Connecting:
    """Connections a test opens are closed when it ends."""

    def connect(self, port, context=None):
        client = Client(port, context)
        self.addCleanup(client.close)
        return client

    def raw(self, port):
        client = LineClient(port)
        self.addCleanup(client.close)
        return client


def smtp_log(server):
    return read_logs(server.path("logs"), "smtplog_", newline="")


def pop3_log(server):
    return read_logs(server.path("logs"), "pop3log_", newline="")


class MailTlsOff(Connecting, unittest.TestCase):
    def test_tls_commands_get_the_replies_they_always_had(self):
        server = Server(ACCOUNTS)
        self.addCleanup(server.stop)
        smtp = self.connect(server.smtp_port)
        self.assertEqual(smtp.cmd("EHLO client.example"), "503 Please say hello, don't be awful.")
        self.assertEqual(smtp.cmd("HELO client.example"), "250 127.0.0.1")
        self.assertEqual(smtp.cmd("STARTTLS"), "500 Unknown Command.")
        self.assertEqual(smtp.cmd("MAIL FROM:<bob@client.example> SIZE=999999999999"),
                         "250 <bob@client.example> OK.")
        smtp.close()
        pop = self.connect(server.pop_port)
        self.assertEqual(pop.cmd("CAPA"), "-ERR Bad Command")
        self.assertEqual(pop.cmd("STLS"), "-ERR Bad Command")
        pop.close()
        self.assertEqual([name for name, _ in read_settings(server.path("email.dat"))],
                         ["popport", "smtplogfilecount", "pop3logfilecount", "autostart"])
        self.assertNotIn("TLS", smtp_log(server) + pop3_log(server))


class MailTlsOn(Connecting, unittest.TestCase):
    OPTIONS = ("--tls=on", "--implicit-tls", "--max-email=%d" % MAX_EMAIL)

    @classmethod
    def setUpClass(cls):
        cls.server = Server(ACCOUNTS, cls.OPTIONS)
        cls.context = trusting_context(cls.server.work)
        cls.local = tempfile.mkdtemp(prefix="vtmailtls-")
        cls.cert = cls.server.path("tls", "certificate.pem")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.local, ignore_errors=True)

    def need(self, program):
        if shutil.which(program) is None:
            self.skipTest("%s is not installed (apt-get install %s)" % (program, program))

    def stored_count(self):
        return self.server.listed("ann")

    def stored_since(self, before, count):
        """The `count` messages delivered to ann after the first `before`."""
        wait_until(lambda: self.stored_count() >= before + count, "%d messages" % count)
        self.server.wait_idle()
        return self.server.messages("ann")[before:before + count]

    def retrieved_over_pop3(self, pop):
        """Every message of ann's mailbox, joined."""
        pop.user("ann")
        pop.pass_("pw")
        fetched = b"\n".join(b"\n".join(pop.retr(n + 1)[1]) for n in range(pop.stat()[0]))
        pop.quit()
        return fetched

    def test_smtp_dialogue_pipelined_inside_tls(self):
        before = self.stored_count()
        smtp = self.connect(self.server.smtp_port)
        self.assertEqual(smtp.ehlo(), ["250-127.0.0.1", "250-STARTTLS"] + EXTENSIONS)
        self.assertEqual(smtp.cmd("STARTTLS"), "220 Ready to start TLS.")
        smtp.secure(self.context)
        self.assertEqual(smtp.ehlo(), ["250-127.0.0.1"] + EXTENSIONS)
        # One group of commands, then message bytes with the next group behind
        # them; bare line ends around a dot do not end the data.
        smtp.send_bytes("MAIL FROM:<bob@client.example> BODY=8BITMIME SIZE=100\r\n"
                        "RCPT TO:<ann@example.org>\r\nDATA\r\n")
        self.assertEqual([smtp.line() for _ in range(3)],
                         ["250 <bob@client.example> OK.", "250 <ann@example.org> OK.",
                          "354 Please send the data and end with a <CRLF>.<CRLF>"])
        first = b"Subject: one\r\n\r\nbare\n.\nstill one\r\n.\nend\r\n"
        smtp.send_bytes(first + b".\r\nMAIL FROM:<cy@client.example>\r\nRCPT TO:<ann@example.org>\r\nDATA\r\n")
        self.assertEqual([smtp.line() for _ in range(4)],
                         ["250 Received OK.", "250 <cy@client.example> OK.", "250 <ann@example.org> OK.",
                          "354 Please send the data and end with a <CRLF>.<CRLF>"])
        smtp.send_bytes(MESSAGE + b".\r\nQUIT\r\n")
        self.assertEqual([smtp.line() for _ in range(2)], ["250 Received OK.", "221 Bye Bye."])
        one, two = [message.split(b"\r\n", 1)[1] for message in self.stored_since(before, 2)]
        # Stored as the scanner stores them in clear: a lone dot between bare
        # line ends is doubled, so no reader takes it for the end.
        self.assertEqual((one, two), (b"Subject: one\r\n\r\nbare\n..\nstill one\r\n..\nend\r\n.\r\n",
                                      MESSAGE + b".\r\n"))
        self.assertRegex(smtp_log(self.server), r"TLS established: TLSv1\.[23], [A-Z0-9_-]+, IP:\[127\.0\.0\.1\]")

    def test_pop3_dialogue(self):
        pop = self.connect(self.server.pop_port)
        self.assertEqual(pop.capa(), CAPABILITIES + ["STLS", "."])
        self.assertEqual(pop.cmd("STLS"), "+OK Begin TLS negotiation")
        pop.secure(self.context)
        self.assertEqual(pop.capa(), CAPABILITIES + ["."])
        self.assertEqual(pop.cmd("USER ann"), "+OK Please send PASS now")
        self.assertEqual(pop.cmd("PASS pw"), "+OK Welcome ann")
        self.assertEqual(pop.capa(), CAPABILITIES + ["."])
        self.assertEqual(pop.cmd("QUIT"), "+OK Thanks for visiting")
        self.assertRegex(pop3_log(self.server), r"TLS established: TLSv1\.[23], [A-Z0-9_-]+, IP:\[127\.0\.0\.1\]")

    def test_python_clients(self):
        before = self.stored_count()
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=TIMEOUT) as client:
            client.ehlo()
            self.assertTrue(client.has_extn("starttls"))
            client.starttls(context=self.context)
            client.ehlo()
            self.assertFalse(client.has_extn("starttls"))
            self.assertEqual(client.esmtp_features["size"], str(MAX_EMAIL))
            self.assertFalse(client.sock.session.has_ticket, "a ticket no later session could use")
            client.sendmail("bob@client.example", ["ann@example.org"], MESSAGE + b"by starttls\r\n")
        with smtplib.SMTP_SSL("127.0.0.1", self.server.smtps_port, context=self.context, timeout=TIMEOUT) as client:
            with self.assertRaises(smtplib.SMTPSenderRefused) as refused:
                client.sendmail("bob@client.example", ["ann@example.org"], b"x" * (MAX_EMAIL + 1))
            self.assertEqual(refused.exception.smtp_code, 552)
            client.sendmail("bob@client.example", ["ann@example.org"], MESSAGE + b"by smtps\r\n")
        self.assertTrue(all(m.endswith(b"\r\n.\r\n") for m in self.stored_since(before, 2)))

        pop = poplib.POP3("127.0.0.1", self.server.pop_port, timeout=TIMEOUT)
        self.assertIn("STLS", pop.capa())
        pop.stls(context=self.context)
        self.assertIn(b"\nby smtps", self.retrieved_over_pop3(pop))
        pop = poplib.POP3_SSL("127.0.0.1", self.server.pop3s_port, context=self.context, timeout=TIMEOUT)
        self.assertEqual(sorted(pop.capa()), ["TOP", "UIDL", "USER"])
        self.assertFalse(pop.sock.session.has_ticket, "a ticket no later session could use")
        self.assertIn(b"\nby starttls", self.retrieved_over_pop3(pop))

    def run_client(self, command, data=None):
        result = subprocess.run(command, input=data, capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, (command, result.stdout, result.stderr))
        return result.stdout

    def test_openssl_s_client(self):
        self.need("openssl")
        for kind, port, talk, expect in [
                ("smtp", self.server.smtp_port, b"EHLO again.example\nQUIT\n", b"221 Bye Bye."),
                ("pop3", self.server.pop_port, b"CAPA\nQUIT\n", b"+OK Thanks for visiting")]:
            with self.subTest(kind):
                out = self.run_client(["openssl", "s_client", "-quiet", "-crlf", "-starttls", kind, "-CAfile",
                                       self.cert, "-connect", "127.0.0.1:%d" % port], talk)
                self.assertIn(expect, out)
                # What the client reads after the handshake: no STARTTLS, no STLS.
                self.assertNotIn(b"STARTTLS", out)
                self.assertNotIn(b"STLS", out)

    def test_curl(self):
        self.need("curl")
        message = os.path.join(self.local, "curl.txt")
        with open(message, "wb") as f:
            f.write(MESSAGE + b"by curl\r\n")
        before = self.stored_count()
        common = ["curl", "--silent", "--show-error", "--max-time", str(TIMEOUT), "--cacert", self.cert, "-k"]
        for url, extra in [("smtp://127.0.0.1:%d" % self.server.smtp_port, ["--ssl-reqd"]),
                           ("smtps://127.0.0.1:%d" % self.server.smtps_port, [])]:
            self.run_client(common + extra + [url, "--mail-from", "bob@client.example", "--mail-rcpt",
                                              "ann@example.org", "--upload-file", message])
        self.stored_since(before, 2)
        for url, extra in [("pop3://127.0.0.1:%d/" % self.server.pop_port, ["--ssl-reqd"]),
                           ("pop3s://127.0.0.1:%d/" % self.server.pop3s_port, [])]:
            listing = self.run_client(common + extra + ["-u", "ann:pw", url])
            count = len(listing.splitlines())
            self.assertIn(b"by curl", self.run_client(common + extra + ["-u", "ann:pw", url + str(count)]))

    def test_swaks(self):
        self.need("swaks")
        before = self.stored_count()
        result = subprocess.run(["swaks", "--tls", "--server", "127.0.0.1:%d" % self.server.smtp_port, "--from",
                                 "bob@client.example", "--to", "ann@example.org", "--body", "by swaks"],
                                capture_output=True, timeout=TIMEOUT)
        if b"requires Net::SSLeay" in result.stderr:
            self.skipTest("swaks has no TLS without Net::SSLeay (apt-get install libnet-ssleay-perl)")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"220 Ready to start TLS.", result.stdout)
        self.assertRegex(result.stdout, rb"<~ +250 Received OK\.")
        self.assertIn(b"by swaks", self.stored_since(before, 1)[0])

    def test_msmtp_mpop_fetchmail(self):
        self.need("msmtp")
        before = self.stored_count()
        config = os.path.join(self.local, "msmtprc")
        with open(config, "w") as f:
            f.write("account starttls\nhost 127.0.0.1\nport %d\nfrom bob@client.example\ntls on\n"
                    "tls_starttls on\ntls_trust_file %s\ntls_certcheck off\n"
                    "account implicit : starttls\nport %d\ntls_starttls off\n"
                    % (self.server.smtp_port, self.cert, self.server.smtps_port))
        os.chmod(config, 0o600)
        for account in ("starttls", "implicit"):
            self.run_client(["msmtp", "-C", config, "-a", account, "ann@example.org"],
                            MESSAGE + b"by msmtp " + account.encode() + b"\r\n")
        stored = b"".join(self.stored_since(before, 2))
        for text in (b"by msmtp starttls", b"by msmtp implicit"):
            self.assertIn(text, stored)
        self.need("mpop")
        mailbox = os.path.join(self.local, "mpop.mbox")
        config = os.path.join(self.local, "mpoprc")
        with open(config, "w") as f:
            f.write("account default\nhost 127.0.0.1\nport %d\nuser ann\npassword pw\ntls on\n"
                    "tls_starttls on\ntls_certcheck off\nkeep on\ndelivery mbox %s\n"
                    % (self.server.pop_port, mailbox))
        os.chmod(config, 0o600)
        self.run_client(["mpop", "-C", config, "--auth=user"])
        with open(mailbox, "rb") as f:
            self.assertIn(b"by msmtp implicit", f.read())
        self.need("fetchmail")
        out = os.path.join(self.local, "fetched")
        config = os.path.join(self.local, "fetchmailrc")
        for port, options in ((self.server.pop_port, "sslproto 'TLS1.2+'"), (self.server.pop3s_port, "ssl")):
            with open(config, "w") as f:
                f.write("poll 127.0.0.1 protocol pop3 port %d\n  user ann password pw %s no sslcertck keep "
                        "mda \"/bin/sh -c 'cat >> %s'\"\n" % (port, options, out))
            os.chmod(config, 0o600)
            env = dict(os.environ, HOME=self.local)
            result = subprocess.run(["fetchmail", "-f", config, "--nosyslog", "--all", "--silent"],
                                    capture_output=True, timeout=TIMEOUT, env=env)
            self.assertEqual(result.returncode, 0, (options, result.stdout, result.stderr))
        with open(out, "rb") as f:
            self.assertEqual(f.read().count(b"by msmtp implicit"), 2)


class MailTlsRequired(Connecting, unittest.TestCase):
    """TLS required for POP3 logins and for relaying; the hostile cases."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(ACCOUNTS, ("--tls=require", "--implicit-tls", "--max-email=%d" % MAX_EMAIL,
                                       "--relay-host=127.0.0.1", "--relay-subnet=127.0.0.", "--relay-port=9",
                                       "--relay-requires-tls"))
        cls.context = trusting_context(cls.server.work)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def locked(self):
        return self.server.steer("mailbox ann", "MAILBOX").split()[4] == "1"

    def smtp_greeted(self, secure=False):
        smtp = self.connect(self.server.smtp_port)
        smtp.ehlo()
        if secure:
            self.assertEqual(smtp.cmd("STARTTLS"), "220 Ready to start TLS.")
            smtp.secure(self.context)
            smtp.ehlo()
        return smtp

    def case_pipelined_behind_starttls(self):
        smtp = self.smtp_greeted()
        smtp.send_bytes("STARTTLS\r\nMAIL FROM:<evil@client.example>\r\n")
        self.assertEqual(smtp.line(), "220 Ready to start TLS.")
        smtp.secure(self.context)
        # Had the MAIL line been read inside TLS, its "503" would come first.
        self.assertEqual(smtp.ehlo(), ["250-127.0.0.1"] + EXTENSIONS)

    def case_pipelined_behind_stls(self):
        pop = self.connect(self.server.pop_port)
        pop.send_bytes("STLS\r\nUSER ann\r\n")
        self.assertEqual(pop.line(), "+OK Begin TLS negotiation")
        pop.secure(self.context)
        self.assertEqual(pop.cmd("PASS pw"), "-ERR Please send the USER command first")
        self.assertFalse(self.locked())

    def case_second_starttls_and_stls(self):
        self.assertEqual(self.smtp_greeted(secure=True).cmd("STARTTLS"), "503 TLS is already active.")
        pop = self.connect(self.server.pop3s_port, self.context)
        self.assertEqual(pop.cmd("STLS"), "-ERR TLS is already active.")

    def case_stls_after_login(self):
        pop = self.connect(self.server.pop3s_port, self.context)
        self.assertEqual(pop.cmd("USER ann"), "+OK Please send PASS now")
        self.assertEqual(pop.cmd("PASS pw"), "+OK Welcome ann")
        self.assertEqual(pop.cmd("STLS"), "-ERR STLS is only allowed before login.")
        self.assertEqual(pop.cmd("QUIT"), "+OK Thanks for visiting")

    def case_size_too_big(self):
        smtp = self.smtp_greeted()
        self.assertEqual(smtp.cmd("MAIL FROM:<bob@client.example> SIZE=%d" % (MAX_EMAIL + 1)),
                         "552 Message size exceeds fixed maximum message size.")
        self.assertEqual(smtp.cmd("MAIL FROM:<bob@client.example> SIZE=%d" % MAX_EMAIL),
                         "250 <bob@client.example> OK.")

    def case_login_in_clear(self):
        pop = self.connect(self.server.pop_port)
        refusal = "-ERR TLS is required for login, please send STLS first."
        self.assertEqual([pop.cmd("USER ann"), pop.cmd("PASS pw")], [refusal, refusal])
        self.assertFalse(self.locked())

    def case_relay_in_clear(self):
        smtp = self.smtp_greeted()
        smtp.cmd("MAIL FROM:<ann@example.org>")
        self.assertEqual(smtp.cmd("RCPT TO:<far@far.example>"), "530 Relaying needs TLS, use STARTTLS first.")
        self.assertEqual(smtp.cmd("RCPT TO:<ann@example.org>"), "250 <ann@example.org> OK.")
        smtp = self.smtp_greeted(secure=True)
        smtp.cmd("MAIL FROM:<ann@example.org>")
        self.assertEqual(smtp.cmd("RCPT TO:<far@far.example>"), "250 <far@far.example> OK.")

    def case_garbage_handshakes(self):
        garbage = b"\x16\x03\x01\x00\x05hello" + b"\0" * 64
        clients = []
        for port, command, ready in [(self.server.smtp_port, "STARTTLS", "220 Ready to start TLS."),
                                     (self.server.pop_port, "STLS", "+OK Begin TLS negotiation"),
                                     (self.server.smtps_port, None, None), (self.server.pop3s_port, None, None)]:
            client = self.raw(port)
            if command is not None:
                client.line()
                if port == self.server.smtp_port:
                    client.send_line("EHLO client.example")
                    while not client.line().startswith("250 "):
                        pass
                self.assertEqual(client.cmd(command), ready)
            client.send_bytes(garbage)
            clients.append(client)
        self.assertTrue(all(client.closed_by_server() for client in clients))
        failed = "***TLS HANDSHAKE FAILED*** IP:[127.0.0.1]"
        wait_until(lambda: smtp_log(self.server).count(failed) >= 2 and pop3_log(self.server).count(failed) >= 2,
                   "the failed handshakes in the logs")
        # The others go on.
        self.assertEqual(self.connect(self.server.pop3s_port, self.context).cmd("NOOP"), "-ERR Bad Command")

    def case_stalled_handshake(self):
        stalled = self.raw(self.server.smtps_port)
        started = time.monotonic()
        self.assertEqual(self.connect(self.server.pop3s_port, self.context).cmd("QUIT"), "+OK Thanks for visiting")
        self.assertTrue(stalled.closed_by_server())
        self.assertLess(time.monotonic() - started, 15, "the handshake's limit is 10 seconds")

    def case_a_thousand_stalled_handshakes(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if hard != resource.RLIM_INFINITY and hard < STALLED + 100:
            self.skipTest("the hard limit of open files (%d) is too low" % hard)
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))
        # Half stop before their hello, half in the middle of its record.
        stalled = []
        for number in range(STALLED):
            port = self.server.smtps_port if number % 2 else self.server.pop3s_port
            client = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
            self.addCleanup(client.close)
            if number % 4 < 2:
                client.sendall(b"\x16\x03\x01\x02\x00\x01")
            stalled.append(client)
        wait_until(lambda: self.server.connections() >= STALLED, "the stalled connections to be sessions")
        with smtplib.SMTP_SSL("127.0.0.1", self.server.smtps_port, timeout=TIMEOUT, context=self.context) as smtp:
            smtp.sendmail("ann@example.org", ["ann@example.org"], MESSAGE)
        pop = poplib.POP3_SSL("127.0.0.1", self.server.pop3s_port, timeout=TIMEOUT, context=self.context)
        pop.user("ann")
        pop.pass_("pw")
        pop.quit()
        # Served while every stalled handshake still waits for its limit.
        self.assertGreaterEqual(self.server.connections(), STALLED)
        for client in stalled:
            client.close()

    def test_hostile_cases(self):
        cases = [self.case_pipelined_behind_starttls, self.case_pipelined_behind_stls,
                 self.case_second_starttls_and_stls, self.case_stls_after_login, self.case_size_too_big,
                 self.case_login_in_clear, self.case_relay_in_clear, self.case_garbage_handshakes,
                 self.case_stalled_handshake, self.case_a_thousand_stalled_handshakes]
        for case in cases:
            with self.subTest(case.__name__):
                case()
        settings = dict(read_settings(self.server.path("email.dat")))
        self.assertEqual(settings["tls"], (2).to_bytes(4, "little"))
        self.assertEqual(settings["relayrequirestls"], (1).to_bytes(4, "little"))



class RelayOverTls(Connecting, unittest.TestCase):
    """The relay client with mail TLS on: STARTTLS when the relay host (a
    fake whose certificate, for 127.0.0.1, a private authority signed)
    offers it, in clear when it does not, and a relay failure under
    "Require TLS to the relay host" when it does not or its certificate is
    not verified. The server trusts the private authority only when the
    test points OpenSSL's system store at it (SSL_CERT_FILE)."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="vtrelaytls-")

        def path(name):
            return os.path.join(cls.folder, name)

        def openssl(*words):
            subprocess.run(["openssl", *words], check=True, capture_output=True, timeout=60)

        key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
        openssl("req", "-x509", *key, "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
                "-subj", "/CN=Relay Test Authority")

        def host_context(name, names):
            """A server context whose certificate the authority signed for names."""
            openssl("req", *key, "-keyout", path(name + ".key"), "-out", path(name + ".csr"), "-subj", "/CN=" + name)
            with open(path(name + ".ext"), "w") as ext:
                ext.write("subjectAltName=%s\n" % names)
            openssl("x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                    "-CAcreateserial", "-out", path(name + ".pem"), "-days", "2", "-extfile", path(name + ".ext"))
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(path(name + ".pem"), path(name + ".key"))
            context.sni_callback = lambda sock, server_name, context: cls.server_names.append(server_name)
            return context

        cls.authority = path("ca.pem")
        cls.server_names = []
        cls.context = host_context("relay.example", "IP:127.0.0.1,DNS:relay.example")
        cls.stranger = host_context("other.example", "DNS:other.example")  # signed, but not for 127.0.0.1

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def relay(self, host, *options, trusted=False):
        """Sends one message for a far recipient; the log once it is over."""
        self.addCleanup(host.close)
        environment = dict(os.environ)
        environment.pop("SSL_CERT_FILE", None)
        if trusted:
            environment["SSL_CERT_FILE"] = self.authority
        with unittest.mock.patch.dict(os.environ, environment, clear=True):
            server = Server(ACCOUNTS, ("--tls=on", "--relay-host=127.0.0.1", "--relay-subnet=127.0.0.",
                                       "--relay-port=%d" % host.port) + options)
        self.addCleanup(server.stop)
        with smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=TIMEOUT) as client:
            client.sendmail("ann@example.org", ["far@far.example"], MESSAGE)
        self.assertTrue(host.finished.wait(TIMEOUT))
        server.wait_idle()
        return smtp_log(server)

    def test_relay_host_cases(self):
        established = r"Relay TLS established: Host:\[127\.0\.0\.1\], TLSv1\.[23], [A-Z0-9_-]+, Verified:\[%s\]"
        host = FakeRelayHost(tls=self.context)
        log = self.relay(host)
        self.assertRegex(log, established % "no")
        self.assertIn("Email Relayed: ", log)
        self.assertEqual(host.commands[:3], ["EHLO 127.0.0.1", "STARTTLS", "EHLO 127.0.0.1"])
        self.assertTrue(host.secured)
        self.assertEqual(len(host.messages()), 1)
        self.assertEqual(self.server_names, [None], "an address is never sent as a server name")

        host = FakeRelayHost()  # knows no EHLO: HELO, in clear
        log = self.relay(host)
        self.assertEqual(host.commands[:2], ["EHLO 127.0.0.1", "HELO 127.0.0.1"])
        self.assertIn("Email Relayed: ", log)

        # Under "Require TLS to the relay host": only a verified host gets the message.
        for host, trusted, relayed in [(FakeRelayHost(tls=self.context), False, False),
                                       (FakeRelayHost(ehlo=True), True, False),
                                       (FakeRelayHost(tls=self.stranger), True, False),
                                       (FakeRelayHost(tls=self.context), True, True)]:
            with self.subTest(tls=host.tls is not None, trusted=trusted):
                log = self.relay(host, "--relay-host-requires-tls", trusted=trusted)
                self.assertEqual(len(host.messages()), 1 if relayed else 0)
                failed = "***RELAY FAILED*** Host:[127.0.0.1], Mail From:[ann@example.org]"
                self.assertEqual(failed in log, not relayed)
                self.assertEqual("Email Relayed: " in log, relayed)
                if host.tls is not None:
                    self.assertRegex(log, established % ("yes" if relayed else "no"))


if __name__ == "__main__":
    unittest.main()
