# Sourced by the tools' scripts: ensure_packages PACKAGE... installs the Debian packages that are missing (as
# root), or prints the apt-get line to run and exits (as any other user).
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3 python3-pefile)
# clang with libFuzzer and the sanitizer runtimes, for the fuzz target.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Signing and checking a release: Authenticode with osslsigncode, certificates with openssl.
RELEASE_PACKAGES=(osslsigncode openssl ca-certificates git)
# 64-bit Wine in a virtual X server, with the fonts and X libraries its message boxes are drawn with.
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
               libxinerama1 libxfixes3)

ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages; run as root:" >&2
        echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
