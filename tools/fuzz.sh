#!/usr/bin/env bash
# Runs the registry fuzzer for longer than the bounded run of tools/test.sh: tools/fuzz.sh [SECONDS] [JOBS]
# (default 600 s, one job). New inputs go to build/fuzz/found; a failing input is saved as
# build/fuzz/crash-<hash>: replay it with build/fuzz/tests/fuzz/registry_fuzzer FILE, and once the fault is
# fixed, add it to tests/fuzz/corpus/ under a name that says what it covers.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
seconds=${1:-600}
jobs=${2:-1}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
mkdir -p build/fuzz/found
fuzzer=build/fuzz/tests/fuzz/registry_fuzzer
args=(-max_total_time="$seconds" -max_len=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/)
if [ "$jobs" -gt 1 ]; then
    args+=(-fork="$jobs")
fi
"$fuzzer" "${args[@]}" build/fuzz/found tests/fuzz/corpus
