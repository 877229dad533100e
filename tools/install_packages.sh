#!/usr/bin/env bash
# Installs, as root, all that tools/demo.sh, tools/test.sh and tools/release.sh need: the Debian packages, the
# Spanish locale and, where apt can, the 32-bit Wine. Run it once on a new machine, in a root shell or after sudo
# (the other scripts, run as yourself, name it when something is missing); it installs only what is missing, and
# may be run again at any time: it then also tries the 32-bit Wine again, where it failed before.
. "$(dirname "$(readlink -f "$0")")/common.sh"
if [ $# -gt 0 ]; then
    echo "usage: tools/install_packages.sh   (as root, in a root shell or after sudo; no arguments)" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "tools/install_packages.sh installs Debian packages, so it runs as root: in a root shell, or after sudo:" >&2
    echo "  $install_command" >&2
    exit 1
fi
ensure_packages --spanish-locale --retry-wine32 "${EVERY_PACKAGE[@]}"
missing=()
for package in "${EVERY_PACKAGE[@]}"; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "== installed: all that the demo, the tests and the release need"
elif ! printf '%s\n' "${missing[@]}" | grep -qv ':i386$'; then
    echo "== installed: all that the demo, the tests and the release need, but the 32-bit Wine (above: why)"
else
    echo "== installed: all that the demo, the tests and the release need, but ${missing[*]} (above: why)"
fi
