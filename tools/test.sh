#!/usr/bin/env bash
# The project's test command: installs the Debian packages the build and tests need, builds every preset and
# runs all tests through ctest. Run it from anywhere; it works in the checkout it belongs to.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

for preset in native win32 win64; do
    echo "== configure and build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# Unit tests on the host; the static check of each Windows executable in its own build; the end-to-end runs
# under Wine in the x86-64 build (and of the i686 release, where this machine's Wine runs 32-bit programs).
for preset in native win32 win64; do
    echo "== tests: $preset"
    ctest --preset "$preset"
done
