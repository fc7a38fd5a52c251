#!/usr/bin/python3
"""A small SMTP server for the tests and the demo (aiosmtpd): 127.0.0.1, AUTH LOGIN or PLAIN required, port
written to --port-file. --security starttls (STARTTLS first) or tls, with a certificate signed by --certs/ca.pem.
--store DIR: message N gives N.eml (the DATA) and N.rec (records `key SP length LF bytes LF`); DIR/commands
gets each command's verb, " tls" once encrypted. --fault: refuse / defer: 550 / 451 to the --refuse addresses;
drop: closes once the data has arrived; stall: never answers EHLO; stall-data: stops reading the data;
hold-rcpt / hold-data: create DIR/held at the first RCPT or the data, wait for DIR/release (hold-rcpt then
refuses the --refuse addresses); echo-auth: a refused login repeats the login data in base64;
no-auth: offers no AUTH and takes mail without it; refuse-data: 552 to the data; slow-final: answers
the data after 5 s; wrong-name: a certificate
for other.example. DIR/helo gets the name of every EHLO or HELO.
--oauth xoauth2 / both (with OAUTHBEARER): also an HTTPS token endpoint (see TokenEndpoint), port in DIR/token-port.
"""

import argparse, asyncio, base64, http.server, json, logging, os, signal, ssl, subprocess, sys, threading, urllib.parse, warnings
from email import policy
from email.parser import BytesParser

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

VERBS = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT", "NOOP", "RSET"}

def parse_args():
    p = argparse.ArgumentParser()
    for name, default in [("port-file", None), ("store", None), ("certs", None), ("user", "quorvel"),
                          ("password", "secret"), ("security", "none"), ("fault", "none"), ("oauth", "none")]:
        p.add_argument("--" + name, default=default)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--size-limit", type=int)
    p.add_argument("--refuse", action="append", default=[])
    p.add_argument("--print", action="store_true", dest="print_messages")
    p.add_argument("--parent", type=int)  # ends when this process does: a crashed test leaves no server
    return p.parse_args()

