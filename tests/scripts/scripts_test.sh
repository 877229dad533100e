#!/usr/bin/env bash
# Test of the tools' scripts where it is cheap: each is called through a symbolic link from another directory,
# with bash and with sh, and must refuse bad arguments with its usage line and exit code 2 before doing anything.
# tests/scripts/scripts_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(readlink -f "$1")
links=$(mktemp -d)
trap 'rm -rf "$links"' EXIT
for script in test fuzz release; do
    ln -s "$source_dir/tools/$script.sh" "$links/$script-link.sh"
done
# A PATH with the tools the scripts' first line needs, and no bash.
no_bash=$links/no-bash
mkdir "$no_bash"
ln -s "$(command -v readlink)" "$(command -v dirname)" "$no_bash/"
# The presets test.sh must name: those CMake lists for the checkout.
presets=$(cd "$source_dir" && cmake --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p' | paste -sd ' ')

failures=0
# shell (sh-without-bash: sh where no bash can be found) | script and arguments | exit code | text the output
# must hold
cases=(
    "sh-without-bash|test-link.sh|2|test-link.sh needs bash"
    "bash|test-link.sh bogus|2|unknown preset: bogus"
    "bash|test-link.sh native bogus|2|(presets: $presets; all of them by default)"
    "sh|test-link.sh bogus|2|usage: tools/test.sh [PRESET...]"
    "bash|fuzz-link.sh abc|2|usage: tools/fuzz.sh [SECONDS] [JOBS]"
    "bash|fuzz-link.sh 0|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 0|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 two|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh -30|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 1.5|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 1 extra|2|usage: tools/fuzz.sh"
    "sh|fuzz-link.sh abc|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh --help|0|usage: tools/fuzz.sh"
    "bash|release-link.sh --bogus x|2|usage: tools/release.sh"
    "sh|release-link.sh --sign|2|usage: tools/release.sh"
)
for case in "${cases[@]}"; do
    IFS='|' read -r shell command code text <<<"$case"
    read -ra words <<<"$command"
    run=("$shell")
    [ "$shell" != sh-without-bash ] || run=(env PATH="$no_bash" /bin/sh)
    output=$(cd / && "${run[@]}" "$links/${words[0]}" "${words[@]:1}" 2>&1)
    status=$?
    if [ "$status" -ne "$code" ] || [[ $output != *"$text"* ]]; then
        echo "FAIL: $shell $command: exit $status, want $code with \"$text\"; output:"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $shell $command: exit $status"
    fi
done
[ "$failures" -eq 0 ]
