#!/usr/bin/python3
"""Loopback FTP server for orbec's tests: serves --root read-only to --user/--password and to
anonymous. Prints "PORT <n>" on its first output line once it listens (--port-file,
--stop-file and --lifetime: see server_control.py)."""

import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

# The shared start-up and stop code sits beside this script; no __pycache__ is left there.
sys.dont_write_bytecode = True
import server_control  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="demo-user")
    parser.add_argument("--password", default="demo-pwd")
    server_control.add_arguments(parser)
    args = parser.parse_args()
    control = server_control.Control(args)
    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")
    authorizer.add_anonymous(args.root, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = None
    server = FTPServer(("127.0.0.1", args.port), handler)
    control.announce(server.socket.getsockname()[1])
    try:
        if not control.watched():
            server.serve_forever()
            return
        while not control.should_stop():
            server.serve_forever(timeout=0.1, blocking=False, handle_exit=False)
        server.close_all()
    finally:
        control.finish()


if __name__ == "__main__":
    main()
