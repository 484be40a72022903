#!/usr/bin/env python3
"""A data folder set up with vantrel-settings task commands only serves FTP,
HTTP and mail: the commands create an FTP account, an HTTP site with a
domain map and a mail account and switch the three services on; the program
is then started headless in that folder and each service is used with a
real client. While the program runs the commands refuse to work.

FTP (21) and SMTP (25) listen on fixed ports, so the test runs itself in a
user and network namespace of its own (unshare), where the standard ports
are private; without user namespaces it is skipped.

Usage: program_tasks_test.py <vantrel-server> <vantrel-settings>"""

import ftplib
import http.client
import io
import os
import poplib
import smtplib
import subprocess
import sys
import unittest

from program_harness import Program, Workspace, enter_private_network, listening, wait_for

PROGRAM = None  # set by main
SETTINGS = None
PORTS = {"FTP": 21, "SMTP": 25, "HTTP": 80, "POP3": 110}
DEADLINE_S = 20
RUNNING = "is running on this machine"


class TaskCommandsServeEveryService(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-tasks-")
        self.addCleanup(self.space.close)
        self.data = self.space.data_folder("data")
        self.ftp_root = self.space.data_folder("ftproot")
        self.site = self.space.data_folder("site")
        self.shop = self.space.data_folder("shop")
        with open(os.path.join(self.ftp_root, "hello.txt"), "wb") as f:
            f.write(b"hello over ftp\r\n")
        with open(os.path.join(self.site, "index.html"), "wb") as f:
            f.write(b"<p>main site</p>")
        with open(os.path.join(self.shop, "index.html"), "wb") as f:
            f.write(b"<p>shop site</p>")

    def settings(self, *words, expect=0):
        result = subprocess.run([SETTINGS, "--data-dir", self.data] + list(words), env=self.space.env,
                                cwd=self.space.top, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, expect, " ".join(words) + ": " + result.stderr)
        return result

    def configure(self):
        # The FTP folder is given relative to the current folder.
        self.settings("ftp-account", "add", "Ann", "--password", "ftp-pw", "--folder", "ftproot",
                      "--rights", "file-read,file-write,folder-read")
        self.settings("http-site", "set", "--port", "80", "--default-folder", self.site,
                      "--default-page", "index.html")
        self.settings("http-domain", "add", "shop.example", self.shop)
        self.settings("mail-account", "add", "joe", "--address", "joe@example.com", "--password", "mail-pw")
        self.settings("mail-routing", "set", "--local-domain", "example.com", "--relay-subnet", "127.0.0.1")
        for service in ("ftp", "http", "email"):
            self.settings("autostart", service, "on")

    def start(self):
        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        for name, port in PORTS.items():
            wait_for(lambda: listening(port) or not program.running(), DEADLINE_S, "the %s port" % name)
            self.assertTrue(program.running(), program.stderr())
        return program

    def use_ftp(self):
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", PORTS["FTP"], timeout=DEADLINE_S)
            ftp.login("ann", "ftp-pw")
            received = io.BytesIO()
            ftp.retrbinary("RETR hello.txt", received.write)
            self.assertEqual(received.getvalue(), b"hello over ftp\r\n")
            ftp.storbinary("STOR upload.txt", io.BytesIO(b"stored\r\n"))
        with open(os.path.join(self.ftp_root, "upload.txt"), "rb") as f:
            self.assertEqual(f.read(), b"stored\r\n")

    def fetch(self, host):
        connection = http.client.HTTPConnection("127.0.0.1", PORTS["HTTP"], timeout=DEADLINE_S)
        try:
            connection.request("GET", "/", headers={"Host": host})
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def use_mail(self):
        with smtplib.SMTP("127.0.0.1", PORTS["SMTP"], timeout=DEADLINE_S) as smtp:
            smtp.sendmail("sender@client.example", ["joe@example.com"],
                          "Subject: set up by commands\r\n\r\nDelivered.\r\n")

        def retrieved():
            pop = poplib.POP3("127.0.0.1", PORTS["POP3"], timeout=DEADLINE_S)
            try:
                pop.user("joe")
                pop.pass_("mail-pw")
                if pop.stat()[0] == 0:
                    return None
                return b"\r\n".join(pop.retr(1)[1])
            finally:
                pop.quit()
        found = []
        wait_for(lambda: found.append(retrieved()) or found[-1] is not None, DEADLINE_S, "the message")
        self.assertIn(b"Subject: set up by commands", found[-1])
        self.assertIn(b"Delivered.", found[-1])

    def test_services_set_up_by_task_commands_serve_real_clients(self):
        self.configure()
        program = self.start()

        refused = self.settings("ftp-account", "list", expect=1)
        self.assertIn(RUNNING, refused.stderr)

        self.use_ftp()
        self.assertEqual(self.fetch("www.example"), (200, b"<p>main site</p>"))
        self.assertEqual(self.fetch("shop.example"), (200, b"<p>shop site</p>"))
        self.use_mail()

        self.assertEqual(program.terminate(), 0, program.stderr())
        # Stopped, the commands work again and see what the program saved.
        listed = self.settings("ftp-account", "list")
        self.assertEqual(listed.stdout,
                         "ann\t%s\\\tfile-read,file-write,folder-read\n" % self.ftp_root)


def main():
    global PROGRAM, SETTINGS
    enter_private_network(__file__)
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    SETTINGS = os.path.abspath(sys.argv.pop(1))
    unittest.main()


if __name__ == "__main__":
    main()
