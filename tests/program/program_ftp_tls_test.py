#!/usr/bin/env python3
"""FTP over TLS in the whole program, set up with vantrel-settings task
commands only: curl (explicit with --ssl-reqd, and ftps:// on the implicit
port), lftp and python's ftplib move files and listings over protected data
connections. A data connection that does not resume its control
connection's TLS session is refused until the relaxed setting is on. With
a certificate that cannot be loaded, switching TLS on is refused and the
FTP service does not activate.

FTP (21) and the implicit port (990) are fixed ports, so the test runs in
a user and network namespace of its own; without one it is skipped. A
missing client is skipped with a message.

Usage: program_ftp_tls_test.py <vantrel-server> <vantrel-settings>"""

import ftplib
import os
import shutil
import subprocess
import unittest

from program_harness import (Program, Workspace, binaries_from_command_line, check_broken_certificate, run_settings,
                             trusting_context)

PROGRAM = None  # set by main
SETTINGS = None
FTP_PORT = 21
IMPLICIT_PORT = 990
DEADLINE_S = 20
CONTENT = b"hello over protected ftp\r\n" * 1000


class ResumingFtpTls(ftplib.FTP_TLS):
    """Each data connection resumes the control connection's TLS session."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


class FtpOverTls(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-ftptls-")
        self.addCleanup(self.space.close)
        self.data = self.space.data_folder("data")
        self.root = self.space.data_folder("ftproot")
        with open(os.path.join(self.root, "hello.txt"), "wb") as f:
            f.write(CONTENT)
        self.upload = os.path.join(self.space.top, "upload.txt")
        with open(self.upload, "wb") as f:
            f.write(CONTENT[::-1])

    def settings(self, *words, expect=0):
        return run_settings(SETTINGS, self.space, self.data, *words, expect=expect)

    def start(self):
        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        program.wait_listening((FTP_PORT, IMPLICIT_PORT), DEADLINE_S)
        return program

    def run_client(self, command):
        result = subprocess.run(command, cwd=self.space.top, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, "%s: %s" % (command, result.stderr.decode("latin-1")))
        return result.stdout

    def received(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def python_client(self, kind):
        ftp = kind(context=trusting_context(self.data), timeout=DEADLINE_S)
        ftp.connect("127.0.0.1", FTP_PORT)
        ftp.login("ann", "pw")
        ftp.prot_p()
        self.addCleanup(ftp.close)
        return ftp

    def download(self, ftp):
        parts = []
        ftp.retrbinary("RETR hello.txt", parts.append)
        return b"".join(parts)

    def check_curl(self):
        login = ["-u", "ann:pw", "-k", "-s", "-S"]
        explicit = "ftp://127.0.0.1/"
        if shutil.which("curl") is None:
            print("curl is missing: its checks are skipped")
            return
        self.assertEqual(self.run_client(["curl", *login, "--ssl-reqd", explicit + "hello.txt"]), CONTENT)
        self.run_client(["curl", *login, "--ssl-reqd", "-T", self.upload, explicit + "curl-up.txt"])
        self.assertEqual(self.received("curl-up.txt"), CONTENT[::-1])
        self.assertIn(b"curl-up.txt", self.run_client(["curl", *login, "--ssl-reqd", explicit]))
        implicit = "ftps://127.0.0.1:%d/" % IMPLICIT_PORT
        self.assertEqual(self.run_client(["curl", *login, implicit + "hello.txt"]), CONTENT)
        self.run_client(["curl", *login, "-T", self.upload, implicit + "curl-implicit.txt"])
        self.assertEqual(self.received("curl-implicit.txt"), CONTENT[::-1])
        self.assertIn(b"curl-implicit.txt", self.run_client(["curl", *login, implicit]))

    def check_lftp(self):
        script = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no; "
                  "set net:max-retries 1; open -u ann,pw 127.0.0.1; cls -1; get hello.txt -o lftp-got.txt; "
                  "put upload.txt -o lftp-up.txt; bye")
        if shutil.which("lftp") is None:
            print("lftp is missing: its checks are skipped")
            return
        listed = self.run_client(["lftp", "-c", script])
        self.assertIn(b"hello.txt", listed)
        with open(os.path.join(self.space.top, "lftp-got.txt"), "rb") as f:
            self.assertEqual(f.read(), CONTENT)
        self.assertEqual(self.received("lftp-up.txt"), CONTENT[::-1])

    def test_real_clients_over_explicit_and_implicit_tls(self):
        self.settings("ftp-account", "add", "ann", "--password", "pw", "--folder", "ftproot",
                      "--rights", "file-read,file-write,file-modify,folder-read")
        self.settings("ftp-site", "set", "--tls", "on", "--implicit-port", str(IMPLICIT_PORT))
        self.settings("autostart", "ftp", "on")
        self.assertEqual(self.settings("ftp-site", "show").stdout.splitlines()[-3:],
                         ["tls\ton", "implicit-port\t990", "tls-any-data\toff"])
        program = self.start()

        careful = self.python_client(ResumingFtpTls)
        self.assertEqual(self.download(careful), CONTENT)
        careful.quit()
        plain = self.python_client(ftplib.FTP_TLS)
        with self.assertRaises(ftplib.error_temp) as refused:
            self.download(plain)
        self.assertTrue(str(refused.exception).startswith("425 "), refused.exception)
        self.check_curl()
        self.check_lftp()

        # The relaxed setting counts from the next activation on.
        self.settings("ftp-site", "set", "--tls-any-data", "on")
        self.settings("service", "ftp", "stop")
        self.settings("service", "ftp", "start")
        self.assertEqual(self.download(self.python_client(ftplib.FTP_TLS)), CONTENT)
        self.assertEqual(program.terminate(), 0, program.stderr())

        # A certificate that cannot be loaded: TLS does not start.
        check_broken_certificate(self, PROGRAM, FTP_PORT, "ftp-site")


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
