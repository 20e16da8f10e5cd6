"""Start-up and stop of the loopback test servers, for starters that can neither read the
server's output nor signal it: a test under wine starts a Linux program detached. With
--port-file the port is written to that file (whole, by a rename) once the server listens,
instead of the "PORT <n>" line; the server stops when --stop-file appears or --lifetime
seconds have passed, and removes the port file as it goes, which tells the starter it has
stopped."""

import os
import time


def add_arguments(parser):
    parser.add_argument("--port-file")
    parser.add_argument("--stop-file")
    parser.add_argument("--lifetime", type=float, default=0)


class Control:
    def __init__(self, args):
        self.args = args
        self.started = time.monotonic()

    def watched(self):
        """True when something outside may ask the server to stop."""
        return bool(self.args.stop_file or self.args.lifetime)

    def announce(self, port):
        if not self.args.port_file:
            print("PORT %d" % port, flush=True)
            return
        partial = self.args.port_file + ".partial"
        with open(partial, "w", encoding="ascii") as f:
            f.write("%d\n" % port)
        os.replace(partial, self.args.port_file)

    def should_stop(self):
        if self.args.stop_file and os.path.exists(self.args.stop_file):
            return True
        return bool(self.args.lifetime) and time.monotonic() - self.started > self.args.lifetime

    def finish(self):
        if self.args.port_file:
            try:
                os.remove(self.args.port_file)
            except OSError:
                pass
