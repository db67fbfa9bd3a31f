#!/usr/bin/python3
"""A real SMTP server for the tests: aiosmtpd on 127.0.0.1, a port chosen by
the system, AUTH LOGIN/PLAIN for one user, optional STARTTLS or implicit TLS.

It writes the port to --port-file once it listens, and one line per event to
--log:
    auth MECHANISM ok|refused tls=0|1
    mail from=ADDR to=ADDR,ADDR tls=0|1 data=BASE64

With --maildir DIR it also delivers every message into that maildir, as a
local delivery agent would: a Return-Path line with the envelope sender in
front, LF line ends, written into tmp/ and moved into new/.
"""
import argparse
import asyncio
import base64
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user", default="bob")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--mode", choices=["plain", "starttls", "implicit"], default="plain")
    parser.add_argument("--no-login", action="store_true", help="offer AUTH PLAIN only")
    parser.add_argument("--maildir")
    args = parser.parse_args()

    def secured(server, session):
        # STARTTLS marks the session; implicit TLS shows on the transport.
        return 1 if (session.ssl or server.transport.get_extra_info("ssl_object")) else 0

    def record(line):
        with open(args.log, "a") as log:
            log.write(line + "\n")

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        tls = secured(server, session)
        record(f"auth {mechanism} {'ok' if ok else 'refused'} tls={tls}")
        return AuthResult(success=ok, handled=False)

    delivered = [0]

    def deliver(envelope):
        import os
        import time
        delivered[0] += 1
        text = (b"Return-Path: <" + envelope.mail_from.encode() + b">\r\n"
                + envelope.original_content).replace(b"\r\n", b"\n")
        name = f"{int(time.time())}.M{delivered[0]}P{os.getpid()}.smtp-test"
        temp = os.path.join(args.maildir, "tmp", name)
        with open(temp, "wb") as out:
            out.write(text)
        os.chmod(temp, 0o666)
        os.rename(temp, os.path.join(args.maildir, "new", name))

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            data = base64.b64encode(envelope.original_content).decode()
            tls = secured(server, session)
            record(f"mail from={envelope.mail_from} to={','.join(envelope.rcpt_tos)} "
                   f"tls={tls} data={data}")
            if args.maildir:
                deliver(envelope)
            return "250 OK queued"

    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def factory():
        return SMTP(Handler(),
                    hostname="smtp.test",
                    tls_context=context if args.mode == "starttls" else None,
                    require_starttls=args.mode == "starttls",
                    authenticator=authenticator,
                    auth_required=True,
                    auth_require_tls=args.mode == "starttls",
                    auth_exclude_mechanism=["LOGIN"] if args.no_login else None)

    async def serve():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(
            factory, "127.0.0.1", 0,
            ssl=context if args.mode == "implicit" else None)
        port = server.sockets[0].getsockname()[1]
        with open(args.port_file + ".part", "w") as out:
            out.write(str(port))
        import os
        os.replace(args.port_file + ".part", args.port_file)
        async with server:
            await server.serve_forever()

    asyncio.run(serve())


if __name__ == "__main__":
    sys.exit(main())
