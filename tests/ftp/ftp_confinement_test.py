"""Symbolic links and special files in an account folder. A link that
leads out of the folder is, for every path command, a path that does not
exist; a link that stays inside works, also one that names its target by
an absolute path inside the folder; a chain of links that ends outside
leads nowhere; a link swapped in while commands run never leads out. A named pipe, directly or through a link, cannot be
opened, and opening it does not hold the session."""
import os
import time
import unittest

from ftp_harness import DEADLINE, ServerCase, harness_path, read_all, swapping

harness_path()  # out of the command line before unittest reads it
NO_FILE = "550 File does not exist."
NO_FOLDER = "550 Directory does not exist."
NO_PATH = "550 File/Directory does not exist."
OPEN_FAILED = "550 File open failed, try again later."
STARTED = "150 Data connetion established, beginning transfer."
COMPLETE = "226 Transfer complete."
SECRET = b"the machine's secret"


class LinksAndPipes(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.outside = os.path.join(cls.server.base, "outside")
        os.makedirs(os.path.join(cls.outside, "empty"))
        with open(os.path.join(cls.outside, "secret.txt"), "wb") as f:
            f.write(SECRET)
        root = cls.root
        os.makedirs(os.path.join(root, "docs"))
        with open(os.path.join(root, "docs", "readme.txt"), "wb") as f:
            f.write(b"readme")
        with open(os.path.join(root, "file.txt"), "wb") as f:
            f.write(b"inside")
        sibling = root + "2"
        os.makedirs(sibling)
        with open(os.path.join(sibling, "secret.txt"), "wb") as f:
            f.write(SECRET)
        links = {
            "out_file": os.path.join(cls.outside, "secret.txt"),
            "out_rel": "../outside/secret.txt",
            "out_dir": cls.outside,
            "in_file": "file.txt",
            "in_dir": "docs",
            "pipe_link": "pipe",
            "abs_file": os.path.join(root, "file.txt"),
            "abs_dir": os.path.join(root, "docs"),
            "abs_chain": os.path.join(root, "in_file"),
            "rel_abs": "abs_file",
            "abs_out_chain": os.path.join(root, "out_rel"),
            "rel_out_chain": "abs_out_chain",
            "abs_escape": root + "/../outside/secret.txt",
            "abs_sibling": os.path.join(sibling, "secret.txt"),
        }
        for name, target in links.items():
            os.symlink(target, os.path.join(root, name))
        os.mkfifo(os.path.join(root, "pipe"))

    def outside_names(self):
        return sorted(os.listdir(self.outside))

    def transfer(self, c, command, upload=None):
        """The first reply of a transfer command, and what a download sent."""
        data = c.pasv()
        try:
            reply = c.cmd(command)
            if not reply.startswith("150"):
                return reply, None
            if upload is not None:
                data.sendall(upload)
                data.close()
                self.assertEqual(c.reply(), COMPLETE)
                return reply, None
            got = read_all(data)
            self.assertEqual(c.reply(), COMPLETE)
            return reply, got
        finally:
            data.close()

    def listing(self, c, command):
        data = c.pasv()
        try:
            reply = c.cmd(command)
            if reply != STARTED:
                return reply
            text = read_all(data).decode("latin-1")
            self.assertEqual(c.reply(), COMPLETE)
            return text
        finally:
            data.close()

    def test_links_out_of_the_folder_do_not_exist_for_any_command(self):
        c = self.session()
        before = self.outside_names()
        for name in ("out_file", "out_rel", "out_dir/secret.txt", "OUT_DIR/Secret.txt", "abs_out_chain",
                     "rel_out_chain", "abs_escape", "abs_sibling"):
            with self.subTest(name=name):
                self.assertEqual(self.transfer(c, "RETR " + name)[0], NO_FILE)
                self.assertEqual(c.cmd("SIZE " + name), NO_FILE)
                self.assertEqual(c.cmd("DELE " + name), NO_FILE)
                self.assertEqual(c.cmd("RNFR " + name), NO_FILE)
                self.assertEqual(self.transfer(c, "APPE " + name)[0], NO_FILE)
                self.assertEqual(self.transfer(c, "STOR " + name, b"planted")[0], OPEN_FAILED)
                self.assertEqual(self.listing(c, "LIST " + name), NO_PATH)
                self.assertEqual(self.listing(c, "NLST " + name), NO_PATH)
        self.assertEqual(self.transfer(c, "STOR out_dir/new.txt", b"planted")[0], OPEN_FAILED)
        self.assertEqual(c.cmd("MKD out_dir/made"), "550 Failed to create directory.")
        self.assertEqual(c.cmd("RMD out_dir/empty"), NO_FOLDER)
        self.assertEqual(c.cmd("CWD out_dir"), NO_FOLDER)
        self.assertEqual(c.cmd("CWD out_dir/empty"), NO_FOLDER)
        self.assertEqual(self.listing(c, "LIST out_dir"), NO_PATH)
        self.assertEqual(c.cmd("RNFR file.txt"), "350 Now send the RNTO command.")
        self.assertEqual(c.cmd("RNTO out_dir/stolen.txt"), "550 Failed to rename file/directory.")
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(self.outside_names(), before)
        with open(os.path.join(self.outside, "secret.txt"), "rb") as f:
            self.assertEqual(f.read(), SECRET)
        self.assertTrue(os.path.exists(os.path.join(self.root, "file.txt")))

    def test_listings_leave_out_links_that_lead_out(self):
        c = self.session()
        names = self.listing(c, "NLST").split("\r\n")
        for name in ("file.txt", "docs", "in_file", "in_dir", "pipe", "pipe_link", "abs_file", "abs_dir",
                     "abs_chain", "rel_abs"):
            self.assertIn(name, names)
        for name in ("out_file", "out_rel", "out_dir", "abs_out_chain", "rel_out_chain", "abs_escape",
                     "abs_sibling"):
            self.assertNotIn(name, names)
        lines = self.listing(c, "LIST").split("\r\n")
        in_file = [line for line in lines if line.endswith(" in_file")]
        self.assertEqual(len(in_file), 1)
        self.assertIn(" 6 ", in_file[0])
        # A pattern lists its first match only; those leading out never match.
        self.assertIn(self.listing(c, "NLST in_*"), ("in_dir\r\n", "in_file\r\n"))
        self.assertEqual(self.listing(c, "NLST out_*"), NO_PATH)

    def test_links_inside_the_folder_work(self):
        c = self.session()
        for name, content in (("in_file", b"inside"), ("IN_DIR/readme.txt", b"readme"), ("abs_file", b"inside"),
                              ("ABS_DIR/Readme.txt", b"readme"), ("abs_chain", b"inside"),
                              ("rel_abs", b"inside")):
            with self.subTest(name=name):
                self.assertEqual(self.transfer(c, "RETR " + name), (STARTED, content))
        self.assertEqual(c.cmd("SIZE in_file"), "213 6")
        self.assertEqual(c.cmd("CWD in_dir"), "250 '/in_dir' is current directory.")
        self.assertEqual(self.listing(c, "NLST readme.txt"), "readme.txt\r\n")
        self.assertEqual(self.transfer(c, "STOR new.txt", b"new")[0], STARTED)
        with open(os.path.join(self.root, "docs", "new.txt"), "rb") as f:
            self.assertEqual(f.read(), b"new")

    def test_a_pipe_cannot_be_opened_and_does_not_hold_the_session(self):
        c = self.session()
        for name in ("pipe", "pipe_link", "PIPE"):
            with self.subTest(name=name):
                begin = time.monotonic()
                self.assertEqual(self.transfer(c, "RETR " + name)[0], OPEN_FAILED)
                self.assertEqual(self.transfer(c, "APPE " + name)[0], OPEN_FAILED)
                self.assertLess(time.monotonic() - begin, DEADLINE / 2)
                self.assertEqual(c.cmd("NOOP"), "200 Hi.")
        self.server.wait_for_log("***DOWNLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\pipe], "
                                 "Reason:[Open Failed]" % self.root)

    def test_a_link_swapped_while_commands_run_never_leads_out(self):
        flip = os.path.join(self.root, "flip")
        flip_link = os.path.join(self.root, "flip_link")
        os.mkdir(flip)
        with open(os.path.join(flip, "inside.txt"), "wb") as f:
            f.write(b"inside")
        os.symlink(self.outside, flip_link)
        before = self.outside_names()
        with swapping(flip, flip_link):
            c = self.session()
            end = time.monotonic() + 4
            while time.monotonic() < end:
                reply, got = self.transfer(c, "RETR flip/secret.txt")
                self.assertEqual((reply, got), (NO_FILE, None))
                # Swapped between the search and the open, the open fails.
                self.assertIn(self.transfer(c, "RETR flip/inside.txt"),
                              ((STARTED, b"inside"), (NO_FILE, None), (OPEN_FAILED, None)))
                listed = self.listing(c, "NLST flip")
                self.assertNotIn("secret.txt", listed)
                self.assertNotIn("empty", listed)
                self.transfer(c, "STOR flip/planted.txt", b"x")
                c.cmd("MKD flip/made")
                if c.cmd("CWD flip").startswith("250"):
                    self.assertNotIn("empty", self.listing(c, "NLST"))
                    c.cmd("CWD /")
        self.assertEqual(self.outside_names(), before)
        with open(os.path.join(self.outside, "secret.txt"), "rb") as f:
            self.assertEqual(f.read(), SECRET)


if __name__ == "__main__":
    unittest.main()
