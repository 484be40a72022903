"""The command set after login, reply by reply, for an account with every
right: folders, files, renames, sizes and the small commands."""
import os
import unittest

from ftp_harness import ServerCase, harness_path

harness_path()  # out of the command line before unittest reads it


class CommandSet(ServerCase):
    def setUp(self):
        self.c = self.session()

    def make(self, relative, data=b""):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def mkdirs(self, relative):
        os.makedirs(os.path.join(self.root, relative), exist_ok=True)

    def test_directories(self):
        c = self.c
        self.mkdirs("x")
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(c.cmd("CDUP"), "250 '/' is current directory.")
        self.assertEqual(c.cmd("MKD d1"), "257 '/d1' directory created.")
        self.assertTrue(os.path.isdir(os.path.join(self.root, "d1")))
        self.server.wait_for_log("Created Folder IP:[127.0.0.1], User:[ann], Folder:[%s\\d1]" % self.root)
        self.assertEqual(c.cmd("MKD d1"), "550 Failed to create directory.")
        self.assertEqual(c.cmd("MKD missing/child"), "550 Failed to create directory.")
        self.assertEqual(c.cmd("MKD /"), "550 Failed to create directory.")
        self.assertEqual(c.cmd("MKD d1/d2"), "257 '/d1/d2' directory created.")
        self.assertEqual(c.cmd("CWD d1\\d2"), "250 '/d1/d2' is current directory.")
        self.assertEqual(c.cmd("CWD ../../.."), "250 '/' is current directory.")
        self.assertEqual(c.cmd("CWD d1/d2"), "250 '/d1/d2' is current directory.")
        self.assertEqual(c.cmd("CWD"), "501 a parameter is required.")
        self.assertEqual(c.cmd("PWD"), '257 "/d1/d2" is current directory.')
        self.assertEqual(c.cmd("CWD nowhere"), "550 Directory does not exist.")
        self.assertEqual(c.cmd("CWD ../../x"), "250 '/x' is current directory.")
        self.assertEqual(c.cmd("CWD /d1"), "250 '/d1' is current directory.")
        self.assertEqual(c.cmd("RMD ."), "550 Failed to delete directory, current working directory.")
        self.assertEqual(c.cmd("CWD \\"), "250 '/' is current directory.")
        self.assertEqual(c.cmd("RMD .."), "550 Failed to delete directory, current working directory.")
        self.assertEqual(c.cmd("RMD /"), "550 Cannot delete root directory.")
        self.assertEqual(c.cmd("RMD"), "501 a parameter is required.")
        self.assertEqual(c.cmd("RMD d1"), "550 Failed to delete directory, directory may contain files.")
        self.assertEqual(c.cmd("RMD nowhere"), "550 Directory does not exist.")
        self.assertEqual(c.cmd("RMD d1/d2"), "250 '/d1/d2' directory deleted.")
        self.server.wait_for_log("Deleted Folder IP:[127.0.0.1], User:[ann], Folder:[%s\\d1\\d2]" % self.root)
        self.assertFalse(os.path.exists(os.path.join(self.root, "d1", "d2")))

    def test_delete(self):
        c = self.c
        self.make("gone.txt", b"x")
        self.mkdirs("folder")
        self.assertEqual(c.cmd("DELE"), "501 a parameter is required.")
        self.assertEqual(c.cmd("DELE \\"), "550 No filename given.")
        self.assertEqual(c.cmd("DELE nothing"), "550 File does not exist.")
        self.assertEqual(c.cmd("DELE folder"), "550 Delete attempt failed, try again later.")
        # A dot name is dropped from the path: the folder itself is meant.
        self.assertEqual(c.cmd("DELE .profile"), "550 File does not exist.")
        self.assertEqual(c.cmd("DELE GONE.TXT"), "200 File deleted.")
        self.assertFalse(os.path.exists(os.path.join(self.root, "gone.txt")))
        self.server.wait_for_log("Deleted File IP:[127.0.0.1], User:[ann], File:[%s\\GONE.TXT]" % self.root)

    def test_rename(self):
        c = self.c
        self.make("r/old.txt", b"data")
        self.make("r/taken.txt")
        self.mkdirs("r/dir")
        self.assertEqual(c.cmd("RNTO"), "503 Please send the RNFR command first.")
        self.assertEqual(c.cmd("RNTO x"), "503 Please send the RNFR command first.")
        self.assertEqual(c.cmd("RNFR"), "501 a parameter is required.")
        self.assertEqual(c.cmd("RNFR /"), "550 No filename given.")
        self.assertEqual(c.cmd("RNFR r/none"), "550 File does not exist.")
        self.assertEqual(c.cmd("RNFR r/old.txt"), "350 Now send the RNTO command.")
        self.assertEqual(c.cmd("NOOP"), "200 Hi.")
        self.assertEqual(c.cmd("RNTO r/taken.txt"), "550 Rename failed, file/directory already exists.")
        self.assertEqual(c.cmd("RNTO r/dir/new.txt"), "250 Renaming was successful.")
        with open(os.path.join(self.root, "r", "dir", "new.txt"), "rb") as f:
            self.assertEqual(f.read(), b"data")
        self.server.wait_for_log("Renamed File IP:[127.0.0.1], User:[ann], Old:[%s\\r\\old.txt], New:[%s\\r\\dir\\new.txt]"
                                 % (self.root, self.root))
        self.assertEqual(c.cmd("RNTO r/again"), "503 Please send the RNFR command first.")
        self.assertEqual(c.cmd("RNFR r/dir"), "350 Now send the RNTO command.")
        self.assertEqual(c.cmd("RNTO r/dir2"), "250 Renaming was successful.")
        self.server.wait_for_log("Renamed Folder IP:[127.0.0.1], User:[ann], Old:[%s\\r\\dir], New:[%s\\r\\dir2]"
                                 % (self.root, self.root))
        self.assertTrue(os.path.isfile(os.path.join(self.root, "r", "dir2", "new.txt")))

    def test_size(self):
        c = self.c
        self.make("s/five", b"12345")
        self.mkdirs("s/sub")
        self.assertEqual(c.cmd("SIZE"), "501 a parameter is required.")
        self.assertEqual(c.cmd("SIZE /"), "550 No filename given.")
        self.assertEqual(c.cmd("SIZE s/five"), "213 5")
        self.assertEqual(c.cmd("SIZE s/FIVE"), "213 5")
        self.assertEqual(c.cmd("SIZE s/f*"), "213 5")
        self.assertEqual(c.cmd("SIZE s/sub"), "213 0")
        self.assertEqual(c.cmd("SIZE s/none"), "550 File does not exist.")

    def test_sizes_beyond_four_gigabytes(self):
        path = self.make("huge.bin")
        os.truncate(path, 5 * 1024 ** 3 + 7)  # sparse: no data is written
        self.assertEqual(self.c.cmd("SIZE huge.bin"), "213 5368709127")
        self.assertEqual(self.c.cmd("REST 5368709127"), "350 REST command successful.")
        self.c.pasv().close()
        self.assertEqual(self.c.cmd("RETR huge.bin"), "550 The REST value is outside of the file.")

    def test_small_commands(self):
        c = self.c
        expected = [
            ("SYST", "215 UNIX Type: L8"),
            ("HELP", "214 Visit http://www.quorvell-labs.example/vantrel/"),
            ("NOOP", "200 Hi."),
            ("noopx", "200 Hi."),
            ("STAT", "211 FTP Server is all OK."),
            ("ABOR", "225 No transfer in progress."),
            ("TYPE", "501 a parameter is required."),
            ("TYPE A", "200 Type set to 'A' (ASCII)."),
            ("TYPE I", "200 Type set to 'I' (IMAGE)."),
            ("TYPE i", "504 Command not implemented for that parameter."),
            ("TYPE E", "504 Command not implemented for that parameter."),
            ("STRU", "501 a parameter is required."),
            ("STRU F", "200 Structure 'F' Accepted."),
            ("STRU R", "504 Command not implemented for that parameter."),
            ("MODE", "501 a parameter is required."),
            ("MODE S", "200 Mode 'S' Accepted."),
            ("MODE B", "504 Command not implemented for that parameter."),
            ("XPWD", "500 Command not understood."),
            ("XCWD a", "500 Command not understood."),
            ("FEAT", "500 Command not understood."),
            ("SITE CHMOD 777 x", "502 Command not implemented."),
            ("MDTM x", "502 Command not implemented."),
            ("MLSD", "502 Command not implemented."),
            ("STOU", "502 Command not implemented."),
            ("MD5 x", "502 Command not implemented."),
            ("ab", "550 Bad command."),
            ("REST", "501 a parameter is required."),
            ("REST abc", "501 a parameter is required."),
            ("REST 100", "350 REST command successful."),
            ("PORT", "501 6 parameters are required."),
            ("PORT 1,2,3", "501 6 parameters are required."),
            ("PORT 300,0,0,1,4,1", "501 Incorrect parameters (each must be 0-255)."),
            ("PORT 127,0,0,1,3,255", "504 Command not implemented for that parameter."),
            ("RETR x", "503 Please use PORT or PASV first."),
            ("STOR x", "503 Please use PORT or PASV first."),
            ("APPE x", "503 Please use PORT or PASV first."),
            ("RETR", "501 a parameter is required."),
        ]
        for command, reply in expected:
            with self.subTest(command=command):
                self.assertEqual(c.cmd(command), reply)

    def test_pasv_names_the_address_the_client_used(self):
        reply = self.c.cmd("PASV")
        self.assertRegex(reply, r"^227 Entering Passive Mode \(127,0,0,1,\d+,\d+\)$")
        numbers = [int(n) for n in reply[reply.index("(") + 1:-1].split(",")]
        self.assertGreater(numbers[4] * 256 + numbers[5], 0)
        self.assertEqual(self.c.cmd("RETR /"), "550 No filename given.")


if __name__ == "__main__":
    unittest.main()
