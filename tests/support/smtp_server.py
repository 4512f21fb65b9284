#!/usr/bin/python3
"""A small SMTP server for the tests, built on aiosmtpd.

Listens on 127.0.0.1 (port chosen at run time unless --port is given), prints the port
on stdout as soon as it accepts connections, then one line for each event a test may wait
for: "message" once a message is stored, "closed" once a session has ended (after what it
delivered is stored). It writes every message it receives to the
directory given with --dir: NNNN.eml holds the raw bytes of the message (as the client
sent them, transparency dots removed), NNNN.env the envelope and the authentication used,
one "key: value" line each (mail_from, rcpt_to once per recipient, helo, auth_login,
auth_mechanism). Files appear atomically (written under a temporary name, then renamed).

Authentication: PLAIN and LOGIN come with aiosmtpd, CRAM-MD5 and CRAM-SHA1 are added
here; one user (--user/--password) is accepted. The server stops at SIGTERM or when its
standard input reaches end of file, so it never outlives the test that started it.

Options:
  --auth-required        refuse MAIL before a successful AUTH (530)
  --no-auth              do not announce AUTH in the EHLO reply (AUTH gets 538)
  --mechanisms A,B       announce only these mechanisms
  --reject-rcpt ADDR     answer 550 to RCPT TO:<ADDR> (may be repeated)
  --never-answer         accept connections and never send a byte (no banner)
  --line-limit N         longest accepted line, CR LF included (default 2048)
  --tls-cert/--tls-key   offer STARTTLS with this certificate and key
  --implicit-tls         with --tls-cert/--tls-key: TLS from the first byte (as on port
                         465) instead of STARTTLS
  --token TOKEN          also announce XOAUTH2 and OAUTHBEARER, which accept the user
                         with this bearer token, and only over TLS; a wrong token gets the
                         provider's 334 JSON challenge, then 535

Every session command that matters for security (EHLO, HELO, STARTTLS, AUTH, MAIL) is
appended to DIR/../commands.log as "VERB plain" or "VERB tls", one line each, so a test
can tell what the server saw and whether it was encrypted.
"""

import argparse
import asyncio
import base64
import functools
import hashlib
import hmac
import os
import signal
import socket
import ssl
import sys
import threading
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING, auth_mechanism

ALL_MECHANISMS = ["PLAIN", "LOGIN", "CRAM-MD5", "CRAM-SHA1"]
OAUTH_MECHANISMS = ["XOAUTH2", "OAUTHBEARER"]


class Handler:
    def __init__(self, args):
        self.args = args
        self.user = args.user.encode()
        self.password = args.password.encode()
        self.count = 0

    # ---- authentication ----
    def authenticator(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        if ok:
            session.jumelix_mechanism = mechanism
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    async def _cram(self, server, digestmod, mechanism):
        challenge = "<{}.{}@jumelix-test>".format(os.getpid(), time.time_ns()).encode()
        response = await server.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False, handled=True)
        login, _, digest = response.partition(b" ")
        expected = hmac.new(self.password, challenge, digestmod).hexdigest().encode()
        ok = login == self.user and hmac.compare_digest(digest, expected)
        if ok:
            server.session.jumelix_mechanism = mechanism
        return AuthResult(success=ok, handled=False, auth_data=LoginPassword(login, b""))

    async def _oauth(self, server, args, mechanism):
        encrypted = (server._tls_protocol is not None or
                     server.transport.get_extra_info("sslcontext") is not None)
        if len(args) > 1:  # ["XOAUTH2", initial response]
            try:
                data = base64.b64decode(args[1], validate=True)
            except Exception:
                return AuthResult(success=False, handled=False)
        else:
            data = await server.challenge_auth("")
            if data is MISSING:
                return AuthResult(success=False, handled=True)
        fields = {}
        for part in data.split(b"\x01"):
            key, sep, value = part.partition(b"=")
            if sep:
                fields[key] = value
        if mechanism == "OAUTHBEARER":
            gs2 = data.split(b"\x01", 1)[0]
            user = gs2.split(b",a=", 1)[1].rstrip(b",") if b",a=" in gs2 else b""
        else:
            user = fields.get(b"user", b"")
        token_ok = fields.get(b"auth", b"") == b"Bearer " + self.args.token.encode()
        ok = encrypted and token_ok and user == self.user and data.endswith(b"\x01\x01")
        if ok:
            server.session.jumelix_mechanism = mechanism
            return AuthResult(success=True, handled=False, auth_data=LoginPassword(user, b""))
        # As the providers do: the reason in a challenge, answered by the client, then 535.
        await server.challenge_auth(b'{"status":"401","schemes":"bearer"}')
        return AuthResult(success=False, handled=False)

    @auth_mechanism("XOAUTH2")
    async def auth_XOAUTH2(self, server, args):
        return await self._oauth(server, args, "XOAUTH2")

    @auth_mechanism("OAUTHBEARER")
    async def auth_OAUTHBEARER(self, server, args):
        return await self._oauth(server, args, "OAUTHBEARER")

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, server, args):
        return await self._cram(server, hashlib.md5, "CRAM-MD5")

    @auth_mechanism("CRAM-SHA1")
    async def auth_CRAM_SHA1(self, server, args):
        return await self._cram(server, hashlib.sha1, "CRAM-SHA1")

    # ---- envelope and data ----
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.reject_rcpt:
            return "550 5.1.1 <{}>: Recipient address rejected".format(address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.args.dir, "{:04d}".format(self.count))
        login = (session.auth_data.login.decode("utf-8", "replace")
                 if isinstance(session.auth_data, LoginPassword) else "")
        meta = ["mail_from: " + (envelope.mail_from or "")]
        meta += ["rcpt_to: " + r for r in envelope.rcpt_tos]
        meta += ["helo: " + (session.host_name or ""),
                 "auth_login: " + login,
                 "auth_mechanism: " + getattr(session, "jumelix_mechanism", "")]
        write_atomically(base + ".env", "".join(m + "\n" for m in meta).encode())
        write_atomically(base + ".eml", envelope.original_content)
        tell("message")
        return "250 2.0.0 Message accepted for delivery"


