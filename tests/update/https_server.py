#!/usr/bin/python3
"""A tiny HTTPS server on 127.0.0.1 for the version check's tests.

Serves the files of --root, and a few paths of its own:
  /big         a reply of 200,000 bytes with its length announced
  /stream-big  the same without a length (ended by closing the connection)
  /to-http     a redirect to plain HTTP
  /to-https    a redirect to /good.txt on this server
"""
import argparse
import http.server
import os
import ssl

BIG = 200_000


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def send_body(self, body, length=True):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        port = self.server.server_address[1]
        if self.path == "/big":
            self.send_body(b"x" * BIG)
        elif self.path == "/stream-big":
            self.send_body(b"x" * BIG, length=False)
        elif self.path == "/to-http":
            self.redirect(f"http://127.0.0.1:{port}/good.txt")
        elif self.path == "/to-https":
            self.redirect("/good.txt")
        else:
            name = os.path.join(self.server.root, os.path.basename(self.path))
            if os.path.isfile(name):
                with open(name, "rb") as f:
                    self.send_body(f.read())
            else:
                self.send_error(404, "File not found")

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.root = args.root
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
