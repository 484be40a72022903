"""Transfers with python's ftplib in passive and active mode, byte for
byte, and the transfer engine's edges: REST, empty files, ABOR and STAT
between blocks, the one-shot passive connection, transfers that fail (a
reset, a file that shrinks, a full disk) with their one failure reply, and
byte totals past 4 GiB."""
import ftplib
import io
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from ftp_harness import (ALL_RIGHTS, DEADLINE, Server, ServerCase, harness_path, logged_in, read_all,
                         wait_until)

HARNESS = harness_path()
PAYLOAD = os.urandom(3 * 1024 * 1024 + 333)


def ftplib_session(test):
    """An ftplib client logged in as "ann", closed when `test` ends."""
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", test.server.port, timeout=DEADLINE)
    test.addCleanup(ftp.close)
    ftp.login("ann", "pw")
    return ftp


class FtplibTransfers(ServerCase):
    def client(self, passive):
        ftp = ftplib_session(self)
        ftp.set_pasv(passive)
        return ftp

    def disk(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def fetch(self, ftp, name, rest=None):
        out = io.BytesIO()
        ftp.retrbinary("RETR " + name, out.write, rest=rest)
        return out.getvalue()

    def round_trip(self, passive):
        mode = "pasv" if passive else "port"
        ftp = self.client(passive)
        name = "up-%s.bin" % mode
        ftp.storbinary("STOR " + name, io.BytesIO(PAYLOAD))
        self.assertEqual(self.disk(name), PAYLOAD)
        self.server.wait_for_log("File Upload IP:[127.0.0.1], User:[ann], File:[%s\\%s]" % (self.root, name))
        self.assertEqual(self.fetch(ftp, name), PAYLOAD)
        self.server.wait_for_log("File Download IP:[127.0.0.1], User:[ann], File:[%s\\%s]" % (self.root, name))
        self.assertEqual(ftp.size(name), len(PAYLOAD))

        # Append, and STOR over an existing file replaces it.
        ftp.storbinary("APPE " + name, io.BytesIO(b"tail"))
        self.assertEqual(self.disk(name), PAYLOAD + b"tail")
        ftp.storbinary("STOR " + name, io.BytesIO(b"short"))
        self.assertEqual(self.disk(name), b"short")

        # Resumed download and resumed upload.
        ftp.storbinary("STOR " + name, io.BytesIO(PAYLOAD))
        self.assertEqual(self.fetch(ftp, name, rest=1000000), PAYLOAD[1000000:])
        ftp.storbinary("STOR part-" + name, io.BytesIO(PAYLOAD[:5000]))
        ftp.storbinary("STOR part-" + name, io.BytesIO(PAYLOAD[4000:]), rest=4000)
        self.assertEqual(self.disk("part-" + name), PAYLOAD)

        # Folder and file management around the transfers.
        folder = "dir-" + mode
        ftp.mkd(folder)
        ftp.rename(name, folder + "/moved.bin")
        self.assertEqual(sorted(ftp.nlst(folder)), [".", "..", "moved.bin"])
        listing = []
        ftp.dir(folder, listing.append)
        self.assertEqual(sorted(line.split()[-1] for line in listing), [".", "..", "moved.bin"])
        ftp.delete(folder + "/moved.bin")
        ftp.rmd(folder)
        self.assertFalse(os.path.exists(os.path.join(self.root, folder)))
        ftp.quit()

    def test_passive_round_trip(self):
        self.round_trip(True)

    def test_active_round_trip(self):
        self.round_trip(False)

    def test_empty_file(self):
        open(os.path.join(self.root, "empty"), "wb").close()
        ftp = self.client(True)
        self.assertEqual(self.fetch(ftp, "empty"), b"")
        ftp.storbinary("STOR empty2", io.BytesIO(b""))
        self.assertEqual(self.disk("empty2"), b"")


class EngineEdges(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with open(os.path.join(cls.root, "hundred"), "wb") as f:
            f.write(bytes(range(100)))
        with open(os.path.join(cls.root, "large.bin"), "wb") as f:
            f.write(os.urandom(48 * 1024 * 1024))

    def test_rest_outside_the_file_and_reset_after_use(self):
        c = self.session()
        self.assertEqual(c.cmd("REST 100"), "350 REST command successful.")
        data = c.pasv()
        self.assertEqual(c.cmd("RETR hundred"), "550 The REST value is outside of the file.")
        self.assertEqual(c.cmd("RETR hundred"), "150 Data connetion established, beginning transfer.")
        self.assertEqual(read_all(data), bytes(range(100)))
        self.assertEqual(c.reply(), "226 Transfer complete.")
        # One PASV serves one data connection.
        self.assertEqual(c.cmd("RETR hundred"), "503 Please use PORT or PASV first.")

    def test_rest_then_stor_beyond_the_end_leaves_the_files_as_they_were(self):
        for name in ("hundred", "never-made"):
            with self.subTest(name=name):
                c = self.session()
                c.cmd("REST 500")
                c.pasv().close()
                self.assertEqual(c.cmd("STOR " + name), "550 The REST value is outside of the file.")
                self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\%s], "
                                         "Reason:[Open Failed]" % (self.root, name))
        with open(os.path.join(self.root, "hundred"), "rb") as f:
            self.assertEqual(f.read(), bytes(range(100)))
        self.assertFalse(os.path.exists(os.path.join(self.root, "never-made")))

    def test_append_needs_an_existing_file(self):
        c = self.session()
        c.pasv().close()
        self.assertEqual(c.cmd("APPE nothing"), "550 File does not exist.")
        self.assertEqual(c.cmd("RETR nothing"), "550 File does not exist.")
        self.server.wait_for_log("***DOWNLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\nothing], "
                                 "Reason:[Does Not Exist]" % self.root)

    def test_abor_stat_and_other_commands_between_blocks(self):
        c = self.session()
        data = c.pasv()
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.assertEqual(c.cmd("RETR large.bin"), "150 Data connetion established, beginning transfer.")
        self.assertEqual(len(data.recv(1000)) > 0, True)
        # The client reads no further: the server waits with a block pending.
        self.assertEqual(c.cmd("STAT"), "211 FTP Server is all OK.")
        self.assertEqual(c.cmd("PWD"), "550 Cannot process command in transfer mode.")
        self.assertEqual(c.cmd("LIST"), "550 Cannot process command in transfer mode.")
        c.send(b"\xff\xf4\xff\xf2ABOR")
        self.assertEqual(c.reply(), "226 Transfer complete.")
        self.assertEqual(c.reply(), "426 Transfer incomplete, data connection was lost.")
        # Whatever was still queued is dropped with the connection, not
        # trickled out to a client that has stopped reading.
        self.assertLess(len(read_all(data, reset_ends=True)), 1024 * 1024)
        self.server.wait_for_log("***DOWNLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\large.bin], "
                                 "Reason:[Aborted / Data Connection Failure]" % self.root)
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')

    def test_ftplib_abort_with_urgent_data(self):
        ftp = ftplib_session(self)
        conn = ftp.transfercmd("RETR large.bin")
        self.assertGreater(len(conn.recv(1024)), 0)
        self.assertEqual(ftp.abort(), "226 Transfer complete.")
        self.assertEqual(ftp.getline(), "426 Transfer incomplete, data connection was lost.")
        conn.close()
        self.assertEqual(ftp.voidcmd("NOOP"), "200 Hi.")

    def test_upload_reaches_the_file_while_the_client_pauses_then_abor(self):
        c = self.session()
        data = c.pasv()
        path = os.path.join(self.root, "partial.bin")
        self.assertEqual(c.cmd("STOR partial.bin"), "150 Data connetion established, beginning transfer.")
        data.sendall(os.urandom(10000))
        wait_until(lambda: os.path.getsize(path) == 10000, "the received bytes on disk")
        self.assertEqual(c.cmd("STAT"), "211 FTP Server is all OK.")
        self.assertEqual(c.cmd("ABOR"), "226 Transfer complete.")
        self.assertEqual(c.reply(), "426 Transfer incomplete, data connection was lost.")
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\partial.bin], "
                                 "Reason:[Aborted / Data Connection Failure]" % self.root)
        self.assertEqual(os.path.getsize(path), 10000)
        data.close()

    def test_client_closing_the_data_connection_fails_the_download(self):
        c = self.session()
        data = c.pasv()
        self.assertEqual(c.cmd("RETR large.bin"), "150 Data connetion established, beginning transfer.")
        data.recv(1000)
        data.close()
        # One reply, the failure: no 226 ahead of it.
        self.assertEqual(c.reply(), "426 Transfer incomplete, data connection was lost.")
        self.assertEqual(c.cmd("ABOR"), "225 No transfer in progress.")

    def test_a_reset_data_connection_fails_the_upload(self):
        c = self.session()
        data = c.pasv()
        path = os.path.join(self.root, "reset.bin")
        self.assertEqual(c.cmd("STOR reset.bin"), "150 Data connetion established, beginning transfer.")
        data.sendall(os.urandom(10000))
        wait_until(lambda: os.path.getsize(path) == 10000, "the received bytes on disk")
        # A zero linger time makes the close a reset.
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        data.close()
        self.assertEqual(c.reply(), "426 Transfer incomplete, data connection was lost.")
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\reset.bin], "
                                 "Reason:[Aborted / Data Connection Failure]" % self.root)
        self.assertEqual(c.cmd("NOOP"), "200 Hi.")
        self.assertNotIn("File Upload IP:[127.0.0.1], User:[ann], File:[%s\\reset.bin]" % self.root,
                         self.server.log_text())

    def test_a_file_that_shrinks_during_the_download_fails_it(self):
        path = os.path.join(self.root, "shrinks.bin")
        with open(path, "wb") as f:
            f.write(os.urandom(16 * 1024 * 1024))
        c = self.session()
        data = c.pasv()
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.assertEqual(c.cmd("RETR shrinks.bin"), "150 Data connetion established, beginning transfer.")
        self.assertGreater(len(data.recv(1000)), 0)
        os.truncate(path, 1024 * 1024)
        self.assertLess(len(read_all(data, reset_ends=True)), 16 * 1024 * 1024)
        self.assertEqual(c.reply(), "426 Transfer incomplete, data connection was lost.")
        self.server.wait_for_log("***DOWNLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\shrinks.bin], "
                                 "Reason:[Aborted / Data Connection Failure]" % self.root)
        self.assertEqual(c.cmd("NOOP"), "200 Hi.")


