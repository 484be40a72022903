#!/usr/bin/env python3
"""POP3 benchmark: our server (the tests' email_test_server harness) and
Debian's Dovecot side by side on 127.0.0.1, over the same messages.

  1. One poplib session retrieving 1000 messages of 10 KiB: messages/s and
     MB/s (10^6 bytes).
  2. One poplib session retrieving one 20 MiB message: MB/s.

Both servers serve mailboxes written before they start: ours in its own
mailbox files, Dovecot from maildirs in a private folder, with its own
configuration, on a loopback port of the system's choice; nothing of the
machine's Dovecot set-up is used or changed. Each measurement is warmed up
once, then taken several times alternating between the servers; the
medians are printed, the figures last. Without Dovecot (apt-get install
dovecot-pop3d) only our figures are taken.

With --tls both are measured over implicit TLS (the POP3S port): ours with
its own certificate, Dovecot (ssl=yes) with the same certificate and key
and our TLS floor (TLS 1.2 and 1.3, our TLS 1.2 ciphers in the server's
order, our key exchange groups); what each side negotiated is printed.

Usage: bench/pop3_bench.py [--server PATH] [--runs N] [--tls]
"""
import argparse
import os
import poplib
import pwd
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_support import (HERE, TLS12_CIPHERS, TLS_GROUPS, Harness, alternating, find_server, free_port,
                           negotiated, stop_peer, tls_client_context, wait_for_port)

sys.path.insert(0, os.path.join(HERE, "..", "tests", "email"))
from pop3_harness import Account, seed  # noqa: E402

SMALL_COUNT = 1000
SMALL_BYTES = 10 * 1024
BIG_BYTES = 20 * 1024 * 1024
TIMEOUT = 300

DOVECOT_CONF = """\
base_dir = {prefix}/run
state_dir = {prefix}/state
log_path = {prefix}/dovecot.log
protocols = pop3
listen = 127.0.0.1
{ssl}disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:{prefix}/mail/%u
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {prefix}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={prefix}/mail/%u
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {pop3_port}
  }}
  inet_listener pop3s {{
    address = 127.0.0.1
    port = {pop3s_port}
  }}
}}
service anvil {{
  chroot =
}}
"""
DOVECOT_NO_TLS = "ssl = no\n"
DOVECOT_TLS = """\
ssl = yes
ssl_cert = <{certificate}
ssl_key = <{key}
ssl_dh = </usr/share/dovecot/dh.pem
ssl_min_protocol = TLSv1.2
ssl_cipher_list = {ciphers}
ssl_curve_list = {groups}
ssl_prefer_server_ciphers = yes
"""


def text_lines(total, tag):
    """CR LF lines of 80 bytes making up about total bytes of text."""
    head = [b"Subject: %s" % tag, b"From: bench@example.org", b""]
    lines = head[:]
    size = sum(len(line) + 2 for line in head)
    number = 0
    while size + 82 <= total:
        line = b"%08d " % number + b"abcdefghijklmnopqrstuvwxyz0123456789"[:35] * 2
        lines.append(line[:78])
        size += 80
        number += 1
    return lines


def stored(lines):
    return b"".join(line + b"\r\n" for line in lines) + b".\r\n"


def maildir_file(lines):
    return b"".join(line + b"\n" for line in lines)


def make_mail(folder):
    small = [text_lines(SMALL_BYTES, b"small %d" % i) for i in range(SMALL_COUNT)]
    big = [text_lines(BIG_BYTES, b"big")]
    ours = os.path.join(folder, "ours")
    os.makedirs(ours)
    seed(ours, [Account("bench", "pw", messages=[(stored(m), "%d:bench" % i) for i, m in enumerate(small)]),
                Account("big", "pw", messages=[(stored(big[0]), "0:big")])])
    dovecot_mail = os.path.join(folder, "dovecot", "mail")
    for user, messages in (("bench", small), ("big", big)):
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(dovecot_mail, user, sub))
        for i, lines in enumerate(messages):
            name = "%d.M%dP1.bench:2,S" % (1700000000 + i, i)
            with open(os.path.join(dovecot_mail, user, "cur", name), "wb") as f:
                f.write(maildir_file(lines))
    return ours


