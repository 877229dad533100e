#!/usr/bin/env bash
# The project's test command: installs the Debian packages the build and tests need, builds every preset (or the
# ones named: tools/test.sh [PRESET...]), runs all their tests through ctest and ends with a line per preset and
# one that adds them up. Run it from anywhere, also through a symbolic link; it works in its own checkout.
. "$(dirname "$(readlink -f "$0")")/common.sh"

# The configure presets of CMakePresets.json, in its order (read without cmake, which may not be installed yet).
mapfile -t all < <(sed -n '/"configurePresets"/,/"buildPresets"/s/^ *"name": *"\([^"]*\)".*/\1/p' CMakePresets.json)
if [ ${#all[@]} -eq 0 ]; then
    echo "tools/test.sh: no configure presets in $PWD/CMakePresets.json" >&2
    exit 2
fi
presets=("$@")
[ $# -gt 0 ] || presets=("${all[@]}")
for preset in "${presets[@]}"; do
    case " ${all[*]} " in
    *" $preset "*) ;;
    *) echo "usage: tools/test.sh [PRESET...]   (presets: ${all[*]}; all of them by default)" >&2
       echo "unknown preset: $preset" >&2
       exit 2 ;;
    esac
done

ensure_packages --spanish-locale "${EVERY_PACKAGE[@]}"
ensure_vm

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
runs=() broken=()
for preset in "${presets[@]}"; do
    echo "== configure and build: $preset"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
        broken+=(--broken "$preset")
    fi
done

# Unit tests on the host, plainly and under AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz target
# over its seed corpus and a bounded run of new inputs; the static check of each Windows executable in its
# own build, and the release in the i686 one; the end-to-end runs under Wine in the x86-64 build (and of the
# i686 release, where this machine's Wine runs 32-bit programs). ctest_results.py reads each run's JUnit file.
for preset in "${presets[@]}"; do
    [[ " ${broken[*]} " != *" $preset "* ]] || continue
    echo "== tests: $preset"
    start=$SECONDS
    status=0
    ctest --preset "$preset" --output-junit "$results/$preset.xml" || status=$?
    runs+=("$preset:$results/$preset.xml:$status:$((SECONDS - start))")
done
python3 tools/ctest_results.py "${runs[@]}" "${broken[@]}"
