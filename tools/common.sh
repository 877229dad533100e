# Sourced first by every script of tools/, as  . "$(dirname "$(readlink -f "$0")")/common.sh"  (plain sh can
# read that line). It runs the script again with bash if it was started with sh, stops it on any error, and
# changes to the checkout it belongs to, wherever it was called from and through any symbolic link; `caller`
# keeps the directory it was called from. Then ensure_packages [--spanish-locale] PACKAGE... installs the Debian
# packages that are missing, and the Spanish locale that the demo and one end-to-end scenario run Wine in (as
# root), or prints the commands to run as root and exits (as any other user); logged runs a build step quietly
# and shows what it said when it fails.
if [ -z "${BASH_VERSION:-}" ]; then
    command -v bash >/dev/null 2>&1 && exec bash "$0" "$@"
    echo "$0 needs bash" >&2
    exit 2
fi
set -euo pipefail
caller=$PWD
cd "$(dirname "$(readlink -f "$0")")/.."

# The names are those of Debian 12 (bookworm) and 13 (trixie) alike, on amd64.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3 python3-pefile)
# clang with libFuzzer and the sanitizer runtimes, for the fuzz target.
FUZZ_PACKAGES=(clang libclang-rt-dev)
# Signing and checking a release: Authenticode with osslsigncode, certificates and time-stamp requests with openssl,
# the key on a token or HSM through PKCS#11 (OpenSC's pkcs11-tool, the PKCS#11 engine of OpenSSL, and the PC/SC
# daemon through which OpenSC's library and most vendors' reach a token, only recommended by opensc), curl to ask
# the time-stamp authority; and, for the release's test only, a software token.
RELEASE_PACKAGES=(osslsigncode openssl ca-certificates git opensc pcscd libengine-pkcs11-openssl curl)
RELEASE_TEST_PACKAGES=(softhsm2)
# 64-bit Wine in a virtual X server, with the fonts and X libraries its message boxes are drawn with, and the
# locale definitions that the Spanish locale is generated from.
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
               libxinerama1 libxfixes3 locales)
# The 32-bit Wine that runs the 32-bit release, the file customers get, on an amd64 system, with the same X
# libraries as the 64-bit one: packages of the i386 architecture, which dpkg is told of once. They are installed
# apart, after the rest, and may fail (a mirror's i386 list out of step with its amd64 one): the tests of the
# 32-bit release are then skipped with the reason, and the demo runs the x86-64 build.
if [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ]; then
    WINE_PACKAGES+=(wine32:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxcomposite1:i386
                    libxinerama1:i386 libxfixes3:i386)
fi
SPANISH_LOCALE="es_ES.UTF-8 UTF-8"  # as /etc/locale.gen names it

# apt-get update, tried once more after a pause when it fails (a mirror caught syncing); then the lists at hand.
# unfetched_lists names the lists it could not fetch, as suite/component architecture.
unfetched_lists=""
apt_update() {
    local log
    log=$(mktemp)
    if ! apt-get update -qq 2>&1 | tee "$log"; then
        echo "== apt-get update failed (above); trying again in 15 s"
        sleep 15
        apt-get update -qq 2>&1 | tee "$log" ||
            echo "== apt-get update failed again (above); going on with the package lists at hand"
    fi
    unfetched_lists=$(sed -n 's|^E: Failed to fetch \S*/dists/\([^/]*/[^/]*\)/binary-\([^/]*\)/.*|\1 \2|p' "$log" |
                      sort -u | paste -sd, | sed 's/,/, /g')
    rm -f "$log"
}

# apt_update, then apt-get install PACKAGE..., its output in LOG; 0 or apt-get's exit code.
apt_install() {
    local log=$1
    shift
    apt_update
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
}

# What apt-get said of why it failed, in one line: its last error, after the first unmet dependency if any (one of
# an i386 package first: apt lists the amd64 packages it would have to change as well).
apt_reason() {
    local unmet error
    unmet=$(sed -n 's/^ *\(\S* : \(Pre\)\?Depends: .*\)/\1/p' "$1")
    unmet=$(grep -m 1 ':i386 : ' <<<"$unmet" || head -n 1 <<<"$unmet")
    error=$(grep '^E: ' "$1" | tail -n 1 || true)
    echo "${unmet:+$unmet; }${error:-exit code $2}"
}

