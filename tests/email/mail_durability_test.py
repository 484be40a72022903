"""Mail the server has acknowledged stays acknowledged: through a crash or a
stop in the middle of many deliveries, a full disk, several messages on one
connection, restarts within one second, a crash right after a POP3 QUIT, a
relay loop, a relay host that never hangs up, and account names that look
like the server's own temporary files. Every restart is a new harness
process on the same working folder. Every name the server makes by a rename
is followed by a sync of its folder, seen with strace."""
import collections
import contextlib
import os
import random
import re
import shutil
import signal
import smtplib
import subprocess
import threading
import time
import unittest

from smtp_harness import RECEIVED_LINE, SEND_DATA, Raw, Server, harness_path, wait_until
from harness_support import DEADLINE, LineClient, poplib_login, strace_attached
from fake_relay_host import FakeRelayHost, unused_port

harness_path()  # out of the command line before unittest reads it

KILL_ROUNDS = 20
TERM_ROUNDS = 3
QUIT_LOGINS = 300
DISK_BYTES = 1 << 20
SENDS = 100
MANY_ON_ONE_CONNECTION = 110
TIMEOUT = 10
USERS = ("ann", "bob")
SPLITS = (("ann",), ("bob",), ("ann", "bob"))
ACCOUNTS = ("ann:pw:ann@example.org", "bob:pw:bob@example.org")
SENDER = "carol@client.example"
# A relay loop must end well before this many hops reach the log.
LOOP_BOUND = 40


def address(user):
    return user + "@example.org"


def message(marker, padding_lines=0):
    """A message whose last line is its marker."""
    return ("Subject: durability\r\n\r\n" + ("x" * 70 + "\r\n") * padding_lines + marker).encode()


def send(port, marker, recipients, sender=SENDER, padding_lines=0):
    """Delivers a message carrying `marker` over its own smtplib connection.
    Returns 250 when smtplib returned without error, else the refusing
    reply's code; a lost connection raises."""
    try:
        with smtplib.SMTP("127.0.0.1", port, timeout=TIMEOUT) as client:
            refused = client.sendmail(sender, recipients, message(marker, padding_lines))
    except smtplib.SMTPRecipientsRefused as error:
        return max(code for code, _ in error.recipients.values())
    except smtplib.SMTPResponseException as error:
        return error.smtp_code
    return max([code for code, _ in refused.values()], default=250)


def holds_within(condition, deadline=DEADLINE):
    """Whether the condition came true in time; the caller then reports
    what is wrong in detail."""
    try:
        wait_until(condition, "", deadline)
        return True
    except AssertionError:
        return False


def retrieve(server, user, password="pw"):
    """The messages of the user's mailbox as poplib retrieves them: lists
    of lines."""
    pop = poplib_login(server.pop_port, user, password)
    try:
        return [pop.retr(n)[1] for n in range(1, pop.stat()[0] + 1)]
    finally:
        pop.quit()


def markers(server, user, password="pw"):
    """The last line of each message in the user's mailbox."""
    return [lines[-1].decode("latin-1") for lines in retrieve(server, user, password)]


def renames_and_folder_syncs(trace, cwd):
    """From an `strace -f -y` output of rename* and fsync calls: the folder
    of each name made by a successful rename, and of each folder synced, in
    the order of the calls ([(position, folder)] twice)."""
    calls, pending = [], {}
    with open(trace) as f:
        for line in f:
            pid, _, text = line.rstrip("\n").partition(" ")
            text = text.lstrip()
            if text.endswith("<unfinished ...>"):
                pending[pid] = text[:-len("<unfinished ...>")]
                continue
            resumed = re.match(r"<\.\.\. \w+ resumed>(.*)", text)
            if resumed:
                text = pending.pop(pid, "") + resumed.group(1)
            calls.append(text)
    renamed, synced = [], []
    for position, call in enumerate(calls):
        if re.match(r"rename(at2?)?\(.*=\s*0$", call):
            target = re.findall(r'"((?:[^"\\]|\\.)*)"', call)[1]
            renamed.append((position, os.path.dirname(os.path.join(cwd, target))))
        folder = re.match(r"fsync\(\d+<(.*)>\)\s*=\s*0$", call)
        if folder and os.path.isdir(folder.group(1)):
            synced.append((position, folder.group(1)))
    return renamed, synced