class WriteFailure(unittest.TestCase):
    """A server whose files may not grow past 1 MiB, as on a full disk."""
    LIMIT = 1024 * 1024

    def setUp(self):
        # The harness is started through a script that sets the limit and
        # ignores SIGXFSZ (so that a write past it fails instead of ending
        # the process) before it becomes the harness; subprocess would
        # restore the signal's default if this process set it.
        folder = tempfile.mkdtemp(prefix="vtftp-limit-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        wrapper = os.path.join(folder, "limited_server")
        with open(wrapper, "w") as f:
            f.write("#!%s\nimport os, resource, signal, sys\n"
                    "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
                    "resource.setrlimit(resource.RLIMIT_FSIZE, (%d, resource.RLIM_INFINITY))\n"
                    "os.execv(%r, [%r] + sys.argv[1:])\n" % (sys.executable, self.LIMIT, HARNESS, HARNESS))
        os.chmod(wrapper, 0o755)
        self.server = Server(wrapper, [("ann", "pw", ALL_RIGHTS)])
        self.addCleanup(self.server.stop)

    def test_an_upload_the_file_cannot_take_fails_with_what_fitted_on_disk(self):
        c = logged_in(self, self.server.port)
        data = c.pasv()
        self.assertEqual(c.cmd("STOR full.bin"), "150 Data connetion established, beginning transfer.")
        try:
            data.sendall(PAYLOAD)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the server has given up on the data connection
        data.close()
        # The failure is the one reply: NOOP's answer comes next.
        self.assertEqual(c.reply(), "426 Transfer aborted, writing to file failed.")
        self.assertEqual(c.cmd("NOOP"), "200 Hi.")
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\full.bin], "
                                 "Reason:[File Write Failed]" % self.server.root("ann"))
        with open(os.path.join(self.server.root("ann"), "full.bin"), "rb") as f:
            self.assertEqual(f.read(), PAYLOAD[:self.LIMIT])

    def test_curl_reports_the_failed_upload(self):
        # Just past the limit: curl has sent every byte and closed the data
        # connection by the time the write fails, so only the reply tells.
        source = os.path.join(self.server.base, "payload.bin")
        with open(source, "wb") as f:
            f.write(PAYLOAD[:self.LIMIT + 4096])
        url = "ftp://ann:pw@127.0.0.1:%d/curl-full.bin" % self.server.port
        done = subprocess.run(["curl", "--silent", "--show-error", "--max-time", "60", "-T", source, url],
                              capture_output=True, text=True, timeout=120)
        self.assertNotEqual(done.returncode, 0, done.stderr)
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\curl-full.bin], "
                                 "Reason:[File Write Failed]" % self.server.root("ann"))


