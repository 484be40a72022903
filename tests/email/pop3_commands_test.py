"""The POP3 transaction phase on the wire against seeded mailboxes: STAT,
LIST, UIDL, RETR, TOP, DELE, RSET, NOOP, HELP and QUIT with the numbering
rules and exact replies; deletions kept only after QUIT; a dropped
connection that deletes nothing and releases the lock."""
import os
import threading
import time
import unittest

from pop3_harness import Account, Raw, Server, ServerCase, harness_path, message, settings_file

harness_path()

IDS = ["0:Mon::01:Jan:2024:10:00:00", "1:Mon::01:Jan:2024:10:00:01", "2:Tue::02:Jan:2024:23:59:59"]
# 103 bytes: listed and announced as 100.
FIRST = message(["Subject: first", "From: a@example.org"], ["x" * 59])
assert len(FIRST) == 103
SECOND = message(["Received: from b", "Subject: second"],
                 ["line one", "..stuffed line", "", "line four", "line five"])
THIRD = message(["Subject: third"], ["only line"])
SIZES = [len(FIRST) - 3, len(SECOND) - 3, len(THIRD) - 3]


def ann():
    return Account("ann", "pw", messages=[(FIRST, IDS[0]), (SECOND, IDS[1]), (THIRD, IDS[2])])


