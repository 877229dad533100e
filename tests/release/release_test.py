#!/usr/bin/python3
"""Test of tools/release.sh in a clone of the current commit: it refuses bad input with a clear message and
leaves dist/ as it was; it writes an unsigned release that says so; and, with certificates of a throwaway
certificate authority made here, a key on a software token (SoftHSM) and a time-stamp authority on 127.0.0.1,
releases signed through the token and from a .pfx that verify with their time stamps against that authority,
a copy with one byte of code changed that is refused, and files that the static check still passes.

  release_test.py --source DIR --work DIR
"""
import argparse
import hashlib
import http.server
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import threading

import pefile

SUBJECT_CA, SUBJECT_SIGNER = "/CN=Vireska Test CA", "/O=Vireska/CN=Vireska Test Signer"
# A hierarchy as authorities deliver it: a code-signing root that no system bundle holds, an intermediate, and a
# signer whose key is on the token under a label with a space.
SUBJECT_ROOT, SUBJECT_INTERMEDIATE = "/O=Vireska Pruebas/CN=Vireska Code Signing Root", "/CN=Vireska Code Signing CA"
SUBJECT_CHAINED = "/O=Vireska/CN=Vireska Firma Intermedia"
TOKEN_LIBRARY = "/usr/lib/softhsm/libsofthsm2.so"
OPENSC_LIBRARY = "/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so"  # which shows no slot where pcscd does not run
PIN, WRONG_PIN = "Vk7q-2931", "0000-0000"
KEY = "pkcs11:token=Vireska;object=codesign"
# The variables that tools/release.sh keeps from the build, and names when they are set.
FLAG_VARIABLES = re.compile(r"(C|CXX|CPP|LD|RC|ASM|OBJC|OBJCXX)FLAGS|CC|CXX|RC|ASM|CMAKE_.*|CPATH|C_INCLUDE_PATH|"
                            r"CPLUS_INCLUDE_PATH|LIBRARY_PATH|COMPILER_PATH|GCC_EXEC_PREFIX|DEPENDENCIES_OUTPUT|"
                            r"SUNPRO_DEPENDENCIES|LDEMULATION|GNUTARGET")


def run(args, cwd=None, text=True, **kwargs):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=text, **kwargs)


