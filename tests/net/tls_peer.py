#!/usr/bin/env python3
"""A scripted FTPS peer for the client's TLS layer: one connection on
127.0.0.1 (its port written into PORT_FILE). It greets, takes AUTH TLS and
runs TLS over memory buffers, so that it decides how the records reach the
wire: the reply to USER in two pieces with a pause inside the record's
header, the two lines of the reply to PASS as two records in one piece, the
reply to TYPE cut in the middle of its record and followed by the TLS close
(close_notify), after which the connection stays open until the client
closes it. Every line heard goes to LOG, then "closed" once the client has
closed the connection.
    tls_peer.py CERT KEY PORT_FILE LOG
"""
import os
import socket
import ssl
import sys
import time


def main(cert, key, port_file, log_path):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(30)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    conn, _ = listener.accept()
    conn.settimeout(20)
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    log = open(log_path, "a", buffering=1)

    conn.sendall(b"220 Ready\r\n")
    line = b""
    while not line.endswith(b"\n"):
        line += conn.recv(1)
    log.write(line.decode().strip() + "\n")
    if line.strip() != b"AUTH TLS":
        return
    conn.sendall(b"234 Go ahead\r\n")

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)

    def receive():
        data = conn.recv(65536)
        if not data:
            raise EOFError
        incoming.write(data)

    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            conn.sendall(outgoing.read())
            receive()
    conn.sendall(outgoing.read())

    pending = b""

    def hear():
        nonlocal pending
        while b"\n" not in pending:
            try:
                pending += tls.read(65536)
            except ssl.SSLWantReadError:
                receive()
        line, pending = pending.split(b"\n", 1)
        log.write(line.decode().strip() + "\n")
        return line.strip()

    def records(*texts):
        for text in texts:
            tls.write(text)
        return outgoing.read()

    if hear() != b"USER kirodata":
        return
    reply = records(b"331 Password please\r\n")
    conn.sendall(reply[:3])
    time.sleep(0.3)
    conn.sendall(reply[3:])

    if not hear().startswith(b"PASS"):
        return
    conn.sendall(records(b"230-Welcome\r\n", b"230 Logged in\r\n"))

    if hear() != b"TYPE I":
        return
    reply = records(b"200 Type set to I\r\n")
    half = len(reply) // 2
    conn.sendall(reply[:half])
    time.sleep(0.3)
    try:
        tls.unwrap()
    except ssl.SSLWantReadError:
        pass
    conn.sendall(reply[half:] + outgoing.read())

    # The client has seen the close; it may still send its QUIT and its own
    # close before it closes the connection.
    while conn.recv(65536):
        pass
    log.write("closed\n")


if __name__ == "__main__":
    try:
        main(*sys.argv[1:5])
    except (OSError, EOFError, ssl.SSLError) as error:
        print("tls_peer:", error, file=sys.stderr)