def make_certs(folder, name):
    if os.path.exists(os.path.join(folder, "server.pem")): return
    os.makedirs(folder, exist_ok=True)
    run = lambda *a: subprocess.run(["openssl", *a], cwd=folder, check=True, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30"]
    run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Quorvel test CA")
    run("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=" + name)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write(f"subjectAltName={'IP:' if name[0].isdigit() else 'DNS:'}{name}\nbasicConstraints=CA:FALSE\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "30", "-extfile", "server.ext", "-out", "server.pem")

def record(key, value):
    data = value if isinstance(value, bytes) else value.encode("utf-8", "surrogateescape")
    return key.encode() + b" " + str(len(data)).encode() + b"\n" + data + b"\n"

def describe(envelope):
    msg = BytesParser(policy=policy.default).parsebytes(envelope.content)
    fields = [("mail_from", envelope.mail_from)] + [("rcpt", r) for r in envelope.rcpt_tos]
    for name, value in msg.items():
        fields += [("header_name", name), ("header_value", str(value))]
    body = msg.get_body(preferencelist=("plain",))
    fields += [("body", body.get_content())] if body is not None else []
    for part in msg.iter_attachments():
        fields += [("attachment_name", part.get_filename() or ""), ("attachment_type", part.get_content_type()),
                   ("attachment_data", part.get_payload(decode=True) or b"")]
    for part in msg.walk():
        fields += [("defect", f"{type(d).__name__}: {d}") for d in part.defects]
        fields += [("defect", f"{n}: {type(d).__name__}: {d}") for n, v in part.items()
                   for d in getattr(v, "defects", ())]
    return fields

def print_message(number, fields):
    get = lambda key: [v for k, v in fields if k == key]
    subject = dict(zip(get("header_name"), get("header_value"))).get("Subject", "")
    print(f"--- message {number}\nenvelope from: {fields[0][1]}\nenvelope to:   {', '.join(get('rcpt'))}\n"
          f"subject:       {subject}", *(f"attachment:    {n} ({len(d)} bytes)" for n, d in
                                         zip(get("attachment_name"), get("attachment_data"))), sep="\n", flush=True)

def write_whole(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)

class Handler:
    def __init__(self, args):
        self.args, self.count = args, 0

    async def stall(self, fault):
        if self.args.fault == fault:
            await asyncio.Event().wait()

    async def hold(self, fault):
        held, release = os.path.join(self.args.store, "held"), os.path.join(self.args.store, "release")
        if self.args.fault == fault:
            write_whole(held, b"")
            while not os.path.exists(release):
                await asyncio.sleep(0.01)
            os.remove(release), os.remove(held)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        await self.stall("stall")
        session.host_name = hostname
        with open(os.path.join(self.args.store, "helo"), "a") as f:
            f.write(hostname + "\n")
        return [r for r in responses if self.args.fault != "no-auth" or not r[4:].startswith("AUTH")]

    async def handle_RCPT(self, server, session, envelope, address, options):
        if not envelope.rcpt_tos: await self.hold("hold-rcpt")
        if address.lower() in (r.lower() for r in self.args.refuse):
            if self.args.fault in ("refuse", "hold-rcpt"): return "550 5.1.1 Recipient address rejected"
            if self.args.fault == "defer": return "451 4.2.1 Mailbox busy, try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.fault == "drop":
            server.transport.abort()
            return "421 closing"
        await self.hold("hold-data")
        if self.args.fault == "refuse-data": return "552 5.3.4 Message too big for this server"
        self.count += 1
        fields, base = describe(envelope), os.path.join(self.args.store, str(self.count))
        write_whole(base + ".eml", envelope.content)
        write_whole(base + ".rec", b"".join(record(k, v) for k, v in fields))
        if self.args.print_messages: print_message(self.count, fields)
        if self.args.fault == "slow-final": await asyncio.sleep(5)
        return "250 Message accepted"

class LoggedSMTP(SMTP):
    """Writes the verb of every command line (not the message data) to `transcript` as it arrives."""
    transcript, in_data = None, False

    def connection_made(self, transport):
        super().connection_made(transport)
        read = self._reader.readuntil
        if not hasattr(read, "logged"):
            async def readuntil(*separator):  # the command loop reads with none, the data with b"\r\n"
                if separator and self.in_data: await self.event_handler.stall("stall-data")
                line = await read(*separator)
                verb = line.split(b" ")[0].strip().upper().decode("ascii", "replace")
                self.in_data = self.in_data or (verb == "DATA" and not separator)
                if verb in VERBS and not separator:
                    tls = " tls" if self.transport.get_extra_info("ssl_object") else ""
                    with open(self.transcript, "a") as f:
                        f.write(verb + tls + "\n")
                return line
            readuntil.logged = True
            self._reader.readuntil = readuntil

def authenticator(user, password, echo):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode() and auth_data.password == password.encode())
        said = " ".join(base64.b64encode(d).decode() for d in (auth_data.login, auth_data.password))
        return AuthResult(success=ok, handled=False, message=None if ok or not echo else "535 5.7.8 Refused " + said)
    return authenticate

class TokenEndpoint(http.server.BaseHTTPRequestHandler):
    """POST: the client quorvel-client with secret client-secret gets access-token-N for either grant; the
    refresh token must be the current one (refresh-secret-1 at first). DIR/token-mode: rotate (a new refresh
    token with each grant), invalid_grant, 503. Each request is appended to DIR/token-requests."""
    store, issued, count, refresh, lock = None, [], [0], ["refresh-secret-1"], threading.Lock()

    def log_message(self, *args): pass

    def answer(self, status, fields):
        body = json.dumps(fields).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        form = dict(urllib.parse.parse_qsl(self.rfile.read(int(self.headers["Content-Length"])).decode()))
        mode_file = os.path.join(self.store, "token-mode")
        mode = open(mode_file).read().strip() if os.path.exists(mode_file) else ""
        with self.lock, open(os.path.join(self.store, "token-requests"), "a") as f:
            f.write(" ".join(f"{k}={v}" for k, v in sorted(form.items())) + "\n")
            grant = form.get("grant_type")
            if mode == "503": return self.answer(503, {"error": "temporarily_unavailable"})
            if form.get("client_id") != "quorvel-client" or form.get("client_secret") != "client-secret":
                return self.answer(401, {"error": "invalid_client", "error_description": "Unknown client"})
            if mode == "invalid_grant" or (grant == "refresh_token" and form.get("refresh_token") != self.refresh[0]):
                return self.answer(400, {"error": "invalid_grant", "error_description": "Token has been expired or revoked."})
            self.count[0] += 1
            self.issued.append(f"access-token-{self.count[0]}")
            fields = {"access_token": self.issued[-1], "token_type": "Bearer", "expires_in": 3600}
            if mode == "rotate" and grant == "refresh_token":
                self.refresh[0] = fields["refresh_token"] = f"refresh-secret-{self.count[0] + 1}"
            self.answer(200, fields)

def serve_tokens(args, context):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TokenEndpoint)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    TokenEndpoint.store = args.store
    threading.Thread(target=server.serve_forever, daemon=True).start()
    write_whole(os.path.join(args.store, "token-port"), f"{server.server_address[1]}\n".encode())

