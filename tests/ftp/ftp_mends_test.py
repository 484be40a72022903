"""Data connections belong to the client of the control connection: PORT
cannot aim at another machine (bounce), and a stranger cannot take a
passive transfer (theft)."""
import os
import socket
import unittest

from ftp_harness import DEADLINE, ServerCase, harness_path, read_all

harness_path()  # out of the command line before unittest reads it
CONTENT = os.urandom(200000)


def port_argument(address, port):
    return "PORT %s,%d,%d" % (address.replace(".", ","), port // 256, port % 256)


def closed_at_once(sock):
    try:
        return sock.recv(1) == b""
    except ConnectionResetError:
        return True


class DataConnectionOwnership(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with open(os.path.join(cls.root, "file.bin"), "wb") as f:
            f.write(CONTENT)

    def listener(self, address="127.0.0.1"):
        sock = socket.socket()
        sock.bind((address, 0))
        sock.listen(1)
        sock.settimeout(DEADLINE)
        self.addCleanup(sock.close)
        return sock

    def test_port_to_another_address_is_refused_and_changes_nothing(self):
        c = self.session()
        own = self.listener()
        self.assertEqual(c.cmd(port_argument("127.0.0.1", own.getsockname()[1])), "200 PORT command successful.")
        other = self.listener("127.0.0.3")
        self.assertEqual(c.cmd(port_argument("127.0.0.3", other.getsockname()[1])),
                         "504 Command not implemented for that parameter.")
        self.assertEqual(c.cmd("RETR file.bin"), "150 Data connetion established, beginning transfer.")
        data, _ = own.accept()
        self.assertEqual(read_all(data), CONTENT)
        data.close()
        self.assertEqual(c.reply(), "226 Transfer complete.")

    def test_port_must_name_the_client_itself(self):
        c = self.session(source="127.0.0.2")
        target = self.listener("127.0.0.1")
        self.assertEqual(c.cmd(port_argument("127.0.0.1", target.getsockname()[1])),
                         "504 Command not implemented for that parameter.")
        self.assertEqual(c.cmd("RETR file.bin"), "503 Please use PORT or PASV first.")
        own = self.listener("127.0.0.2")
        self.assertEqual(c.cmd(port_argument("127.0.0.2", own.getsockname()[1])), "200 PORT command successful.")

    def passive_port(self, c):
        reply = c.cmd("PASV")
        numbers = [int(n) for n in reply[reply.index("(") + 1:reply.index(")")].split(",")]
        return numbers[4] * 256 + numbers[5]

    def steal(self, port):
        thief = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE, source_address=("127.0.0.2", 0))
        self.addCleanup(thief.close)
        return thief

    def test_stranger_is_turned_away_before_the_transfer(self):
        c = self.session()
        port = self.passive_port(c)
        thief = self.steal(port)
        # The session is idle in its command loop and sees the stranger there.
        self.assertTrue(closed_at_once(thief))
        data = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.assertEqual(c.cmd("RETR file.bin"), "150 Data connetion established, beginning transfer.")
        self.assertEqual(read_all(data), CONTENT)
        data.close()
        self.assertEqual(c.reply(), "226 Transfer complete.")

    def test_stranger_is_turned_away_while_the_transfer_waits(self):
        c = self.session()
        port = self.passive_port(c)
        c.send("RETR file.bin")
        thief = self.steal(port)
        self.assertTrue(closed_at_once(thief))
        data = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.assertEqual(c.reply(), "150 Data connetion established, beginning transfer.")
        self.assertEqual(read_all(data), CONTENT)
        data.close()
        self.assertEqual(c.reply(), "226 Transfer complete.")


if __name__ == "__main__":
    unittest.main()
