#!/usr/bin/python3
"""Proof that the release is reproducible: builds it twice, at different times, in two fresh build directories
of different names, and compares the bytes; then checks what the PE header holds (the last commit's time, or
SOURCE_DATE_EPOCH when set; a correct checksum) and that no build path, user or host name is in the file. Last,
reprotest, the reproducible-builds project's tool, runs tools/release.sh twice in a clone of the commit, the
second time with every variation that can apply here, among them the flags that CMake and the compilers read from
the environment, and finds the files to publish the same; and, as its controls, finds that the same flags do reach
a plain build, that the host name varies exactly where the probe for it says it can, and that a build that fails is
named by its own last words, not by reprotest's traceback.

  reproducible_build.py --source DIR --work DIR --preset win32
"""
import argparse
import getpass
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import time

import pefile


def build(source, directory, preset, fresh, epoch=None):
    """Builds the executable, in a freshly configured directory or by relinking it in the existing one, with
    SOURCE_DATE_EPOCH set to `epoch` or unset; returns its bytes."""
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    if epoch is not None:
        env["SOURCE_DATE_EPOCH"] = str(epoch)
    exe = os.path.join(directory, "VireskaCorreo.exe")
    if fresh:
        shutil.rmtree(directory, ignore_errors=True)
        subprocess.run(["cmake", "--preset", preset, "-B", directory], cwd=source, env=env, check=True,
                       stdout=subprocess.DEVNULL)
    else:
        os.unlink(exe)
    subprocess.run(["cmake", "--build", directory, "--target", "VireskaCorreo"], cwd=source, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    with open(exe, "rb") as f:
        return f.read()


# The variations reprotest cannot apply here, and why.
LEFT_OUT = {
    "user_group": "it needs sudo to another user account, which a test does not make",
    "fileordering": "it needs FUSE (disorderfs, /dev/fuse), which containers and chroots do not offer",
}
# Flags that CMake and the compilers read from the environment (a comma is written \x2c: reprotest splits on commas);
# the linker's --build-id adds a section, so a build that reads LDFLAGS gives other bytes.
FLAGS = ("CFLAGS=-O0 -g;CXXFLAGS=-O0 -g;CPPFLAGS=-DVIRESKA_PRUEBA;LDFLAGS=-Wl\\x2c--build-id;"
         "RCFLAGS=-DVIRESKA_PRUEBA;CMAKE_BUILD_TYPE=Debug")


def build_said(output, lines=12):
    """What the build itself said last before reprotest gave up on it (faketime's, setarch's or the script's own
    words), without reprotest's traceback and log lines; [] when reprotest did not give up."""
    if "Traceback (most recent call last):" not in output:
        return []
    before = output.split("Traceback (most recent call last):")[0].splitlines()
    return [line for line in before if line.strip() and ":reprotest:" not in line][-lines:]


def run_reprotest(label, variations, command, tree, artifacts):
    """reprotest's exit code and a line for the summary: its verdict, or, where the build failed, the build's last
    words (its last lines are printed then)."""
    result = subprocess.run(["reprotest", "--no-diffoscope", "--min-cpus=1"] + variations +
                            ["-c", command, tree, artifacts], capture_output=True, text=True)
    said = (result.stdout + result.stderr).strip()
    build = build_said(said)
    if build:
        verdict = "the build failed, saying: " + build[-1]
        print("reprotest, %s: the build's last lines:\n%s" % (label, "\n".join("    " + line for line in build)))
    else:
        lines = said.splitlines()
        verdicts = [line for line in lines if "Reproduction successful" in line or " differ" in line]
        if not verdicts and result.returncode == 1:
            verdicts = ["the files differ"]
        verdict = (verdicts or lines[-1:] or ["nothing said"])[0]
    print("reprotest, %s: exit %d, %s" % (label, result.returncode, verdict))
    return result.returncode, verdict, said


def reprotest(source, work):
    """Runs reprotest on tools/release.sh in a clone of source, and on a plain build as its control; returns the
    failures."""
    clone = os.path.join(work, "reprotest-clone")
    shutil.rmtree(clone, ignore_errors=True)
    subprocess.run(["git", "clone", "-q", source, clone], check=True)
    left_out = dict(LEFT_OUT)
    # (reprotest makes it in a user namespace of its own, as root too, which a chroot refuses.)
    uts = subprocess.run(["unshare", "--map-root-user", "--uts", "true"], capture_output=True, text=True)
    if uts.returncode:
        left_out["domain_host"] = "no user and UTS namespace can be made here (%s)" % uts.stderr.strip()
    for name, why in sorted(left_out.items()):
        print("reprotest leaves out %s: %s" % (name, why))
    vary = ["--vary=" + ",".join("-" + name for name in left_out), "--vary=environment.variables+=" + FLAGS,
            "--vary=locales.locale=es_ES.UTF-8"]
    failures = []
    # (The host name control: reprotest changes it, and finds the file differs, exactly where the probe says a user
    # and UTS namespace can be made; where not, it fails or leaves it, and any exit code but 1 will do.)
    host_varies = "domain_host" not in left_out
    for label, variations, command, artifacts, want in (
            ("tools/release.sh", vary, "tools/release.sh", "dist/*", 0),
            ("control: a plain build, with the flags", ["--variations=-all,+environment", vary[1]],
             "cmake --preset win32 -B build/plain >/dev/null && cmake --build build/plain --target VireskaCorreo",
             "build/plain/VireskaCorreo.exe", 1),
            ("control: the host name, %s" % ("varied" if host_varies else "left out"),
             ["--variations=-all,+domain_host"], "mkdir -p build && hostname >build/host", "build/host", 1 if host_varies else None)):
        code, verdict, said = run_reprotest(label, variations, command, clone, artifacts)
        if code != want and (want is not None or code == 1):
            failures.append("reprotest, %s: exit %d, want %s; %s%s" % (
                label, code, "anything but 1" if want is None else want, verdict, "" if verdict.startswith("the build failed") else
                "; it said:\n" + "\n".join(said.splitlines()[-40:])))
    # A build that fails must be named by what it said, as faketime says it where /dev/shm is not writable.
    words = "faketime: sem_open: Permission denied"
    code, verdict, _ = run_reprotest("control: a build that fails", ["--variations=-all"],
                                     "echo '%s' >&2; exit 1" % words, clone, "dist/*")
    if code == 0 or not verdict.endswith(words):
        failures.append("reprotest, control: a build that fails: exit %d, %r; its last words, %r, are not named"
                        % (code, verdict, words))
    return failures


def header(data):
    pe = pefile.PE(data=data)
    return pe.FILE_HEADER.TimeDateStamp, pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--preset", required=True)
    args = parser.parse_args()
    first_dir = os.path.join(args.work, "first")
    second_dir = os.path.join(args.work, "second build, in another directory")
    failures = []

    first = build(args.source, first_dir, args.preset, fresh=True)
    time.sleep(1.1)  # a second later: the time of the build must not matter
    second = build(args.source, second_dir, args.preset, fresh=True)
    for name, data in (("first", first), ("second", second)):
        print("%s build: %d bytes, SHA-256 %s" % (name, len(data), hashlib.sha256(data).hexdigest()))
    if first != second:
        failures.append("the two builds differ")

    git = subprocess.run(["git", "-C", args.source, "log", "-1", "--format=%ct"], capture_output=True, text=True)
    commit_time = git.stdout.strip()
    stamp, checksum, computed = header(first)
    if git.returncode or not commit_time.isdigit():
        failures.append("git gives no commit time for %s: %s" % (args.source, git.stderr.strip()))
    elif stamp != int(commit_time):
        failures.append("the PE time stamp is %d, not the last commit's time %s" % (stamp, commit_time))
    if checksum != computed:
        failures.append("the PE checksum is 0x%x, not the file's 0x%x" % (checksum, computed))
    for what in (os.path.abspath(args.source), os.path.abspath(args.work), getpass.getuser(), socket.gethostname()):
        if what and len(what) > 3 and what.encode() in first:
            failures.append("the file holds %r" % what)

    epoch = 1234567890
    relinked = build(args.source, second_dir, args.preset, fresh=False, epoch=epoch)
    stamp, checksum, computed = header(relinked)
    if stamp != epoch or checksum != computed:
        failures.append("with SOURCE_DATE_EPOCH=%d the stamp is %d and the checksum 0x%x (the file's is 0x%x)"
                        % (epoch, stamp, checksum, computed))

    failures += reprotest(args.source, args.work)

    for failure in failures:
        print("FAILED " + failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
