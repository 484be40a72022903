#!/usr/bin/env python3
"""A data folder set up with vantrel-settings task commands only serves FTP,
HTTP and mail, and the same commands change the running program without a
restart: accounts, a domain and the greeting made while it runs are used at
once by real clients, while an FTP download begun before keeps running to
its end; `service` switches a service, `status` counts real connections.

FTP (21) and SMTP (25) listen on fixed ports, so the test runs itself in a
user and network namespace of its own (unshare), where the standard ports
are private; without user namespaces it is skipped.

Usage: program_tasks_test.py <vantrel-server> <vantrel-settings>"""

import ftplib
import http.client
import io
import json
import os
import poplib
import smtplib
import threading
import unittest

from program_harness import Program, Workspace, binaries_from_command_line, listening, run_settings, wait_for

PROGRAM = None  # set by main
SETTINGS = None
PORTS = {"FTP": 21, "SMTP": 25, "HTTP": 80, "POP3": 110}
DEADLINE_S = 20
BIG = 32 * 1024 * 1024


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
        return run_settings(SETTINGS, self.space, self.data, *words, expect=expect)

    def configure(self):
        # The FTP folder is given relative to the current folder.
        self.settings("ftp-account", "add", "Ann", "--password", "ftp-pw", "--folder", "ftproot",
                      "--rights", "file-read,file-write,folder-read")
        self.settings("http-site", "set", "--port", "80", "--default-folder", self.site,
                      "--default-page", "index.html")
        self.settings("mail-routing", "set", "--local-domain", "example.com", "--relay-subnet", "127.0.0.1")
        # Email cannot start without an account: one is added while it runs.
        for service in ("ftp", "http", "email"):
            self.settings("autostart", service, "on")

    def start(self):
        program = Program(PROGRAM, self.data, self.space.env)
        self.addCleanup(program.kill)
        program.wait_listening((PORTS["FTP"], PORTS["HTTP"]), DEADLINE_S)
        return program

    def ftp(self, user="ann", password="ftp-pw", port=PORTS["FTP"]):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", port, timeout=DEADLINE_S)
        ftp.login(user, password)
        return ftp

    def use_ftp(self, user, password):
        with self.ftp(user, password) as ftp:
            received = io.BytesIO()
            ftp.retrbinary("RETR hello.txt", received.write)
            self.assertEqual(received.getvalue(), b"hello over ftp\r\n")
            ftp.storbinary("STOR upload.txt", io.BytesIO(b"stored\r\n"))
        with open(os.path.join(self.ftp_root, "upload.txt"), "rb") as f:
            self.assertEqual(f.read(), b"stored\r\n")

    def slow_download(self):
        """Starts a download of a big file that stalls after its first block
        until released; returns (release, join) where join gives the bytes."""
        ftp = self.ftp()
        started, release, received = threading.Event(), threading.Event(), []

        def block(data):
            received.append(len(data))
            started.set()
            release.wait(DEADLINE_S)

        worker = threading.Thread(target=lambda: ftp.retrbinary("RETR big.bin", block, blocksize=65536))
        worker.start()
        self.assertTrue(started.wait(DEADLINE_S))

        def finish():
            release.set()
            worker.join(DEADLINE_S)
            ftp.quit()
            return sum(received)
        return finish

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

    def status(self):
        text = self.settings("status").stdout
        figures = json.loads(self.settings("status", "--json").stdout)
        return text, figures

    def test_task_commands_change_the_running_program_for_real_clients(self):
        with open(os.path.join(self.ftp_root, "big.bin"), "wb") as f:
            f.write(os.urandom(BIG))
        self.configure()
        program = self.start()
        self.assertFalse(listening(PORTS["SMTP"]))
        finish_download = self.slow_download()

        # Accounts, a domain and the greeting, made while the program runs.
        self.settings("ftp-account", "add", "bob", "--password", "bob-pw", "--folder", self.ftp_root)
        self.settings("ftp-site", "set", "--welcome", "Changed while running.")
        self.settings("http-domain", "add", "shop.example", self.shop)
        self.settings("mail-account", "add", "joe", "--address", "joe@example.com", "--password", "mail-pw")
        started = self.settings("service", "email", "start")
        self.assertEqual(started.stdout, "Email: Online, 0 connections. 0 Kb in and 0 Kb out.\n")
        with self.ftp("bob", "bob-pw") as ftp:
            self.assertIn("Changed while running.", ftp.getwelcome())
        self.use_ftp("ann", "ftp-pw")
        self.assertEqual(self.fetch("www.example"), (200, b"<p>main site</p>"))
        self.assertEqual(self.fetch("shop.example"), (200, b"<p>shop site</p>"))
        self.use_mail()
        self.assertEqual(finish_download(), BIG)

        # Ten open sessions, counted by the window's status line.
        sessions = [self.ftp() for _ in range(10)]
        text, figures = self.status()
        self.assertIn("FTP: Online, 10 connections.", text)
        self.assertIn("Data folder: %s\n" % self.data, text)
        self.assertEqual((figures["running"], figures["pid"], figures["dataFolder"]),
                         (True, program.process.pid, self.data))
        self.assertEqual(figures["services"]["ftp"]["connections"], 10)
        self.assertGreater(figures["services"]["ftp"]["bytesOut"], BIG)
        self.assertEqual(figures["services"]["email"]["active"], True)
        for ftp in sessions:
            ftp.quit()

        # A new port takes effect at the next activation.
        self.settings("ftp-site", "set", "--port", "2121")
        self.assertTrue(listening(PORTS["FTP"]))
        self.assertEqual(self.settings("service", "ftp", "stop").stdout, "FTP: Offline.\n")
        self.settings("service", "ftp", "start")
        with self.ftp("bob", "bob-pw", port=2121):
            pass
        self.assertFalse(listening(PORTS["FTP"]))

        self.assertEqual(program.terminate(), 0, program.stderr())
        # Stopped, the commands work on the files, which hold every change.
        self.assertEqual(self.settings("status", expect=3).stdout, "Vantrel Server 2.33 is not running.\n")
        listed = self.settings("ftp-account", "list")
        self.assertEqual(listed.stdout, "ann\t%s\\\tfile-read,file-write,folder-read\n"
                         "bob\t%s\\\tfile-read,folder-read\n" % (self.ftp_root, self.ftp_root))
        self.assertIn("joe\tjoe@example.com", self.settings("mail-account", "list").stdout)


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
