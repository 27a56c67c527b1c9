#!/usr/bin/env python3
"""An FTP server for the tests and the benchmark: Debian's pyftpdlib on
127.0.0.1, on a port the system picks (written into PORT_FILE once it
listens), with one writable account. Given a certificate it speaks explicit
FTPS (AUTH TLS, pyftpdlib's TLS handler over python3-openssl) and requires
TLS on the control and on the data connection; without one it is a plain
server that refuses AUTH. Every command it hears is appended to LOG, one a
line, after "tls " or "plain " for the connection it came over (PASS
without its argument). For the tests of a client's proof of an upload it
can misbehave:
    --auth-ssl-only       refuses "AUTH TLS" (504) and takes only the older
                          "AUTH SSL"
    --cut-data-after N    keeps the first N bytes of an upload, resets the
                          data connection and still replies 226
    --size wrong|none     SIZE names one byte more than the file has, or is
                          not implemented (502)
    --data-cert PEM --data-key KEY
                          shows another certificate on the data connection
    ftps_server.py ROOT [--cert PEM --key KEY] [--user U --password P] [misbehaviour] PORT_FILE LOG
"""
import argparse
import os

from OpenSSL import SSL
import socket
import struct

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port_file")
    parser.add_argument("log")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user", default="kirodata")
    parser.add_argument("--password", default="4monbek")
    parser.add_argument("--auth-ssl-only", action="store_true")
    parser.add_argument("--cut-data-after", type=int, default=0)
    parser.add_argument("--size", choices=("wrong", "none"))
    parser.add_argument("--data-cert")
    parser.add_argument("--data-key")
    args = parser.parse_args()

    class Handler(TLS_FTPHandler if args.cert else FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            secure = getattr(self, "_ssl_established", False)
            with open(args.log, "a") as log:
                log.write(("tls " if secure else "plain ") + ("PASS" if cmd == "PASS" else line) + "\n")
            super().pre_process_command(line, cmd, arg)

        def ftp_AUTH(self, line):
            if args.auth_ssl_only and line.upper() in ("TLS", "TLS-C"):
                self.respond("504 AUTH TLS not supported, use AUTH SSL.")
            else:
                super().ftp_AUTH(line)

        def ftp_SIZE(self, path):
            if args.size == "none":
                self.respond("502 Command not implemented.")
            elif args.size == "wrong":
                self.respond("213 %d" % (os.path.getsize(path) + 1))
            else:
                super().ftp_SIZE(path)

    class DataHandler(TLS_DTPHandler if args.cert else DTPHandler):
        def readable(self):
            # A client may run the data connection's TLS handshake before it
            # sends STOR (curl does). pyftpdlib takes a data connection that
            # is readable before its transfer for a closed one and drops it;
            # here it waits for the handshake and the transfer instead.
            if getattr(self, "_ssl_requested", False) and not self._initialized:
                return True
            return super().readable()

        def secure_connection(self, ssl_context):
            if args.data_cert:
                ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
                ssl_context.use_certificate_chain_file(args.data_cert)
                ssl_context.use_privatekey_file(args.data_key)
            super().secure_connection(ssl_context)

        def recv(self, buffer_size):
            if not args.cut_data_after:
                return super().recv(buffer_size)
            left = args.cut_data_after - self.tot_bytes_received
            chunk = super().recv(min(buffer_size, left))
            if not chunk or len(chunk) < left:
                return chunk
            # The first N bytes kept; then closed at once with the client's
            # bytes unread, which is a reset, and the file confirmed all
            # the same.
            self.file_obj.write(chunk)
            self.tot_bytes_received += len(chunk)
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.transfer_finished = True
            self._resp = ("226 Transfer complete.", lambda *a, **k: None)
            self.close()
            return b""

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    if args.cert:
        Handler.certfile = args.cert
        Handler.keyfile = args.key
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        # A session id context lets a client resume the control connection's
        # session on a data connection (curl does); without one OpenSSL
        # breaks off any handshake that tries.
        Handler.get_ssl_context().set_session_id(b"kiro-ftps")
    Handler.dtp_handler = DataHandler
    server = FTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.socket.getsockname()[1]))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
