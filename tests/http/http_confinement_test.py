#!/usr/bin/env python3
"""What a web site's folder may hold without harm: symbolic links that lead
out of it are pages that do not exist (404 for GET and HEAD, left out of
folder listings), also down a chain of links and when swapped in while
requests run, and links that stay inside work, also those that name their
target by an absolute path inside; a named pipe is not served and does not stop the server;
a target too long to name whole is not cut to another file's name; names
with control bytes are listed with blanks.

Usage: http_confinement_test.py <path of http_test_server>
"""
import http.client
import os
import socket
import time

from http_harness import ServerCase, main, swapping, write_files

SECRET = b"the machine's secret"
SITE_LIMIT = 256


class SiteCase(ServerCase):
    def request(self, method, target, timeout=20):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=timeout)
        try:
            conn.request(method, target)
            reply = conn.getresponse()
            return reply.status, reply.read()
        finally:
            conn.close()


class Links(SiteCase):
    PREFIX = "vt-http-links-"

    @classmethod
    def prepare(cls, work):
        cls.outside = os.path.join(work, "outside")
        cls.site = os.path.join(work, "site")
        write_files(cls.outside, {"secret.txt": SECRET, "sub/other.txt": b"other"})
        write_files(cls.site, {"index.html": b"home", "page.txt": b"inside", "docs/readme.txt": b"readme",
                               "flip/inside.txt": b"inside"})
        links = {
            "out_file": os.path.join(cls.outside, "secret.txt"),
            "out_rel.txt": "../outside/secret.txt",
            "out_dir": cls.outside,
            "in_file.txt": "page.txt",
            "in_dir": "docs",
            "flip_link": cls.outside,
            "abs_in.txt": os.path.join(cls.site, "page.txt"),
            "abs_dir": os.path.join(cls.site, "docs"),
            "abs_chain.txt": os.path.join(cls.site, "in_file.txt"),
            "abs_out_chain.txt": os.path.join(cls.site, "out_rel.txt"),
            "abs_escape.txt": cls.site + "/../outside/secret.txt",
        }
        for name, target in links.items():
            os.symlink(target, os.path.join(cls.site, name))
        with open(os.path.join(cls.site, "docs", "made\nlocally.txt"), "wb") as f:
            f.write(b"local")
        return ["--default-folder", cls.site, "--folder-view", "on", "--default-page", "none.html"]

    def test_links_that_lead_out_are_not_found(self):
        for target in ("/out_file", "/out_rel.txt", "/OUT_REL.TXT", "/out_dir/secret.txt", "/out_dir/",
                       "/out_dir", "/out_dir/sub/other.txt", "/in_dir/../out_dir/secret.txt",
                       "/abs_out_chain.txt", "/abs_escape.txt", "/abs_dir/../out_dir/secret.txt"):
            for method in ("GET", "HEAD"):
                with self.subTest(target=target, method=method):
                    status, body = self.request(method, target)
                    self.assertEqual(status, 404)
                    self.assertNotIn(SECRET, body)

    def test_links_that_stay_inside_work(self):
        for target, content in (("/in_file.txt", b"inside"), ("/IN_DIR/readme.txt", b"readme"),
                                ("/abs_in.txt", b"inside"), ("/Abs_Dir/readme.txt", b"readme"),
                                ("/abs_chain.txt", b"inside")):
            with self.subTest(target=target):
                self.assertEqual(self.request("GET", target), (200, content))
        self.assertEqual(self.request("HEAD", "/in_file.txt"), (200, b""))
        status, body = self.request("GET", "/in_dir/")
        self.assertEqual(status, 200)
        self.assertIn(b'<a href="readme.txt">readme.txt</a>', body)

    def test_listings_leave_out_links_that_lead_out(self):
        status, body = self.request("GET", "/")
        self.assertEqual(status, 200)
        for name in (b"page.txt", b"in_file.txt", b"in_dir/", b"docs/", b"abs_in.txt", b"abs_dir/"):
            self.assertIn(b'<a href="' + name + b'">', body)
        for name in (b"out_file", b"out_rel.txt", b"out_dir", b"flip_link", b"secret", b"abs_out_chain",
                     b"abs_escape"):
            self.assertNotIn(name, body)

    def test_names_with_control_bytes_are_listed_with_blanks(self):
        status, body = self.request("GET", "/docs/")
        self.assertEqual(status, 200)
        self.assertIn(b'<a href="made locally.txt">made locally.txt</a>', body)
        self.assertNotIn(b"made\nlocally", body)

    def test_a_link_swapped_while_requests_run_never_leads_out(self):
        flip = os.path.join(self.site, "flip")
        flip_link = os.path.join(self.site, "flip_link")
        with swapping(flip, flip_link):
            end = time.monotonic() + 4
            while time.monotonic() < end:
                self.assertEqual(self.request("GET", "/flip/secret.txt")[0], 404)
                status, body = self.request("GET", "/flip/inside.txt")
                self.assertIn((status, body if status == 200 else None), ((200, b"inside"), (404, None)))
                status, body = self.request("GET", "/flip/")
                self.assertNotIn(b"secret", body)
                self.assertNotIn(b"sub/", body)

    def test_targets_too_long_to_name_are_not_cut(self):
        # The site folder, the path's "\" and a name that just fits.
        room = SITE_LIMIT - len(self.site) - 1
        if room + 10 > 250:
            self.skipTest("the scratch folder is too short to reach the limit with one name")
        short = "s" * room
        with open(os.path.join(self.site, short), "wb") as f:
            f.write(b"the shorter file")
        self.assertEqual(self.request("GET", "/" + short), (200, b"the shorter file"))
        for target in ("/" + short + "x", "/" + short + "/../" + short, "/" + "a" * 300 + "/../" + short):
            with self.subTest(length=len(target)):
                status, body = self.request("GET", target)
                self.assertEqual(status, 404)
                self.assertNotIn(b"the shorter file", body)