def make_certificates(work):
    """A CA, a code-signing certificate it issues, one for TLS only and one expired, as PKCS#12 files with a password
    file (one of them in the legacy RC2-40 form that Windows exports); the code-signing certificate again without
    its key; and the hierarchy root, intermediate, signer. Returns {name: path}."""
    f = {name: os.path.join(work, name) for name in
         ("ca.key", "ca.pem", "signer.key", "signer.pem", "tls.pem", "password", "wrong-password", "signer.pfx",
          "tls.pfx", "nokey.pfx", "codesign.ext", "tls.ext", "tsa.ext", "tsa.key", "tsa.pem", "other.key",
          "other.pem", "signer.p8", "signer.der", "chain.pem", "pin", "wrong-pin", "expired.pem", "legacy.pfx",
          "password-windows", "pin-windows", "tls.der", "ca.ext", "root.key", "root.pem", "intermediate.key",
          "intermediate.pem", "chained.key", "chained.pem", "chained.p8", "chained.der", "root-and-tsa.pem",
          "empty", "intermediate-and-root.pem", "tsa2.key", "tsa2.pem")}
    for name, text in (("password", "contraseña de prueba\n"), ("wrong-password", "otra\n"), ("pin", PIN + "\n"),
                       ("wrong-pin", WRONG_PIN + "\n"), ("password-windows", "contraseña de prueba\r\nsegunda\r\n"),
                       ("pin-windows", PIN + "\r\n"), ("empty", "\n")):
        with open(f[name], "w") as out:
            out.write(text)
    for name, usage in (("codesign.ext", "codeSigning"), ("tls.ext", "serverAuth"), ("tsa.ext", "critical,timeStamping")):
        with open(f[name], "w") as out:
            out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n" % usage)
    with open(f["ca.ext"], "w") as out:
        out.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n")
    commands = [
        ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f["ca.key"], "-out", f["ca.pem"], "-days", "2",
         "-subj", SUBJECT_CA, "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
        ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", f["signer.key"], "-out", f["signer.pem"] + ".csr",
         "-subj", SUBJECT_SIGNER],
    ]
    # The time-stamp authority's certificate, a code-signing one of another key, and the hierarchy.
    commands.append(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f["root.key"], "-out", f["root.pem"],
                     "-days", "2", "-subj", SUBJECT_ROOT, "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    for key, subject in (("tsa", "/O=Vireska/CN=Vireska Test TSA"), ("other", "/O=Vireska/CN=Otra clave"),
                         ("tsa2", "/O=Vireska/CN=Vireska Test TSA 2"),
                         ("intermediate", SUBJECT_INTERMEDIATE), ("chained", SUBJECT_CHAINED)):
        commands.append(["req", "-newkey", "rsa:2048", "-nodes", "-keyout", f[key + ".key"], "-out",
                         f[key + ".pem"] + ".csr", "-subj", subject])
    for cert, ext, csr, ca, days in (("signer.pem", "codesign.ext", "signer", "ca", "2"),
                                     ("tls.pem", "tls.ext", "signer", "ca", "2"), ("tsa.pem", "tsa.ext", "tsa", "ca", "2"),
                                     ("tsa2.pem", "tsa.ext", "tsa2", "root", "2"),
                                     ("other.pem", "codesign.ext", "other", "ca", "2"),
                                     ("intermediate.pem", "ca.ext", "intermediate", "root", "2"),
                                     ("chained.pem", "codesign.ext", "chained", "intermediate", "2")):
        commands.append(["x509", "-req", "-in", f[csr + ".pem"] + ".csr", "-CA", f[ca + ".pem"], "-CAkey",
                         f[ca + ".key"], "-CAcreateserial", "-days", days, "-extfile", f[ext], "-out", f[cert]])
    for pfx, cert in (("signer.pfx", "signer.pem"), ("tls.pfx", "tls.pem")):
        commands.append(["pkcs12", "-export", "-inkey", f["signer.key"], "-in", f[cert], "-certfile", f["ca.pem"],
                         "-out", f[pfx], "-passout", "file:" + f["password"]])
    commands.append(["pkcs12", "-export", "-nokeys", "-in", f["signer.pem"], "-out", f["nokey.pfx"],
                     "-passout", "file:" + f["password"]])
    # A code-signing certificate of the signer's key that expired in 2025 (openssl ca: OpenSSL 3.5's x509 refuses
    # an end before the start, and 3.0's has no option for either date).
    expired = os.path.join(work, "expired-ca")
    os.makedirs(os.path.join(expired, "new"))
    with open(os.path.join(expired, "ca.cnf"), "w") as out:
        out.write("[ca]\ndefault_ca = expired\n[expired]\ndatabase = %s/index.txt\nnew_certs_dir = %s/new\n"
                  "serial = %s/serial\ndefault_md = sha256\npolicy = anything\n[anything]\n"
                  "organizationName = optional\ncommonName = supplied\n" % (expired, expired, expired))
    open(os.path.join(expired, "index.txt"), "w").close()
    with open(os.path.join(expired, "serial"), "w") as out:
        out.write("01\n")
    commands.append(["ca", "-batch", "-config", os.path.join(expired, "ca.cnf"), "-cert", f["ca.pem"], "-keyfile",
                     f["ca.key"], "-in", f["signer.pem"] + ".csr", "-startdate", "20250101000000Z", "-enddate",
                     "20250102000000Z", "-extfile", f["codesign.ext"], "-notext", "-out", f["expired.pem"]])
    commands.append(["pkcs12", "-export", "-legacy", "-inkey", f["signer.key"], "-in", f["signer.pem"], "-certfile",
                     f["ca.pem"], "-out", f["legacy.pfx"], "-passout", "file:" + f["password"]])
    # The signer's key and certificate as the token takes them (PKCS#8 and DER).
    for name in ("signer", "chained"):
        commands += [["pkcs8", "-topk8", "-nocrypt", "-in", f[name + ".key"], "-outform", "DER", "-out", f[name + ".p8"]],
                     ["x509", "-in", f[name + ".pem"], "-outform", "DER", "-out", f[name + ".der"]]]
    commands.append(["x509", "-in", f["tls.pem"], "-outform", "DER", "-out", f["tls.der"]])
    for command in commands:
        result = run(["openssl"] + command)
        if result.returncode:
            sys.exit("openssl %s failed: %s" % (command[0], result.stderr))
    with open(f["chain.pem"], "w") as out:
        out.write(open(f["signer.pem"]).read() + open(f["ca.pem"]).read())
    # The intermediate with its root, which a --chain must not hold but which some authorities deliver so.
    with open(f["intermediate-and-root.pem"], "w") as out:
        out.write(open(f["intermediate.pem"]).read() + open(f["root.pem"]).read())
    # The code-signing root, and the time-stamp authority's: no intermediate.
    with open(f["root-and-tsa.pem"], "w") as out:
        out.write(open(f["root.pem"]).read() + open(f["ca.pem"]).read())
    return f


