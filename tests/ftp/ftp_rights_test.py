"""Each access right, granted alone, opens its commands and nothing else;
refused transfers are logged with their reason."""
import os
import unittest

from ftp_harness import (FILE_MODIFY, FILE_READ, FILE_WRITE, FOLDER_CREATE, FOLDER_MODIFY,
                         FOLDER_READ, ServerCase, harness_path)

harness_path()  # out of the command line before unittest reads it

RIGHTS = {"none": 0, "fread": FILE_READ, "fwrite": FILE_WRITE, "fmodify": FILE_MODIFY,
          "dread": FOLDER_READ, "dcreate": FOLDER_CREATE, "dmodify": FOLDER_MODIFY,
          "writer": FILE_WRITE | FILE_MODIFY}

READ_REFUSED = "550 Directory read access disallowed."

# command, the right it needs, the refusal without it
REFUSALS = [
    ("MKD", FOLDER_CREATE, "550 Directory create access disallowed."),
    ("MKD newdir", FOLDER_CREATE, "550 Directory create access disallowed."),
    ("SIZE", FOLDER_READ, READ_REFUSED),
    ("SIZE file.txt", FOLDER_READ, READ_REFUSED),
    ("LIST", FOLDER_READ, READ_REFUSED),
    ("NLST", FOLDER_READ, READ_REFUSED),
    ("RETR file.txt", FILE_READ, "550 File read access disallowed."),
    ("STOR new.txt", FILE_WRITE, "550 File write access disallowed."),
    ("RNFR file.txt", FILE_MODIFY, "550 File modification access disallowed."),
    ("RNFR emptydir", FOLDER_MODIFY, "550 Directory modification access disallowed."),
    ("DELE emptydir", FOLDER_MODIFY, "550 Use 'RMD' to delete directories."),
    ("DELE file.txt", FILE_MODIFY, "550 File modification access disallowed."),
    ("RMD emptydir", FOLDER_MODIFY, "550 Directory modification access disallowed."),
]


class RightsByRights(ServerCase):
    ACCOUNTS = [(user, "pw", rights) for user, rights in RIGHTS.items()]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for user in RIGHTS:
            root = cls.server.root(user)
            with open(os.path.join(root, "file.txt"), "wb") as f:
                f.write(b"content")
            os.mkdir(os.path.join(root, "emptydir"))

    def upload(self, c, command, content):
        """Sends `content` for STOR or APPE over a passive connection."""
        data = c.pasv()
        self.assertEqual(c.cmd(command), "150 Data connetion established, beginning transfer.")
        data.sendall(content)
        data.close()
        self.assertEqual(c.reply(), "226 Transfer complete.")

    def disk(self, user, name):
        with open(os.path.join(self.server.root(user), name), "rb") as f:
            return f.read()

    def test_each_command_is_refused_without_its_right_only(self):
        for user, rights in RIGHTS.items():
            c = self.session(user)
            for command, needed, refusal in REFUSALS:
                with self.subTest(user=user, command=command):
                    # Refusals come before any data-connection check.
                    reply = c.cmd(command)
                    if rights & needed:
                        self.assertNotEqual(reply, refusal)
                    else:
                        self.assertEqual(reply, refusal)

    def test_account_without_rights_can_still_move_around(self):
        c = self.session("none")
        self.assertEqual(c.cmd("CWD emptydir"), "250 '/emptydir' is current directory.")
        self.assertEqual(c.cmd("PWD"), '257 "/emptydir" is current directory.')
        self.assertEqual(c.cmd("CDUP"), "250 '/' is current directory.")

    def test_refused_transfers_are_logged_with_the_argument(self):
        c = self.session("none")
        self.assertEqual(c.cmd("RETR ../secret"), "550 File read access disallowed.")
        self.server.wait_for_log(
            "***DOWNLOAD FAILED*** IP:[127.0.0.1], User:[none], File:[../secret], Reason:[Access Disallowed]")
        self.assertEqual(c.cmd("APPE some.txt"), "550 File write/modification access disallowed.")
        self.server.wait_for_log(
            "***UPLOAD FAILED*** IP:[127.0.0.1], User:[none], File:[some.txt], Reason:[Access Disallowed]")

    def test_writing_over_a_file_needs_modify(self):
        c = self.session("fwrite")
        self.assertEqual(c.cmd("APPE file.txt"), "550 File write/modification access disallowed.")
        c.cmd("PASV")
        self.assertEqual(c.cmd("STOR file.txt"), "550 File modification access disallowed.")
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[fwrite], File:[%s\\file.txt], "
                                 "Reason:[Access Disallowed]" % self.server.root("fwrite"))
        self.upload(c, "STOR fresh.txt", b"new")
        self.assertEqual(self.disk("fwrite", "fresh.txt"), b"new")

    def test_append_needs_write_and_modify(self):
        c = self.session("writer")
        self.upload(c, "APPE file.txt", b"+more")
        self.assertEqual(self.disk("writer", "file.txt"), b"content+more")


if __name__ == "__main__":
    unittest.main()
