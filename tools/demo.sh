#!/usr/bin/env bash
# Shows the program at work: installs what it needs, builds the x86-64 executable, runs it under Wine on a
# Spanish system and a throwaway registry with sample accounts, answers Yes, and prints the boxes and the values
# before and after. The screenshots of the boxes go to build/demo/, with those of docs/ among them.
. "$(dirname "$(readlink -f "$0")")/common.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"
ensure_spanish_locale

echo "== building the x86-64 executable and the box-answering helper"
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
echo "== running it under Wine"
xvfb-run -a python3 tools/demo.py --build build/win64 --out build/demo
