#!/usr/bin/python3
"""Test of tools/broken_i386_lists.py, the local mirror of tools/fresh_machine.sh: in front of an upstream on
127.0.0.1 serving a small dists/ and pool/ tree, it must announce its port at once (with Python's output not
unbuffered), make the i386 package lists of a security suite one byte longer than upstream's, and only those, pass
the rest through unchanged, refuse other paths and methods, and stop once the process it watches has ended.

  broken_i386_lists_test.py SOURCE_DIR
"""
import http.client
import http.server
import os
import select
import subprocess
import sys
import tempfile
import threading
import time

FILES = {
    "dists/bookworm-security/main/binary-i386/Packages.xz": b"i386 security list\x00\xff",
    "dists/bookworm-security/main/binary-i386/by-hash/SHA256/0123abcd": b"the same list, by hash",
    "dists/bookworm-security/main/binary-amd64/Packages.xz": b"amd64 security list",
    "dists/bookworm-security/InRelease": b"Origin: Debian\n",
    "dists/bookworm/main/binary-i386/Packages.xz": b"i386 list of the main suite",
    "pool/main/h/hello/hello_2.10-3_i386.deb": b"a package",
}
# method | path | status | what the body must be: upstream's file (the path), the file and one byte more (+1), or
# nothing to compare (-)
REQUESTS = [
    ("GET", "/dists/bookworm-security/main/binary-i386/Packages.xz", 200, "+1"),
    ("HEAD", "/dists/bookworm-security/main/binary-i386/Packages.xz", 200, "+1"),
    ("GET", "/dists/bookworm-security/main/binary-i386/by-hash/SHA256/0123abcd", 200, "+1"),
    ("GET", "/dists/bookworm-security/main/binary-amd64/Packages.xz", 200, "same"),
    ("GET", "/dists/bookworm-security/InRelease", 200, "same"),
    ("GET", "/dists/bookworm/main/binary-i386/Packages.xz", 200, "same"),
    ("GET", "/pool/main/h/hello/hello_2.10-3_i386.deb?x=1", 200, "same"),
    ("GET", "/dists/bookworm-security/main/binary-i386/Packages.gz", 404, "-"),
    ("GET", "/etc/passwd", 403, "-"),
    ("GET", "/dists/../etc/passwd", 403, "-"),
    ("GET", "/pool", 403, "-"),
    ("POST", "/dists/bookworm-security/InRelease", 501, "-"),
    ("PUT", "/pool/main/h/hello/hello_2.10-3_i386.deb", 501, "-"),
]


def upstream(root):
    """A file server of root on 127.0.0.1 that records the paths asked of it; returns (server, asked)."""
    asked = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=root, **kwargs)

        def do_GET(self):
            asked.append(self.path)
            super().do_GET()

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, asked


def main():
    script = os.path.join(os.path.abspath(sys.argv[1]), "tools", "broken_i386_lists.py")
    failures = []
    with tempfile.TemporaryDirectory() as root:
        for path, data in FILES.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "wb") as out:
                out.write(data)
        server, asked = upstream(root)
        watched = subprocess.Popen(["sleep", "300"])
        env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
        mirror = subprocess.Popen(["/usr/bin/python3", script, "http://127.0.0.1:%d/" % server.server_address[1],
                                   str(watched.pid)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        try:
            ready, _, _ = select.select([mirror.stdout], [], [], 10)
            port = mirror.stdout.readline().strip() if ready else b""
            if not port.isdigit():
                failures.append("no port announced within 10 s (it must be flushed at once): %r" % port)
            else:
                for method, path, status, body in REQUESTS:
                    connection = http.client.HTTPConnection("127.0.0.1", int(port), timeout=10)
                    connection.request(method, path)
                    reply = connection.getresponse()
                    data = reply.read()
                    length = reply.getheader("Content-Length")
                    connection.close()
                    original = FILES.get(path.split("?")[0].lstrip("/"), b"")
                    want = {"+1": original + b"\n", "same": original}.get(body)
                    fault = []
                    if reply.status != status:
                        fault.append("status %d, want %d" % (reply.status, status))
                    if want is not None and method == "GET" and data != want:
                        fault.append("body %r, want %r" % (data, want))
                    if want is not None and length != str(len(want)):
                        fault.append("Content-Length %s, want %d" % (length, len(want)))
                    print("%s: %s %s: %s" % ("FAIL" if fault else "ok", method, path, "; ".join(fault) or status))
                    failures += ["%s %s: %s" % (method, path, "; ".join(fault))] if fault else []
                outside = [path for path in asked if not path.startswith(("/dists/", "/pool/"))]
                if outside:
                    failures.append("paths passed upstream that are not the archive's: %s" % outside)
            # Once the watched process has ended, the mirror stops by itself (it looks every 2 s).
            watched.kill()
            watched.wait()
            try:
                mirror.wait(timeout=10)
                print("ok: stopped once the watched process had ended")
            except subprocess.TimeoutExpired:
                failures.append("still serving 10 s after the process it watches ended")
        finally:
            for process in (watched, mirror):
                if process.poll() is None:
                    process.kill()
                    process.wait()
            server.shutdown()
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
