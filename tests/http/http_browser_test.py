#!/usr/bin/env python3
"""Headless Chromium against the web server: a folder listing whose names
hold <, & and quotes shows them as text, and a click on a listing's link
leads to the folder it names.

Usage: http_browser_test.py <path of http_test_server>
Exits with 77 (skipped) when /usr/bin/chromium is not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from http_harness import ServerCase, main, write_files

CHROMIUM = "/usr/bin/chromium"
SKIPPED = 77
BROWSER_TIMEOUT_S = 120

# Loads the listing in a frame, clicks the link of the folder "R&D 'x'" by
# its text, and writes what the frame then shows into the page.
FOLLOW_PAGE = b"""<html><body><pre id="out">waiting</pre>
<iframe id="frame" src="/list/"></iframe>
<script>
const frame = document.getElementById('frame');
const out = document.getElementById('out');
let clicked = false;
frame.onload = () => {
  const doc = frame.contentDocument;
  if (!clicked) {
    clicked = true;
    const link = Array.from(doc.querySelectorAll('a')).find(a => a.textContent === "R&D 'x'/");
    if (link) link.click(); else out.textContent = 'no link';
    return;
  }
  out.textContent = 'FOLLOWED ' + doc.location.pathname + ' | ' + doc.body.textContent;
};
</script></body></html>"""

NAMES = ["a<b>.txt", "x & y.txt", '"quoted".txt', "it's.txt"]


class BrowserListing(ServerCase):
    PREFIX = "vt-http-browser-"

    @classmethod
    def prepare(cls, work):
        site = os.path.join(work, "site")
        files = {os.path.join("list", name): b"x" for name in NAMES}
        files[os.path.join("list", "R&D 'x'", "inner.txt")] = b"inner"
        files["follow.html"] = FOLLOW_PAGE
        write_files(site, files)
        return ["--default-folder", site, "--folder-view", "on"]

    def dump_dom(self, url):
        profile = tempfile.mkdtemp(prefix="vt-chromium-")
        try:
            return subprocess.run(
                [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
                 "--virtual-time-budget=10000", "--dump-dom", url],
                capture_output=True, text=True, timeout=BROWSER_TIMEOUT_S).stdout
        finally:
            shutil.rmtree(profile, ignore_errors=True)

    def test_names_with_markup_characters_show_as_text(self):
        dom = self.dump_dom(f"{self.server.base}/list/")
        self.assertIn("<title>Contents of /list/</title>", dom)
        # The serialised DOM escapes text again: each name is one text node.
        for shown in ("a&lt;b&gt;.txt", "x &amp; y.txt", '"quoted".txt', "it's.txt"):
            self.assertIn(f">{shown}</a>", dom, shown)
        self.assertNotIn("<b>", dom)
        self.assertIn(">R&amp;D 'x'/</a>", dom)

    def test_a_click_on_a_listed_folder_opens_its_listing(self):
        dom = self.dump_dom(f"{self.server.base}/follow.html")
        self.assertIn("FOLLOWED /list/R&amp;D%20'x'/ | Contents of /list/R&amp;D%20'x'/", dom)
        self.assertIn("inner.txt", dom)


if __name__ == "__main__":
    if not os.access(CHROMIUM, os.X_OK):
        print(f"{CHROMIUM} is not installed: the browser test is skipped")
        sys.exit(SKIPPED)
    main()
