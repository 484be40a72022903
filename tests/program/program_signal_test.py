#!/usr/bin/env python3
"""SIGTERM at any moment of the program's start never loses general.dat.
The program catches the signal before it writes anything, so once a work
folder exists it always ends cleanly and saves: general.dat keeps what it
held (a key of its own included), gains "loadedbefore" on a first run, and
no temporary file is left. Before its handler is in place the signal may
still end the program outright, but then nothing has been written.

Usage: program_signal_test.py <vantrel-server>"""

import os
import random
import shutil
import signal
import sys
import time
import unittest

from program_harness import (FOLDERS, Program, Workspace, leftovers, loaded, read_settings,
                             seed_settings, wait_for)

PROGRAM = None  # set by main
# Iterations per kind of start; each takes well under a second.
ROUNDS = 8


class SigtermDuringStart(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.space = Workspace("vt-signal-")
        # How long a start takes here, up to the loaded settings: the
        # random moments are spread over it and a little beyond.
        data = cls.space.data_folder("measure")
        seed_settings(data)
        began = time.monotonic()
        program = Program(PROGRAM, data, cls.space.env)
        try:
            program.wait_loaded()
            cls.start_s = time.monotonic() - began
            assert program.terminate() == 0, program.stderr()
        finally:
            program.kill()

    @classmethod
    def tearDownClass(cls):
        cls.space.close()

    def fresh_folder(self, name, seeded):
        data = os.path.join(self.space.top, name)
        shutil.rmtree(data, ignore_errors=True)
        os.mkdir(data)
        if seeded:
            seed_settings(data)
        return data

    def check_outcome(self, data, seeded, status, said, seeded_general):
        general = os.path.join(data, "general.dat")
        self.assertEqual(leftovers(data), [], said)
        if status == -signal.SIGTERM:
            # Ended before the handler was in place: nothing was written yet.
            self.assertFalse(any(os.path.isdir(os.path.join(data, f)) for f in ("logs", "email")),
                             "a work folder was made before SIGTERM was caught")
            if seeded:
                with open(general, "rb") as f:
                    self.assertEqual(f.read(), seeded_general)
            else:
                self.assertFalse(os.path.exists(general))
            return
        self.assertEqual(status, 0, said)
        values = read_settings(general)
        self.assertEqual(values.get("loadedbefore"), 1, values)
        self.assertEqual(values.get("hide"), 0, values)
        if seeded:
            self.assertEqual(values.get("seeded"), 7, "general.dat lost what it held")

    def run_rounds(self, seeded):
        rng = random.Random(11 if seeded else 12)
        for round_ in range(ROUNDS):
            delay = rng.uniform(0, self.start_s * 1.2)
            with self.subTest(seeded=seeded, round=round_, delay=delay):
                data = self.fresh_folder("data", seeded)
                seeded_general = None
                if seeded:
                    with open(os.path.join(data, "general.dat"), "rb") as f:
                        seeded_general = f.read()
                program = Program(PROGRAM, data, self.space.env)
                try:
                    # The random moment itself is what this test is about.
                    time.sleep(delay)
                    status = program.terminate()
                finally:
                    program.kill()
                self.check_outcome(data, seeded, status, program.stderr(), seeded_general)

    def test_at_random_moments_of_a_first_start(self):
        self.run_rounds(seeded=False)

    def test_at_random_moments_of_a_later_start(self):
        self.run_rounds(seeded=True)

    def test_right_after_the_first_folder_appears(self):
        # The moment at which the folders exist but a late handler would
        # not be in place yet.
        for round_ in range(ROUNDS):
            with self.subTest(round=round_):
                data = self.fresh_folder("data", seeded=False)
                program = Program(PROGRAM, data, self.space.env)
                try:
                    first = os.path.join(data, FOLDERS[0])
                    deadline = time.monotonic() + 20
                    while not os.path.isdir(first) and program.running() \
                            and time.monotonic() < deadline:
                        pass  # as close to the moment as a test can get
                    status = program.terminate()
                finally:
                    program.kill()
                self.assertEqual(status, 0, program.stderr())
                self.check_outcome(data, False, status, program.stderr(), None)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
