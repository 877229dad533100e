#!/usr/bin/env python3
# The 32-bit release's end-to-end scenarios in a Debian 13 virtual machine under QEMU, for machines whose kernel runs
# no 32-bit programs: one boot runs every scenario (and the control that a copy showing something else fails) on the
# very executables given, with the driver of this checkout, and leaves each run's exit code and output in the results
# folder, where run_e2e.py --vm-results reads them, one CTest test per scenario as elsewhere.
#
#   vm.py --needed          exit 0 where the scenarios must run in the virtual machine here
#   vm.py --results DIR --source CHECKOUT --exe EXE --control EXE --helper EXE --scenarios A,B,...
#
# The image is tools/vm_image.sh's, kept in VIRESKA_VM_CACHE (/var/cache/vireska/vm); the machine gets the files of
# the run through a shared folder (9p), boots from the image with its writes thrown away, and gives its results
# back the same way. A machine that says nothing for --bound seconds is stopped, its console's last lines shown, and
# the run fails with that reason; QEMU dies with this script, Ctrl-C included. VIRESKA_I686_VM=1 uses the virtual
# machine where the kernel runs 32-bit programs too, and 0 never.
import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine import kernel_runs_32_bit  # noqa: E402

CACHE = os.environ.get("VIRESKA_VM_CACHE", "/var/cache/vireska/vm")
HOME = "/home/vireska"
# Only the control of the program's own view: the closing notice, shown otherwise by a copy of the 32-bit release.
CONTROL_SCENARIO = "answer_no"


def needed():
    """Why the scenarios run in the virtual machine here, or None where this machine runs them itself."""
    if os.environ.get("VIRESKA_I686_VM") == "1":
        return "VIRESKA_I686_VM=1 asks for it"
    if os.environ.get("VIRESKA_I686_VM") != "0" and not kernel_runs_32_bit():
        return "this machine's kernel runs no 32-bit programs"
    return None


def run_script(scenarios):
    """The shell script the machine's init runs from the shared folder, as root: each run as the user vireska, under
    Xvfb, its exit code and output into out/."""
    lines = ["#!/bin/sh", "cd /share",
             'echo "vireska-vm: running $(uname -r), $(nproc) processors"']
    lines.append("run() {\n    name=$1\n    shift\n    echo \"vireska-vm: $name, at $(cut -d' ' -f1 /proc/uptime) s\"\n"
                 f"    runuser -u vireska -- env -i HOME={HOME} USER=vireska PATH=/usr/bin:/bin LANG=C.UTF-8 "
                 f"xvfb-run -a python3 /share/src/run_e2e.py --template {HOME}/template --work {HOME}/e2e "
                 "--helper /share/bin/box_answerer.exe --i686 --control /share/bin/boxes_only.exe "
                 "--marker-dll /share/bin/marker-i686.dll --exe /share/bin/VireskaCorreo.exe \"$@\" "
                 ">\"/share/out/$name.log\" 2>&1\n    echo $? >\"/share/out/$name.code\"\n}")
    for scenario in scenarios:
        lines.append(f"run {scenario} --scenario {scenario}")
    lines.append(f"run {CONTROL_SCENARIO}-shows-otherwise --scenario {CONTROL_SCENARIO} --shows-otherwise")
    lines.append('echo "vireska-vm: all run, at $(cut -d\' \' -f1 /proc/uptime) s"')
    return "\n".join(lines) + "\n"


