#!/usr/bin/python3
"""A small SMTP server for the tests and the demo (aiosmtpd, run by /usr/bin/python3).

Listens on 127.0.0.1 and requires AUTH LOGIN or PLAIN over plain text; a wrong password gets 535.
Once listening it writes its port to --port-file. --store DIR: message N (from 1) gives N.eml (the
DATA) and then N.rec, records `key SP length LF bytes LF` of the message as the email package reads
it. --fault: refuse (550 for --refuse recipients), drop (closes once the data has arrived), stall
(greets, then never answers), hold-rcpt / hold-data (before answering the first RCPT TO, or the
end of the data, of each message: creates --hold-dir/held, waits for --hold-dir/release, removes
both and goes on). --print: prints the port and each message as it arrives.
"""

import argparse
import asyncio
import logging
import os
import signal
import sys
import warnings
from email import policy
from email.parser import BytesParser

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--store")
    p.add_argument("--user", default="quorvel")
    p.add_argument("--password", default="secret")
    p.add_argument("--fault", choices=["none", "refuse", "drop", "stall", "hold-rcpt", "hold-data"], default="none")
    p.add_argument("--refuse", action="append", default=[])
    p.add_argument("--hold-dir")
    p.add_argument("--print", action="store_true", dest="print_messages")
    return p.parse_args()


def record(key, value):
    data = value if isinstance(value, bytes) else value.encode("utf-8", "surrogateescape")
    return key.encode() + b" " + str(len(data)).encode() + b"\n" + data + b"\n"


def all_defects(msg):
    for part in msg.walk():
        for defect in part.defects:
            yield f"{type(defect).__name__}: {defect}"
        for name, value in part.items():
            for defect in getattr(value, "defects", ()):
                yield f"{name}: {type(defect).__name__}: {defect}"


def describe(envelope):
    msg = BytesParser(policy=policy.default).parsebytes(envelope.content)
    fields = [("mail_from", envelope.mail_from)]
    fields += [("rcpt", r) for r in envelope.rcpt_tos]
    for name, value in msg.items():
        fields += [("header_name", name), ("header_value", str(value))]
    body = msg.get_body(preferencelist=("plain",))
    if body is not None:
        fields.append(("body", body.get_content()))
    for part in msg.iter_attachments():
        fields += [("attachment_name", part.get_filename() or ""),
                   ("attachment_type", part.get_content_type()),
                   ("attachment_data", part.get_payload(decode=True) or b"")]
    fields += [("defect", d) for d in all_defects(msg)]
    return fields


def print_message(number, fields):
    get = lambda key: [v for k, v in fields if k == key]
    subject = dict(zip(get("header_name"), get("header_value"))).get("Subject", "")
    print(f"--- message {number}\nenvelope from: {fields[0][1]}\n"
          f"envelope to:   {', '.join(get('rcpt'))}\nsubject:       {subject}")
    for name, data in zip(get("attachment_name"), get("attachment_data")):
        print(f"attachment:    {name} ({len(data)} bytes)")
    sys.stdout.flush()


def write_whole(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


async def hold(args, point):
    if args.fault != point:
        return
    held, release = os.path.join(args.hold_dir, "held"), os.path.join(args.hold_dir, "release")
    write_whole(held, b"")
    while not os.path.exists(release):
        await asyncio.sleep(0.01)
    os.remove(release)
    os.remove(held)


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if not envelope.rcpt_tos:
            await hold(self.args, "hold-rcpt")
        if self.args.fault == "refuse" and address.lower() in (r.lower() for r in self.args.refuse):
            return "550 5.1.1 Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.fault == "drop":
            server.transport.abort()
            return "421 closing"
        await hold(self.args, "hold-data")
        self.count += 1
        fields = describe(envelope)
        if self.args.store:
            base = os.path.join(self.args.store, str(self.count))
            write_whole(base + ".eml", envelope.content)
            write_whole(base + ".rec", b"".join(record(k, v) for k, v in fields))
        if self.args.print_messages:
            print_message(self.count, fields)
        return "250 Message accepted"


class Stalled(asyncio.Protocol):
    def connection_made(self, transport):
        transport.write(b"220 127.0.0.1 ESMTP\r\n")

    def data_received(self, data):
        pass


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode() and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False)
    return authenticate


async def serve(args):
    loop = asyncio.get_running_loop()
    if args.fault == "stall":
        factory = Stalled
    else:
        handler = Handler(args)
        authenticator = make_authenticator(args.user, args.password)
        factory = lambda: SMTP(handler, hostname="127.0.0.1", decode_data=False,
                               authenticator=authenticator, auth_required=True,
                               auth_require_tls=False, data_size_limit=None)
    server = await loop.create_server(factory, "127.0.0.1", args.port)
    port = server.sockets[0].getsockname()[1]
    for folder in (args.store, args.hold_dir):
        if folder:
            os.makedirs(folder, exist_ok=True)
    if args.port_file:
        write_whole(args.port_file, f"{port}\n".encode())
    if args.print_messages:
        print(f"listening on 127.0.0.1:{port}", flush=True)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    server.close()


def main():
    # Plain-text AUTH is what this server is for; keep its warnings out of the demo's output.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    asyncio.run(serve(parse_args()))


if __name__ == "__main__":
    main()
