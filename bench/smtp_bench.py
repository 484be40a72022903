#!/usr/bin/env python3
"""SMTP receiving benchmark: our server (tests' email_test_server harness)
and Debian's Postfix side by side on 127.0.0.1.

2000 messages of 10 KiB are sent by 20 parallel clients, one message per
connection (HELO, MAIL, RCPT, DATA, QUIT), all to one account; the clock
stops when the last message is in the account's mailbox (our mailbox
folder, Postfix's Maildir). Each server is measured once unmeasured to warm
up, then several times alternating with the other; the medians are printed,
the figures last.

With --tls each connection greets with EHLO, turns to TLS with STARTTLS
and greets again before sending (EHLO, STARTTLS, EHLO, MAIL, RCPT, DATA,
QUIT); Postfix then offers STARTTLS (smtpd_tls_security_level=may) with
our certificate and key and our TLS floor (TLS 1.2 and 1.3, our TLS 1.2
ciphers in the server's order, our key exchange groups), and what each
side negotiated is printed.

Postfix runs as root from a private configuration and queue in a temporary
folder, listening on its own loopback port, and is stopped at the end; the
system's mail setup is not touched. Without postfix installed
(apt-get install postfix) only our server is measured.

Usage: bench/smtp_bench.py [--server PATH] [--runs N] [--no-postfix] [--tls]
"""
import argparse
import multiprocessing
import os
import pwd
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

from bench_support import (TLS12_CIPHERS, TLS_GROUPS, Harness, alternating, find_server, free_port, negotiated,
                           tls_client_context, wait_for_port)

MESSAGES = 2000
MESSAGE_BYTES = 10 * 1024
CLIENTS = 20
ACCOUNT = "bench"
DOMAIN = "bench.example"
ADDRESS = ACCOUNT + "@" + DOMAIN
DELIVERY_DEADLINE_S = 300
POLL_S = 0.01
# Postfix's virtual delivery runs as this user; it owns the Maildir.
MAILDIR_USER = "nobody"


def message_body():
    head = (f"From: sender@client.example\r\nTo: {ADDRESS}\r\nSubject: bench\r\n\r\n").encode()
    line = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuv\r\n"
    body = head
    while len(body) + len(line) <= MESSAGE_BYTES:
        body += line
    body += b"x" * (MESSAGE_BYTES - len(body) - 2) + b"\r\n"
    return body + b".\r\n"


class Client:
    """One SMTP connection: reads each reply line and checks its code."""

    def __init__(self, port, context=None):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.buffer = b""
        self.context = context

    def expect(self, code):
        while True:
            while b"\r\n" not in self.buffer:
                chunk = self.sock.recv(4096)
                if not chunk:
                    raise RuntimeError("connection closed")
                self.buffer += chunk
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            if line[3:4] != b"-":
                break
        if not line.startswith(code):
            raise RuntimeError(f"expected {code!r}, got {line!r}")

    def command(self, text, code):
        self.sock.sendall(text)
        self.expect(code)

    def greet(self):
        """The greeting; with a TLS context, EHLO and STARTTLS and EHLO
        again inside TLS."""
        self.expect(b"220")
        if self.context is None:
            self.command(b"HELO client.example\r\n", b"250")
            return
        self.command(b"EHLO client.example\r\n", b"250")
        self.command(b"STARTTLS\r\n", b"220")
        assert not self.buffer, self.buffer
        self.sock = self.context.wrap_socket(self.sock)
        self.command(b"EHLO client.example\r\n", b"250")

    def send_one(self, body):
        self.greet()
        self.command(b"MAIL FROM:<sender@client.example>\r\n", b"250")
        self.command(f"RCPT TO:<{ADDRESS}>\r\n".encode(), b"250")
        self.command(b"DATA\r\n", b"354")
        self.command(body, b"250")
        self.command(b"QUIT\r\n", b"221")
        self.sock.close()


def sender(port, count, body, start, certificate):
    context = tls_client_context(certificate) if certificate else None
    start.wait()
    for _ in range(count):
        Client(port, context).send_one(body)


