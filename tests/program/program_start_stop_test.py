#!/usr/bin/env python3
"""Starts the built program without a display in fresh folders: it prepares
its folders, refuses a second copy while it runs, and on SIGTERM saves
general.dat and exits with status 0; all it writes to standard error is its
own (Qt's warnings about the missing display would fill a journal). An
unusable temporary folder is reported as what it is; temporary files of
dead processes are cleared at start; a service whose folders cannot be
written is not activated, which is said with the folder and the reason; a
final save that fails is reported and ends with an error.

Usage: program_start_stop_test.py <vantrel-server>"""

import os
import resource
import signal
import sys
import unittest

from program_harness import (FOLDERS, Program, Workspace, leftovers, read_settings,
                             seed_settings, wait_for, write_settings)

PRODUCT = "Vantrel Server 2.33"
ALREADY_RUNNING = PRODUCT + " is already running."
PROGRAM = None  # set by main


class StartAndStop(unittest.TestCase):
    def setUp(self):
        self.space = Workspace()
        self.addCleanup(self.space.close)

    def start(self, data, preexec_fn=None, env=None):
        program = Program(PROGRAM, data, env or self.space.env, preexec_fn)
        self.addCleanup(program.kill)
        return program

    def test_first_run_refuses_a_second_copy_and_saves_on_sigterm(self):
        first_dir = self.space.data_folder("first")
        second_dir = self.space.data_folder("second")
        first = self.start(first_dir)
        wait_for(lambda: all(os.path.isdir(os.path.join(first_dir, f)) for f in FOLDERS)
                 or not first.running(), 20, "the four folders")
        self.assertTrue(first.running(), first.stderr())

        second = self.start(second_dir)
        status = second.wait()
        self.assertNotEqual(status, 0, "second copy did not refuse")
        self.assertIn(ALREADY_RUNNING, second.stderr())
        self.assertEqual(os.listdir(second_dir), [])
        self.assertTrue(first.running(), "first copy ended")

        status = first.terminate()
        self.assertEqual(status, 0, first.stderr())
        foreign = [l for l in first.stderr().splitlines() if not l.startswith(PRODUCT)]
        self.assertEqual(foreign, [])
        values = read_settings(os.path.join(first_dir, "general.dat"))
        self.assertEqual(values.get("loadedbefore"), 1, values)
        self.assertEqual(values.get("hide"), 0, values)

    def test_an_unusable_temporary_folder_is_reported_as_such(self):
        plain_file = os.path.join(self.space.top, "plain-file")
        with open(plain_file, "w") as f:
            f.write("x")
        cases = [("missing", os.path.join(self.space.top, "no-such-folder"),
                  "No such file or directory"),
                 ("a file", plain_file, "Not a directory")]
        if os.geteuid() != 0:  # root may write anywhere
            locked = os.path.join(self.space.top, "locked")
            os.mkdir(locked, 0o555)
            cases.append(("not writable", locked, "Permission denied"))
        for what, tmpdir, reason in cases:
            with self.subTest(what):
                data = self.space.data_folder("data-" + what.replace(" ", "-"))
                program = self.start(data, env=dict(self.space.env, TMPDIR=tmpdir))
                status = program.wait()
                said = program.stderr()
                self.assertNotEqual(status, 0, said)
                self.assertNotIn("already running", said)
                self.assertIn(tmpdir, said)
                self.assertIn(reason, said)
                self.assertIn("TMPDIR", said)
                self.assertEqual(os.listdir(data), [], "the data folder was touched")

    def test_temporary_files_of_dead_processes_are_removed_at_start(self):
        data = self.space.data_folder("data")
        seed_settings(data)
        # A process that has ended leaves its id free.
        gone = os.fork()
        if gone == 0:
            os._exit(0)
        os.waitpid(gone, 0)
        live = os.getpid()
        stale = ["general.dat.%d.0.tmp" % gone, "ftp/ann.dat.%d.3.tmp" % gone,
                 "http/404notfound.html.%d.1.tmp" % gone]
        kept = ["http.dat.%d.0.tmp" % live, "ftp/notes.tmp"]
        for name in stale + kept:
            os.makedirs(os.path.dirname(os.path.join(data, name)), exist_ok=True)
            with open(os.path.join(data, name), "wb") as f:
                f.write(b"partial")
        program = self.start(data)
        program.wait_loaded()
        for name in stale:
            self.assertFalse(os.path.exists(os.path.join(data, name)), name)
        for name in kept:
            self.assertTrue(os.path.exists(os.path.join(data, name)), name)
        self.assertEqual(program.terminate(), 0, program.stderr())

    def test_services_are_not_activated_without_a_writable_logs_folder(self):
        # A file where the logs folder belongs: root cannot write there either.
        data = self.space.data_folder("data")
        seed_settings(data, ftp_autostart=1)
        write_settings(os.path.join(data, "http.dat"),
                       [("logfilecount", 0), ("port", 0), ("admin", "pw"), ("defaultfolder", data),
                        ("defaultpage", "index.html"), ("folderview", 0), ("autostart", 1)])
        with open(os.path.join(data, "logs"), "w") as f:
            f.write("not a folder")
        refusals = ["HTTP Error: Activation of HTTP server failed.",
                    "FTP Error: Activation of FTP server failed."]
        program = self.start(data)
        wait_for(lambda: all(r in program.stderr() for r in refusals) or not program.running(), 20,
                 "both activations to fail")
        said = program.stderr()
        for refusal in refusals:
            self.assertIn(refusal, said)
        folder_line = "Vantrel Server 2.33: the folder %s/logs cannot be written (Not a directory)." % data
        self.assertEqual(said.count(folder_line), 2, said)
        self.assertEqual(program.terminate(), 0, program.stderr())

    def test_a_final_save_that_fails_is_reported_and_ends_with_an_error(self):
        data = self.space.data_folder("data")
        seed_settings(data)
        with open(os.path.join(data, "general.dat"), "rb") as f:
            before = f.read()

        def small_files():
            # Every write past 300 bytes fails (EFBIG), as on a full disk;
            # general.dat needs more than that.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (300, 300))

        program = self.start(data, preexec_fn=small_files)
        program.wait_loaded()
        status = program.terminate()
        said = program.stderr()
        self.assertNotEqual(status, 0, said)
        self.assertIn("general.dat could not be saved", said)
        self.assertIn("the settings could not all be saved", said)
        with open(os.path.join(data, "general.dat"), "rb") as f:
            self.assertEqual(f.read(), before, "general.dat was not left as it was")
        self.assertEqual(leftovers(data), [])


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
