# Sourced first by every script of tools/, as  . "$(dirname "$(readlink -f "$0")")/common.sh"  (plain sh can
# read that line). It runs the script again with bash if it was started with sh, stops it on any error, and
# changes to the checkout it belongs to, wherever it was called from and through any symbolic link; `caller`
# keeps the directory it was called from. Then ensure_packages PACKAGE... installs the Debian packages that are
# missing (as root), or prints the apt-get line to run and exits (as any other user); ensure_spanish_locale does
# the same for the Spanish locale that the demo and one end-to-end scenario run Wine in.
if [ -z "${BASH_VERSION:-}" ]; then
    command -v bash >/dev/null 2>&1 && exec bash "$0" "$@"
    echo "$0 needs bash" >&2
    exit 2
fi
set -euo pipefail
caller=$PWD
cd "$(dirname "$(readlink -f "$0")")/.."

BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3 python3-pefile)
# clang with libFuzzer and the sanitizer runtimes, for the fuzz target.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Signing and checking a release: Authenticode with osslsigncode, certificates and time-stamp requests with openssl,
# the key on a token or HSM through PKCS#11 (OpenSC's pkcs11-tool, the PKCS#11 engine of OpenSSL), curl to ask
# the time-stamp authority; and, for the release's test only, a software token.
RELEASE_PACKAGES=(osslsigncode openssl ca-certificates git opensc libengine-pkcs11-openssl curl)
RELEASE_TEST_PACKAGES=(softhsm2)
# 64-bit Wine in a virtual X server, with the fonts and X libraries its message boxes are drawn with, and the
# locale definitions that ensure_spanish_locale generates es_ES.UTF-8 from.
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
               libxinerama1 libxfixes3 locales)
# The 32-bit Wine that runs the 32-bit release, the file customers get, on an amd64 system, with the same X
# libraries as the 64-bit one: packages of the i386 architecture, which dpkg is told of once.
if [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ]; then
    WINE_PACKAGES+=(wine32:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxcomposite1:i386
                    libxinerama1:i386 libxfixes3:i386)
fi

ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local add_i386=""
    if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        add_i386="dpkg --add-architecture i386 && "
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages; run as root:" >&2
        echo "  ${add_i386}apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    [ -z "$add_i386" ] || dpkg --add-architecture i386
    # A mirror caught syncing fails the update of one list; the lists at hand may still serve.
    apt-get update -qq || echo "== apt-get update failed (above); installing from the package lists at hand"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# A Spanish system for Wine: LC_ALL=es_ES.UTF-8 gives Spanish buttons and error descriptions, and the Unix side
# of Wine a locale that exists. `locale -a` lists it as es_ES.utf8 once generated.
ensure_spanish_locale() {
    locale -a 2>/dev/null | grep -qx 'es_ES\.utf8' && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "the Spanish locale is missing; run as root:" >&2
        echo "  localedef -i es_ES -f UTF-8 es_ES.UTF-8" >&2
        exit 1
    fi
    echo "== generating the locale es_ES.UTF-8"
    localedef -i es_ES -f UTF-8 es_ES.UTF-8
}