def tls_agreed(port, certificate):
    """The protocol and cipher one STARTTLS session agrees on."""
    client = Client(port, tls_client_context(certificate))
    client.greet()
    agreed = negotiated(client.sock)
    client.command(b"QUIT\r\n", b"221")
    client.sock.close()
    return agreed


class Target:
    name = ""
    port = 0
    certificate = None  # with TLS: the client trusts it

    def delivered(self):
        raise NotImplementedError

    def clear(self):
        raise NotImplementedError

    def stop(self):
        pass


class Ours(Target):
    name = "ours"

    def __init__(self, server, folder, tls):
        self.work = os.path.join(folder, "ours")
        os.makedirs(self.work)
        options = ["--tls=on"] if tls else []
        self.harness = Harness([server, self.work, "--max-account=2000000000", *options, f"{ACCOUNT}:pw:{ADDRESS}"],
                               ["SMTP"])
        self.port = self.harness.ports["SMTP"]
        if tls:  # made as the service starts with TLS on
            self.certificate = os.path.join(self.work, "tls", "certificate.pem")
            self.key = os.path.join(self.work, "tls", "key.pem")
        self.mailbox = os.path.join(self.work, "email")
        self.suffix = "@" + ACCOUNT + "_e.dat"

    def _messages(self):
        return [e.path for e in os.scandir(self.mailbox) if e.name.endswith(self.suffix)]

    def delivered(self):
        return len(self._messages())

    def clear(self):
        # Message files only: the index keeps growing, as it would in use.
        for path in self._messages():
            os.remove(path)

    def stop(self):
        self.harness.stop()


