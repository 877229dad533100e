#!/usr/bin/env bash
# The project's test command: installs the Debian packages the build and tests need, builds every preset and
# runs all tests through ctest. Run it from anywhere; it works in the checkout it belongs to.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" "${WINE_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

presets=(native native-asan fuzz win32 win64)
for preset in "${presets[@]}"; do
    echo "== configure and build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# Unit tests on the host, plainly and under AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz target
# over its seed corpus and a bounded run of new inputs; the static check of each Windows executable in its
# own build; the end-to-end runs under Wine in the x86-64 build (and of the i686 release, where this
# machine's Wine runs 32-bit programs).
for preset in "${presets[@]}"; do
    echo "== tests: $preset"
    ctest --preset "$preset"
done
