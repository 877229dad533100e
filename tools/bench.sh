#!/usr/bin/env bash
# Prints benchmark figures for the current build (not a pass/fail test): the i686 release's size and imports,
# and the time under Wine of 1,000 accounts, half hosted, beside a program that only shows as many boxes, for the
# 32-bit release (where Wine runs 32-bit programs) and the x86-64 build.
. "$(dirname "$(readlink -f "$0")")/common.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

for preset in win32 win64; do
    logged "build/bench-$preset.log" cmake --preset "$preset"
    logged "build/bench-$preset.log" cmake --build --preset "$preset"
done
xvfb-run -a /usr/bin/python3 tools/bench.py --win32 build/win32 --win64 build/win64 "$@"
