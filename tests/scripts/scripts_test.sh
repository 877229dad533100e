#!/usr/bin/env bash
# Test of the tools' scripts where it is cheap: each is called through a symbolic link from another directory,
# with bash and with sh, and must refuse bad arguments with its usage line and exit code 2 before doing anything.
# tests/scripts/scripts_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(readlink -f "$1")
links=$(mktemp -d)
trap 'rm -rf "$links"' EXIT
for script in test fuzz release fresh_machine; do
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
    "bash|fresh_machine-link.sh|2|usage: tools/fresh_machine.sh"
    "bash|fresh_machine-link.sh sid|2|unknown release: sid"
    "bash|fresh_machine-link.sh --bogus trixie|2|usage: tools/fresh_machine.sh"
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

# The results of tools/test.sh, read from the JUnit files of a small CTest project: a test that skips itself is
# counted with its reason, one that ctest did not run is named with ctest's reason and fails the run.
project=$links/ctest-project
mkdir "$project"
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(results NONE)
enable_testing()
add_test(NAME passes COMMAND true)
foreach(name IN ITEMS skips_first skips_second)
    add_test(NAME ${name} COMMAND sh -c "echo 'SKIPPED: there is no 32-bit Wine (because; said so)'; exit 77")
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endforeach()
add_test(NAME fixture_fails COMMAND false)
set_tests_properties(fixture_fails PROPERTIES FIXTURES_SETUP broken)
add_test(NAME needs_fixture COMMAND true)
set_tests_properties(needs_fixture PROPERTIES FIXTURES_REQUIRED broken)
add_test(NAME no_executable COMMAND /nonexistent/program)
EOF
cmake -S "$project" -B "$project/build" -G Ninja >/dev/null
(cd "$project/build" && ctest -R 'passes|skips' --output-junit "$project/good.xml" >/dev/null
                        ctest --output-junit "$project/all.xml" >/dev/null 2>&1)
# results arguments | exit code | texts the output must hold, separated by ";;"
results_cases=(
    "good:$project/good.xml:0:3|0|good           1 passed, 0 failed, 2 skipped (3 s);;2 skipped: there is no 32-bit Wine (because; said so)"
    "all:$project/all.xml:8:1|1|1 passed, 1 failed, 2 skipped, 2 not run;;1 not run: Fixture dependency failed (needs_fixture);;1 not run: Unable to find executable (no_executable)"
    "good:$project/good.xml:0:3 --broken win64|1|win64        did not build;;1 passed, 0 failed, 2 skipped; no results from win64"
    "gone:$project/missing.xml:8:0|1|gone         no test results, ctest exit code 8"
)
for case in "${results_cases[@]}"; do
    IFS='|' read -r arguments code texts <<<"$case"
    read -ra words <<<"$arguments"
    output=$(python3 "$source_dir/tools/ctest_results.py" "${words[@]}" 2>&1)
    status=$?
    missing=()
    while IFS= read -r text; do
        [[ $output == *"$text"* ]] || missing+=("\"$text\"")
    done < <(sed 's/;;/\n/g' <<<"$texts")
    if [ "$status" -ne "$code" ] || [ ${#missing[@]} -gt 0 ]; then
        echo "FAIL: ctest_results.py $arguments: exit $status, want $code; missing ${missing[*]}; output:"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: ctest_results.py $arguments: exit $status"
    fi
done
[ "$failures" -eq 0 ]

