"""Counts the system calls the server makes per MiB of a passive download,
with strace attached to the running harness, and fails when they exceed a
bound: a download that falls back to one call per small block, or a
control look per block, shows up here and not only in a benchmark. Nothing
is timed.

    ftp_syscalls_test.py path/to/ftp_test_server
"""
import ftplib
import os
import tempfile
import unittest

from ftp_harness import ALL_RIGHTS, DEADLINE, Server, harness_path, strace_attached, strace_total

MIB = 1024 * 1024
BIG_MIB = 32
# Measured at about 12 calls per MiB (a 128 KiB sendfile per pass and a
# look at the control connection every second pass); a send per 1024-byte
# block would cost over a thousand.
CALLS_PER_MIB_LIMIT = 32


def download(port, name):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", port, timeout=DEADLINE)
    ftp.login("u", "pw")
    received = [0]

    def count(chunk):
        received[0] += len(chunk)
    ftp.retrbinary("RETR " + name, count, blocksize=256 * 1024)
    ftp.quit()
    return received[0]


def traced_calls(pid, action):
    """Runs `action` while strace counts the calls of every thread of `pid`
    (sessions started meanwhile included); returns the total."""
    with tempfile.TemporaryDirectory(prefix="vtftp-strace-") as folder:
        summary = os.path.join(folder, "summary")
        with strace_attached(pid, summary, "-c"):
            action()
        return strace_total(summary)


class DownloadCalls(unittest.TestCase):
    def test_calls_per_mib_of_download_stay_bounded(self):
        server = Server(harness_path(), [("u", "pw", ALL_RIGHTS)])
        try:
            root = server.root("u")
            with open(os.path.join(root, "big.bin"), "wb") as f:
                for _ in range(BIG_MIB):
                    f.write(os.urandom(MIB))
            with open(os.path.join(root, "tiny.bin"), "wb") as f:
                f.write(b"x")
            pid = server.process.pid
            # The same session with a one-byte file gives what is not the download.
            base = traced_calls(pid, lambda: self.assertEqual(download(server.port, "tiny.bin"), 1))
            total = traced_calls(pid, lambda: self.assertEqual(download(server.port, "big.bin"), BIG_MIB * MIB))
        finally:
            server.stop()
        per_mib = (total - base) / BIG_MIB
        print("system calls: %d for a one-byte download, %d for %d MiB: %.1f per MiB"
              % (base, total, BIG_MIB, per_mib))
        self.assertLess(per_mib, CALLS_PER_MIB_LIMIT)


if __name__ == "__main__":
    harness_path()
    unittest.main()
