"""LIST and NLST: the exact line layout, what is listed for which
argument, and the replies around the data connection."""
import os
import time
import unittest

from ftp_harness import ALL_RIGHTS, Server, ServerCase, harness_path, logged_in, read_all

HARNESS = harness_path()
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
STAMP = 1772874300  # 2026-03-07 09:05:00 UTC; the harness runs with TZ=UTC


def expected_line(name, size, folder=False, user="ann", stamp=STAMP):
    t = time.gmtime(stamp)
    date = "%s %02d %02d:%02d" % (MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_hour, t.tm_min)
    if folder:
        return "drwxrwxr-x   1 %s VantrelServer          0 %s %s" % (user, date, name)
    return "-rw-rw-r--   1 %s VantrelServer %10d %s %s" % (user, size, date, name)


class Listings(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        root = cls.root
        os.makedirs(os.path.join(root, "pub", "inner"))
        for name, size in (("a.txt", 123), ("b.txt", 4), ("pub/c.dat", 7)):
            path = os.path.join(root, name)
            with open(path, "wb") as f:
                f.write(b"x" * size)
        big = os.path.join(root, "pub", "huge.iso")
        open(big, "wb").close()
        os.truncate(big, 12345678901)  # sparse, more than ten digits
        for path in ("a.txt", "b.txt", "pub", "pub/inner", "pub/c.dat", "pub/huge.iso", "."):
            os.utime(os.path.join(root, path), (STAMP, STAMP))

    def setUp(self):
        self.c = self.session()

    def listing(self, command):
        data = self.c.pasv()
        reply = self.c.cmd(command)
        if not reply.startswith("150"):
            data.close()
            return reply, None
        self.assertEqual(reply, "150 Data connetion established, beginning transfer.")
        body = read_all(data).decode()
        data.close()
        self.assertEqual(self.c.reply(), "226 Transfer complete.")
        self.assertTrue(body == "" or body.endswith("\r\n"))
        return reply, body.split("\r\n")[:-1]

    def test_long_lines_exactly(self):
        _, lines = self.listing("LIST pub")
        dots = [l for l in lines if l.endswith(" .") or l.endswith(" ..")]
        self.assertEqual(len(dots), 2)
        self.assertTrue(all(l.startswith("drwxrwxr-x   1 ann VantrelServer          0 ") for l in dots))
        others = sorted(l for l in lines if l not in dots)
        self.assertEqual(others, sorted([expected_line("c.dat", 7), expected_line("huge.iso", 12345678901),
                                         expected_line("inner", 0, folder=True)]))

    def test_names_only(self):
        _, lines = self.listing("NLST pub")
        self.assertEqual(sorted(lines), [".", "..", "c.dat", "huge.iso", "inner"])

    def test_what_is_listed_for_which_argument(self):
        self.assertEqual(self.c.cmd("CWD pub"), "250 '/pub' is current directory.")
        _, here = self.listing("LIST")
        self.assertEqual(len(here), 5)
        # "-al" is an option that lists the current directory whatever follows.
        _, with_option = self.listing("LIST -al /")
        self.assertEqual(sorted(with_option), sorted(here))
        self.assertEqual(self.listing("LIST -la")[0], "550 File/Directory does not exist.")
        self.assertEqual(self.listing("NLST -al")[0], "550 File/Directory does not exist.")
        _, root = self.listing("NLST /")
        self.assertEqual(sorted(root), [".", "..", "a.txt", "b.txt", "pub"])
        _, single = self.listing("LIST ../a.txt")
        self.assertEqual(single, [expected_line("a.txt", 123)])
        _, first = self.listing("LIST /*.txt")
        self.assertEqual(len(first), 1)
        self.assertIn(first[0], (expected_line("a.txt", 123), expected_line("b.txt", 4)))
        self.assertEqual(self.listing("NLST /*.none")[0], "550 File/Directory does not exist.")

    def test_missing_path_and_missing_data_connection(self):
        self.assertEqual(self.c.cmd("LIST"), "425 Data connection failed.")
        self.assertEqual(self.c.cmd("NLST"), "425 Data connection failed.")
        self.assertEqual(self.listing("LIST nowhere")[0], "550 File/Directory does not exist.")


class ListingOfUnusualAccountFolders(unittest.TestCase):
    def test_folder_with_dot_and_device_names_lists_its_own_entries(self):
        server = Server(HARNESS, [("anonymous", "", ALL_RIGHTS, ".ftp/con")])
        self.addCleanup(server.stop)
        root = server.root("anonymous")
        with open(os.path.join(root, "readme"), "wb") as f:
            f.write(b"hi")
        os.utime(os.path.join(root, "readme"), (STAMP, STAMP))
        c = logged_in(self, server.port, "anonymous", "guest@")
        data = c.pasv()
        self.assertEqual(c.cmd("LIST"), "150 Data connetion established, beginning transfer.")
        lines = read_all(data).decode().split("\r\n")
        data.close()
        self.assertEqual(c.reply(), "226 Transfer complete.")
        self.assertIn(expected_line("readme", 2, user="anonymous"), lines)


if __name__ == "__main__":
    unittest.main()
