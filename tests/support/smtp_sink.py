#!/usr/bin/python3
"""A loopback SMTP server for QzNotes tests and benchmarks.

Stores every message it accepts in --dir as NNNNNN.eml (the data as
received) and NNNNNN.envelope (lines "tls yes|no", "from ADDR", "to ADDR"...),
the envelope last and renamed into place, so a reader that sees it sees the
whole message. Can refuse chosen recipients, refuse the data, drop
the connection after the data, never give the final reply or never answer; offers STARTTLS with a
certificate it makes with openssl. Writes its port to --port-file once it
listens; ends with a signal or when its parent goes away.
"""

import argparse
import asyncio
import os
import subprocess
import ssl

from aiosmtpd.smtp import SMTP


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--port-file", required=True)
    p.add_argument("--dir", help="where to store the messages (default: nowhere)")
    p.add_argument("--refuse-rcpt", action="append", default=[], metavar="ADDR", help="answer 550 (repeatable)")
    p.add_argument("--defer-data", type=int, default=0, metavar="N",
                   help="answer the first N data commands with 451 (a server busy for a while)")
    p.add_argument("--refuse-data", action="store_true", help="answer the data with a two-line 554")
    p.add_argument("--drop-after-data", action="store_true", help="close the connection instead of replying")
    p.add_argument("--silent", action="store_true", help="accept connections and never say a word")
    p.add_argument("--stall-after-data", action="store_true",
                   help="store the message, then never give the final reply (a tarpit)")
    p.add_argument("--starttls", action="store_true", help="offer STARTTLS")
    p.add_argument("--cert-dir", default=".", help="where cert.pem and key.pem are, made when missing")
    return p.parse_args()


def tls_context(cert_dir):
    cert, key = os.path.join(cert_dir, "cert.pem"), os.path.join(cert_dir, "key.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert,
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0
        self.deferred = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.refuse_rcpt:
            return "550 5.1.1 <%s>: Recipient address rejected by the test sink" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.drop_after_data:
            server.transport.abort()
            return "451 never seen"
        if self.deferred < self.args.defer_data:
            self.deferred += 1
            return "451 4.3.0 Try again later"
        if self.args.refuse_data:
            # A reply of two lines: the last one is the final reply.
            return "554-5.6.0 Message refused\r\n554 5.6.0 Message refused by the test sink"
        self.count += 1
        if self.args.dir:
            stem = os.path.join(self.args.dir, "%06d" % self.count)
            with open(stem + ".eml", "wb") as f:
                f.write(envelope.original_content or envelope.content)
            lines = ["tls " + ("no" if session.ssl is None else "yes"), "from " + envelope.mail_from]
            with open(stem + ".tmp", "w") as f:
                f.write("\n".join(lines + ["to " + r for r in envelope.rcpt_tos]) + "\n")
            os.rename(stem + ".tmp", stem + ".envelope")
        if self.args.stall_after_data:
            await asyncio.sleep(3600)
        return "250 2.0.0 Ok: queued as %06d" % self.count


async def main(args):
    handler = Handler(args)
    starttls = tls_context(args.cert_dir) if args.starttls else None
    factory = asyncio.Protocol if args.silent else lambda: SMTP(handler, hostname="sink.test", tls_context=starttls,
                                                      data_size_limit=0, timeout=60)
    server = await asyncio.get_running_loop().create_server(factory, "127.0.0.1", 0)
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.sockets[0].getsockname()[1])
    os.rename(args.port_file + ".tmp", args.port_file)
    # Until a signal ends it; a test that died leaves no sink behind.
    parent = os.getppid()
    while os.getppid() == parent:
        await asyncio.sleep(1)


if __name__ == "__main__":
    asyncio.run(main(parse_args()))