def start_dovecot(folder, certificate=None, key=None):
    """Dovecot on a free port: POP3, or with a certificate POP3S only."""
    prefix = os.path.join(folder, "dovecot")
    for sub in ("run", "state"):
        os.makedirs(os.path.join(prefix, sub))
    nobody = pwd.getpwnam("nobody")
    for root, dirs, files in os.walk(os.path.join(prefix, "mail")):
        for name in dirs + files:
            os.chown(os.path.join(root, name), nobody.pw_uid, nobody.pw_gid)
    os.chown(os.path.join(prefix, "mail"), nobody.pw_uid, nobody.pw_gid)
    with open(os.path.join(prefix, "passwd"), "w") as f:
        f.write("bench:{PLAIN}pw\nbig:{PLAIN}pw\n")
    port = free_port()
    conf = os.path.join(prefix, "dovecot.conf")
    with open(conf, "w") as f:
        ssl = (DOVECOT_TLS.format(certificate=certificate, key=key, ciphers=TLS12_CIPHERS, groups=":".join(TLS_GROUPS))
               if certificate else DOVECOT_NO_TLS)
        f.write(DOVECOT_CONF.format(prefix=prefix, pop3_port=0 if certificate else port,
                                    pop3s_port=port if certificate else 0, ssl=ssl, uid=nobody.pw_uid,
                                    gid=nobody.pw_gid))
    process = subprocess.Popen(["dovecot", "-F", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_port(port, "dovecot", process)
    return process, port


# Where clients trust the certificate of an implicit TLS port; None: clear.
client_context = None


def connect(port):
    if client_context is None:
        return poplib.POP3("127.0.0.1", port, timeout=TIMEOUT)
    return poplib.POP3_SSL("127.0.0.1", port, timeout=TIMEOUT, context=client_context)


def tls_agreed(port):
    """The protocol and cipher a POP3S session agrees on."""
    pop = connect(port)
    agreed = negotiated(pop.sock)
    pop.quit()
    return agreed


def retrieve_all(port, user, count):
    """Seconds and octets for one session retrieving messages 1..count."""
    started = time.monotonic()
    pop = connect(port)
    pop.user(user)
    pop.pass_("pw")
    octets = 0
    for number in range(1, count + 1):
        octets += pop.retr(number)[2]
    pop.quit()
    return time.monotonic() - started, octets


def small_run(port):
    seconds, octets = retrieve_all(port, "bench", SMALL_COUNT)
    return SMALL_COUNT / seconds, octets / seconds / 1e6


def big_run(port):
    seconds, octets = retrieve_all(port, "big", 1)
    if octets < BIG_BYTES - 200:
        sys.exit(f"short retrieval from port {port}: {octets} octets")
    return octets / seconds / 1e6


def measure(runs, action, ports):
    """Results per port (None for a missing server), warm-up first."""
    ports = [port for port in ports if port]
    return dict(zip(ports, alternating(runs, [lambda port=port: action(port) for port in ports])))


def median_of(values, index=None):
    return statistics.median(v if index is None else v[index] for v in values)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--tls", action="store_true", help="both over implicit TLS (POP3S)")
    args = parser.parse_args()
    global client_context
    server = find_server(args.server, "email_test_server")
    have_dovecot = shutil.which("dovecot") is not None
    if not have_dovecot:
        print("dovecot not found (apt-get install dovecot-pop3d): measuring ours only")

    folder = tempfile.mkdtemp(prefix="vt-pop3-bench-")
    os.chmod(folder, 0o755)
    ours = dovecot = None
    try:
        work = make_mail(folder)
        if args.tls:
            ours = Harness([server, work, "--tls=on", "--implicit-tls"], ["POP3S"])
            ours_port = ours.ports["POP3S"]
            # Made as the service starts with TLS on; Dovecot gets the same.
            certificate, key = (os.path.join(work, "tls", name) for name in ("certificate.pem", "key.pem"))
            client_context = tls_client_context(certificate)
        else:
            ours = Harness([server, work], ["POP3"])
            ours_port = ours.ports["POP3"]
            certificate = key = None
        dovecot_port = None
        if have_dovecot:
            dovecot, dovecot_port = start_dovecot(folder, certificate, key)
        ports = (ours_port, dovecot_port)
        agreed = {port: tls_agreed(port) for port in ports if port and args.tls}
        small = measure(args.runs, small_run, ports)
        big = measure(args.runs, big_run, ports)
    finally:
        if ours is not None:
            ours.stop(timeout=10)
        if dovecot is not None:
            stop_peer(dovecot)
        shutil.rmtree(folder, ignore_errors=True)

    print(f"median of {args.runs} runs after one warm-up" + (", over implicit TLS" if args.tls else ""))
    figures = []
    for name, port in (("ours", ours_port), ("dovecot", dovecot_port)):
        if port is None:
            continue
        print(f"{name} runs: " + " ".join(f"{r:.0f}msg/s,{m:.1f}MB/s" for r, m in small[port]) +
              "; big " + " ".join(f"{b:.1f}MB/s" for b in big[port]))
        if port in agreed:
            print(f"{name} negotiated {agreed[port]}")
        rate, mbs, big_mbs = median_of(small[port], 0), median_of(small[port], 1), median_of(big[port])
        print(f"{name}: {rate:.0f} messages/s, {mbs:.1f} MB/s on {SMALL_COUNT} x 10 KiB; "
              f"{big_mbs:.1f} MB/s on one 20 MiB message")
        figures.append(f"{name}={rate:.0f}msg/s,{mbs:.1f}MB/s,big={big_mbs:.1f}MB/s")
    print("FIGURES " + " ".join(figures))


if __name__ == "__main__":
    main()
