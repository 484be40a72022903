"""Names the file layer cannot take as they are. A path too long for the
system's limit is refused whole with each command's failure reply, never
cut to a shorter name that could be another file. A name holding control
bytes (a lone LF or CR travels inside a command line) is never made, and
one made by a local user is listed with those bytes as blanks."""
import os
import unittest

from ftp_harness import ServerCase, harness_path, read_all

harness_path()  # out of the command line before unittest reads it
MAX_PATH = 260
NO_FILE = "550 File does not exist."
NO_FOLDER = "550 Directory does not exist."
NO_PATH = "550 File/Directory does not exist."
OPEN_FAILED = "550 File open failed, try again later."
CREATE_FAILED = "550 Failed to create directory."
RENAME_FAILED = "550 Failed to rename file/directory."
STARTED = "150 Data connetion established, beginning transfer."
COMPLETE = "226 Transfer complete."


class Names(ServerCase):
    def setUp(self):
        # Room for names below the account folder: the folder, "\" and the
        # name together fit the limit exactly.
        self.room = MAX_PATH - len(self.root) - 1
        if self.room + 5 > 250:
            self.skipTest("the scratch folder is too short to reach the limit with one name")
        self.c = self.session()

    def on_disk(self, folder=""):
        return sorted(os.listdir(os.path.join(self.root, folder)))

    def upload(self, command, data=b"data"):
        sock = self.c.pasv()
        try:
            reply = self.c.cmd(command)
            if reply == STARTED:
                sock.sendall(data)
                sock.close()
                self.assertEqual(self.c.reply(), COMPLETE)
            return reply
        finally:
            sock.close()

    def listing(self, command):
        sock = self.c.pasv()
        try:
            reply = self.c.cmd(command)
            if reply != STARTED:
                return reply
            text = read_all(sock).decode("latin-1")
            self.assertEqual(self.c.reply(), COMPLETE)
            return text
        finally:
            sock.close()

    def test_mkd_stor_and_rnto_refuse_names_that_would_be_cut(self):
        os.mkdir(os.path.join(self.root, "mk"))
        self.assertEqual(self.c.cmd("CWD mk"), "250 '/mk' is current directory.")
        room = self.room - len("mk\\")
        before = self.on_disk("mk")
        self.assertEqual(self.c.cmd("MKD " + "k" * (room + 5)), CREATE_FAILED)
        self.assertEqual(self.c.cmd("MKD /mk/" + "k" * (room + 1)), CREATE_FAILED)
        # Cut to the limit, both would have been the same file.
        self.assertEqual(self.upload("STOR " + "n" * room + "1", b"one"), OPEN_FAILED)
        self.assertEqual(self.upload("STOR " + "n" * room + "2", b"two"), OPEN_FAILED)
        self.assertEqual(self.on_disk("mk"), before)
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\mk\\%s], "
                                 "Reason:[Open Failed]" % (self.root, "n" * room + "1"))

        # A name that just fits is made whole, and the reply shows it.
        name = "k" * room
        self.assertEqual(self.c.cmd("MKD " + name), "257 '/mk/%s' directory created." % name)
        self.assertEqual(self.on_disk("mk"), [name])

    def test_rename_to_a_name_that_would_be_cut_is_refused(self):
        with open(os.path.join(self.root, "source.txt"), "wb") as f:
            f.write(b"source")
        self.assertEqual(self.c.cmd("RNFR source.txt"), "350 Now send the RNTO command.")
        self.assertEqual(self.c.cmd("RNTO " + "r" * (self.room + 1)), RENAME_FAILED)
        self.assertTrue(os.path.exists(os.path.join(self.root, "source.txt")))
        self.assertEqual([n for n in self.on_disk() if n.startswith("rrr")], [])

    def test_a_name_that_would_be_cut_never_reaches_the_shorter_one(self):
        short = "s" * self.room
        with open(os.path.join(self.root, short), "wb") as f:
            f.write(b"the shorter file")
        os.mkdir(os.path.join(self.root, "c" * self.room))
        long_file = short + "tail"
        long_folder = "c" * self.room + "x"
        self.assertEqual(self.c.cmd("CWD " + long_folder), NO_FOLDER)
        self.assertEqual(self.c.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(self.c.cmd("RMD " + long_folder), NO_FOLDER)
        self.assertEqual(self.upload("RETR " + long_file), NO_FILE)
        self.assertEqual(self.upload("APPE " + long_file), NO_FILE)
        self.assertEqual(self.c.cmd("SIZE " + long_file), NO_FILE)
        self.assertEqual(self.c.cmd("DELE " + long_file), NO_FILE)
        self.assertEqual(self.c.cmd("RNFR " + long_file), NO_FILE)
        self.assertEqual(self.listing("LIST " + long_file), NO_PATH)
        self.assertEqual(self.listing("NLST " + long_folder), NO_PATH)
        with open(os.path.join(self.root, short), "rb") as f:
            self.assertEqual(f.read(), b"the shorter file")
        self.assertTrue(os.path.isdir(os.path.join(self.root, "c" * self.room)))
        self.assertEqual(self.c.cmd("CWD " + "c" * self.room), "250 '/%s' is current directory." % ("c" * self.room))

    def test_names_with_control_bytes_are_not_made(self):
        with open(os.path.join(self.root, "plain.txt"), "wb") as f:
            f.write(b"plain")
        before = self.on_disk()
        for name in ("line\nbreak", "carriage\rreturn", "tab\tname", "x\x01y", "del\x7fname"):
            with self.subTest(name=name):
                self.assertEqual(self.upload("STOR " + name), OPEN_FAILED)
                self.assertEqual(self.c.cmd("MKD " + name), CREATE_FAILED)
                self.assertEqual(self.c.cmd("RNFR plain.txt"), "350 Now send the RNTO command.")
                self.assertEqual(self.c.cmd("RNTO " + name), RENAME_FAILED)
        self.assertEqual(self.on_disk(), before)

    def test_names_made_locally_are_listed_with_blanks(self):
        os.mkdir(os.path.join(self.root, "local"))
        names = ["made\nlocally", "cr\rname", "tab\there", "plain"]
        for name in names:
            with open(os.path.join(self.root, "local", name), "wb") as f:
                f.write(b"12345")
        os.mkdir(os.path.join(self.root, "local", "folder\nname"))
        self.assertEqual(self.c.cmd("CWD local"), "250 '/local' is current directory.")
        listed = self.listing("NLST").split("\r\n")
        self.assertEqual(sorted(listed), sorted(["", ".", "..", "made locally", "cr name", "tab here", "plain",
                                                 "folder name"]))
        lines = self.listing("LIST").split("\r\n")
        self.assertEqual(lines.pop(), "")
        self.assertEqual(len(lines), 7)
        for line in lines:
            self.assertRegex(line, r"^(-rw-rw-r--|drwxrwxr-x)   1 ann VantrelServer ")
            self.assertNotRegex(line, "[\x00-\x1f]")
        self.assertIn(" made locally", "\n".join(lines))
        # Such a file can still be read, but not written.
        self.assertEqual(self.upload("APPE made\nlocally"), OPEN_FAILED)
        sock = self.c.pasv()
        self.assertEqual(self.c.cmd("RETR made\nlocally"), STARTED)
        self.assertEqual(read_all(sock), b"12345")
        sock.close()
        self.assertEqual(self.c.reply(), COMPLETE)


if __name__ == "__main__":
    unittest.main()
