#!/usr/bin/env bash
# The project's test command: installs the Debian packages the build needs, builds every preset and runs
# all tests through ctest. Run it from anywhere; it works in the checkout it belongs to.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The build and unit tests; the static check of the executables; 64-bit Wine in a virtual X server, with the
# fonts and X libraries its message boxes are drawn with, for the end-to-end tests.
packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3 python3-pefile
          wine wine64 fonts-wine xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
          libxinerama1 libxfixes3)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        echo "== installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "missing packages; run as root:" >&2
        echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
fi

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
