#!/usr/bin/env python3
"""A relative TMPDIR names a folder below the one the program was started
in, also once the program works in a --data-dir elsewhere: a second start
from the same folder finds the instance lock there and refuses, the
settings tool finds the lock at its absolute path, and the mail sessions
make their message files there, so mail is received and stored.

SMTP listens on the fixed port 25, so the test runs itself in a user and
network namespace of its own (unshare); without user namespaces it is
skipped.

Usage: program_tmpdir_test.py <vantrel-server> <vantrel-settings>"""

import glob
import os
import smtplib
import subprocess
import sys
import unittest

from program_harness import Program, Workspace, binaries_from_command_line, listening, wait_for

PROGRAM = None  # set by main
SETTINGS = None
SMTP_PORT = 25
DEADLINE_S = 20
ALREADY_RUNNING = "Vantrel Server 2.33 is already running."
LOCK_FILE = "QUORVELL_LABS_VANTREL_SERVER.lock"


class RelativeTemporaryFolder(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-tmpdir-")
        self.addCleanup(self.space.close)
        self.start_folder = self.space.data_folder("start")
        self.tmpdir = os.path.join(self.start_folder, "tmp")
        os.mkdir(self.tmpdir)
        self.env = dict(self.space.env, TMPDIR="tmp")

    def settings(self, data, *words, expect=0):
        return self.tool("--data-dir", data, *words, expect=expect)

    def tool(self, *words, expect=0):
        result = subprocess.run([SETTINGS] + list(words), env=self.env,
                                cwd=self.start_folder, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, expect, " ".join(words) + ": " + result.stderr)
        return result

    def start(self, data):
        program = Program(PROGRAM, data, self.env, args=["--data-dir", data], cwd=self.start_folder)
        self.addCleanup(program.kill)
        return program

    def test_a_relative_tmpdir_is_below_the_start_folder(self):
        data = self.space.data_folder("data")
        self.settings(data, "mail-account", "add", "joe", "--address", "joe@example.com", "--password", "pw")
        self.settings(data, "autostart", "email", "on")
        first = self.start(data)
        wait_for(lambda: listening(SMTP_PORT) or not first.running(), DEADLINE_S, "the SMTP port")
        self.assertTrue(first.running(), first.stderr())
        self.assertTrue(os.path.exists(os.path.join(self.tmpdir, LOCK_FILE)))

        second_data = self.space.data_folder("second")
        second = self.start(second_data)
        self.assertNotEqual(second.wait(), 0, "second copy did not refuse")
        self.assertIn(ALREADY_RUNNING, second.stderr())
        self.assertEqual(os.listdir(second_data), [])

        # The running server answers beside its lock; a record command,
        # whose change it would overwrite, refuses.
        self.assertIn("joe\tjoe@example.com", self.settings(data, "mail-account", "list").stdout)
        refused = self.tool(os.path.join(data, "email.dat"), "set-int", "popport", "111", expect=1)
        self.assertIn("(it holds %s/%s)" % (self.tmpdir, LOCK_FILE), refused.stderr)

        with smtplib.SMTP("127.0.0.1", SMTP_PORT, timeout=DEADLINE_S) as smtp:
            smtp.sendmail("sender@client.example", ["joe@example.com"], "Subject: hi\r\n\r\nStored.\r\n")
        stored = os.path.join(data, "email", "*@joe_e.dat")
        wait_for(lambda: glob.glob(stored), DEADLINE_S, "the stored message")

        self.assertEqual(first.terminate(), 0, first.stderr())


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
