#!/usr/bin/env python3
# The end-to-end driver: runs VireskaCorreo.exe, the 32-bit release or the x86-64 build, under Wine on the registry
# of each scenario, with the helper answering its boxes, and compares the boxes shown and every value changed with
# what must happen.
# Run it under an X display (xvfb-run -a). Exit code 0 if all pass, 1 on a failure, 77 when skipped. With
# --vm-results, where vm.py ran the 32-bit scenarios in a virtual machine, it gives the result recorded there.
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import regfiles  # noqa: E402
import scenarios  # noqa: E402
from wine import RETRIED, Prefix, why_no_32_bit  # noqa: E402

SKIPPED = 77
MARKER_DLL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "marker_dll.c")
# A copy of the program that cannot find SetDefaultDllDirectories, as on Windows XP, or Vista and 7 without
# KB2533623: the name it asks KERNEL32 for, changed.
OLDER_WINDOWS = (b"SetDefaultDllDirectories\0", b"SetDefaultDllDirectorieZ\0")
# A copy of the program that shows something else, for the control that a run looks at the very file it is given:
# its closing notice, in capitals.
SHOWS_OTHERWISE = (b"Proceso finalizado.", b"Proceso FINALIZADO.")


def downloads_folder(prefix, exe, older_windows, i686, problems, marker=None):
    """The program copied into a Downloads folder of the prefix, beside a uxtheme.dll built from MARKER_DLL for
    its machine, which Wine is told to prefer to its own. On older Windows, the system directory's dwmapi.dll is
    such a marker too, preferred to Wine's own, which under Wine nothing but the program's preloading loads.
    Returns the program's path and {marker file: whether each run must write it}."""
    def marker_dll(path):
        if marker:  # built beforehand for the program's machine (where no compiler is at hand)
            shutil.copy(marker, path)
        else:
            compiler = ("i686" if i686 else "x86_64") + "-w64-mingw32-gcc"
            subprocess.run([compiler, "-shared", "-s", "-Wall", "-Wextra", "-Werror", "-o", path, MARKER_DLL],
                           check=True)
        return path + ".ran"

    folder = os.path.join(prefix.path, "Descargas")
    os.makedirs(folder)
    markers = {marker_dll(os.path.join(folder, "uxtheme.dll")): False}
    prefix.env["WINEDLLOVERRIDES"] += ";uxtheme=n,b"
    with open(exe, "rb") as original:
        data = original.read()
    if older_windows:
        if data.count(OLDER_WINDOWS[0]) != 1:
            problems.append("the program does not ask for SetDefaultDllDirectories by name, once")
        data = data.replace(*OLDER_WINDOWS)
        system = os.path.join(prefix.path, "drive_c", "windows", "syswow64" if i686 else "system32", "dwmapi.dll")
        os.unlink(system)  # a hard link to the template's copy
        markers[marker_dll(system)] = True
        prefix.env["WINEDLLOVERRIDES"] += ";dwmapi=n,b"
    program = os.path.join(folder, "VireskaCorreo.exe")
    with open(program, "wb") as copy:
        copy.write(data)
    return program, markers


def read_log(path):
    """(descriptions {code: text}, boxes [(caption, text, buttons, icon, owner, button labels)], exit code or
    None, milliseconds from the program's start to its end or None)."""
    def unescape(field):
        return field.replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t").replace("\\\\", "\\")

    descriptions, boxes, exit_code, elapsed = {}, [], None, None
    if not os.path.exists(path):
        return descriptions, boxes, exit_code, elapsed
    with open(path, encoding="utf-8") as log:
        for line in log.read().splitlines():
            fields = [unescape(f) for f in line.split("\t")]
            if fields[0] == "describe":
                descriptions[int(fields[1])] = fields[2]
            elif fields[0] == "box":
                boxes.append(tuple(fields[1:]))
            elif fields[0] == "exit":
                exit_code = int(fields[1])
            elif fields[0] == "elapsed":
                elapsed = float(fields[1])
    return descriptions, boxes, exit_code, elapsed


def as_shown(box, descriptions):
    """An expected box (caption, text, buttons, icon) as the helper reads it: an error code in place of the text
    stands for the system's description of it, from descriptions {code: text}."""
    caption, text, buttons, icon = box
    if isinstance(text, int):
        text = descriptions.get(text, f"<description of {text}>")
    return caption, text, buttons, icon


def describe_changes(before, after):
    """{(key, value name): value after} for every value added, changed or removed (None) by a run."""
    return {k: after.get(k) for k in set(before) | set(after) if before.get(k) != after.get(k)}


def short(value, limit=90):
    text = repr(value)
    return text if len(text) <= limit else text[:limit] + f"... ({len(text)} chars)"


def loaded_into(marker):
    """The programs (file names) a marker DLL was loaded into, one per load, from the file it writes."""
    if not os.path.exists(marker):
        return []
    return [host.split("\\")[-1] for host in open(marker, encoding="utf-16-le").read().splitlines()]