class Commands(ServerCase):
    def accounts(self):
        return [ann(), Account("empty", "pw")]

    def test_stat_list_uidl(self):
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.cmd("STAT"), "+OK 3 %d" % sum(SIZES))
        self.assertEqual(client.listing("LIST"),
                         ("+OK 3 messages (%d octets)" % sum(SIZES),
                          ["1 100", "2 %d" % SIZES[1], "3 %d" % SIZES[2]]))
        self.assertEqual(client.cmd("LIST 1"), "+OK 1 100")
        self.assertEqual(client.cmd("list 3"), "+OK 3 %d" % SIZES[2])
        self.assertEqual(client.listing("UIDL"),
                         ("+OK 3 messages", ["1 " + IDS[0], "2 " + IDS[1], "3 " + IDS[2]]))
        self.assertEqual(client.cmd("UIDL 2"), "+OK 2 " + IDS[1])

    def test_numbers_out_of_range(self):
        client = self.logged_in("ann", "pw")
        for line in ("RETR 0", "RETR 4", "LIST abc", "LIST 4", "LIST -1", "UIDL ", "UIDL 9", "DELE 0",
                     "TOP 4 1", "TOP x", "RETR 4294967297"):
            self.assertEqual(client.cmd(line), "-ERR No such email", line)
        # Too short to carry a number: not understood at all.
        for line in ("RETR ", "DELE ", "top ", "RETR", "USER ann", "PASS pw", "CAPA", "STLS"):
            self.assertEqual(client.cmd(line), "-ERR Command not understood.", line)
        for line in ("a", "ab", "abc"):
            self.assertEqual(client.cmd(line), "-ERR Bad Command", line)
        self.assertEqual(client.cmd("STAT"), "+OK 3 %d" % sum(SIZES))

    def test_noop_help_and_empty_mailbox(self):
        client = self.logged_in("empty", "pw")
        self.assertEqual(client.cmd("NOOP"), "+OK No problem")
        self.assertEqual(client.cmd("HELP"), "+OK Commands accepted: USER, PASS, LIST, TOP, UIDL, STAT, RSET, "
                                             "DELE, HELP, NOOP and QUIT.")
        self.assertEqual(client.cmd("STAT"), "+OK 0 0")
        self.assertEqual(client.listing("LIST"), ("+OK 0 messages (0 octets)", []))
        self.assertEqual(client.listing("UIDL"), ("+OK 0 messages", []))
        self.assertEqual(client.cmd("RETR 1"), "-ERR No such email")

    def test_retr_sends_the_file_exactly(self):
        client = self.logged_in("ann", "pw")
        for number, content in enumerate((FIRST, SECOND, THIRD), start=1):
            self.assertEqual(client.cmd("RETR %d" % number), "+OK %d octets" % (len(content) - 3))
            self.assertEqual(client.read_exact(len(content)), content)
        self.assertEqual(client.cmd("NOOP"), "+OK No problem")

    def test_top(self):
        client = self.logged_in("ann", "pw")
        head = b"Received: from b\r\nSubject: second\r\n"
        for line in ("TOP 2 0", "TOP 2", "top 2 -7"):
            self.assertEqual(client.cmd(line), "+OK The header and 0 lines being sent.", line)
            self.assertEqual(client.read_through(), head + b"\r\n.\r\n")
        self.assertEqual(client.cmd("TOP 2 2"), "+OK The header and 2 lines being sent.")
        self.assertEqual(client.read_through(), head + b"\r\nline one\r\n..stuffed line\r\n.\r\n")
        # The empty body line counts.
        self.assertEqual(client.cmd("TOP 2 4"), "+OK The header and 4 lines being sent.")
        self.assertEqual(client.read_through(), head + b"\r\nline one\r\n..stuffed line\r\n\r\nline four\r\n.\r\n")
        self.assertEqual(client.cmd("TOP 2 100"), "+OK The header and 100 lines being sent.")
        self.assertEqual(client.read_through(), SECOND)
        # -1 lines is the whole message, announced as RETR does.
        self.assertEqual(client.cmd("TOP 2 -1"), "+OK %d octets" % SIZES[1])
        self.assertEqual(client.read_exact(len(SECOND)), SECOND)
        self.assertEqual(client.cmd("NOOP"), "+OK No problem")

    def test_deleted_slot_keeps_its_number(self):
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.cmd("DELE 2"), "+OK message 2 deleted")
        self.assertEqual(client.cmd("LIST 2"), "-ERR 2 message is deleted")
        self.assertEqual(client.cmd("RETR 2"), "-ERR message 2 is deleted")
        self.assertEqual(client.cmd("TOP 2 1"), "-ERR message 2 is deleted")
        self.assertEqual(client.cmd("UIDL 2"), "-ERR message 2 is deleted")
        self.assertEqual(client.cmd("DELE 2"), "-ERR message 2 already deleted")
        self.assertEqual(client.cmd("LIST 3"), "+OK 3 %d" % SIZES[2])
        self.assertEqual(client.cmd("STAT"), "+OK 2 %d" % (SIZES[0] + SIZES[2]))
        self.assertEqual(client.listing("LIST"),
                         ("+OK 2 messages (%d octets)" % (SIZES[0] + SIZES[2]), ["1 100", "3 %d" % SIZES[2]]))
        self.assertEqual(client.listing("UIDL"), ("+OK 2 messages", ["1 " + IDS[0], "3 " + IDS[2]]))
        self.assertEqual(client.cmd("RSET"), "+OK All deleted messages are undeleted")
        self.assertEqual(client.cmd("STAT"), "+OK 3 %d" % sum(SIZES))
        self.assertEqual(client.cmd("LIST 2"), "+OK 2 %d" % SIZES[1])

    def test_quit_removes_the_marked_messages(self):
        account = ann()
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.cmd("DELE 1"), "+OK message 1 deleted")
        self.assertEqual(client.cmd("DELE 3"), "+OK message 3 deleted")
        self.assertEqual(client.cmd("QUIT"), "+OK Thanks for visiting")
        self.assertTrue(client.closed_by_server())
        again = self.login_when_free("ann", "pw")
        self.server.wait_for_files("ann", settings_file(account.index_records([1])),
                                   [account.message_name(0), account.message_name(2)])
        self.assertEqual(self.server.file_bytes(account.message_name(1)), SECOND)
        # The one left is message 1 now.
        self.assertEqual(again.listing("UIDL"), ("+OK 1 messages", ["1 " + IDS[1]]))
        self.assertEqual(again.cmd("RETR 1"), "+OK %d octets" % SIZES[1])
        self.assertEqual(again.read_exact(len(SECOND)), SECOND)

    def test_dropped_connection_deletes_nothing(self):
        account = ann()
        index = self.server.index_bytes("ann")
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.cmd("DELE 1"), "+OK message 1 deleted")
        client.close()
        again = self.login_when_free("ann", "pw")
        self.assertEqual(again.cmd("STAT"), "+OK 3 %d" % sum(SIZES))
        self.assertEqual(self.server.file_bytes(account.message_name(0)), FIRST)
        self.assertEqual(self.server.index_bytes("ann"), index)

    def test_long_line_is_cut_to_ninety_nine_characters(self):
        client = self.logged_in("ann", "pw")
        # The first 99 characters read "LIST 000...03"; the rest would make
        # the number far too large.
        line = "LIST " + "0" * 93 + "3" + "9" * 51
        self.assertEqual(len(line), 150)
        self.assertEqual(client.cmd(line), "+OK 3 %d" % SIZES[2])
        self.assertEqual(client.cmd("NOOP"), "+OK No problem")

    def test_missing_file_is_a_server_error(self):
        account = ann()
        client = self.logged_in("ann", "pw")
        os.remove(self.server.path(account.message_name(2)))
        self.assertEqual(client.cmd("RETR 3"), "-ERR Server error")
        self.assertEqual(client.cmd("TOP 3 0"), "-ERR Server error")
        self.assertEqual(client.cmd("RETR 1"), "+OK 100 octets")
        self.assertEqual(client.read_exact(len(FIRST)), FIRST)

    def test_a_file_cut_to_nothing_announces_no_negative_size(self):
        account = ann()
        client = self.logged_in("ann", "pw")
        os.truncate(self.server.path(account.message_name(1)), 0)
        for line in ("RETR 2", "TOP 2 -1"):
            self.assertEqual(client.cmd(line), "+OK 0 octets", line)
            self.assertEqual(client.read_through(), b"\r\n.\r\n", line)
        self.assertEqual(client.cmd("NOOP"), "+OK No problem")


