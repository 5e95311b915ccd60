#!/usr/bin/env python3
# A server beside mapservice for the Windows network tests: "/moved?to=URL" answers a GET with
# 302 and a POST with 307 (the POST stays a POST) to URL. Plain HTTP on one loopback port and
# HTTPS with the given certificate on another, written to the port file as http=, https=.
#   redirect-server.py CERT KEY PORT_FILE
import http.server
import os
import ssl
import sys
import threading
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def redirect(self, status):
        self.rfile.read(int(self.headers.get("Content-Length", "0")))
        query = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
        self.send_response(status)
        self.send_header("Location", query.get("to", [""])[0])
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        self.redirect(302)

    def do_POST(self):
        self.redirect(307)

    def log_message(self, *args):
        pass


def main():
    cert, key, port_file = sys.argv[1:4]
    plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    secure = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    with open(port_file + ".tmp", "w") as ports:
        ports.write(f"http={plain.server_address[1]}\nhttps={secure.server_address[1]}\n")
    threading.Thread(target=plain.serve_forever, daemon=True).start()
    # Written whole, then renamed: the wrapper waits for the file.
    os.rename(port_file + ".tmp", port_file)
    secure.serve_forever()


main()
