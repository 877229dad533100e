#!/usr/bin/python3
"""Test of tools/release.sh in a clone of the current commit: it refuses bad input with a clear message and
leaves dist/ as it was; it writes an unsigned release that says so; and, with a code-signing certificate of a
throwaway certificate authority made here, a signed release that verifies against that authority, whose copy
with one byte of code changed is refused, and that the static check still passes.

  release_test.py --source DIR --work DIR
"""
import argparse
import os
import shutil
import subprocess
import sys

import pefile

SUBJECT_CA, SUBJECT_SIGNER = "/CN=Vireska Test CA", "/O=Vireska/CN=Vireska Test Signer"


def run(args, cwd=None, **kwargs):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, **kwargs)


def make_certificates(work):
    """A CA, a code-signing certificate it issues and one for TLS only, as PKCS#12 files with a password file;
    and the code-signing certificate again without its key. Returns {name: path}."""
    f = {name: os.path.join(work, name) for name in
         ("ca.key", "ca.pem", "signer.key", "signer.pem", "tls.pem", "password", "wrong-password", "signer.pfx",
          "tls.pfx", "nokey.pfx", "codesign.ext", "tls.ext")}
    with open(f["password"], "w") as out:
        out.write("contraseña de prueba\n")
    with open(f["wrong-password"], "w") as out:
        out.write("otra\n")
    with open(f["codesign.ext"], "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    with open(f["tls.ext"], "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n")
    commands = [
        ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f["ca.key"], "-out", f["ca.pem"], "-days", "2",
         "-subj", SUBJECT_CA, "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
        ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", f["signer.key"], "-out", f["signer.pem"] + ".csr",
         "-subj", SUBJECT_SIGNER],
    ]
    for cert, ext in (("signer.pem", "codesign.ext"), ("tls.pem", "tls.ext")):
        commands.append(["x509", "-req", "-in", f["signer.pem"] + ".csr", "-CA", f["ca.pem"], "-CAkey", f["ca.key"],
                         "-CAcreateserial", "-days", "2", "-extfile", f[ext], "-out", f[cert]])
    for pfx, cert in (("signer.pfx", "signer.pem"), ("tls.pfx", "tls.pem")):
        commands.append(["pkcs12", "-export", "-inkey", f["signer.key"], "-in", f[cert], "-certfile", f["ca.pem"],
                         "-out", f[pfx], "-passout", "file:" + f["password"]])
    commands.append(["pkcs12", "-export", "-nokeys", "-in", f["signer.pem"], "-out", f["nokey.pfx"],
                     "-passout", "file:" + f["password"]])
    for command in commands:
        result = run(["openssl"] + command)
        if result.returncode:
            sys.exit("openssl %s failed: %s" % (command[0], result.stderr))
    return f


def dist_state(repo):
    """The files of dist/ and their bytes; None when there is no dist/."""
    dist = os.path.join(repo, "dist")
    if not os.path.isdir(dist):
        return None
    return {name: open(os.path.join(dist, name), "rb").read() for name in sorted(os.listdir(dist))}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    f = make_certificates(args.work)
    repo = os.path.join(args.work, "clone")
    run(["git", "clone", "-q", args.source, repo], check=True)
    release = os.path.join(repo, "tools", "release.sh")
    exe = os.path.join(repo, "dist", "VireskaCorreo-1.0.0.1.exe")
    failures = []

    def refused(label, options, words, change=None):
        """Runs the release with options that must be refused; dist/ must stay as it was."""
        before = dist_state(repo)
        if change:
            with open(os.path.join(repo, change), "a") as out:
                out.write("\n")
        result = run([release] + options, cwd=repo)
        if change:
            run(["git", "checkout", "-q", change], cwd=repo)
        if result.returncode != 1 or words not in result.stderr:
            failures.append("%s: exit %d, want 1 and %r; stderr: %s" % (label, result.returncode, words,
                                                                      result.stderr.strip()))
        elif dist_state(repo) != before:
            failures.append("%s: dist/ changed" % label)
        else:
            print("refused, %s: %s" % (label, result.stderr.strip().splitlines()[-1]))

    signing = ["--sign", f["signer.pfx"], "--password-file", f["password"], "--ca-file", f["ca.pem"]]
    refused("uncommitted change", [], "uncommitted changes", change="README.md")
    refused("missing certificate", ["--sign", os.path.join(args.work, "missing.pfx")], "no certificate")
    refused("wrong password", ["--sign", f["signer.pfx"], "--password-file", f["wrong-password"]], "wrong password")
    refused("no private key", ["--sign", f["nokey.pfx"], "--password-file", f["password"]], "no private key")
    refused("not for code signing", ["--sign", f["tls.pfx"], "--password-file", f["password"]], "not a code-signing")
    # A key or its password inside the checkout, even where git ignores it, as *.pfx is.
    for name in ("signer.pfx", "password"):
        inside = os.path.join(repo, "build", "claves", name)
        os.makedirs(os.path.dirname(inside), exist_ok=True)
        shutil.copy(f[name], inside)
        refused(name + " inside the checkout", [o if o != f[name] else inside for o in signing],
                "claves/%s lies inside the checkout" % name)
    shutil.copy(f["signer.pfx"], os.path.join(repo, "signer.pfx"))
    run(["git", "add", "-f", "signer.pfx"], cwd=repo)
    refused("certificate taken by git", [], "never commit it")
    run(["git", "rm", "-q", "--cached", "signer.pfx"], cwd=repo)
    os.unlink(os.path.join(repo, "signer.pfx"))

    unsigned = run([release], cwd=repo)
    if unsigned.returncode or "NOT SIGNED" not in unsigned.stdout:
        failures.append("unsigned release: exit %d, output: %s" % (unsigned.returncode, unsigned.stdout + unsigned.stderr))
    refused("signing failure", signing + ["--timestamp", "http://127.0.0.1:9/"], "signing failed")
    unsigned_size = os.path.getsize(exe) if os.path.exists(exe) else 0

    # The signed release is made from another directory, through a symbolic link, with the files named relative
    # to that directory: the script must find its checkout and the files all the same.
    link = os.path.join(args.work, "release-link.sh")
    os.symlink(release, link)
    relative = [os.path.relpath(o, args.work) if os.path.isabs(o) else o for o in signing]
    signed = run([link] + relative, cwd=args.work)
    print(signed.stdout)
    if signed.returncode or "signed by " not in signed.stdout or "Vireska Test Signer" not in signed.stdout:
        failures.append("signed release: exit %d, output: %s" % (signed.returncode, signed.stdout + signed.stderr))
    else:
        sums = run(["sha256sum", "-c", "SHA256SUMS"], cwd=os.path.join(repo, "dist"))
        verify = run(["osslsigncode", "verify", "-CAfile", f["ca.pem"], "-in", exe])
        print("osslsigncode verify:\n" + verify.stdout)
        if sums.returncode:
            failures.append("sha256sum -c refuses dist/SHA256SUMS: " + sums.stdout)
        if verify.returncode or "Signature verification: ok" not in verify.stdout:
            failures.append("the signed release does not verify against the test CA")
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