def make_token(work, f):
    """A SoftHSM token "Vireska" of the test's own, holding the signer's key and certificate (id 01), the chained
    signer's under a label with a space (id 02), and a certificate for TLS only (id 03)."""
    tokens = os.path.join(work, "tokens")
    os.makedirs(tokens)
    os.environ["SOFTHSM2_CONF"] = os.path.join(work, "softhsm2.conf")
    with open(os.environ["SOFTHSM2_CONF"], "w") as out:
        out.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n" % tokens)
    commands = [["softhsm2-util", "--init-token", "--free", "--label", "Vireska", "--pin", PIN, "--so-pin", "123456"]]
    for path, kind, label, number in ((f["signer.p8"], "privkey", "codesign", "01"),
                                      (f["signer.der"], "cert", "codesign", "01"),
                                      (f["chained.p8"], "privkey", "firma intermedia", "02"),
                                      (f["chained.der"], "cert", "firma intermedia", "02"),
                                      (f["tls.der"], "cert", "tls", "03")):
        commands.append(["pkcs11-tool", "--module", TOKEN_LIBRARY, "--token-label", "Vireska", "--login", "--pin", PIN,
                         "--write-object", path, "--type", kind, "--label", label, "--id", number])
    for command in commands:
        result = run(command)
        if result.returncode:
            sys.exit("%s failed: %s" % (command[0], result.stdout + result.stderr))


def start_time_stamp_authority(work, f):
    """An RFC 3161 authority on 127.0.0.1 (openssl ts -reply); returns its server and URL. It refuses a request
    without the Content-Type of a time-stamp query, as some do. A path beginning /refuse refuses every request, one
    holding "flaky" answers its first request only, /reject answers every one with a rejection; one beginning /other
    stamps as another authority, whose certificate the code-signing root issued."""
    configs = {}
    for name, cert, key, chain in (("tsa", "tsa.pem", "tsa.key", "ca.pem"), ("other", "tsa2.pem", "tsa2.key", "root.pem")):
        configs[name] = os.path.join(work, name + ".cnf")
        with open(configs[name], "w") as out:
            out.write("[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = %s\nsigner_cert = %s\ncerts = %s\n"
                      "signer_key = %s\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                      "accuracy = secs:1\ness_cert_id_alg = sha256\n"
                      % (os.path.join(work, "tsa.serial"), f[cert], f[chain], f[key]))
    with open(os.path.join(work, "tsa.serial"), "w") as out:
        out.write("01\n")
    asked = set()

    class Authority(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            first = self.path not in asked
            asked.add(self.path)
            if self.headers.get("Content-Type") != "application/timestamp-query":
                self.send_response(415)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if self.path.startswith("/refuse") or ("flaky" in self.path and not first):
                self.send_response(503)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            with tempfile.NamedTemporaryFile(dir=work) as request:
                request.write(query)
                request.flush()
                config = configs["other" if self.path.startswith("/other") else "tsa"]
                reply = run(["openssl", "ts", "-reply", "-config", config, "-queryfile", request.name, "-out",
                             "/dev/stdout"], text=False).stdout
            if self.path.startswith("/reject"):
                reply = bytes.fromhex("30053003020102")  # TimeStampResp, status rejection
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]


