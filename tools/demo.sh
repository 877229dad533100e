#!/usr/bin/env bash
# Shows the program at work: installs what it needs, builds the x86-64 executable, runs it under Wine on a
# throwaway registry with sample accounts, answers Yes, and prints the boxes and the values before and after.
# The screenshots of the boxes go to build/demo/.
if [ -z "${BASH_VERSION:-}" ]; then  # started with sh: run again with bash
    command -v bash >/dev/null 2>&1 && exec bash "$0" "$@"
    echo "$0 needs bash" >&2
    exit 2
fi
set -euo pipefail
cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

echo "== building the x86-64 executable and the box-answering helper"
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
echo "== running it under Wine"
xvfb-run -a python3 tools/demo.py --build build/win64 --out build/demo
