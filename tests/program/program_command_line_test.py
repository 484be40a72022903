"""The program's command line, run as a user runs it: --help, --version
and usage errors answer at once and touch no file (no data folder, no
lock); --data-dir makes its folder and runs there; Qt's own options reach
Qt.
    program_command_line_test.py VANTREL_SERVER"""

import os
import signal
import subprocess
import sys
import unittest

from program_harness import FOLDERS, START_DEADLINE_S, STOP_DEADLINE_S, Workspace, wait_for

BINARY = None
USAGE_START = "Usage: vantrel-server [OPTION]..."


def everything_below(folder):
    found = []
    for root, dirs, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, n), folder) for n in dirs + files]
    return sorted(found)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.space = Workspace("vt-command-line-")
        self.addCleanup(self.space.close)
        self.cwd = self.space.data_folder("cwd")

    def run_program(self, *arguments, env=None):
        return subprocess.run([BINARY, *arguments], cwd=self.cwd, env=env or self.space.env,
                              capture_output=True, timeout=STOP_DEADLINE_S)

    def assert_untouched(self):
        self.assertEqual(everything_below(self.cwd), [])
        self.assertEqual(everything_below(self.space.tmpdir), [], "the lock was made")

    def test_help_and_version_print_and_touch_nothing(self):
        result = self.run_program("--help")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.decode().startswith(USAGE_START), result.stdout)
        self.assertIn(b"--data-dir DIR", result.stdout)
        self.assertEqual(result.stderr, b"")
        result = self.run_program("--version")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode().splitlines()[0], "Vantrel Server 2.33")
        self.assertEqual(result.stderr, b"")
        self.assert_untouched()

    def test_help_needs_no_working_display(self):
        # A display that cannot be reached must not matter to --help.
        env = dict(self.space.env, DISPLAY=":97")
        result = self.run_program("--data-dir", "never", "--help", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_untouched()

    def test_usage_errors_exit_2_and_touch_nothing(self):
        cases = [
            (["--bogus"], "unrecognised option '--bogus'"),
            (["--data-dir", "made", "-x"], "unrecognised option '-x'"),
            (["operand"], "unexpected argument 'operand'"),
            (["--data-dir"], "option '--data-dir' needs a value"),
            (["-platform"], "option '-platform' needs a value"),
        ]
        for arguments, reason in cases:
            with self.subTest(arguments=arguments):
                result = self.run_program(*arguments)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(result.stdout, b"")
                lines = result.stderr.decode().splitlines()
                self.assertEqual(lines[0], "vantrel-server: " + reason)
                self.assertEqual(lines[1], USAGE_START + " [QT OPTION]...")
                self.assert_untouched()

    def start(self, *arguments, env=None):
        process = subprocess.Popen([BINARY, *arguments], cwd=self.cwd, env=env or self.space.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(self.kill, process)
        return process

    @staticmethod
    def kill(process):
        if process.poll() is None:
            process.kill()
            process.wait()
        process.stderr.close()

    def stop(self, process):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=STOP_DEADLINE_S)
        except subprocess.TimeoutExpired:
            self.kill(process)
            raise
        return process.returncode, process.stderr.read().decode("latin-1")

    def run_until_started(self, data, *arguments, env=None):
        """Runs the program until it has made its folders in `data`, then
        ends it with SIGTERM, which saves general.dat there."""
        process = self.start(*arguments, env=env)
        wait_for(lambda: all(os.path.isdir(os.path.join(data, f)) for f in FOLDERS)
                 or process.poll() is not None, START_DEADLINE_S, "the working folders")
        self.assertIsNone(process.poll(), "the program ended early")
        status, err = self.stop(process)
        self.assertEqual(status, 0, err)
        return err

    def test_data_dir_is_made_with_its_parents_and_used(self):
        data = os.path.join(self.cwd, "new", "data")
        self.run_until_started(data, "--data-dir", "new/data")
        for name in ("general.dat", "logs", "email", "ftp", "http"):
            self.assertTrue(os.path.exists(os.path.join(data, name)), name)
        self.assertEqual(os.listdir(self.cwd), ["new"])
        self.assertEqual(os.listdir(os.path.join(self.cwd, "new")), ["data"])

    def test_data_dir_given_joined_and_existing(self):
        data = self.space.data_folder("existing")
        self.run_until_started(data, "--data-dir=" + data)
        self.assertTrue(os.path.exists(os.path.join(data, "general.dat")))
        self.assertEqual(os.listdir(self.cwd), [])

    def test_a_second_copy_leaves_its_data_dir_unmade(self):
        first = self.start("--data-dir", "first")
        data = os.path.join(self.cwd, "first")
        wait_for(lambda: all(os.path.isdir(os.path.join(data, f)) for f in FOLDERS)
                 or first.poll() is not None, START_DEADLINE_S, "the working folders")
        result = self.run_program("--data-dir", "second")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"is already running", result.stderr)
        self.assertEqual(os.listdir(self.cwd), ["first"])
        status, err = self.stop(first)
        self.assertEqual(status, 0, err)

    def test_data_dir_that_cannot_be_made_ends_with_1(self):
        blocker = os.path.join(self.cwd, "file")
        with open(blocker, "w"):
            pass
        result = self.run_program("--data-dir", "file/data")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"its data folder file/data cannot be made or entered", result.stderr)
        self.assertEqual(os.listdir(self.cwd), ["file"])

    def test_qt_options_reach_qt(self):
        # With a display that cannot be reached, only "-platform offscreen"
        # handed to Qt lets the program start at all.
        env = dict(self.space.env, DISPLAY=":97")
        data = os.path.join(self.cwd, "data")
        self.run_until_started(data, "-platform", "offscreen", "--data-dir", "data", "-style=Fusion",
                              "-reverse", env=env)
        self.assertTrue(os.path.exists(os.path.join(data, "general.dat")))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
