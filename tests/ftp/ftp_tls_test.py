#!/usr/bin/env python3
"""FTP over TLS against a hostile or careless client: bytes pipelined behind
AUTH TLS, the security commands out of order, USER before AUTH when TLS is
required, a data connection that does not resume the control connection's
session, and ABOR during a protected download. With TLS off, the security
commands get the replies that unknown commands always had.

Usage: ftp_tls_test.py <ftp_test_server>"""
import ftplib
import os
import ssl
import unittest

from ftp_harness import ALL_RIGHTS, DEADLINE, Raw, Server, harness_path
from harness_support import trusting_context  # noqa: E402

BIG = 64 * 1024 * 1024


def secure(client, context):
    """AUTH TLS on a Raw connection; afterwards it speaks TLS."""
    assert client.cmd("AUTH TLS") == "234 AUTH TLS successful."
    assert client.buffer == b""
    client.sock = context.wrap_socket(client.sock)


class ResumingFtpTls(ftplib.FTP_TLS):
    """What careful clients do: each data connection resumes the control
    connection's TLS session."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session,
                                            suppress_ragged_eofs=False)
        return conn, size


class TlsCase(unittest.TestCase):
    OPTIONS = ("--tls=on",)

    @classmethod
    def setUpClass(cls):
        cls.server = Server(harness_path(), [("ann", "pw", ALL_RIGHTS)], options=cls.OPTIONS)
        cls.root = cls.server.root("ann")
        # The certificate is made on the first connection that asks for it.
        probe = Raw(cls.server.port)
        probe.cmd("AUTH TLS")
        probe.close()
        cls.context = trusting_context(cls.server.work)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def raw(self):
        client = Raw(self.server.port)
        self.addCleanup(client.close)
        return client

    def ftp(self, kind):
        ftp = kind(context=self.context, timeout=DEADLINE)
        ftp.connect("127.0.0.1", self.server.port)
        ftp.login("ann", "pw")
        ftp.prot_p()
        self.addCleanup(ftp.close)
        return ftp


class HostileClients(TlsCase):
    def test_security_commands_in_and_out_of_order(self):
        # (commands before, whether AUTH TLS comes first, command, reply)
        rows = [
            ((), False, "PBSZ 0", "503 Security data exchange not completed, use AUTH TLS first."),
            ((), False, "PROT P", "503 Security data exchange not completed, use AUTH TLS first."),
            ((), True, "PROT P", "503 PBSZ is required before PROT."),
            ((), True, "AUTH TLS", "503 The connection already uses TLS."),
            ((), False, "AUTH GSSAPI", "504 AUTH type not supported, use AUTH TLS."),
            (("PBSZ 0",), True, "PROT S", "536 Requested PROT level not supported by mechanism."),
            (("PBSZ 0",), True, "PROT X", "504 Command not implemented for that parameter."),
            (("PBSZ 0",), True, "PROT C", "200 PROT now Clear."),
            ((), True, "PBSZ 1024", "200 PBSZ=0"),
            ((), True, "CCC", "534 Request denied for policy reasons."),
            ((), False, "FEAT", "211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n REST STREAM\r\n SIZE\r\n211 End"),
        ]
        for before, secured, command, expected in rows:
            with self.subTest(command=command, secured=secured):
                client = self.raw()
                if secured:
                    secure(client, self.context)
                for line in before:
                    self.assertTrue(client.cmd(line).startswith("200"), line)
                self.assertEqual(client.cmd(command), expected)

    def test_bytes_pipelined_behind_auth_are_never_read_as_commands(self):
        client = self.raw()
        client.send_bytes(b"AUTH TLS\r\nUSER x\r\n")
        self.assertEqual(client.reply(), "234 AUTH TLS successful.")
        client.sock = self.context.wrap_socket(client.sock)
        # Had USER x been taken, its 331 would come first.
        self.assertEqual(client.cmd("SYST now"), "530 Please send the USER command first.")
        self.assertEqual(client.cmd("USER ann"), "331 Please send PASS now.")
        self.assertTrue(client.cmd("PASS pw").startswith("230"))

    def test_a_failed_handshake_ends_its_connection_with_one_log_line(self):
        client = self.raw()
        self.assertEqual(client.cmd("AUTH TLS"), "234 AUTH TLS successful.")
        client.send_bytes(b"USER x\r\n" + bytes(range(256)))
        client.sock.settimeout(DEADLINE)
        try:  # a TLS alert or nothing, then the end
            while client.sock.recv(4096):
                pass
        except ConnectionResetError:
            pass
        self.server.wait_for_log("***TLS HANDSHAKE FAILED*** IP:[127.0.0.1], User:[], Connection:[Control]")
        self.assertIsInstance(self.ftp(ResumingFtpTls).nlst(), list)

    def test_a_data_connection_must_resume_the_control_session(self):
        with open(os.path.join(self.root, "small.txt"), "wb") as f:
            f.write(b"protected bytes\r\n")
        plain = self.ftp(ftplib.FTP_TLS)
        with self.assertRaises(ftplib.error_temp) as refused:
            plain.retrbinary("RETR small.txt", lambda _: None)
        self.assertEqual(str(refused.exception),
                         "425 Data connection refused: it must resume the TLS session of the control connection.")
        self.server.wait_for_log(
            "***DATA CONNECTION REFUSED*** IP:[127.0.0.1], User:[ann], Reason:[TLS Session Not Resumed]")

        careful = self.ftp(ResumingFtpTls)
        received = []
        careful.retrbinary("RETR small.txt", received.append)
        self.assertEqual(b"".join(received), b"protected bytes\r\n")
        self.assertIn("small.txt", careful.nlst())

    def test_stat_and_abor_during_a_protected_download(self):
        with open(os.path.join(self.root, "big.bin"), "wb") as f:
            f.truncate(BIG)
        ftp = self.ftp(ResumingFtpTls)
        ftp.voidcmd("TYPE I")
        conn = ftp.transfercmd("RETR big.bin")
        self.addCleanup(conn.close)
        received = len(conn.recv(65536))
        self.assertEqual(ftp.sendcmd("STAT"), "211 FTP Server is all OK.")
        ftp.sock.sendall(b"ABOR\r\n")
        self.assertEqual(ftp.getline(), "226 Transfer complete.")
        self.assertEqual(ftp.getline(), "426 Transfer incomplete, data connection was lost.")
        # Closed at once: cut with a reset, not ended with a closing alert
        # after what was queued.
        ended_cleanly = False
        try:
            while True:
                chunk = conn.recv(1 << 20)
                if not chunk:
                    ended_cleanly = True
                    break
                received += len(chunk)
        except (ConnectionResetError, ssl.SSLError):
            pass
        self.assertFalse(ended_cleanly)
        self.assertLess(received, BIG)
        self.server.wait_for_log("Reason:[Aborted / Data Connection Failure]")


class RequiredTls(TlsCase):
    OPTIONS = ("--tls=require",)

    def test_user_before_auth_is_refused(self):
        client = self.raw()
        self.assertEqual(client.cmd("USER ann"), "530 TLS required, use AUTH TLS first.")
        secure(client, self.context)
        self.assertEqual(client.cmd("USER ann"), "331 Please send PASS now.")
        self.assertTrue(client.cmd("PASS pw").startswith("230"))


class TlsOff(unittest.TestCase):
    def test_security_commands_get_the_replies_of_unknown_commands(self):
        server = Server(harness_path(), [("ann", "pw", ALL_RIGHTS)])
        self.addCleanup(server.stop)
        client = Raw(server.port)
        self.addCleanup(client.close)
        self.assertEqual(client.cmd("AUTH TLS"), "530 Please send the USER command first.")
        self.assertEqual(client.cmd("FEAT"), "530 Bad command.")
        client.login("ann", "pw")
        for command in ("AUTH TLS", "PBSZ 0", "PROT P", "FEAT", "CCC"):
            self.assertEqual(client.cmd(command), "500 Command not understood.")
        self.assertFalse(os.path.exists(os.path.join(server.work, "tls")))


if __name__ == "__main__":
    harness_path()
    unittest.main()
