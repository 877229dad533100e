#!/usr/bin/env python3
# The results of tools/test.sh, from ctest's JUnit files: a line per preset, one that adds them up, and why tests
# did not pass: each reason a test gave for skipping itself, and each reason ctest gave for not running one.
#
#   ctest_results.py PRESET:JUNIT_FILE:CTEST_EXIT_CODE:SECONDS ... [--broken PRESET ...]
#
# A test skips itself (SKIP_RETURN_CODE or SKIP_REGULAR_EXPRESSION) after printing "SKIPPED: <reason>"; any other
# test that ctest did not run (a fixture that failed, an executable that is missing) is "not run", and fails the
# whole. The tests that failed are named last. Exit code 0 only when every preset built and no test failed or went
# unrun.
import collections
import sys
import xml.etree.ElementTree as ElementTree

SELF_SKIPPED = ("SKIP_RETURN_CODE=", "SKIP_REGULAR_EXPRESSION_MATCHED")


def read_junit(path):
    """[(name, status, reason)]: status passed, failed, skipped or not run; reason for the last two."""
    tests = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        name, status = case.get("name"), case.get("status")
        output = case.findtext("system-out") or ""
        if status == "run":
            tests.append((name, "passed", None))
        elif status == "fail":
            tests.append((name, "failed", None))
        elif status == "disabled":
            tests.append((name, "skipped", "disabled in CMake"))
        else:
            message = case.find("skipped").get("message", "") if case.find("skipped") is not None else ""
            if message.startswith(SELF_SKIPPED):
                said = [line.strip()[len("SKIPPED:"):].strip() for line in output.splitlines()
                        if line.strip().startswith("SKIPPED:")]
                tests.append((name, "skipped", said[0] if said else f"no reason given ({message})"))
            else:
                tests.append((name, "not run", message or output.strip() or "ctest gave no reason"))
    return tests


def main(argv):
    unbuilt, runs = [], []
    arguments = iter(argv)
    for argument in arguments:
        if argument == "--broken":
            unbuilt.append(next(arguments))
        else:
            preset, rest = argument.split(":", 1)
            path, code, seconds = rest.rsplit(":", 2)
            runs.append((preset, path, int(code), int(seconds)))
    lines, totals, reasons, broken, failed = [], collections.Counter(), collections.OrderedDict(), [], []
    for preset, path, code, seconds in runs:
        try:
            tests = read_junit(path)
        except (OSError, ElementTree.ParseError):
            tests = []
        if not tests:
            lines.append("%-12s no test results, ctest exit code %d (see above)" % (preset, code))
            broken.append(preset)
            continue
        counts = collections.Counter(status for _, status, _ in tests)
        line = "%-12s %3d passed, %d failed, %d skipped" % (preset, counts["passed"], counts["failed"],
                                                          counts["skipped"])
        if counts["not run"]:
            line += ", %d not run" % counts["not run"]
        lines.append(line + " (%d s)" % seconds)
        totals.update(counts)
        for name, status, reason in tests:
            if reason:
                reasons.setdefault((status, reason), []).append(name)
            elif status == "failed":
                failed.append("%s (%s)" % (name, preset))
    lines += ["%-12s did not build (see above)" % preset for preset in unbuilt]
    broken += unbuilt
    verdict = "%d passed, %d failed, %d skipped" % (totals["passed"], totals["failed"], totals["skipped"])
    if totals["not run"]:
        verdict += ", %d not run" % totals["not run"]
    if broken:
        verdict += "; no results from " + " ".join(broken)
    print("\n== results")
    print("\n".join(lines))
    print(verdict)
    for (status, reason), names in reasons.items():
        # A test that skips itself says why; one that ctest did not run is named, with ctest's reason.
        print("%d %s: %s" % (len(names), status, reason) + (" (%s)" % ", ".join(names) if status == "not run" else ""))
    if failed:
        print("%d failed: %s" % (len(failed), ", ".join(failed)))
    return 0 if not broken and not totals["failed"] and not totals["not run"] else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
