"""A session that waits for the client's passive data connection ends as
soon as the client hangs up its control connection, rather than holding
its slot for the whole wait; a command that arrives during the wait is
kept and answered after the transfer."""
import os
import socket
import time
import unittest

from ftp_harness import DEADLINE, ServerCase, harness_path, read_all

harness_path()  # out of the command line before unittest reads it
CONTENT = os.urandom(100000)
# Far below the 60 s that a passive client is given to connect.
HANGUP_NOTICED_S = 5.0


class HangUpDuringThePassiveWait(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with open(os.path.join(cls.root, "file.bin"), "wb") as f:
            f.write(CONTENT)

    def session_count(self):
        return int(self.server.steer("count", "COUNT").split()[1])

    def wait_for_sessions(self, count, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if self.session_count() == count:
                return True
            time.sleep(0.02)
        return False

    def passive_port(self, c):
        reply = c.cmd("PASV")
        self.assertTrue(reply.startswith("227 "), reply)
        numbers = [int(n) for n in reply[reply.index("(") + 1:reply.index(")")].split(",")]
        return numbers[4] * 256 + numbers[5]

    def test_each_waiting_command_ends_when_the_client_hangs_up(self):
        self.assertTrue(self.wait_for_sessions(0, DEADLINE))
        for command in ("RETR file.bin", "LIST", "NLST", "STOR upload.bin", "APPE upload.bin"):
            with self.subTest(command=command):
                c = self.session()
                self.passive_port(c)
                c.send(command)
                # The client goes without ever connecting for the data.
                c.sock.shutdown(socket.SHUT_RDWR)
                c.close()
                self.assertTrue(self.wait_for_sessions(0, HANGUP_NOTICED_S),
                                "the session still waits for the data connection")

    def test_a_command_sent_during_the_wait_is_not_lost(self):
        c = self.session()
        port = self.passive_port(c)
        c.send("RETR file.bin")
        c.send("NOOP")
        data = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.assertEqual(c.reply(), "150 Data connetion established, beginning transfer.")
        self.assertEqual(read_all(data), CONTENT)
        data.close()
        # NOOP is answered during the transfer or after it, but answered.
        replies = sorted([c.reply(), c.reply()])
        self.assertEqual(replies[0], "226 Transfer complete.")
        self.assertIn(replies[1], ("550 Cannot process command in transfer mode.",
                                   "200 Hi."))

if __name__ == "__main__":
    unittest.main()
