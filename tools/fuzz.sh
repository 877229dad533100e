#!/usr/bin/env bash
# Runs the registry fuzzer for longer than the bounded run of tools/test.sh: tools/fuzz.sh [SECONDS] [JOBS]
# (default 600 s, one job). New inputs go to build/fuzz/found and are kept for the next run; a failing input is
# saved as build/fuzz/crash-<hash> (or leak-, timeout-, oom-). The last line says which, with the command that
# replays a failing input. Once the fault is fixed, add the input to tests/fuzz/corpus/ under a name that says
# what it covers.
. "$(dirname "$(readlink -f "$0")")/common.sh"

usage="usage: tools/fuzz.sh [SECONDS] [JOBS]   (whole numbers from 1; default 600 seconds, 1 job)"
positive='^[1-9][0-9]{0,6}$'
if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
    echo "$usage"
    exit 0
fi
if [ $# -gt 2 ] || ! [[ ${1:-600} =~ $positive ]] || ! [[ ${2:-1} =~ $positive ]]; then
    echo "$usage" >&2
    exit 2
fi
seconds=${1:-600}
jobs=${2:-1}

ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
logged build/fuzz-build.log cmake --preset fuzz
logged build/fuzz-build.log cmake --build --preset fuzz

out=$PWD/build/fuzz
fuzzer=$out/tests/fuzz/registry_fuzzer
log=$out/fuzz.log
mkdir -p "$out/found"
args=(-max_total_time="$seconds" -max_len=2048 -print_final_stats=1 -artifact_prefix="$out/")
if [ "$jobs" -gt 1 ]; then
    args+=(-fork="$jobs")
fi
start=${EPOCHREALTIME/[.,]/}  # microseconds
set +e
"$fuzzer" "${args[@]}" "$out/found" tests/fuzz/corpus 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
elapsed=$(( (${EPOCHREALTIME/[.,]/} - start + 500000) / 1000000 ))

# libFuzzer names the input it saved; the runs are in its final statistics, or in its last progress line when
# it forks.
saved=$(sed -n 's/.*Test unit written to \([^ ]*\).*/\1/p' "$log" | tail -n 1)
runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
[ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\)[: ].*/\1/p' "$log" | tail -n 1)
echo
if [ -n "$saved" ]; then
    echo "broken rule: the input is saved as $saved; replay it with: $fuzzer $saved"
    exit 1
elif [ "$status" -ne 0 ]; then
    echo "the fuzzer stopped with exit code $status and saved no input; its output is in $log"
    exit 1
fi
echo "no broken rule in ${runs:-?} runs ($elapsed s)"
