#!/usr/bin/env python3
# The benchmark run by tools/bench.sh: prints the release's size and imports, then the time under Wine of a
# run over 1,000 accounts (half hosted) beside a program that shows the same number of boxes, with the same
# manifest, and nothing else, for the 32-bit release and for the x86-64 build; each figure names the executable
# it timed.
import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import pefile  # noqa: E402
import regfiles  # noqa: E402
from regfiles import Sz  # noqa: E402
from run_e2e import read_log  # noqa: E402
from scenarios import FIRST_STORE, HKLM, MANAGER, OUTLOOK_PATH, SECOND_STORE  # noqa: E402
from wine import Prefix, why_no_32_bit  # noqa: E402


def accounts(count):
    """count accounts, half in each store; every other one hosted (alternating domains of the list)."""
    keys = {HKLM + MANAGER: {"Outlook": Sz(OUTLOOK_PATH)}}
    for i in range(count):
        store = FIRST_STORE if i < count // 2 else SECOND_STORE
        domain = ("naricantec.es", "VALELANGRUPO.COM", "brenandetofene.com")[i % 3] if i % 2 == 0 else "example.com"
        keys[f"{store}\\{i:08d}"] = {"Account Name": Sz(f"Cuenta {i}"), "SMTP Email Address": Sz(f"u{i}@{domain}"),
                                     "POP3 Server": Sz("pop.old.net"), "POP3 User Name": Sz(f"u{i}"),
                                     "SMTP Server": Sz("smtp.old.net")}
    return keys


def timed_runs(template, work, name, helper, program, program_args=(), registry=None, views=("64",), repeat=3):
    """Milliseconds from start to exit of each run, each in a fresh prefix whose registry views are given the
    registry; and the boxes of the last run."""
    times = []
    for run in range(repeat):
        prefix = Prefix.clone(template, os.path.join(work, f"bench-{name}"))
        prefix.helper = helper
        with prefix:
            if registry:
                prefix.import_registry(regfiles.regfile(registry), views)
            log = os.path.join(prefix.path, "boxes.log")
            if prefix.run_answering(program, "yes", log, program_args=program_args, timeout=1200) != 0:
                raise SystemExit(f"{name}: the run failed; see {log}")
        _, boxes, _, elapsed = read_log(log)
        times.append(elapsed)
    return times, boxes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32", required=True, help="the i686 build directory")
    parser.add_argument("--win64", required=True, help="the x86-64 build directory")
    parser.add_argument("--accounts", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=3, help="timed runs of each executable")
    args = parser.parse_args()
    if args.runs < 1 or args.accounts < 1:
        parser.error("--runs and --accounts must be 1 or more")

    release = os.path.join(args.win32, "VireskaCorreo.exe")
    pe = pefile.PE(release)
    print(f"== i686 release: {release}")
    print(f"   size     {os.path.getsize(release):,} bytes")
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        names = ", ".join(i.name.decode() for i in entry.imports)
        print(f"   imports  {entry.dll.decode():<13} {names}")

    work = os.path.join(args.win64, "e2e")
    template = os.path.join(work, "template")
    Prefix.create_template(template)
    helper = os.path.join(args.win64, "tests", "e2e", "box_answerer.exe")
    # The 32-bit release, the file customers get, and the x86-64 build, each beside a baseline for its machine.
    pairs = [("the 32-bit release", args.win32, ("64", "32")), ("the x86-64 build", args.win64, ("64",))]
    reason = why_no_32_bit()
    if reason:
        print(f"\n== the 32-bit release is not timed: {reason}")
        pairs = pairs[1:]

    def spread(times):
        return f"min {min(times):,.0f}  median {statistics.median(times):,.0f}  max {max(times):,.0f} ms"

    for title, build, views in pairs:
        program_exe = os.path.join(build, "VireskaCorreo.exe")
        baseline_exe = os.path.join(build, "tests", "boxes_only.exe")
        program_times, boxes = timed_runs(template, work, "program", helper, program_exe, views=views,
                                          registry=accounts(args.accounts), repeat=args.runs)
        hosted = sum(1 for b in boxes if b[1].startswith("Se ha actualizado"))
        baseline_times, baseline_boxes = timed_runs(template, work, "baseline", helper, baseline_exe,
                                                    program_args=[str(len(boxes))], repeat=args.runs)
        program, baseline = statistics.median(program_times), statistics.median(baseline_times)
        print(f"\n== {title} under Wine, {args.runs} runs each, each in a fresh prefix "
              "(the helper answers every box as it appears)")
        print(f"   {program_exe}")
        print(f"      {args.accounts} accounts, {hosted} hosted, {len(boxes)} boxes: {spread(program_times)} "
              f"({program / len(boxes):.1f} ms a box)")
        print(f"   {baseline_exe} (the baseline: the same boxes and manifest, nothing else)")
        print(f"      {len(baseline_boxes)} boxes: {spread(baseline_times)} "
              f"({baseline / len(baseline_boxes):.1f} ms a box)")
        print(f"   median ratio {program / baseline:.2f}: the program's own work (registry reads and writes) adds "
              f"{program - baseline:,.0f} ms, {(program - baseline) / args.accounts:.2f} ms an account", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