class Postfix(Target):
    name = "postfix"

    def __init__(self, folder, certificate=None, key=None):
        self.certificate = certificate
        self.key = key
        self.prefix = os.path.join(folder, "postfix")
        self.conf = os.path.join(self.prefix, "conf")
        mail = os.path.join(self.prefix, "mail")
        for path in (self.conf, mail, os.path.join(self.prefix, "queue"), os.path.join(self.prefix, "data")):
            os.makedirs(path)
        owner = pwd.getpwnam(MAILDIR_USER)
        os.chown(mail, owner.pw_uid, owner.pw_gid)
        postfix = pwd.getpwnam("postfix")
        os.chown(os.path.join(self.prefix, "data"), postfix.pw_uid, postfix.pw_gid)
        self.port = free_port()
        self._write_config(mail, owner)
        subprocess.run(["postfix", "-c", self.conf, "start"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(self.port, "postfix", greeting=True)
        self.maildir = os.path.join(mail, ACCOUNT, "new")

    def _write_config(self, mail, owner):
        main = f"""\
compatibility_level = 3.6
queue_directory = {self.prefix}/queue
data_directory = {self.prefix}/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
myhostname = bench.localdomain
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
biff = no
smtputf8_enable = no
maillog_file = {self.prefix}/postfix.log
maillog_file_prefixes = {self.prefix}
message_size_limit = 0
virtual_mailbox_limit = 0
virtual_mailbox_domains = {DOMAIN}
virtual_mailbox_base = {mail}
virtual_mailbox_maps = texthash:{self.conf}/vmailbox
virtual_uid_maps = static:{owner.pw_uid}
virtual_gid_maps = static:{owner.pw_gid}
"""
        if self.certificate:
            main += f"""\
smtpd_tls_security_level = may
smtpd_tls_cert_file = {self.certificate}
smtpd_tls_key_file = {self.key}
smtpd_tls_protocols = >=TLSv1.2
smtpd_tls_ciphers = medium
tls_medium_cipherlist = {TLS12_CIPHERS}
tls_preempt_cipherlist = yes
tls_eecdh_auto_curves = {" ".join(TLS_GROUPS)}
smtpd_tls_loglevel = 0
"""
        with open(os.path.join(self.conf, "main.cf"), "w") as f:
            f.write(main)
        with open(os.path.join(self.conf, "vmailbox"), "w") as f:
            f.write(f"{ADDRESS} {ACCOUNT}/\n")
        # Debian's services, without chroot, and smtpd on our own port.
        lines = []
        with open("/etc/postfix/master.cf") as f:
            for line in f:
                fields = line.split()
                if line.startswith("smtp ") and len(fields) > 1 and fields[1] == "inet":
                    line = f"127.0.0.1:{self.port} inet n - n - - smtpd\n"
                elif len(fields) >= 8 and not line[0].isspace() and not line.startswith("#"):
                    fields[4] = "n"
                    line = " ".join(fields) + "\n"
                lines.append(line)
        with open(os.path.join(self.conf, "master.cf"), "w") as f:
            f.writelines(lines)

    def delivered(self):
        try:
            return len(os.listdir(self.maildir))
        except FileNotFoundError:
            return 0

    def clear(self):
        for name in os.listdir(self.maildir) if os.path.isdir(self.maildir) else []:
            os.remove(os.path.join(self.maildir, name))

    def stop(self):
        subprocess.run(["postfix", "-c", self.conf, "stop"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def rate(target, body):
    """Messages per second from the first connection until the last message
    is in the mailbox."""
    target.clear()
    start = multiprocessing.Event()
    share = MESSAGES // CLIENTS
    workers = [multiprocessing.Process(target=sender, args=(target.port, share, body, start, target.certificate))
               for _ in range(CLIENTS)]
    for worker in workers:
        worker.start()
    began = time.monotonic()
    start.set()
    deadline = began + DELIVERY_DEADLINE_S
    while target.delivered() < MESSAGES:
        if time.monotonic() > deadline:
            sys.exit(f"{target.name}: only {target.delivered()} of {MESSAGES} messages arrived")
        time.sleep(POLL_S)
    elapsed = time.monotonic() - began
    for worker in workers:
        worker.join()
        if worker.exitcode != 0:
            sys.exit(f"{target.name}: a sending client failed")
    return MESSAGES / elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-postfix", action="store_true")
    parser.add_argument("--tls", action="store_true", help="STARTTLS on every connection")
    args = parser.parse_args()
    server = find_server(args.server, "email_test_server")
    with_postfix = not args.no_postfix and shutil.which("postfix") is not None
    if with_postfix and os.geteuid() != 0:
        print("postfix needs root to start; measuring ours alone")
        with_postfix = False
    elif not with_postfix and not args.no_postfix:
        print("postfix is not installed (apt-get install postfix); measuring ours alone")

    folder = tempfile.mkdtemp(prefix="vt-smtp-bench-")
    os.chmod(folder, 0o755)
    targets = []
    body = message_body()
    try:
        ours = Ours(server, folder, args.tls)
        targets.append(ours)
        if with_postfix:
            targets.append(Postfix(folder, ours.certificate, ours.key if args.tls else None))
        agreed = {target.name: tls_agreed(target.port, target.certificate) for target in targets if args.tls}
        runs = alternating(args.runs, [lambda target=target: rate(target, body) for target in targets])
        results = {target.name: values for target, values in zip(targets, runs)}
    finally:
        for target in targets:
            target.stop()
        shutil.rmtree(folder, ignore_errors=True)

    medians = {name: statistics.median(values) for name, values in results.items()}
    for name, values in results.items():
        print(f"{name}: " + " ".join(f"{value:.0f}" for value in values) + " messages/s")
    for name, text in agreed.items():
        print(f"{name} negotiated {text}")
    print(f"median of {args.runs} runs after one warm-up; {MESSAGES} messages of {MESSAGE_BYTES // 1024} KiB, "
          f"{CLIENTS} parallel clients, one message per connection" + (", STARTTLS on each" if args.tls else ""))
    line = f"SMTP{' with STARTTLS' if args.tls else ''} delivery to one account: ours {medians['ours']:.0f} messages/s"
    if "postfix" in medians:
        line += (f", postfix {medians['postfix']:.0f} messages/s, "
                 f"ratio {medians['ours'] / medians['postfix']:.2f} (target >= 1.0)")
    print(line)


if __name__ == "__main__":
    main()