def typed_pin(command, cwd):
    """Runs command on a terminal, typing PIN once it asks; returns its exit code and what the terminal showed."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execvp(command[0], command)
    shown, typed = b"", False
    while True:
        try:
            chunk = os.read(terminal, 4096)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
        if not typed and shown.rstrip().endswith(b"PIN of the token:"):
            os.write(terminal, PIN.encode() + b"\n")
            typed = True
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), shown.decode(errors="replace")


def dist_state(repo):
    """The files of dist/ and their bytes; None when there is no dist/."""
    dist = os.path.join(repo, "dist")
    if not os.path.isdir(dist):
        return None
    return {name: open(os.path.join(dist, name), "rb").read() for name in sorted(os.listdir(dist))}


def build_record_faults(repo, dist, listed):
    """What is wrong with dist/BUILDINFO, the record of what an unsigned release was built from: it must be listed
    in SHA256SUMS and name the commit, its time, this system's Debian release and, for each kind of package that
    shapes the bytes, one whose version is the one installed here; and the file's own SHA-256."""
    if "BUILDINFO" not in listed or not any(name.endswith(".exe") for name in listed):
        return ["SHA256SUMS lists %s, not the release and BUILDINFO" % listed]
    record = {}
    for line in dist["BUILDINFO"].decode().splitlines():
        if line and not line.startswith("#"):
            key, _, value = line.partition(" ")
            record.setdefault(key, []).append(value)
    commit = run(["git", "log", "-1", "--format=%H %ct"], cwd=repo, check=True).stdout.split()
    exe = next(name for name in listed if name.endswith(".exe"))
    wanted = {"commit": [commit[0]], "SOURCE_DATE_EPOCH": [commit[1]],
              "unsigned-sha256": [hashlib.sha256(dist[exe]).hexdigest()]}
    faults = ["BUILDINFO says %s %s, not %s" % (key, record.get(key), value)
              for key, value in wanted.items() if record.get(key) != value]
    if not record.get("debian", [""])[0].startswith(open("/etc/debian_version").read().strip() + " "):
        faults.append("BUILDINFO names the system %s" % record.get("debian"))
    packages = dict(value.split(" ", 1) for value in record.get("package", []))
    for name, version in packages.items():
        installed = run(["dpkg-query", "-W", "-f=${Version}", name]).stdout
        if installed != version:
            faults.append("BUILDINFO names %s %s; installed is %r" % (name, version, installed))
    for kind in ("g++-mingw-w64-i686", "gcc-mingw-w64-i686", "binutils-mingw-w64-i686", "mingw-w64-i686-dev",
                 "mingw-w64-common", "cmake", "ninja-build"):
        if not any(name == kind or name.startswith(kind + "-") for name in packages):
            faults.append("BUILDINFO names no package %s: %s" % (kind, sorted(packages)))
    return ["build record: " + fault for fault in faults]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    f = make_certificates(args.work)
    make_token(args.work, f)
    authority, tsa = start_time_stamp_authority(args.work, f)
    repo = os.path.join(args.work, "clone")
    run(["git", "clone", "-q", args.source, repo], check=True)
    release = os.path.join(repo, "tools", "release.sh")
    # The tools the script runs record their names and arguments, where no PIN may ever appear; with
    # SIGNING_SAYS_ONLY_FAILED set, osslsigncode's signing fails saying nothing but "Failed".
    shims, arguments = os.path.join(args.work, "shims"), os.path.join(args.work, "arguments.log")
    os.makedirs(shims)
    for tool in ("openssl", "osslsigncode", "pkcs11-tool", "curl"):
        with open(os.path.join(shims, tool), "w") as out:
            out.write("#!/bin/sh\nprintf '%%s %%s\\n' %s \"$*\" >>%s\n" % (tool, arguments))
            if tool == "osslsigncode":
                out.write('[ -z "$SIGNING_SAYS_ONLY_FAILED" ] || [ "$1" != sign ] || { echo Failed; exit 1; }\n')
            out.write('exec %s "$@"\n' % shutil.which(tool))
        os.chmod(os.path.join(shims, tool), 0o755)
    os.environ["PATH"] = shims + os.pathsep + os.environ["PATH"]
    # The releases run with no variable of those the script leaves out of the build, whatever this environment holds
    # (a machine may set LIBRARY_PATH, say), nor SOURCE_DATE_EPOCH, but for the runs that add some.
    for name in [name for name in os.environ if FLAG_VARIABLES.fullmatch(name) or name == "SOURCE_DATE_EPOCH"]:
        del os.environ[name]
    # The script's temporary files, the private directory with the PIN and the password among them, go here, and
    # must be gone when it ends, whatever the end.
    temporary = os.path.join(args.work, "tmp")
    os.makedirs(temporary)
    os.environ["TMPDIR"] = temporary
    failures, outputs = [], []

    def left_behind(label):
        left = os.listdir(temporary)
        if left:
            failures.append("%s: the script left %s in its temporary directory" % (label, left))
            for name in left:
                shutil.rmtree(os.path.join(temporary, name), ignore_errors=True)

    def refused(label, options, words, change=None, env=None):
        """Runs the release with options that must be refused, saying all the words; dist/ must stay as it was."""
        before = dist_state(repo)
        if change:
            with open(os.path.join(repo, change), "a") as out:
                out.write("\n")
        result = run([release] + options, cwd=repo, env=dict(os.environ, **(env or {})))
        outputs.append(result.stdout + result.stderr)
        if change:
            run(["git", "checkout", "-q", change], cwd=repo)
        words = (words,) if isinstance(words, str) else words
        if result.returncode != 1 or not all(w in result.stderr for w in words):
            failures.append("%s: exit %d, want 1 and %r; stderr: %s" % (label, result.returncode, words,
                                                                      result.stderr.strip()))
        elif dist_state(repo) != before:
            failures.append("%s: dist/ changed" % label)
        else:
            print("refused, %s: %s" % (label, result.stderr.strip().splitlines()[-1]))
        left_behind(label)

    def verified(label, stamped, ca):
        """The release just made verifies against the CA file ca, time-stamped or not as asked, and dist/ and its
        files may be read by anyone (a web server, an upload job)."""
        for path in [os.path.join(repo, "dist")] + [os.path.join(repo, "dist", n) for n in os.listdir(os.path.dirname(exe))]:
            if os.stat(path).st_mode & 0o004 == 0:
                failures.append("%s: %s is not readable by others (mode %o)" % (label, path, os.stat(path).st_mode))
        record = open(os.path.join(repo, "dist", "BUILDINFO")).read()
        if "unsigned-sha256 %s\n" % unsigned_sha256 not in record:
            failures.append("%s: BUILDINFO gives another unsigned-sha256 than the unsigned release's %s: %s"
                            % (label, unsigned_sha256, record))
        verify = run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", exe])
        print("osslsigncode verify, %s:\n%s" % (label, "\n".join(
            line for line in verify.stdout.splitlines() if line.strip().startswith(
                ("Subject:", "Timestamp time:", "Timestamp Server", "Signature verification:")))))
        if verify.returncode or "Signature verification: ok" not in verify.stdout or \
                ("Timestamp Server Signature verification: ok" in verify.stdout) != stamped:
            failures.append("%s: the release does not verify %s a time stamp: %s" % (
                label, "with" if stamped else "without", verify.stdout + verify.stderr))

    def signed(label, result, words, stamped, ca=f["ca.pem"]):
        """A release that must be signed and say all the words (a compiled pattern must match); it must verify."""
        outputs.append(result.stdout + result.stderr)
        print(result.stdout)
        said = [w.pattern if hasattr(w, "pattern") else w for w in words
                if not (w.search(result.stdout) if hasattr(w, "pattern") else w in result.stdout)]
        if result.returncode or said:
            failures.append("%s: exit %d, want 0 and %r; output: %s" % (label, result.returncode, said,
                                                                      result.stdout + result.stderr))
        else:
            verified(label, stamped, ca)
        left_behind(label)

    # An unsigned release first, so that each refusal below must leave its dist/ as it was. Its file is the one
    # SHA256SUMS names, and its build record names the commit, its time and the toolchain installed here.
    unsigned = run([release], cwd=repo)
    if unsigned.returncode or "NOT SIGNED" not in unsigned.stdout or "left out" in unsigned.stdout:
        failures.append("unsigned release: exit %d, output: %s" % (unsigned.returncode, unsigned.stdout + unsigned.stderr))
    sums = dist_state(repo) or {}
    listed = [line.split()[-1] for line in sums.get("SHA256SUMS", b"").decode().splitlines()]
    exe = os.path.join(repo, "dist", next((name for name in listed if name.endswith(".exe")), "none.exe"))
    unsigned_size = os.path.getsize(exe) if os.path.exists(exe) else 0
    unsigned_sha256 = hashlib.sha256(open(exe, "rb").read()).hexdigest() if unsigned_size else None
    failures += build_record_faults(repo, sums, listed)
    left_behind("unsigned release")
    # The bytes are the commit's and the toolchain's: the flags CMake and the compilers read from the environment
    # must not reach them (LDFLAGS=-Wl,--build-id adds a section), and the script names those it left out. Then
    # SOURCE_DATE_EPOCH, which is meant to reach them: the PE time stamp and the build record give it.
    flags = {"CFLAGS": "-O0 -g", "CXXFLAGS": "-O0 -g", "CPPFLAGS": "-DVIRESKA_PRUEBA", "LDFLAGS": "-Wl,--build-id",
             "RCFLAGS": "-DVIRESKA_PRUEBA", "CMAKE_BUILD_TYPE": "Debug"}
    flagged = run([release], cwd=repo, env=dict(os.environ, **flags))
    named = re.search(r"left out: (.*)", flagged.stdout)
    if flagged.returncode or dist_state(repo) != sums or not named or set(flags) != set(named[1].split(", ")):
        failures.append("release with %s in the environment: exit %d, %s; output: %s" % (
            ", ".join(sorted(flags)), flagged.returncode,
            "the same files" if dist_state(repo) == sums else "other files than without them", flagged.stdout))
    epoch = run([release], cwd=repo, env=dict(os.environ, SOURCE_DATE_EPOCH="1234567890"))
    stamped = dist_state(repo) or {}
    stamped_exe = stamped.get(os.path.basename(exe), b"")
    if epoch.returncode or b"\nSOURCE_DATE_EPOCH 1234567890\n" not in stamped.get("BUILDINFO", b"") or \
            not stamped_exe or pefile.PE(data=stamped_exe).FILE_HEADER.TimeDateStamp != 1234567890:
        failures.append("release with SOURCE_DATE_EPOCH=1234567890: exit %d, BUILDINFO %s" % (
            epoch.returncode, stamped.get("BUILDINFO", b"").decode()))
    left_behind("releases with flags and SOURCE_DATE_EPOCH in the environment")
    pfx = ["--sign", f["signer.pfx"], "--password-file", f["password"]]
    token = ["--pkcs11-module", TOKEN_LIBRARY, "--key", KEY, "--cert", f["chain.pem"], "--pin-file", f["pin"]]
    # The chained signer as authorities deliver it: its key named without the token (there is one) by a label with
    # a space, its certificate on the token by its ID, the intermediate in --chain.
    chained = ["--pkcs11-module", TOKEN_LIBRARY, "--key", "pkcs11:object=firma%20intermedia", "--cert",
               "pkcs11:id=%02;type=cert", "--chain", f["intermediate.pem"], "--pin-file", f["pin"]]
    refused("uncommitted change", [], "uncommitted changes", change="README.md")
    refused("SOURCE_DATE_EPOCH not a whole number", [], "SOURCE_DATE_EPOCH must be a whole number of seconds",
            env={"SOURCE_DATE_EPOCH": "1.7e9"})
    refused("missing certificate", ["--sign", os.path.join(args.work, "missing.pfx"), "--no-timestamp"],
            "no certificate")
    for label, options, words in (
            ("wrong password", ["--sign", f["signer.pfx"], "--password-file", f["wrong-password"]], "wrong password"),
            ("no private key", ["--sign", f["nokey.pfx"], "--password-file", f["password"]], "no private key"),
            ("not for code signing", ["--sign", f["tls.pfx"], "--password-file", f["password"]], "not a code-signing"),
            ("wrong PIN", token[:-1] + [f["wrong-pin"]], "wrong PIN"),
            ("empty PIN file", token[:-1] + [f["empty"]], "the PIN is empty"),
            ("empty password file", ["--sign", f["signer.pfx"], "--password-file", f["empty"]], "the password is empty"),
            ("no slot: pcscd not running, OpenSC's library",
             [OPENSC_LIBRARY if o == TOKEN_LIBRARY else o for o in token], ("no token through", "is pcscd running")),
            ("certificate of another key", [f["other.pem"] if o == f["chain.pem"] else o for o in token],
             "is not that of the key"),
            ("expired certificate", [f["expired.pem"] if o == f["chain.pem"] else o for o in token],
             "expired on Jan  2 00:00:00 2025 GMT"),
            ("certificate on the token not for code signing",
             [KEY.replace("codesign", "tls") + ";type=cert" if o == f["chain.pem"] else o for o in token],
             "not a code-signing"),
            ("the PIN in the key's URI", [KEY + ";pin-value=" + PIN if o == KEY else o for o in token],
             "must not carry the PIN"),
            ("--timestamp with --no-timestamp", pfx + ["--timestamp", tsa], "contradict each other")):
        refused(label, options + ["--no-timestamp"], words)
    os.makedirs(os.path.join(args.work, "no-tokens"))
    with open(os.path.join(args.work, "no-token.conf"), "w") as out:
        out.write("directories.tokendir = %s\nobjectstore.backend = file\n" % os.path.join(args.work, "no-tokens"))
    refused("no token shows", token + ["--no-timestamp"], ("no token through", "is pcscd running"),
            env={"SOFTHSM2_CONF": os.path.join(args.work, "no-token.conf")})
    refused("neither --timestamp nor --no-timestamp", pfx, ("give --timestamp URL", "--no-timestamp to sign"))
    # A build tool that no Debian package holds (a ninja of one's own first on PATH): the build record could not
    # name it, so nothing is published.
    own_tools = os.path.join(args.work, "own-tools")
    os.makedirs(own_tools)
    with open(os.path.join(own_tools, "ninja"), "w") as out:
        out.write('#!/bin/sh\nexec %s "$@"\n' % shutil.which("ninja"))
    os.chmod(os.path.join(own_tools, "ninja"), 0o755)
    refused("build tool from no Debian package", [], ("no Debian package holds", "own-tools/ninja"),
            env={"PATH": own_tools + os.pathsep + os.environ["PATH"]})
    refused("no time-stamp authority answers", token + ["--timestamp", "http://127.0.0.1:9/", "--timestamp",
                                                        tsa + "/refuse", "--timestamp", tsa + "/reject"],
            ("no time-stamp authority answers", "/reject (its answer grants no time stamp)"))
    # A key, its password or the PIN inside the checkout, even where git ignores it, as *.pfx is; also when named
    # through a symbolic link outside the checkout.
    for name, options in (("signer.pfx", pfx), ("password", pfx), ("pin", token)):
        inside = os.path.join(repo, "build", "claves", name)
        os.makedirs(os.path.dirname(inside), exist_ok=True)
        shutil.copy(f[name], inside)
        refused(name + " inside the checkout", [inside if o == f[name] else o for o in options] + ["--no-timestamp"],
                "claves/%s lies inside the checkout" % name)
    link = os.path.join(args.work, "enlace.pfx")
    os.symlink(os.path.join(repo, "build", "claves", "signer.pfx"), link)
    refused("certificate inside the checkout named through a link outside it",
            [link if o == f["signer.pfx"] else o for o in pfx] + ["--no-timestamp"], "enlace.pfx lies inside the checkout")
    # A folder beside the checkout whose name begins with the checkout's is not inside it.
    beside = os.path.join(repo + "-claves", "signer.pfx")
    os.makedirs(os.path.dirname(beside))
    shutil.copy(f["signer.pfx"], beside)
    refused("certificate in a folder beside the checkout, with a wrong password",
            ["--sign", beside, "--password-file", f["wrong-password"], "--no-timestamp"], "wrong password")
    # A checkout of another user's, which git refuses to read as root: never taken for a clean tree.
    if os.geteuid() == 0:
        owner = os.stat(repo)
        for path in (repo, os.path.join(repo, ".git")):
            os.chown(path, 65534, 65534)
        refused("checkout owned by another user", [], ("git cannot read the work tree", "dubious ownership"))
        for path in (repo, os.path.join(repo, ".git")):
            os.chown(path, owner.st_uid, owner.st_gid)
    # (Also under a name git would quote, as "claves/firma-a\303\261o.pfx".)
    for name in ("FIRMA.P12", "claves/firma-año.pfx"):
        os.makedirs(os.path.dirname(os.path.join(repo, name)), exist_ok=True)
        shutil.copy(f["signer.pfx"], os.path.join(repo, name))
        run(["git", "add", "-f", name], cwd=repo)
        refused("certificate taken by git: " + name, [], ("never commit it", name))
        run(["git", "-c", "user.name=Prueba", "-c", "user.email=prueba@vireska.es", "commit", "-qm", "firma"],
            cwd=repo, check=True)
        refused("certificate committed: " + name, [], ("a certificate file is committed: " + name, "revoked"))
        run(["git", "reset", "-q", "--hard", "HEAD~1"], cwd=repo, check=True)

    # An authority that answers when asked before the build, and not when signing; a signing failure of which
    # osslsigncode says nothing but "Failed"; a chain whose root is not among the system's.
    refused("signing failure", pfx + ["--timestamp", tsa + "/flaky-pfx"], "signing failed")
    refused("signing failure unexplained", pfx + ["--no-timestamp"], ("signing failed", "without saying why"),
            env={"SIGNING_SAYS_ONLY_FAILED": "1"})
    refused("chain without its root", chained + ["--no-timestamp"],
            ('chain ends at "CN=Vireska Code Signing CA", issued by "CN=Vireska Code Signing Root,O=Vireska Pruebas"',
             "Give that root with --ca-file", "the system's bundle holds only the roots trusted for web sites"))
    # The same where the time stamp verifies: its "verification: ok" line is not the signature's.
    refused("chain without its root, time-stamped", chained + ["--timestamp", tsa, "--ca-file", f["ca.pem"]],
            ('chain ends at "CN=Vireska Code Signing CA", issued by', "Give that root with --ca-file"))
    # A chain that holds its own root, which --ca-file lacks (OpenSSL 3 words that "self-signed"); a time stamp
    # whose authority's root is not in --ca-file, where the signature verifies.
    refused("chain with a root not in --ca-file",
            [f["intermediate-and-root.pem"] if o == f["intermediate.pem"] else o for o in chained] +
            ["--no-timestamp", "--ca-file", f["ca.pem"]],
            ('chain ends at the root "CN=Vireska Code Signing Root,O=Vireska Pruebas", which is not among the roots',
             "Give that root with --ca-file"))
    refused("time stamp without its root", chained + ["--timestamp", tsa, "--ca-file", f["root.pem"]],
            ("the time stamp of the signed file does not verify",
             'time-stamp authority %s ends at the root "CN=Vireska Test CA", which is not among the roots' % tsa,
             "Give that root in --ca-file too"))
    # The same after another authority, of another chain, stamped the probe and then failed when signing: the hint
    # follows the chain of the one that stamped.
    refused("time stamp without its root, from the second authority",
            chained + ["--timestamp", tsa + "/other-flaky", "--timestamp", tsa, "--ca-file", f["root.pem"]],
            ('time-stamp authority %s ends at the root "CN=Vireska Test CA", which is not among the roots' % tsa,))

    # Through the token, time-stamped: the certificate and its chain from a file; then the certificate from the
    # token, its PIN piped (--pin-file <(...)) with a Windows line end, of four authorities the first failing when
    # signing, so that the second stamps it, the third failing if asked to sign after, the fourth silent; then the
    # chained signer, verified with its root alone; then with the PIN typed at the prompt, which must not echo it,
    # and no time stamp, which must say when the signature ends.
    stamp = ("signed by " + SUBJECT_SIGNER, "time-stamped by ", re.compile(r"\(%s\) at \w" % re.escape(tsa)))
    signed("token, certificate from a file", run([release] + token + ["--timestamp", tsa, "--ca-file", f["ca.pem"]],
                                                 cwd=repo), stamp, True)
    from_token = [KEY + ";type=cert" if o == f["chain.pem"] else o for o in token[:-2]]
    signed("token, certificate from the token", run(
        ["bash", "-c", 'exec "$0" "$@" --pin-file <(cat "$PIN_FILE")', release] + from_token +
        ["--timestamp", tsa + "/flaky-token", "--timestamp", tsa, "--timestamp", tsa + "/flaky-after",
         "--timestamp", "http://127.0.0.1:9/", "--ca-file", f["ca.pem"]],
        cwd=repo, env=dict(os.environ, PIN_FILE=f["pin-windows"])), stamp, True)
    signed("token, chained certificate, its files named from another directory", run(
        [release] + [os.path.relpath(o, args.work) if os.path.isabs(o) and o != TOKEN_LIBRARY else o for o in chained] +
        ["--timestamp", tsa, "--ca-file", os.path.relpath(f["root-and-tsa.pem"], args.work)], cwd=args.work),
        ("signed by " + SUBJECT_CHAINED,) + stamp[1:], True, ca=f["root-and-tsa.pem"])
    end = run(["openssl", "x509", "-in", f["signer.pem"], "-noout", "-enddate"]).stdout.strip().split("=")[1]
    status, shown = typed_pin([release] + token[:-2] + ["--no-timestamp", "--ca-file", f["ca.pem"]], repo)
    signed("PIN typed, no time stamp", subprocess.CompletedProcess([], status, shown, ""),
           ("PIN of the token:", "NOT time-stamped: the signature stops verifying on " + end), False)
    leaks = [o for o in outputs + [open(arguments).read()] if PIN in o]
    if leaks:
        failures.append("the PIN appears in an output or on a command line: %s" % leaks[0])
    ran = {line.split(" ", 1)[0] for line in open(arguments)}
    if ran != {"openssl", "osslsigncode", "pkcs11-tool", "curl"}:
        failures.append("the logging stand-ins ran for %s only: the script bypassed the others" % sorted(ran))

    # The .pfx release is made from another directory, through a symbolic link, with the files named relative
    # to that directory: the script must find its checkout and the files all the same.
    link = os.path.join(args.work, "release-link.sh")
    os.symlink(release, link)
    # The .pfx is one Windows exported with the legacy RC2-40 cipher, its password file has Windows line ends and a
    # second line.
    legacy = ["--sign", f["legacy.pfx"], "--password-file", f["password-windows"]]
    relative = [os.path.relpath(o, args.work) if os.path.isabs(o) else o for o in legacy]
    # It runs with umask 077, as some accounts do: dist/ must still be readable by others.
    signed("from a legacy .pfx, umask 077", run(
        ["bash", "-c", 'umask 077 && exec "$0" "$@"', link] + relative +
        ["--timestamp", tsa, "--ca-file", os.path.relpath(f["ca.pem"], args.work)], cwd=args.work),
        stamp + ("uses a legacy cipher",), True)
    authority.shutdown()
    if os.path.exists(exe):
        sums = run(["sha256sum", "-c", "SHA256SUMS"], cwd=os.path.join(repo, "dist"))
        if sums.returncode:
            failures.append("sha256sum -c refuses dist/SHA256SUMS: " + sums.stdout)
        # One byte of code changed: the signature must no longer match.
        data = bytearray(open(exe, "rb").read())
        text = next(s for s in pefile.PE(data=bytes(data)).sections if s.Name.rstrip(b"\0") == b".text")
        data[text.PointerToRawData + 16] ^= 0x01
        tampered = os.path.join(args.work, "tampered.exe")
        open(tampered, "wb").write(data)
        if run(["osslsigncode", "verify", "-CAfile", f["ca.pem"], "-in", tampered]).returncode == 0:
            failures.append("a copy with one byte of code changed still verifies")
        pe_args = open(os.path.join(repo, "build", "release", "pe_check_args.txt")).read().split()
        check = run(["/usr/bin/python3", os.path.join(repo, "tests", "pe", "check_pe.py")] + pe_args + [exe])
        print(check.stdout.strip())
        if check.returncode or "signed: " not in check.stdout:
            failures.append("the static check does not pass the signed file: " + check.stdout)
        print("unsigned %d bytes, signed %d bytes" % (unsigned_size, os.path.getsize(exe)))

    for failure in failures:
        print("FAILED " + failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