def die_with_parent():
    """For QEMU: killed when this script ends, however it ends."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def tail(path, count=25):
    """The last count lines of a file (all of them for None); nothing where there is no file."""
    try:
        with open(path, errors="replace") as console:
            return "".join(console.readlines()[-count:] if count else console.readlines())
    except OSError:
        return ""


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--needed", action="store_true")
    parser.add_argument("--results")
    parser.add_argument("--source")
    parser.add_argument("--exe")
    parser.add_argument("--control")
    parser.add_argument("--helper")
    parser.add_argument("--scenarios")
    parser.add_argument("--bound", type=int, default=420, help="seconds the machine may say nothing")
    args = parser.parse_args()
    why = needed()
    if args.needed:
        print(why or "this machine runs the 32-bit scenarios itself")
        return 0 if why else 1

    results = os.path.abspath(args.results)
    shutil.rmtree(results, ignore_errors=True)
    os.makedirs(results)

    def record(name, text):
        with open(os.path.join(results, name), "w") as out:
            out.write(text)

    if not why:
        record("mode", "native")
        print("not needed: this machine's kernel runs 32-bit programs, and the scenarios run here")
        return 0
    record("mode", "vm")
    qemu = shutil.which("qemu-system-x86_64")
    if not qemu:
        reason = "QEMU is missing (package qemu-system-x86, which tools/install_packages.sh installs)"
        record("skip", reason + "; " + why)
        print("SKIPPED: " + reason)
        return 0
    state = subprocess.run([os.path.join(args.source, "tools", "vm_image.sh"), "--check"], capture_output=True,
                           text=True).stdout.strip()
    if state == "missing":
        reason = (f"the virtual machine's image is not made in {CACHE} (tools/install_packages.sh, or tools/test.sh "
                  "run as root, makes it)")
        record("skip", reason + "; " + why)
        print("SKIPPED: " + reason)
        return 0
    if not state.startswith("current"):
        print(f"note: the virtual machine's image is {state}; it is used as it is (tools/vm_image.sh, as root, "
              "makes it again)")

    # The shared folder: the executables and the driver. (The machine makes its Wine prefix at each boot: a copy of
    # the one it made, 1.4 GB, took longer to hand over through the folder than wineboot takes to make it.)
    share = os.path.join(results, "share")
    for folder in ("bin", "src", "out"):
        os.makedirs(os.path.join(share, folder))
    os.chmod(os.path.join(share, "out"), 0o777)  # written by the machine's user too
    for source, name in ((args.exe, "VireskaCorreo.exe"), (args.control, "boxes_only.exe"),
                         (args.helper, "box_answerer.exe")):
        shutil.copy(source, os.path.join(share, "bin", name))
    e2e = os.path.dirname(os.path.abspath(__file__))
    subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-s", "-Wall", "-Wextra", "-Werror", "-o",
                    os.path.join(share, "bin", "marker-i686.dll"), os.path.join(e2e, "marker_dll.c")], check=True)
    for name in os.listdir(e2e):
        if name.endswith(".py"):
            shutil.copy(os.path.join(e2e, name), os.path.join(share, "src", name))
    scenarios = args.scenarios.split(",")
    with open(os.path.join(share, "run.sh"), "w") as out:
        out.write(run_script(scenarios))

    # QEMU's own emulation (TCG), which any machine has: the KVM of a machine that is itself virtual stopped the
    # guest's kernel as it unpacked itself ("KVM internal error", emulation failure), whatever processor was asked
    # for. (QEMU 7.2's emulation of SMAP crashes the guest's kernel on Wine's return from a system call.)
    accel = ["-accel", "tcg,thread=multi", "-cpu", "max,-smap"]
    console = os.path.join(results, "console.log")
    command = [qemu, "-machine", "q35", *accel, "-smp", "2", "-m", "6144", "-kernel", os.path.join(CACHE, "vmlinuz"),
               "-initrd", os.path.join(CACHE, "initrd.img"),
               "-append", "root=/dev/vda rw console=ttyS0 init=/vireska-init panic=1 quiet",
               "-drive", "file=%s,format=raw,if=virtio,snapshot=on" % os.path.join(CACHE, "image.ext4"),
               "-virtfs", "local,path=%s,mount_tag=share,security_model=none" % share,
               "-display", "none", "-serial", "file:" + console, "-monitor", "none", "-no-reboot", "-nic", "none"]
    print(f"== the virtual machine ({accel[1].split(',')[0]}; {why}): {len(scenarios)} scenarios and a control, "
          f"console in {console}", flush=True)
    start = last = time.monotonic()
    seen, failure = 0, None
    machine = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               preexec_fn=die_with_parent)
    try:
        while machine.poll() is None:
            time.sleep(1)
            size = os.path.getsize(console) if os.path.exists(console) else 0
            if size != seen:
                seen, last = size, time.monotonic()
            elif time.monotonic() - last > args.bound:
                failure = f"the virtual machine said nothing for {args.bound} s, and was stopped"
                break
    finally:
        if machine.poll() is None:
            machine.kill()
        said = machine.communicate()[0].decode(errors="replace").strip()
    elapsed = time.monotonic() - start
    ended = "vireska-vm: done" in tail(console, count=None)
    if not failure and not ended:
        failure = "the virtual machine stopped before its run ended (QEMU's exit code %s%s)" % (
            machine.returncode, ", saying: " + said[-400:] if said else "")
    for name in os.listdir(os.path.join(share, "out")):
        shutil.move(os.path.join(share, "out", name), os.path.join(results, name))
    shutil.rmtree(share, ignore_errors=True)
    if failure:
        record("vm-failure", failure)
        print(f"FAILED {failure} after {elapsed:.0f} s; its console's last lines:\n{tail(console)}")
        return 1
    codes = {name[:-5]: open(os.path.join(results, name)).read().strip() for name in os.listdir(results)
             if name.endswith(".code")}
    print(f"== the virtual machine ran {len(codes)} runs in {elapsed:.0f} s: " +
          ", ".join(f"{name} {code}" for name, code in sorted(codes.items())))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