def tell(event):
    try:
        print(event, flush=True)
    except OSError:  # the test has stopped listening: it is going away
        pass


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


def make_smtp_class(line_limit, log_path):
    def logged(name):
        base = getattr(SMTP, "smtp_" + name)

        @functools.wraps(base)
        async def method(self, arg):
            encrypted = (self._tls_protocol is not None or
                         self.transport.get_extra_info("sslcontext") is not None)
            with open(log_path, "a") as f:
                f.write("{} {}\n".format(name, "tls" if encrypted else "plain"))
            return await base(self, arg)
        return method

    class TestSMTP(SMTP):
        line_length_limit = line_limit
        smtp_EHLO = logged("EHLO")
        smtp_HELO = logged("HELO")
        smtp_STARTTLS = logged("STARTTLS")
        smtp_AUTH = logged("AUTH")
        smtp_MAIL = logged("MAIL")

        def connection_lost(self, exc):
            super().connection_lost(exc)
            tell("closed")
    return TestSMTP


async def serve(args):
    loop = asyncio.get_running_loop()
    stop = loop.create_future()

    def request_stop():
        if not stop.done():
            stop.set_result(None)

    loop.add_signal_handler(signal.SIGTERM, request_stop)
    loop.add_signal_handler(signal.SIGINT, request_stop)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(1):
                pass
        except Exception:
            pass
        loop.call_soon_threadsafe(request_stop)

    threading.Thread(target=watch_stdin, daemon=True).start()

    if args.never_answer:
        held = []

        async def silent(reader, writer):
            held.append(writer)
            await stop

        server = await asyncio.start_server(silent, "127.0.0.1", args.port)
    else:
        handler = Handler(args)
        known = ALL_MECHANISMS + OAUTH_MECHANISMS
        default = ALL_MECHANISMS + (OAUTH_MECHANISMS if args.token else [])
        mechanisms = default if not args.mechanisms else [
            m.strip().upper() for m in args.mechanisms.split(",") if m.strip()]
        excluded = [m for m in known if m not in mechanisms]
        tls_context = None
        if args.tls_cert:
            tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            tls_context.load_cert_chain(args.tls_cert, args.tls_key)
        # Implicit TLS wraps the whole connection; STARTTLS is then not offered inside.
        listen_tls = tls_context if args.implicit_tls else None
        starttls_context = None if args.implicit_tls else tls_context
        log_path = os.path.join(os.path.dirname(os.path.abspath(args.dir)), "commands.log")
        smtp_class = make_smtp_class(args.line_limit, log_path)

        def factory():
            return smtp_class(
                handler,
                hostname="jumelix-test",
                ident="Jumelix test SMTP server",
                decode_data=False,
                enable_SMTPUTF8=False,
                auth_required=args.auth_required,
                auth_require_tls=args.no_auth,
                authenticator=handler.authenticator,
                auth_exclude_mechanism=excluded,
                tls_context=starttls_context,
                require_starttls=False,
            )

        server = await loop.create_server(factory, "127.0.0.1", args.port, ssl=listen_tls)

    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    async with server:
        await stop


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", required=True, help="directory for received messages")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="jumelix")
    parser.add_argument("--password", default="s3cret")
    parser.add_argument("--auth-required", action="store_true")
    parser.add_argument("--no-auth", action="store_true")
    parser.add_argument("--mechanisms", default="")
    parser.add_argument("--reject-rcpt", action="append", default=[])
    parser.add_argument("--never-answer", action="store_true")
    parser.add_argument("--line-limit", type=int, default=2048)
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--token", default="")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    # aiosmtpd logs to stderr only when asked; keep the test output quiet.
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