class OAuthHandler(Handler):
    """Takes the latest token of the endpoint for --user; DIR/revoke (removed once seen) makes every token
    issued so far invalid. Each login is appended to DIR/logins as `MECHANISM ok|refused`."""
    async def login(self, server, args, mechanism, pattern):
        reply = base64.b64decode(args[1]) if len(args) > 1 else await server.challenge_auth("")
        revoke = os.path.join(self.args.store, "revoke")
        if os.path.exists(revoke): TokenEndpoint.issued.clear(), os.remove(revoke)
        ok = any(reply == pattern(t).encode() for t in TokenEndpoint.issued[-1:])
        with open(os.path.join(self.args.store, "logins"), "a") as f:
            f.write(f"{mechanism} {'ok' if ok else 'refused'}\n")
        return AuthResult(success=ok, handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self.login(server, args, "XOAUTH2", lambda t: f"user={self.args.user}\1auth=Bearer {t}\1\1")

    async def auth_OAUTHBEARER(self, server, args):
        port = server.transport.get_extra_info("sockname")[1]
        return await self.login(server, args, "OAUTHBEARER",
                                lambda t: f"n,a={self.args.user},\1host=127.0.0.1\1port={port}\1auth=Bearer {t}\1\1")

async def serve(args):
    loop = asyncio.get_running_loop()
    context = None
    if args.security != "none" or args.oauth != "none":
        make_certs(args.certs, "other.example" if args.fault == "wrong-name" else "127.0.0.1")
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(args.certs, "server.pem"), os.path.join(args.certs, "server.key"))
    os.makedirs(args.store, exist_ok=True)
    LoggedSMTP.transcript = os.path.join(args.store, "commands")
    if args.oauth != "none": serve_tokens(args, context)
    handler, starttls = (OAuthHandler if args.oauth != "none" else Handler)(args), args.security == "starttls"
    factory = lambda: LoggedSMTP(
        handler, hostname="127.0.0.1", decode_data=False,
        authenticator=authenticator(args.user, args.password, args.fault == "echo-auth"),
        auth_required=args.fault != "no-auth", auth_require_tls=starttls, data_size_limit=args.size_limit, tls_context=context if starttls else None,
        require_starttls=starttls, auth_exclude_mechanism=["OAUTHBEARER"] if args.oauth == "xoauth2" else [])
    server = await loop.create_server(factory, "127.0.0.1", args.port,
                                      ssl=context if args.security == "tls" else None)
    port = server.sockets[0].getsockname()[1]
    write_whole(args.port_file, f"{port}\n".encode())
    if args.print_messages: print(f"listening on 127.0.0.1:{port} ({args.security})", flush=True)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    while not stop.done() and (not args.parent or os.path.exists(f"/proc/{args.parent}")):
        await asyncio.wait([stop], timeout=0.5)
    server.close()

if __name__ == "__main__":
    # Plain-text AUTH is part of what this server tests; keep its warnings out of the demo's output.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    asyncio.run(serve(parse_args()))