def files_below(folder):
    return sorted(os.path.relpath(os.path.join(root, name), folder)
                  for root, _, names in os.walk(folder) for name in names)


def queued(server):
    return files_below(server.path("mailqueue"))


def stray_files(server, users):
    """Files in the working folder that are none of settings, logs, account
    files and stored messages: leftovers of an interrupted write."""
    stems = "|".join(re.escape(u.replace(".", " ")) for u in users)
    known = re.compile(r"[^/]+\.dat|logs/[^/]+\.txt|(?:http|ftp)/.+|email/(?:(?:%s)(?:_s)?|\d+@(?:%s)_e)\.dat"
                       % (stems, stems))
    return [path for path in files_below(server.work) if not known.fullmatch(path)]


class Durability(unittest.TestCase):
    def server(self, accounts=ACCOUNTS, options=()):
        server = Server(accounts, options)
        self.addCleanup(shutil.rmtree, server.base, True)
        self.addCleanup(server.end)
        return server

    def restart(self, server):
        """Stops the harness as the program stops (stdin closes) and starts
        a new one on the same folder."""
        self.assertEqual(server.end(), (0, False))
        server.launch()

    def assert_intact(self, server, expected, sent, users=USERS, context=""):
        """Each user's mailbox holds every marker of expected[user] exactly
        once and nothing that was not sent to that user; every index record
        names a file; no file is left over anywhere."""
        for user in users:
            found = collections.Counter(markers(server, user))
            self.assertEqual((expected[user] - set(found), {m for m, n in found.items() if n > 1},
                              set(found) - sent[user]), (set(), set(), set()),
                             "%s%s: (acknowledged but missing, twice, never sent)" % (context, user))
            self.assertEqual([name for name, _ in server.index(user)
                              if not os.path.isfile(server.path(*name.split("\\")))], [],
                             "%sindex records of %s without a file" % (context, user))
        self.assertEqual(stray_files(server, users), [], context + "files left over")
        self.assertEqual(server.temporary_files(), [], context + "files left in TMPDIR")

    def end_mid_delivery(self, signum, tag):
        """SENDS concurrent deliveries, the harness ended by `signum` at a
        random moment among them, a restart, then the acknowledged mail is
        checked."""
        server = self.server()
        plan = {"%s-%d" % (tag, i): SPLITS[i % len(SPLITS)] for i in range(SENDS)}
        acknowledged = {}

        def deliver(marker):
            time.sleep(random.uniform(0.0, 1.1))  # spread over the span the end may hit
            try:
                if send(server.smtp_port, marker, [address(u) for u in plan[marker]]) == 250:
                    acknowledged[marker] = plan[marker]
            except (smtplib.SMTPException, OSError):
                pass

        threads = [threading.Thread(target=deliver, args=(marker,)) for marker in plan]
        for thread in threads:
            thread.start()
        moment = random.uniform(0.1, 1.0)
        time.sleep(moment)  # the moment of the end, not a wait
        ended = server.end_by_signal(signum)
        end = time.monotonic() + 3 * TIMEOUT
        for thread in threads:
            thread.join(max(0.0, end - time.monotonic()))
        self.assertFalse(any(t.is_alive() for t in threads), "a sender hung")
        if signum != signal.SIGKILL:
            self.assertEqual(ended, (0, False), "a clean stop")
        server.launch()

        expected = {u: {m for m, users in acknowledged.items() if u in users} for u in USERS}
        sent = {u: {m for m, users in plan.items() if u in users} for u in USERS}
        holds_within(lambda: not queued(server) and all(server.listed(u) >= len(expected[u]) for u in USERS))
        context = "%s, signal %d after %.2f s, %d acknowledged: " % (tag, signum, moment, len(acknowledged))
        self.assertEqual(queued(server), [], context + "the queue after recovery")
        self.assert_intact(server, expected, sent, context=context)
        server.stop()

    def test_acknowledged_mail_survives_sigterm_and_kill_9_mid_delivery(self):
        for number in range(TERM_ROUNDS):
            self.end_mid_delivery(signal.SIGTERM, "term%d-%x" % (number, random.getrandbits(32)))
        for number in range(KILL_ROUNDS):
            self.end_mid_delivery(signal.SIGKILL, "kill%d-%x" % (number, random.getrandbits(32)))

    def test_full_disk_defers_with_4xx_and_delivers_once_space_returns(self):
        server = Server(ACCOUNTS, ("--retry-ms=500",), launch=False)
        self.addCleanup(shutil.rmtree, server.base, True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % DISK_BYTES, "tmpfs", server.work],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", server.work])
        server.launch(ACCOUNTS)
        self.addCleanup(server.end)
        filler = server.path("filler")
        with open(filler, "wb", buffering=0) as f, contextlib.suppress(OSError):
            for _ in range(DISK_BYTES // 4096):
                f.write(bytes(4096))
        # A few pages of room: some messages fit, then the disk is full.
        os.truncate(filler, max(0, os.path.getsize(filler) // 4096 - 3) * 4096)

        plan = {"disk%d" % i: (USERS[i % 2],) for i in range(12)}

        def deliver(marker):
            return send(server.smtp_port, marker, [address(plan[marker][0])], padding_lines=40)
        codes = {marker: deliver(marker) for marker in plan}
        self.assertEqual({m: c for m, c in codes.items() if c != 250 and c not in (451, 452)}, {},
                         "only 250 or a temporary failure")
        acknowledged = {m for m, c in codes.items() if c == 250}
        expected = {u: {m for m in acknowledged if plan[m] == (u,)} for u in USERS}

        def all_listed():
            return all(server.listed(u) >= len(expected[u]) for u in USERS)
        late = not holds_within(all_listed, 3)
        os.remove(filler)
        holds_within(lambda: all_listed() and not queued(server))
        deferred = set(plan) - acknowledged
        self.assertEqual({m: deliver(m) for m in deferred}, {m: 250 for m in deferred}, "resent")
        expected = {u: {m for m in plan if plan[m] == (u,)} for u in USERS}
        holds_within(lambda: all(server.listed(u) >= len(expected[u]) for u in USERS) and not queued(server))
        self.assert_intact(server, expected, expected)
        if late:
            self.assertIn("***COPY FAILED***", server.log_text())
        self.assertTrue(deferred or late, "the disk never filled up")
        server.stop()

    def test_two_messages_on_one_connection_and_rset_after_the_data(self):
        server = self.server()
        first, second = message("first"), message("second")
        with smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=TIMEOUT) as client:
            self.assertEqual(client.sendmail("a@client.example", [address("ann")], first), {})
            self.assertEqual(client.sendmail("c@client.example", [address("bob")], second), {})
        received = re.compile(r"Mail Received: IP:\[127\.0\.0\.1\], Host:\[.*?\], Mail From:\[(.*?)\], "
                              r"For:\[(.*)\], 'Bad' For:\[\]")

        def log_entries():
            return [received.fullmatch(line).groups() for line in server.log_lines()
                    if received.fullmatch(line)]
        wait_until(lambda: len(log_entries()) == 2 and server.listed("ann") == server.listed("bob") == 1,
                   "both deliveries")
        self.assertEqual(log_entries(), [("a@client.example", "ann"), ("c@client.example", "bob")])
        self.assertEqual([RECEIVED_LINE.sub(b"", m, count=1) for u in USERS for m in server.messages(u)],
                         [first + b"\r\n.\r\n", second + b"\r\n.\r\n"])

        client = Raw(server.smtp_port)
        self.addCleanup(client.close)
        client.envelope(SENDER, [address("ann")])
        self.assertEqual(client.cmd("DATA"), SEND_DATA)
        client.send(message("kept") + b"\r\n.\r\n")
        self.assertEqual(client.line(), "250 Received OK.")
        self.assertEqual(client.cmd("DATA"), "503 DATA command already received.")
        self.assertEqual(client.cmd("RSET"), "250 OK.")
        self.assertEqual(client.cmd("QUIT"), "221 Bye Bye.")
        holds_within(lambda: server.listed("ann") >= 2)
        self.assertEqual(markers(server, "ann"), ["first", "kept"])

        # More messages on one connection than it keeps to deliver itself.
        many = ["many%d" % n for n in range(MANY_ON_ONE_CONNECTION)]
        with smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=TIMEOUT) as client:
            for marker in many:
                self.assertEqual(client.sendmail(SENDER, [address("bob")], message(marker)), {})
        wait_until(lambda: server.listed("bob") == 1 + len(many) and not queued(server), "every message for bob")
        self.assertEqual(sorted(markers(server, "bob")), sorted(["second"] + many))
        server.stop()

    def test_restarts_within_one_second_keep_ids_unique_and_deletions_exact(self):
        server = self.server(ACCOUNTS[:1])
        delivered, seconds = [], []  # the seconds that held a whole run's delivery

        def two_runs_shared_a_second():
            return len(set(seconds)) < len(seconds)
        while len(delivered) < 12 and (len(delivered) < 4 or not two_runs_shared_a_second()):
            marker = "run%d" % len(delivered)
            before = int(time.time())
            self.assertEqual(send(server.smtp_port, marker, [address("ann")]), 250)
            wait_until(lambda: server.listed("ann") == len(delivered) + 1, "delivery of " + marker)
            delivered.append(marker)
            if int(time.time()) == before:
                seconds.append(before)
            self.restart(server)
        pop = poplib_login(server.pop_port, "ann", "pw")
        ids = [line.split()[1] for line in pop.uidl()[1]]
        pop.quit()
        self.assertEqual(len(set(ids)), len(ids), "unique ids: %s" % ids)
        remaining = delivered
        while remaining:
            pop = poplib_login(server.pop_port, "ann", "pw")
            pop.dele(len(remaining))
            pop.quit()
            remaining.pop()
            self.assertEqual(markers(server, "ann"), remaining)
        server.stop()
        if not two_runs_shared_a_second():
            # A slow (instrumented) build: the checks above ran, but never
            # against ids made within one second of each other.
            self.skipTest("no two runs within one second")

    def test_pop3_quit_reply_comes_after_the_mailbox_is_handed_back(self):
        server = self.server(ACCOUNTS[:1])
        # Each login sends its PASS as soon as the previous session has had
        # its QUIT reply; the mailbox must be free by then. Any gap between
        # reply and release is short: enough logins that one falls into it.
        session = LineClient(server.pop_port)
        session.line()
        session.cmd("USER ann")
        self.assertEqual(session.cmd("PASS pw"), "+OK Welcome ann")
        for attempt in range(QUIT_LOGINS):
            following = LineClient(server.pop_port)
            following.line()
            following.cmd("USER ann")
            self.assertEqual(session.cmd("QUIT"), "+OK Thanks for visiting")
            session.close()
            self.assertEqual(following.cmd("PASS pw"), "+OK Welcome ann", "login %d after a QUIT" % attempt)
            session = following
        self.assertEqual(session.cmd("QUIT"), "+OK Thanks for visiting")
        session.close()

        for i in range(20):
            self.assertEqual(send(server.smtp_port, "pop%d" % i, [address("ann")]), 250)
        wait_until(lambda: server.listed("ann") == 20, "20 messages for ann")
        client = LineClient(server.pop_port)
        self.addCleanup(client.close)
        client.line()
        client.cmd("USER ann")
        self.assertEqual(client.cmd("PASS pw"), "+OK Welcome ann")
        for n in range(1, 21):
            self.assertEqual(client.cmd("DELE %d" % n), "+OK message %d deleted" % n)
        client.send_line("QUIT")
        reply = client.line()
        os.kill(server.process.pid, signal.SIGKILL)
        self.assertEqual(reply, "+OK Thanks for visiting")
        server.end()
        server.launch()
        self.assertEqual(server.listed("ann"), 0)
        self.assertEqual([name for name, _ in server.index("ann")
                          if not os.path.isfile(server.path(*name.split("\\")))], [])
        server.stop()

    def test_relay_loop_through_this_server_ends_with_a_notice(self):
        port = unused_port()
        server = self.server(("ann:pw:ann@local.example",),
                             ("--smtp-port=%d" % port, "--relay-host=127.0.0.1", "--relay-port=%d" % port,
                              "--relay-subnet=127.0.0.1"))
        self.assertEqual(server.smtp_port, port)
        self.assertEqual(send(port, "loop", ["someone@far.net"], sender="ann@local.example"), 250)

        last = [-1, 0.0]  # hops seen, since when

        def log_is_quiet():
            hops = sum(line.startswith(("Email Relayed", "Mail Received")) for line in server.log_lines())
            self.assertLess(hops, LOOP_BOUND, "the relay loop went on")
            if hops != last[0]:
                last[:] = [hops, time.monotonic()]
            return time.monotonic() - last[1] >= 2
        wait_until(log_is_quiet, "the SMTP log to stop growing", 60)
        wait_until(lambda: server.listed("ann") > 0, "a notice for ann")
        self.assertIn(b"Subject: Mail Undelivered", retrieve(server, "ann")[0])
        server.stop()

    def test_relay_host_that_keeps_the_connection_after_221(self):
        host = FakeRelayHost(quit="hold")
        self.addCleanup(host.close)
        server = self.server(("ann:pw:ann@local.example", "bob:pw:bob@local.example"),
                             ("--relay-host=127.0.0.1", "--relay-port=%d" % host.port, "--relay-subnet=127.0.0.",
                              "--idle-ms=600000"))
        self.assertEqual(send(server.smtp_port, "far", ["far@far.example", "bob@local.example"],
                              sender="ann@local.example"), 250)
        wait_until(lambda: server.listed("bob") == 1, "bob's copy", 30)
        server.wait_for_log("Email Relayed")
        server.wait_idle()
        self.assertEqual((len(host.transactions), len(host.messages())), (1, 1))
        self.assertNotIn("***RELAY FAILED***", server.log_text())
        self.assertEqual(server.listed("ann"), 0, "no notice for the sender")
        server.stop()

    def test_every_name_made_by_a_rename_has_its_folder_synced(self):
        if shutil.which("strace") is None:
            self.skipTest("strace is needed")
        server = self.server()
        trace = os.path.join(server.base, "trace")
        with strace_attached(server.process.pid, trace, "-y", "-e", "trace=rename,renameat,renameat2,fsync"):
            self.assertEqual(send(server.smtp_port, "synced", [address("ann")]), 250)
            server.wait_for_log("Mail Received")
        renamed, synced = renames_and_folder_syncs(trace, os.path.realpath(server.work))
        email = os.path.realpath(server.path("email"))
        self.assertIn(email, [folder for _, folder in renamed], "the message placed by a rename")
        for position, folder in renamed:
            self.assertTrue(any(later > position and synced_folder == folder for later, synced_folder in synced),
                            "no sync of %s after the rename at call %d" % (folder, position))
        self.assertEqual(markers(server, "ann"), ["synced"])
        server.stop()

    def test_accounts_named_like_temporary_files_survive_restarts(self):
        server = self.server(("~:pw:t1@example.org", "~ab:pw:t2@example.org"))
        for user, to in (("~", "t1"), ("~ab", "t2")):
            self.assertEqual(send(server.smtp_port, "for " + user, [to + "@example.org"]), 250)
            wait_until(lambda: server.listed(user) == 1, "delivery to " + user)
        for _ in range(2):
            self.restart(server)
        for user in ("~", "~ab"):
            self.assertEqual(markers(server, user), ["for " + user])
        self.assertEqual([name for name in ("~.dat", "~_s.dat", "~ab.dat", "~ab_s.dat")
                          if not os.path.isfile(server.path("email", name))], [])
        server.stop()


if __name__ == "__main__":
    unittest.main()