ensure_packages() {
    local locale="" package missing=() missing_i386=() commands=()
    if [ "${1:-}" = --spanish-locale ]; then
        shift
        # A locale made by localedef alone is lost when the locales package rewrites its archive: it must be
        # enabled in /etc/locale.gen, where locale-gen finds it.
        locale -a 2>/dev/null | grep -qx 'es_ES\.utf8' && grep -qx "$SPANISH_LOCALE" /etc/locale.gen 2>/dev/null ||
            locale=1
    fi
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" && continue
        if [[ $package == *:i386 ]]; then missing_i386+=("$package"); else missing+=("$package"); fi
    done
    [ ${#missing[@]} -gt 0 ] || [ ${#missing_i386[@]} -gt 0 ] || [ -n "$locale" ] || return 0
    local add_i386="" install="apt-get install -y --no-install-recommends"
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386="dpkg --add-architecture i386 && "
    local enable_locale="sed -i 's/^# *$SPANISH_LOCALE\$/$SPANISH_LOCALE/' /etc/locale.gen"
    enable_locale+=" && { grep -qx '$SPANISH_LOCALE' /etc/locale.gen || echo '$SPANISH_LOCALE' >>/etc/locale.gen; }"
    enable_locale+=" && locale-gen"
    if [ "$(id -u)" -ne 0 ]; then
        [ ${#missing[@]} -eq 0 ] || commands+=("apt-get update && $install ${missing[*]}")
        [ -z "$locale" ] || commands+=("$enable_locale")
        local i386_command="${add_i386}apt-get update && $install ${missing_i386[*]}"
        if [ ${#commands[@]} -gt 0 ]; then
            echo "$(basename "$0"): this needs what only root may install; run as root, then this again:" >&2
            printf '  %s\n' "${commands[@]}" >&2
            [ ${#missing_i386[@]} -eq 0 ] ||
                echo "  $i386_command   # the 32-bit Wine: without it the 32-bit release is not run" >&2
            exit 1
        fi
        echo "== the 32-bit Wine is not installed: the 32-bit release is not run (its tests are skipped, the demo"
        echo "   runs the x86-64 build); to install it, run as root:"
        echo "  $i386_command"
        return 0
    fi
    local log status=0
    log=$(mktemp)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        apt_install "$log" "${missing[@]}" || status=$?
        if [ "$status" -ne 0 ]; then
            tail -n 20 "$log" | sed 's/^/    /' >&2
            echo "$(basename "$0"): apt-get could not install ${missing[*]}: $(apt_reason "$log" "$status")" >&2
            rm -f "$log"
            exit 1
        fi
    fi
    if [ -n "$locale" ]; then
        echo "== enabling the locale es_ES.UTF-8 in /etc/locale.gen and generating it"
        bash -c "$enable_locale" >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
    fi
    if [ ${#missing_i386[@]} -gt 0 ]; then
        echo "== installing the 32-bit Wine: ${missing_i386[*]}"
        [ -z "$add_i386" ] || dpkg --add-architecture i386
        apt_install "$log" "${missing_i386[@]}" || status=$?
        [ "$status" -eq 0 ] ||
            echo "== the 32-bit Wine could not be installed, so the 32-bit release is not run (its tests are" \
                 "skipped, the demo runs the x86-64 build); apt-get said: $(apt_reason "$log" "$status")" \
                 "${unfetched_lists:+(the package list $unfetched_lists could not be fetched)}"
    fi
    rm -f "$log"
}

# logged LOG COMMAND...: runs a build step with its output in LOG (Ninja writes the compiler's errors to standard
# output, so hiding that output would hide them); when it fails, shows the last lines and where the rest is.
logged() {
    local log=$1 status=0
    shift
    mkdir -p "$(dirname "$log")"
    "$@" >"$log" 2>&1 || status=$?
    [ "$status" -ne 0 ] || return 0
    {
        echo "$(basename "$0"): '$*' failed (exit code $status); its last lines:"
        tail -n 30 "$log" | sed 's/^/    /'
        echo "the whole output is in $(readlink -f "$log")"
    } >&2
    return "$status"
}
