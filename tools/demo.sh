#!/usr/bin/env bash
# Shows the program at work: installs what it needs, builds the 32-bit release (the file customers get) and the
# x86-64 build, runs the release under Wine (the x86-64 build where Wine cannot run 32-bit programs) on a Spanish
# system and a throwaway registry with sample accounts, answers Yes, and prints the boxes and the values before
# and after. The screenshots of the boxes go to build/demo/, with those of docs/ among them.
. "$(dirname "$(readlink -f "$0")")/common.sh"
ensure_packages --spanish-locale "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

echo "== building the 32-bit release, the x86-64 executable and the box-answering helper"
for preset in win32 win64; do
    logged "build/demo-$preset.log" cmake --preset "$preset"
    logged "build/demo-$preset.log" cmake --build --preset "$preset"
done
xvfb-run -a python3 tools/demo.py --release build/win32/VireskaCorreo.exe --build build/win64 --out build/demo
