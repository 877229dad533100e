#!/usr/bin/python3
"""A Debian mirror on 127.0.0.1 that passes every request through to a real one, but serves the i386 package lists
of the security suites one byte longer than their Release file says, as a mirror did from 7 December 2026: apt-get
update then fails with "File has unexpected size" once the i386 architecture is added. tools/fresh_machine.sh
starts it, in a process group of its own, and stops it at the end.

  broken_i386_lists.py UPSTREAM_URL PID

It prints the port it listens on, then serves while the process PID lives (or until it is killed). Only GET and
HEAD of the archive's dists/ and pool/ are passed through, each with a time limit.
"""
import http.server
import os
import re
import shutil
import sys
import threading
import time
import urllib.error
import urllib.request

# The package lists of the i386 architecture of a security suite, in any of their forms (Packages, Packages.xz,
# ..., and by hash), which apt fetches only once i386 is a foreign architecture.
BROKEN = re.compile(r"^/dists/[^/]+-security/[^/]+/binary-i386/(Packages[^/]*|by-hash/.*)$")
ALLOWED = re.compile(r"^/(dists|pool)/[A-Za-z0-9._+~%/-]+$")
TIMEOUT = 60


class Mirror(http.server.BaseHTTPRequestHandler):
    upstream = ""

    def do_HEAD(self):
        self.answer(body=False)

    def do_GET(self):
        self.answer(body=True)

    def answer(self, body):
        path = self.path.split("?", 1)[0]
        if not ALLOWED.match(path) or "/../" in path:
            self.send_error(403)
            return
        try:
            reply = urllib.request.urlopen(self.upstream + path, timeout=TIMEOUT)
        except urllib.error.HTTPError as error:
            self.send_error(error.code)
            return
        except (urllib.error.URLError, OSError) as error:
            self.send_error(502, str(error))
            return
        with reply:
            self.send_response(200)
            self.send_header("Content-Type", reply.headers.get("Content-Type", "application/octet-stream"))
            if BROKEN.match(path):
                data = reply.read() + b"\n"
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                if body:
                    self.wfile.write(data)
                return
            if reply.headers.get("Content-Length"):
                self.send_header("Content-Length", reply.headers["Content-Length"])
            self.end_headers()
            if body:
                shutil.copyfileobj(reply, self.wfile)

    def log_message(self, form, *args):
        sys.stderr.write("%s %s\n" % (time.strftime("%H:%M:%S"), form % args))


def main():
    if len(sys.argv) != 3 or not re.match(r"^https?://", sys.argv[1]) or not sys.argv[2].isdigit():
        sys.exit("usage: broken_i386_lists.py UPSTREAM_URL PID   (http:// or https://; the process it serves)")
    watched = int(sys.argv[2])
    Mirror.upstream = sys.argv[1].rstrip("/")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Mirror)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    def watch():
        while True:
            try:
                os.kill(watched, 0)
            except ProcessLookupError:
                break
            time.sleep(2)
        server.shutdown()

    threading.Thread(target=watch, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
