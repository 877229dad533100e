#!/usr/bin/env bash
# Installs, as root, all that tools/demo.sh, tools/test.sh and tools/release.sh need: the Debian packages, the
# Spanish locale and, where apt can, the 32-bit Wine. Run it once on a new machine as root: after sudo, with su -c,
# or in a root shell (the other scripts, run as yourself, name it when something is missing); it installs only what
# is missing, and may be run again at any time: it then also tries the 32-bit Wine again, where it failed before.
# It exits non-zero when anything but the 32-bit Wine is still missing afterwards.
. "$(dirname "$(readlink -f "$0")")/common.sh"
if [ $# -gt 0 ]; then
    echo "usage: tools/install_packages.sh   (as root: after sudo, with su -c, or in a root shell; no arguments)" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "tools/install_packages.sh installs Debian packages, so it runs as root:" >&2
    echo "  $install_command" >&2
    echo "with sudo in front, or, without sudo, as su -c $(printf '%q' "$install_command") (root's password)" >&2
    exit 1
fi
ensure_packages --spanish-locale --retry-wine32 "${EVERY_PACKAGE[@]}"
# Where the kernel runs no 32-bit programs: QEMU and the image of the machine that runs the 32-bit scenarios.
ensure_vm
missing=() missing_i386=()
for package in "${EVERY_PACKAGE[@]}"; do
    installed "$package" && continue
    if [[ $package == *:i386 ]]; then missing_i386+=("$package"); else missing+=("$package"); fi
done
if [ ${#missing[@]} -gt 0 ]; then
    # apt-get said it was done, yet dpkg does not have them installed (apt took another package for a name, say).
    echo "tools/install_packages.sh: still not installed after apt-get: ${missing[*]} (above: what apt-get did)" >&2
    exit 1
elif [ ${#missing_i386[@]} -gt 0 ]; then
    echo "== installed: all that the demo, the tests and the release need, but the 32-bit Wine (above: why)"
else
    echo "== installed: all that the demo, the tests and the release need"
fi