class Pipe(SiteCase):
    PREFIX = "vt-http-pipe-"

    @classmethod
    def prepare(cls, work):
        site = os.path.join(work, "site")
        write_files(site, {"index.html": b"home"})
        os.mkfifo(os.path.join(site, "pipe"))
        os.symlink("pipe", os.path.join(site, "pipe_link.html"))
        return ["--default-folder", site, "--folder-view", "on"]

    def test_a_pipe_is_not_served_and_stops_nothing(self):
        for target in ("/pipe", "/PIPE", "/pipe_link.html"):
            for method in ("GET", "HEAD"):
                with self.subTest(target=target, method=method):
                    begin = time.monotonic()
                    self.assertEqual(self.request(method, target, timeout=10)[0], 404)
                    self.assertLess(time.monotonic() - begin, 5)
        # Several clients at once asking for it leave the others served.
        waiting = [socket.create_connection(("127.0.0.1", self.server.port), timeout=10) for _ in range(4)]
        try:
            for sock in waiting:
                sock.sendall(b"GET /pipe HTTP/1.0\r\nHost: a\r\n\r\n")
            self.assertEqual(self.request("GET", "/", timeout=10), (200, b"home"))
            for sock in waiting:
                self.assertTrue(sock.recv(64).startswith(b"HTTP/1.1 404"))
        finally:
            for sock in waiting:
                sock.close()
        status, body = self.request("GET", "/", timeout=10)
        self.assertEqual(status, 200)

    @classmethod
    def tearDownClass(cls):
        # The server must stop promptly, not wait on an open pipe.
        begin = time.monotonic()
        super().tearDownClass()
        if time.monotonic() - begin > 10:
            raise AssertionError("the server took %.1f s to stop" % (time.monotonic() - begin))


if __name__ == "__main__":
    main()
