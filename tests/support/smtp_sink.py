#!/usr/bin/python3
"""A loopback SMTP server for QzNotes tests and benchmarks.

Stores every message it accepts as NNNNNN.eml (the raw data) and
NNNNNN.envelope (lines "tls yes|no", "from ADDR", "to ADDR"...) in --dir,
the envelope last and renamed into place, so a reader that sees it sees the
whole message. Can refuse chosen senders or recipients, refuse the data,
drop the connection in the middle of the data or after it, or never
answer; offers STARTTLS or speaks TLS from the start with a certificate it
makes with openssl.
Writes its port to --port-file once it listens, and exits on SIGTERM,
SIGINT or when its parent goes away.
"""

import argparse
import asyncio
import os
import signal
import ssl
import subprocess
import sys

from aiosmtpd.smtp import SMTP


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--host", default="127.0.0.1", help="loopback address to listen on (127.0.0.1 or ::1)")
    p.add_argument("--port", type=int, default=0, help="port; 0 picks a free one (default)")
    p.add_argument("--port-file", required=True, help="file that receives the port once listening")
    p.add_argument("--dir", help="folder for stored messages (default: store nothing, count only)")
    p.add_argument("--refuse-from", action="append", default=[], metavar="ADDR",
                   help="answer MAIL FROM:<ADDR> with 550 (repeatable; '*' refuses every sender)")
    p.add_argument("--refuse-rcpt", action="append", default=[], metavar="ADDR",
                   help="answer RCPT TO:<ADDR> with 550 (repeatable)")
    p.add_argument("--refuse-data", action="store_true", help="answer the end of the data with a two-line 554")
    p.add_argument("--drop-in-data", action="store_true",
                   help="close the connection after the first line of the data")
    p.add_argument("--drop-after-data", action="store_true",
                   help="close the connection after the whole data, before any reply")
    p.add_argument("--silent", action="store_true", help="accept connections and never say a word")
    p.add_argument("--starttls", action="store_true", help="offer STARTTLS")
    p.add_argument("--tls-on-connect", action="store_true", help="speak TLS from the start (smtps)")
    p.add_argument("--cert-dir", help="folder for cert.pem and key.pem, made with openssl when missing")
    a = p.parse_args()
    if a.host not in ("127.0.0.1", "::1", "localhost"):
        p.error("the sink listens on loopback only")
    if (a.starttls or a.tls_on_connect) and not a.cert_dir:
        p.error("--starttls and --tls-on-connect need --cert-dir")
    return a


def tls_context(cert_dir):
    cert = os.path.join(cert_dir, "cert.pem")
    key = os.path.join(cert_dir, "key.pem")
    if not (os.path.exists(cert) and os.path.exists(key)):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert,
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if "*" in self.args.refuse_from or address in self.args.refuse_from:
            return "550 5.7.1 Sender <%s> refused by the test sink" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.refuse_rcpt:
            return "550 5.1.1 <%s>: Recipient address rejected by the test sink" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.drop_after_data:
            server.transport.abort()
            return "451 never seen"
        if self.args.refuse_data:
            # A reply of two lines: the last one is the final reply.
            return "554-5.6.0 Message refused\r\n554 5.6.0 Message refused by the test sink"
        self.count += 1
        if self.args.dir:
            self.store(server, session, envelope)
        return "250 2.0.0 Ok: queued as %06d" % self.count

    def store(self, server, session, envelope):
        stem = os.path.join(self.args.dir, "%06d" % self.count)
        with open(stem + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        tls = session.ssl or server.transport.get_extra_info("ssl_object") is not None
        lines = ["tls " + ("yes" if tls else "no"), "from " + envelope.mail_from]
        lines += ["to " + r for r in envelope.rcpt_tos]
        with open(stem + ".tmp", "w") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(stem + ".tmp", stem + ".envelope")


class DroppingSMTP(SMTP):
    """Goes away in the middle of the data."""

    async def smtp_DATA(self, arg):
        if not self.envelope.rcpt_tos:
            return await super().smtp_DATA(arg)
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readuntil(b"\r\n")
        self.transport.abort()


class Silent(asyncio.Protocol):
    def data_received(self, data):
        pass


async def main(args):
    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, lambda: stop.done() or stop.set_result(None))

    if args.silent:
        factory = Silent
        ssl_context = None
    else:
        handler = Handler(args)
        context = tls_context(args.cert_dir) if args.cert_dir else None
        starttls = context if args.starttls else None
        smtp = DroppingSMTP if args.drop_in_data else SMTP
        factory = lambda: smtp(handler, hostname="sink.test", tls_context=starttls, data_size_limit=0, timeout=60)
        ssl_context = context if args.tls_on_connect else None
    server = await loop.create_server(factory, args.host, args.port, ssl=ssl_context)
    port = server.sockets[0].getsockname()[1]
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % port)
    os.rename(args.port_file + ".tmp", args.port_file)

    parent = os.getppid()
    while not stop.done():
        # A test that died leaves no sink behind.
        if os.getppid() != parent:
            break
        await asyncio.wait([stop], timeout=1.0)
    server.close()


if __name__ == "__main__":
    arguments = parse_args()
    try:
        asyncio.run(main(arguments))
    except KeyboardInterrupt:
        pass
    sys.exit(0)