def control_run(prefix, control, markers, problems):
    """The planted DLL's positive control: a program without the start-up protection (the benchmark's baseline,
    for the same machine), run from the same Downloads folder, must load the planted uxtheme.dll; if it does not,
    Wine never loads a DLL of that name from the program's folder, and the scenario proves nothing."""
    planted = next(marker for marker, wanted in markers.items() if not wanted)
    program = os.path.join(os.path.dirname(planted), os.path.basename(control))
    shutil.copy(control, program)
    if os.path.exists(planted):
        os.unlink(planted)
    log = os.path.join(prefix.path, "boxes-control.log")
    status = prefix.run_answering(program, "yes", log, program_args=("1",))
    hosts = loaded_into(planted)
    if status != 0 or os.path.basename(program) not in hosts:
        problems.append(f"control: {os.path.basename(program)}, without the program's protection, did not load the "
                        f"planted uxtheme.dll from the same folder (helper status {status}, loaded into "
                        f"{sorted(set(hosts))}), so the scenario cannot show that the program refuses it")


def run_scenario(scenario, template, work, exe, helper, i686=False, control=None, marker=None, shows_otherwise=False):
    """Runs one scenario in a fresh clone of the template; returns the list of differences found."""
    problems = []
    prefix = Prefix.clone(template, os.path.join(work, scenario.name), scenario.locale)
    if shows_otherwise:
        with open(exe, "rb") as original:
            data = original.read()
        if data.count(SHOWS_OTHERWISE[0]) != 1:
            return ["the program does not hold %r once" % SHOWS_OTHERWISE[0]]
        exe = os.path.join(prefix.path, "shows-otherwise.exe")
        with open(exe, "wb") as copy:
            copy.write(data.replace(*SHOWS_OTHERWISE))
    prefix.helper = helper
    codes = sorted({box[1] for _, boxes, _ in scenario.expected_runs() for box in boxes if isinstance(box[1], int)})
    registry = scenario.registry()
    markers = {}
    if scenario.downloads:
        exe, markers = downloads_folder(prefix, exe, scenario.downloads == "older windows", i686, problems, marker)
    with prefix:
        if registry:
            prefix.import_registry(regfiles.regfile(registry), views=("64", "32") if i686 else ("64",))
        unterminated = {(key.split("\\", 1)[1], name): value for key, values in registry.items()
                        for name, value in values.items() if isinstance(value, regfiles.Unterminated)}
        prefix.store_unterminated(unterminated)
        before = prefix.export_registry()
        for (key, name), value in unterminated.items():
            # Wine's export drops the last character of a string stored without its terminator.
            if before.get(("HKEY_CURRENT_USER\\" + key, name)) not in (("sz", value[:-1]),
                                                                    ("hex(1)", value.encode("utf-16-le"))):
                problems.append(f"{key} \"{name}\" was not stored unterminated")
        imported = {(k, n) for k, values in registry.items() for n in values}
        if not imported <= set(before):
            problems.append(f"import lost values: {sorted(imported - set(before))}")
        for number, (answer, expected_boxes, expected_changes) in enumerate(scenario.expected_runs(), 1):
            run = f"run {number} ({answer})"
            log = os.path.join(prefix.path, f"boxes-{number}.log")
            for marker in markers:
                if os.path.exists(marker):
                    os.unlink(marker)
            status = prefix.run_answering(exe, answer, log, describe=codes)
            descriptions, boxes, exit_code, _ = read_log(log)
            if RETRIED in prefix.last_output:
                print(f"note  {scenario.name}, {run}: the helper was started again; Wine first said "
                      f"{short(prefix.last_output.split(RETRIED)[0].strip()[-600:], 640)}")
            if status != 0 or exit_code != 0:
                problems.append(f"{run}: helper status {status}, program exit code {exit_code}; Wine said: "
                                f"{short(prefix.last_output.strip()[-600:] or 'nothing', 640)}")
            for marker, wanted in markers.items():
                hosts = loaded_into(marker)
                dll = os.path.basename(marker)[:-len(".ran")]
                if wanted and os.path.basename(exe) not in hosts:
                    problems.append(f"{run}: the system's {dll} was not preloaded by the program (loaded into "
                                    f"{sorted(set(hosts))})")
                elif hosts and not wanted:
                    problems.append(f"{run}: the planted {dll} was loaded {len(hosts)} times, into "
                                    f"{sorted(set(hosts))}")
            # An error box's body is the system's description of its code: the scenario's own text of it, or
            # what the helper was told by the system.
            descriptions.update(scenario.descriptions)
            expected_boxes = [(*as_shown(box, descriptions), "noowner") for box in expected_boxes]
            for index in range(max(len(boxes), len(expected_boxes))):
                got = boxes[index][:5] if index < len(boxes) else None
                want = expected_boxes[index] if index < len(expected_boxes) else None
                if got != want:
                    problems.append(f"{run}: box {index + 1}: got {short(got)}, want {short(want)}")
                    break
            if len(boxes) != len(expected_boxes):
                problems.append(f"{run}: {len(boxes)} boxes, want {len(expected_boxes)}")
            after = prefix.export_registry()
            changes = describe_changes(before, after)
            for key in sorted(set(changes) | set(expected_changes)):
                if changes.get(key, before.get(key)) != expected_changes.get(key, before.get(key)):
                    problems.append(f"{run}: {key[0]} \"{key[1]}\": was {short(before.get(key))}, "
                                    f"became {short(after.get(key))}, want {short(expected_changes.get(key))}")
            before = after
        if scenario.downloads:
            if control:
                control_run(prefix, control, markers, problems)
            else:
                problems.append("no --control program to show that the planted uxtheme.dll is loaded at all")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--template", required=True, help="template prefix directory (created if missing)")
    parser.add_argument("--work", help="directory for the throwaway prefixes")
    parser.add_argument("--exe", help="the VireskaCorreo.exe to test")
    parser.add_argument("--helper", help="box_answerer.exe")
    parser.add_argument("--scenario", action="append", help="scenario name (default: all)")
    parser.add_argument("--i686", action="store_true", help="the executable is the 32-bit release")
    parser.add_argument("--control", help="a program of the same machine without the start-up protection, which "
                                          "must load a planted DLL (boxes_only.exe)")
    parser.add_argument("--list", action="store_true", help="print the scenario names")
    parser.add_argument("--prepare", action="store_true", help="only create the template prefix")
    parser.add_argument("--marker-dll", help="the marker DLL for the program's machine, built beforehand")
    parser.add_argument("--shows-otherwise", action="store_true",
                        help="the control: a copy of the program whose closing notice is in capitals must fail")
    parser.add_argument("--vm-results", help="where vm.py left the results of the 32-bit scenarios")
    args = parser.parse_args()

    if args.list:
        print(";".join(s.name for s in scenarios.SCENARIOS), end="")
        return 0
    if args.i686 and args.vm_results and read_file(os.path.join(args.vm_results, "mode")) == "vm":
        return replay(args.vm_results, args.scenario, args.shows_otherwise)
    Prefix.create_template(args.template)
    if args.prepare:
        return 0
    chosen = [s for s in scenarios.SCENARIOS if not args.scenario or s.name in args.scenario]
    if args.scenario and len(chosen) != len(args.scenario):
        print(f"unknown scenario among {args.scenario}", file=sys.stderr)
        return 1
    reason = args.i686 and why_no_32_bit()
    if reason:
        print(f"SKIPPED: {reason}; the 32-bit release is checked statically only")
        return SKIPPED
    if not os.path.isfile(args.exe):
        print(f"no program at {args.exe}", file=sys.stderr)
        return 1
    failed = 0
    for scenario in chosen:
        problems = run_scenario(scenario, args.template, args.work, args.exe, args.helper, args.i686, args.control,
                                args.marker_dll, args.shows_otherwise)
        if args.shows_otherwise:
            # The control passes when the run failed on the closing notice, shown otherwise, and on nothing else.
            wanted = [p for p in problems if SHOWS_OTHERWISE[1].decode() in p]
            print(f"{'ok' if wanted and len(problems) == len(wanted) else 'FAIL'}  {scenario.name}, a copy showing "
                  f"{SHOWS_OTHERWISE[1].decode()!r}: " + ("; ".join(problems) or "it passed, so the run does not look "
                                                           "at the file it is given"))
            failed += not wanted or len(problems) != len(wanted)
            continue
        print(f"{'FAIL' if problems else 'ok'}  {scenario.name}")
        for problem in problems:
            print(f"      {problem}")
        failed += bool(problems)
    return 1 if failed else 0


def read_file(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as text:
            return text.read().strip()
    except OSError:
        return None


def replay(results, names, shows_otherwise):
    """The result that vm.py recorded for the scenario run in the virtual machine: its output and exit code. A run
    skipped there fails here: that machine runs 32-bit programs."""
    name = (names or ["?"])[0] + ("-shows-otherwise" if shows_otherwise else "")
    skip, failure = read_file(os.path.join(results, "skip")), read_file(os.path.join(results, "vm-failure"))
    if skip:
        print(f"SKIPPED: {skip}; the 32-bit release is checked statically only")
        return SKIPPED
    code, output = read_file(os.path.join(results, name + ".code")), read_file(os.path.join(results, name + ".log"))
    if failure or code is None:
        print(f"FAIL  {name}: no result from the virtual machine: {failure or 'it did not run this scenario'}")
        return 1
    print(f"(run in the virtual machine; its output:)\n{output}")
    if code == str(SKIPPED):
        print(f"FAIL  {name}: skipped in the virtual machine, which is there to run it")
        return 1
    return int(code) if code.isdigit() else 1


if __name__ == "__main__":
    sys.exit(main())
