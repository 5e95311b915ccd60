#!/usr/bin/env python3
# A TLS server beside mapservice for the Windows network tests that keeps every byte of
# application data it receives (the request as it arrived, decrypted) and answers each request
# with 200 "recorded". One loopback port per certificate:
#   tls-recorder.py PORT_FILE NAME CERT KEY RECEIVED [NAME CERT KEY RECEIVED ...]
# The port file (written whole once all listen) holds NAME=port lines; RECEIVED grows with
# every byte of every connection.
import os
import socket
import ssl
import sys
import threading


def serve(connection, received):
    data = b""
    with connection:
        while True:
            try:
                piece = connection.recv(65536)
            except (OSError, ssl.SSLError):
                return
            if not piece:
                return
            with open(received, "ab") as out:
                out.write(piece)
            data += piece
            end = data.find(b"\r\n\r\n")
            if end < 0:
                continue
            length = 0
            for line in data[:end].split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value.strip() or b"0")
            if len(data) < end + 4 + length:
                continue
            data = data[end + 4 + length:]
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nrecorded")


def listen(cert, key, received):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server(("127.0.0.1", 0))

    def accept():
        while True:
            plain, _ = listener.accept()
            try:
                connection = context.wrap_socket(plain, server_side=True)
            except (OSError, ssl.SSLError):
                plain.close()  # a client that refused the certificate
                continue
            threading.Thread(target=serve, args=(connection, received), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def main():
    port_file = sys.argv[1]
    lines = []
    arguments = sys.argv[2:]
    for i in range(0, len(arguments), 4):
        name, cert, key, received = arguments[i:i + 4]
        open(received, "wb").close()
        lines.append(f"{name}={listen(cert, key, received)}\n")
    with open(port_file + ".tmp", "w") as ports:
        ports.writelines(lines)
    os.rename(port_file + ".tmp", port_file)
    threading.Event().wait()


main()
