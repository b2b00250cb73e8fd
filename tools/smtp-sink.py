#!/usr/bin/python3
"""A local SMTP server that keeps what it receives, for the demo and the tests.

It listens on 127.0.0.1, prints "READY <port>" when it takes connections and
one line "MESSAGE <json>" per accepted message (envelope sender and
recipients, decoded subject and text, selected headers); with --out it also
stores each message as a .eml file.  Faults on request: refuse recipients or
the message, drop the connection in the middle of DATA, demand a login,
demand STARTTLS.  Ends on SIGTERM or SIGINT.

Runs on Debian's python3 with python3-aiosmtpd.
"""
import argparse
import email
import email.policy
import json
import os
import signal
import ssl
import sys
import threading
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Sink:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.refuse == "rcpt":
            return "550 5.1.1 <%s>: recipient refused by the sink" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.refuse == "data":
            return "554 5.7.1 message refused by the sink"
        if self.args.drop:
            server.transport.abort()
            return "421 dropped"
        message = email.message_from_bytes(envelope.content, policy=email.policy.default)
        body = message.get_body(preferencelist=("plain",))
        record = {
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "subject": str(message["subject"] or ""),
            "text": (body.get_content() if body is not None else "").replace("\r\n", "\n"),
            "headers": {k: str(v) for k, v in message.items()
                        if k in ("From", "To", "Date", "Message-ID", "Content-Type",
                                 "Content-Transfer-Encoding", "Auto-Submitted")},
            "raw_ascii": all(b < 128 for b in envelope.content),
        }
        self.count += 1
        if self.args.out:
            name = os.path.join(self.args.out, "%s-%04d.eml" % (time.strftime("%Y%m%d-%H%M%S"),
                                                                 self.count))
            with open(name, "wb") as f:
                f.write(envelope.content)
        if self.args.show:
            print("smtp-sink: mail to %s: %s | %s" % (", ".join(envelope.rcpt_tos),
                                                     record["subject"],
                                                     record["text"].strip()), flush=True)
        else:
            print("MESSAGE " + json.dumps(record, ensure_ascii=False), flush=True)
        return "250 OK message accepted"


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--out", help="folder for a .eml copy of every message")
    p.add_argument("--show", action="store_true", help="one readable line per message")
    p.add_argument("--refuse", choices=("rcpt", "data"), help="refuse every recipient / message")
    p.add_argument("--drop", action="store_true", help="drop the connection during DATA")
    p.add_argument("--auth", metavar="USER:PASSWORD", help="demand this login")
    p.add_argument("--tls-cert", help="certificate (PEM): offer and demand STARTTLS")
    p.add_argument("--tls-key", help="its key (PEM)")
    args = p.parse_args()
    # A login without TLS is what the tests want; aiosmtpd warns about it.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")

    kwargs = {}
    if args.auth:
        user, _, password = args.auth.partition(":")

        def authenticate(server, session, envelope, mechanism, data):
            ok = data.login.decode() == user and data.password.decode() == password
            return AuthResult(success=ok, handled=False)

        kwargs.update(authenticator=authenticate, auth_required=True,
                      auth_require_tls=bool(args.tls_cert))
    if args.tls_cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        kwargs.update(tls_context=context, require_starttls=True)
    if args.out:
        os.makedirs(args.out, exist_ok=True)

    controller = Controller(Sink(args), hostname="127.0.0.1", port=args.port, **kwargs)
    controller.start()
    print("READY %d" % args.port, flush=True)
    done = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: done.set())
    while not done.wait(0.5):
        pass
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
