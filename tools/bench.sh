#!/usr/bin/env bash
# Prints benchmark figures for the current build (not a pass/fail test): the i686 release's size and imports,
# and the time under Wine of 1,000 accounts, half hosted, beside a program that only shows as many boxes.
if [ -z "${BASH_VERSION:-}" ]; then  # started with sh: run again with bash
    command -v bash >/dev/null 2>&1 && exec bash "$0" "$@"
    echo "$0 needs bash" >&2
    exit 2
fi
set -euo pipefail
cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
xvfb-run -a /usr/bin/python3 tools/bench.py --win32 build/win32 --win64 build/win64 "$@"
