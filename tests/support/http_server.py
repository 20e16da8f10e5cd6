#!/usr/bin/python3
"""Loopback HTTP server for orbec's tests and its demo mirror.

Serves the files under --root. Paths under /kavero/ need Basic authentication with --user and
--password. Prints "PORT <n>" on its first output line once it listens.

Faults are injected per request, chosen in two ways:
  * in the path: /__fault/<kind>/<path> serves <path> with that fault;
  * in a rules file (--rules, JSON, read again on every request): {"<path>": ["kind", ...]};
    the n-th request of a path gets the n-th kind, the last kind repeats.
Kinds: ok, status:<code>, nolength, chunked, short:<bytes>, stall:<bytes>, slow:<ms>,
trickle:<bytes per second>, redirect:<target path without its leading slash, or a whole URL>,
redirectloop, corrupt, closed, endless (a body that never ends).
Every request is logged (--log) as one line: "<method> <path> <authorization header or ->".
--port-file, --stop-file and --lifetime: see server_control.py.
"""

import argparse
import base64
import http.server
import json
import os
import re
import sys
import threading
import time
import urllib.parse

# The shared start-up and stop code sits beside this script; no __pycache__ is left there.
sys.dont_write_bytecode = True
import server_control  # noqa: E402

CHUNK = 65536


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.counts = {}

    def next_fault(self, path):
        if not self.args.rules:
            return "ok"
        try:
            with open(self.args.rules, encoding="utf-8") as f:
                rules = json.load(f)
        except (OSError, ValueError):
            return "ok"
        kinds = rules.get(path)
        if not kinds:
            return "ok"
        with self.lock:
            n = self.counts.get(path, 0)
            self.counts[path] = n + 1
        return kinds[min(n, len(kinds) - 1)]

    def log(self, line):
        if self.args.log:
            with self.lock, open(self.args.log, "a", encoding="utf-8") as f:
                f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "orbec-test-server"

    def log_message(self, *_):
        pass

    def do_GET(self):
        state = self.server.state
        raw_path = urllib.parse.urlsplit(self.path).path
        state.log("GET %s %s" % (raw_path, self.headers.get("Authorization", "-")))
        path = re.sub("/+", "/", urllib.parse.unquote(raw_path))
        fault = "ok"
        if path.startswith("/__fault/"):
            fault, _, rest = path[len("/__fault/"):].partition("/")
            path = "/" + rest
        else:
            fault = state.next_fault(path)
        if path.startswith("/kavero/") and not self.authorised():
            self.send_plain(401, b"authentication required\n",
                            {"WWW-Authenticate": 'Basic realm="kavero"'})
            return
        self.serve(path, fault)

    def authorised(self):
        args = self.server.state.args
        expected = base64.b64encode(("%s:%s" % (args.user, args.password)).encode()).decode()
        return self.headers.get("Authorization", "") == "Basic " + expected

    def send_plain(self, status, body, headers=None):
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def load(self, path):
        root = os.path.realpath(self.server.state.args.root)
        full = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def serve(self, path, fault):
        kind, _, arg = fault.partition(":")
        if kind == "status":
            self.send_plain(int(arg), b"fault status\n")
            return
        if kind == "redirect":
            target = arg if "://" in arg else "/" + arg.lstrip("/")
            self.send_plain(302, b"", {"Location": target})
            return
        if kind == "redirectloop":
            self.send_plain(302, b"", {"Location": self.path})
            return
        if kind == "endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            block = b"\0" * CHUNK
            try:
                while True:
                    self.wfile.write(block)
            except OSError:
                pass
            return
        if kind == "closed":
            self.close_connection = True
            return
        body = self.load(path)
        if body is None:
            self.send_plain(404, b"not found\n")
            return
        if kind == "corrupt" and body:
            body = bytes([body[0] ^ 0xFF]) + body[1:]
        self.send_response(200)
        if kind == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif kind != "nolength":
            self.send_header("Content-Length", str(len(body)))
        if kind == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.send_body(body, kind, arg)

    def send_body(self, body, kind, arg):
        if kind == "chunked":
            for i in range(0, len(body), CHUNK):
                part = body[i:i + CHUNK]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "short":
            self.wfile.write(body[:int(arg)])
            self.wfile.flush()
            self.close_connection = True
        elif kind == "stall":
            self.wfile.write(body[:int(arg)])
            self.wfile.flush()
            time.sleep(3600)
        elif kind == "slow":
            for i in range(0, len(body), 4096):
                self.wfile.write(body[i:i + 4096])
                self.wfile.flush()
                time.sleep(int(arg) / 1000.0)
        elif kind == "trickle":
            self.send_trickle(body, int(arg))
        else:
            self.wfile.write(body)

    def send_trickle(self, body, rate):
        # Ten pieces a second, or one byte at a time below 10 bytes a second.
        piece = max(1, rate // 10)
        for i in range(0, len(body), piece):
            self.wfile.write(body[i:i + piece])
            self.wfile.flush()
            time.sleep(piece / rate)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that goes away mid-transfer is part of the tests, not a server fault.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="demo-user")
    parser.add_argument("--password", default="demo-pwd")
    parser.add_argument("--rules")
    parser.add_argument("--log")
    server_control.add_arguments(parser)
    args = parser.parse_args()
    control = server_control.Control(args)
    server = Server((args.bind, args.port), Handler)
    server.state = State(args)
    if control.watched():
        threading.Thread(target=stop_when_asked, args=(server, control), daemon=True).start()
    control.announce(server.server_address[1])
    try:
        # A server that may be asked to stop looks for the request more often.
        server.serve_forever(poll_interval=0.1 if control.watched() else 0.5)
    except KeyboardInterrupt:
        pass
    finally:
        control.finish()


def stop_when_asked(server, control):
    while not control.should_stop():
        time.sleep(0.1)
    server.shutdown()


if __name__ == "__main__":
    sys.exit(main())