class SmallFiles(ServerCase):
    """Index records whose files are missing or hold 3 bytes or less are
    not numbered."""

    def accounts(self):
        return [Account("ann", "pw", messages=[(FIRST, IDS[0]), (b".\r\n", "tiny"), (None, "gone"),
                                               (THIRD, IDS[2])])]

    def test_only_real_messages_are_numbered(self):
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.listing("LIST"),
                         ("+OK 2 messages (%d octets)" % (SIZES[0] + SIZES[2]), ["1 100", "2 %d" % SIZES[2]]))
        self.assertEqual(client.cmd("UIDL 2"), "+OK 2 " + IDS[2])
        self.assertEqual(client.cmd("RETR 3"), "-ERR No such email")


class Hostile(ServerCase):
    def accounts(self):
        return [ann()]

    def test_garbage_and_huge_lines(self):
        client = self.logged_in("ann", "pw")
        client.send(bytes(range(1, 256)).replace(b"\r", b"").replace(b"\n", b"") * 3)
        self.assertEqual(client.line(), "-ERR Command not understood.")
        client.send(b"NOOP\0hidden")
        self.assertEqual(client.line(), "+OK No problem")
        # A line of 60000 characters is still a line; the server keeps it
        # to its first 99.
        client.send(b"STAT" + b"s" * 60000)
        self.assertEqual(client.line(), "+OK 3 %d" % sum(SIZES))
        # Pipelined commands are answered in order.
        client.sock.sendall(b"NOOP\r\nLIST 1\r\nUIDL 3\r\n")
        self.assertEqual([client.line() for _ in range(3)], ["+OK No problem", "+OK 1 100", "+OK 3 " + IDS[2]])

    def test_endless_line_closes_the_connection(self):
        client = self.logged_in("ann", "pw")
        try:
            client.sock.sendall(b"x" * (1024 * 1024))
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.assertTrue(client.closed_by_server())
        self.login_when_free("ann", "pw")


class IdleLimit(ServerCase):
    idle_ms = 500

    def accounts(self):
        return [ann()]

    def test_idle_session_ends_without_deleting(self):
        client = self.logged_in("ann", "pw")
        self.assertEqual(client.cmd("DELE 1"), "+OK message 1 deleted")
        started = time.monotonic()
        self.assertTrue(client.closed_by_server())
        self.assertLess(time.monotonic() - started, 10)
        again = self.login_when_free("ann", "pw")
        self.assertEqual(again.cmd("STAT"), "+OK 3 %d" % sum(SIZES))


class StopDuringRetrieval(unittest.TestCase):
    def test_stalled_reader_does_not_hold_the_stop(self):
        big = message(["Subject: big"], ["%07d %s" % (i, "y" * 70) for i in range(250000)])
        server = Server([Account("ann", "pw", messages=[(big, IDS[0])])])
        client = Raw(server.port)
        self.addCleanup(client.close)
        client.login("ann", "pw")
        # The client reads nothing: the server fills the socket buffers and
        # waits to send more.
        client.send("RETR 1")
        time.sleep(0.5)
        closed = []
        reader = threading.Thread(target=lambda: closed.append(self.drain(client)))
        took = server.stop()
        reader.start()
        reader.join()
        self.assertLess(took, 3.0)
        self.assertEqual(closed, [True])

    @staticmethod
    def drain(client):
        """Reads until the server closes; False when the whole message came."""
        received = len(client.buffer)
        while True:
            chunk = client.sock.recv(1 << 20)
            if not chunk:
                return received < 19000000
            received += len(chunk)


if __name__ == "__main__":
    unittest.main()