class Totals(ServerCase):
    """The service's byte totals go on past 4 GiB."""
    SIZE = (4 << 30) + (1 << 20)

    def test_a_download_past_4_gib_is_counted_whole(self):
        path = os.path.join(self.root, "huge.bin")
        with open(path, "wb") as f:
            f.truncate(self.SIZE)  # sparse: nothing is written
        c = self.session()
        data = c.pasv()
        self.assertEqual(c.cmd("RETR huge.bin"), "150 Data connetion established, beginning transfer.")
        buffer = bytearray(1 << 20)
        received = 0
        while True:
            count = data.recv_into(buffer)
            if count == 0:
                break
            received += count
        data.close()
        self.assertEqual(received, self.SIZE)
        self.assertEqual(c.reply(), "226 Transfer complete.")

        def bytes_out():
            return int(self.server.steer("bytes", "BYTES").split()[2])
        wait_until(lambda: bytes_out() > self.SIZE, "the download in the total")


class IdleLimit(unittest.TestCase):
    """With a short idle limit: silence ends a session, a slow transfer does not."""
    IDLE_MS = 2000

    def setUp(self):
        self.server = Server(HARNESS, [("ann", "pw", ALL_RIGHTS)], idle_ms=self.IDLE_MS)
        self.addCleanup(self.server.stop)

    def test_silent_client_gets_the_time_out_reply(self):
        c = logged_in(self, self.server.port)
        self.assertEqual(c.reply(), "421 Control connection time out.")
        self.assertTrue(c.closed_by_server())

    def test_slow_download_keeps_the_session_alive(self):
        content = os.urandom(24 * 1024 * 1024)
        with open(os.path.join(self.server.root("ann"), "slow.bin"), "wb") as f:
            f.write(content)
        c = logged_in(self, self.server.port)
        reply = c.cmd("PASV")
        numbers = [int(n) for n in reply[reply.index("(") + 1:reply.index(")")].split(",")]
        data = socket.socket()
        self.addCleanup(data.close)
        # A small fixed window, so that the server's sends follow our reads.
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        data.settimeout(DEADLINE)
        data.connect(("127.0.0.1", numbers[4] * 256 + numbers[5]))
        self.assertEqual(c.cmd("RETR slow.bin"), "150 Data connetion established, beginning transfer.")
        received = bytearray()
        started = time.monotonic()
        while True:
            chunk = data.recv(65536)
            if not chunk:
                break
            received += chunk
            time.sleep(0.016)  # the client's pace, about 4 MB/s
        self.assertEqual(len(received), len(content))
        self.assertEqual(bytes(received), content)
        self.assertGreater(time.monotonic() - started, 2 * self.IDLE_MS / 1000)
        self.assertEqual(c.reply(), "226 Transfer complete.")
        self.assertEqual(c.cmd("NOOP"), "200 Hi.")


if __name__ == "__main__":
    unittest.main()
