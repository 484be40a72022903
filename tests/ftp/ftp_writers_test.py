"""A file being uploaded belongs to its uploader until the upload ends: a
second session cannot STOR, APPE, DELE or rename it, and the first client's
bytes all arrive. A file being downloaded may be deleted or replaced, and
the download keeps the bytes it started with."""
import os
import unittest

from ftp_harness import DEADLINE, ServerCase, harness_path, read_all, wait_until

harness_path()  # out of the command line before unittest reads it
OPEN_FAILED = "550 File open failed, try again later."
DELETE_FAILED = "550 Delete attempt failed, try again later."
RENAME_FAILED = "550 Failed to rename file/directory."
STARTED = "150 Data connetion established, beginning transfer."
COMPLETE = "226 Transfer complete."
BIG = os.urandom(4 * 1024 * 1024 + 17)


class TwoWriters(ServerCase):
    def disk(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def start_upload(self, name, first):
        """A session uploading `name`, `first` already on disk."""
        uploader = self.session()
        data = uploader.pasv()
        self.addCleanup(data.close)
        self.assertEqual(uploader.cmd("STOR " + name), STARTED)
        data.sendall(first)
        path = os.path.join(self.root, name)
        wait_until(lambda: os.path.exists(path) and os.path.getsize(path) == len(first), "the first bytes")
        return uploader, data

    def finish_upload(self, uploader, data):
        data.close()
        self.assertEqual(uploader.reply(), COMPLETE)

    def test_second_stor_of_a_file_being_uploaded_is_refused(self):
        uploader, data = self.start_upload("up.bin", b"first part,")
        other = self.session()
        other_data = other.pasv()
        self.addCleanup(other_data.close)
        self.assertEqual(other.cmd("STOR up.bin"), OPEN_FAILED)
        self.assertEqual(other.cmd("STOR UP.BIN"), OPEN_FAILED)
        self.assertEqual(other.cmd("REST 3"), "350 REST command successful.")
        self.assertEqual(other.cmd("STOR up.bin"), OPEN_FAILED)
        self.assertEqual(other.cmd("APPE up.bin"), OPEN_FAILED)
        data.sendall(b" second part")
        self.finish_upload(uploader, data)
        self.assertEqual(self.disk("up.bin"), b"first part, second part")
        self.server.wait_for_log("***UPLOAD FAILED*** IP:[127.0.0.1], User:[ann], File:[%s\\up.bin], "
                                 "Reason:[Truncation Failed]" % self.root)

    def test_dele_and_rename_of_a_file_being_uploaded_are_refused(self):
        uploader, data = self.start_upload("held.bin", b"held")
        other = self.session()
        self.assertEqual(other.cmd("DELE held.bin"), DELETE_FAILED)
        self.assertEqual(other.cmd("RNFR held.bin"), "350 Now send the RNTO command.")
        self.assertEqual(other.cmd("RNTO moved.bin"), RENAME_FAILED)
        self.assertEqual(other.cmd("MKD sub"), "257 '/sub' directory created.")
        self.assertEqual(other.cmd("RNTO sub/moved.bin"), RENAME_FAILED)
        data.sendall(b" and kept")
        self.finish_upload(uploader, data)
        self.assertEqual(self.disk("held.bin"), b"held and kept")
        self.assertFalse(os.path.exists(os.path.join(self.root, "moved.bin")))
        # The upload over, the file is an ordinary file again; the rename
        # source was kept after the refusal.
        self.assertEqual(other.cmd("RNTO moved.bin"), "250 Renaming was successful.")
        self.assertEqual(other.cmd("DELE moved.bin"), "200 File deleted.")

    def test_a_download_keeps_its_bytes_when_the_file_is_deleted_or_replaced(self):
        for name, change in (("gone.bin", "DELE"), ("replaced.bin", "STOR")):
            with self.subTest(change=change):
                with open(os.path.join(self.root, name), "wb") as f:
                    f.write(BIG)
                reader = self.session()
                data = reader.pasv()
                self.addCleanup(data.close)
                self.assertEqual(reader.cmd("RETR " + name), STARTED)
                head = data.recv(65536)
                other = self.session()
                if change == "DELE":
                    self.assertEqual(other.cmd("DELE " + name), "200 File deleted.")
                    self.assertFalse(os.path.exists(os.path.join(self.root, name)))
                else:
                    upload = other.pasv()
                    self.assertEqual(other.cmd("STOR " + name), STARTED)
                    upload.sendall(b"new content")
                    upload.close()
                    self.assertEqual(other.reply(), COMPLETE)
                    self.assertEqual(self.disk(name), b"new content")
                self.assertEqual(head + read_all(data), BIG)
                self.assertEqual(reader.reply(), COMPLETE)


if __name__ == "__main__":
    unittest.main()
