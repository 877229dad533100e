# Sourced first by every script of tools/, as  . "$(dirname "$(readlink -f "$0")")/common.sh"  (plain sh can
# read that line). It runs the script again with bash if it was started with sh, stops it on any error, and
# changes to the checkout it belongs to, wherever it was called from and through any symbolic link; `caller`
# keeps the directory it was called from. Then ensure_packages [--spanish-locale] [--retry-wine32] PACKAGE...
# installs the Debian packages that are missing, and the Spanish locale that the demo and one end-to-end scenario
# run Wine in (as root), or names the one command that installs all the scripts need, tools/install_packages.sh,
# to run as root, and exits (as any other user); logged runs a build step quietly and shows what it said when it
# fails.
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
# the time-stamp authority; and, for the release's tests only, a software token, and reprotest with faketime.
RELEASE_PACKAGES=(osslsigncode openssl ca-certificates git opensc pcscd libengine-pkcs11-openssl curl)
RELEASE_TEST_PACKAGES=(softhsm2 reprotest faketime)
# 64-bit Wine in a virtual X server, with the fonts and X libraries its message boxes are drawn with, and the
# locale definitions that the Spanish locale is generated from.
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
               libxinerama1 libxfixes3 locales)
# The 32-bit Wine that runs the 32-bit release, the file customers get, on an amd64 system, with the same X
# libraries as the 64-bit one: packages of the i386 architecture. They are installed apart, after the rest, and
# may fail (a mirror's i386 list out of step with its amd64 one): the tests of the 32-bit release are then
# skipped with the reason, and the demo runs the x86-64 build.
native_architecture=$(dpkg --print-architecture 2>/dev/null || true)
if [ "$native_architecture" = amd64 ]; then
    WINE_PACKAGES+=(wine32:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxcomposite1:i386
                    libxinerama1:i386 libxfixes3:i386)
fi
# Everything the demo, the tests and the release need: what tools/install_packages.sh installs.
EVERY_PACKAGE=("${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" "${WINE_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"
               "${RELEASE_TEST_PACKAGES[@]}")
SPANISH_LOCALE="es_ES.UTF-8 UTF-8"  # as /etc/locale.gen names it
# The files of the system the installs change besides dpkg's (VIRESKA_TEST_ROOT puts them elsewhere, for the
# tests of this file): the locales to generate; where a failed install of the 32-bit Wine is remembered (its time,
# then the reason), so that scripts run as root, as CI runs them, try it again only a day later; and the record that
# these scripts added the i386 architecture, so that whatever run comes next removes it while nothing of it is
# installed (an interrupted install leaves it, and a later apt-get update fails on a broken i386 list).
locale_gen=${VIRESKA_TEST_ROOT:-}/etc/locale.gen
wine32_failure=${VIRESKA_TEST_ROOT:-}/var/cache/vireska/wine32-failed
i386_added=${VIRESKA_TEST_ROOT:-}/var/cache/vireska/i386-added
WINE32_RETRY_SECONDS=$((24 * 3600))
# How long a package lock held by another program (unattended-upgrades, PackageKit, an apt in another terminal) is
# waited for: apt-get's install waits itself (DPkg::Lock::Timeout), its update does not, and is tried again.
APT_LOCK_SECONDS=300
APT_LOCK_POLL=10
NO_32_BIT_RUNS="so the 32-bit release is not run (its tests are skipped, the demo runs the x86-64 build)"
# The one command a user runs as root, as it is pasted: after sudo, in su -c, or in a root shell.
install_command=$(printf '%q' "$PWD/tools/install_packages.sh")
# As root, the system's sbin folders are searched too: plain su (Debian 10 and later) keeps the user's PATH, without
# them, and locale-gen, dpkg's helpers and others live there.
if [ "$(id -u)" -eq 0 ]; then
    for folder in /usr/local/sbin /usr/sbin /sbin; do
        [[ ":$PATH:" == *":${VIRESKA_TEST_ROOT:-}$folder:"* ]] || PATH=$PATH:${VIRESKA_TEST_ROOT:-}$folder
    done
    export PATH
fi

# Whether the Debian package PACKAGE is installed: its state, whatever the wish (a held package is installed). A name
# without an architecture is this system's package (dpkg-query also lists the i386 one of a Multi-Arch: same library).
installed() {
    dpkg-query -W -f='${binary:Package} ${db:Status-Status}\n' "$1" 2>/dev/null |
        awk -v name="$1" -v native="$native_architecture" '
            ($1 == name || $1 == name ":" native) && $2 == "installed" { found = 1 } END { exit !found }'
}

# Whether any package of the i386 architecture is in dpkg's database. (grep reads it all: a grep -q that stops at the
# first match leaves dpkg-query to die of SIGPIPE on a long list, and pipefail then makes the answer no.)
i386_in_use() {
    dpkg-query -W -f='${binary:Package}\n' 2>/dev/null | grep ':i386$' >/dev/null
}

# Whether apt's output in LOG says another program held a package lock, and its words of it.
apt_was_locked() {
    grep -q 'Could not get lock' "$1"
}
lock_said() {
    grep -m 1 'Could not get lock' "$1" | sed 's/^E: //; s/^Waiting for cache lock: //' || true
}

# run_apt LOG [--quiet] COMMAND...: runs an apt-get command, its output shown (unless --quiet) and kept in LOG; its
# exit code. It is waited for as a background job, so that Ctrl-C or a TERM runs the trap at once (bash runs it only
# once a foreground command has ended, and apt catches the signal, ending as if it had failed, or, while dpkg runs,
# not at all); the trap stops the job.
run_apt() {
    local log=$1 quiet="" status=0
    shift
    [ "$1" != --quiet ] || { quiet=1; shift; }
    if [ -n "$quiet" ]; then ("$@" >"$log" 2>&1) & else ("$@" 2>&1 | tee "$log") & fi
    wait "$!" || status=$?
    return "$status"
}

# apt_update LOG [--once]: apt-get update, its output shown and kept in LOG. Lists locked by another program are
# waited for, up to APT_LOCK_SECONDS (apt_locked is then set). When it fails for a list of another architecture
# than i386, or without naming a list (a mirror caught syncing: apt does not fetch a list of the wrong size again
# by itself), once more after a pause, unless --once. Then the lists at hand are used. unfetched_lists names the
# lists it could not fetch, as suite/component architecture.
unfetched_lists="" apt_locked=""
apt_update() {
    local log=$1 once=${2:-} try=1 status waited=0 quiet
    apt_locked=""
    while :; do
        status=0
        # (Shown as it goes, but for the tries that wait for a lock.)
        quiet=""
        [ "$waited" -eq 0 ] || quiet=--quiet
        run_apt "$log" $quiet apt-get update -qq || status=$?
        unfetched_lists=$(sed -n 's|^E: Failed to fetch \S*/dists/\([^/]*/[^/]*\)/binary-\([^/]*\)/.*|\1 \2|p' \
                          "$log" | sort -u | paste -sd, | sed 's/,/, /g')
        [ "$status" -ne 0 ] || break
        if apt_was_locked "$log"; then
            [ "$waited" -lt "$APT_LOCK_SECONDS" ] || { apt_locked=1; break; }
            [ "$waited" -gt 0 ] || echo "== another program holds the package lists; waiting for it, up to" \
                                        "$((APT_LOCK_SECONDS / 60)) min: $(lock_said "$log")"
            sleep "$APT_LOCK_POLL"
            waited=$((waited + APT_LOCK_POLL))
            continue
        fi
        [ "$try" = 1 ] && [ "$once" != --once ] &&
            { [ -z "$unfetched_lists" ] || tr , '\n' <<<"$unfetched_lists" | grep -qv ' i386$'; } || break
        echo "== apt-get update failed (above); trying again in 15 s"
        sleep 15
        try=2
    done
    [ "$status" -eq 0 ] || [ -n "$apt_locked" ] ||
        echo "== apt-get update failed (above); going on with the package lists at hand"
}

# apt_install LOG [--once] PACKAGE...: apt_update, then apt-get install, its output shown and kept in LOG (a lock
# held by another program waited for, up to APT_LOCK_SECONDS); 0 or apt-get's exit code.
apt_install() {
    local log=$1 once=""
    shift
    [ "$1" != --once ] || { once=--once; shift; }
    apt_update "$log" $once
    [ -z "$apt_locked" ] || return 100
    run_apt "$log" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        -o DPkg::Lock::Timeout="$APT_LOCK_SECONDS" "$@"
}

# What apt-get said of why it failed, in one line: a package lock that another program kept; else the first unmet
# dependency if any (one of an i386 package first: apt lists the amd64 packages it would have to change as well),
# then its first error (which names the list or the file it could not fetch, where one was).
apt_reason() {
    local unmet error
    if apt_was_locked "$1"; then
        echo "another program kept the package lock for $((APT_LOCK_SECONDS / 60)) min ($(lock_said "$1")):" \
             "run this again once it is done"
        return
    fi
    unmet=$(sed -n 's/^ *\(\S* : \(Pre\)\?Depends: .*\)/\1/p' "$1")
    unmet=$(grep -m 1 ':i386 : ' <<<"$unmet" || head -n 1 <<<"$unmet")
    error=$(grep -m 1 '^E: ' "$1" || true)
    echo "${unmet:+$unmet; }${error:-exit code $2}"
}

# When the 32-bit Wine last failed to install, in seconds since 1970; nothing if it did not, or no one knows.
wine32_failed_at() {
    local when=""
    [ ! -r "$wine32_failure" ] || when=$(head -n 1 "$wine32_failure")
    [[ $when =~ ^[0-9]+$ ]] && echo "$when" || true
}

# The note a run without the 32-bit Wine gives: why, when an install failed lately, and what installs it.
wine32_missing() {
    local note="== the 32-bit Wine is not installed, $NO_32_BIT_RUNS" when
    when=$(wine32_failed_at)
    [ -z "$when" ] ||
        note+="; it could not be installed on $(date -d "@$when" '+%Y-%m-%d %H:%M'): $(sed -n 2p "$wine32_failure")"
    echo "$note; $1"
}

# remove_added_i386: as root, where these scripts added the i386 architecture and nothing of it is installed,
# removes it (and its record), saying so in what it prints; silent otherwise.
remove_added_i386() {
    local said
    [ -e "$i386_added" ] || return 0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        rm -f "$i386_added"
    elif ! i386_in_use; then
        if said=$(dpkg --remove-architecture i386 2>&1); then
            rm -f "$i386_added"
            echo "the i386 architecture, added by these scripts, is removed again: nothing of it is installed"
        else
            echo "the i386 architecture, added by these scripts, stays: ${said:-dpkg could not remove it}"
        fi
    fi
}

# Ctrl-C or a TERM (a CI time-out) while root installs: the temporary log goes, and so does an i386 architecture
# added by these scripts with nothing of it installed; the script ends with the signal's status.
apt_log=""
install_interrupted() {
    local said
    trap - INT TERM
    # apt got the signal too, or gets it now; it ends before anything is undone.
    kill "-$(( $1 - 128 ))" $(jobs -p) 2>/dev/null || true
    wait || true
    [ -z "$apt_log" ] || rm -f "$apt_log"
    said=$(remove_added_i386)
    echo "== interrupted while installing packages${said:+; $said}" >&2
    exit "$1"
}

# install_wine32 [--retry] PACKAGE...: as root, installs the i386 packages, adding the architecture first where
# it is not there (and recording that it did). Where that fails, it is said in one line, the architecture is
# removed again if these scripts added it and nothing of it is installed (so that no later apt-get update fails on
# its lists), and the failure is remembered, unless another program kept the package lock: scripts run as root do
# not try again for a day, unless --retry (tools/install_packages.sh).
install_wine32() {
    local retry="" status=0 reason said when
    [ "$1" != --retry ] || { retry=1; shift; }
    when=$(wine32_failed_at)
    if [ -z "$retry" ] && [ -n "$when" ] && [ $(($(date +%s) - when)) -lt "$WINE32_RETRY_SECONDS" ]; then
        wine32_missing "it is tried again a day after that, or at once by $install_command"
        return 0
    fi
    echo "== installing the 32-bit Wine: $*"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        mkdir -p "$(dirname "$i386_added")"
        date +%s >"$i386_added"
        dpkg --add-architecture i386
    fi
    apt_install "$apt_log" --once "$@" || status=$?
    if [ "$status" -eq 0 ]; then
        rm -f "$wine32_failure"
        return 0
    fi
    reason="apt-get said: $(apt_reason "$apt_log" "$status")"
    reason+="${unfetched_lists:+ (the package list $unfetched_lists could not be fetched)}"
    if [ -e "$i386_added" ]; then
        said=$(remove_added_i386)
        reason+="; ${said:-the i386 architecture, added by these scripts, stays: an i386 package is installed}"
    elif i386_in_use; then
        reason+="; the i386 architecture was there before: it is left as it was"
    else
        reason+="; the i386 architecture was there before, with no i386 package installed: it is left as it was"
        reason+=" (dpkg --remove-architecture i386 would remove it)"
    fi
    if ! apt_was_locked "$apt_log"; then
        mkdir -p "$(dirname "$wine32_failure")"
        printf '%s\n%s\n' "$(date +%s)" "$reason" >"$wine32_failure"
    fi
    echo "== the 32-bit Wine could not be installed, $NO_32_BIT_RUNS; $reason"
}

ensure_packages() {
    local locale="" retry="" package missing=() missing_i386=() needs=()
    while [[ ${1:-} == --* ]]; do
        case $1 in
        --spanish-locale)
            # A locale made by localedef alone is lost when the locales package rewrites its archive: it must be
            # enabled in /etc/locale.gen, where locale-gen finds it.
            locale -a 2>/dev/null | grep -qx 'es_ES\.utf8' && grep -qx "$SPANISH_LOCALE" "$locale_gen" 2>/dev/null ||
                locale=1 ;;
        --retry-wine32) retry=--retry ;;
        esac
        shift
    done
    for package in "$@"; do
        installed "$package" && continue
        if [[ $package == *:i386 ]]; then missing_i386+=("$package"); else missing+=("$package"); fi
    done
    if [ "$(id -u)" -ne 0 ]; then
        [ ${#missing[@]} -eq 0 ] || needs+=("the packages ${missing[*]}")
        [ -z "$locale" ] || needs+=("the Spanish locale (es_ES.UTF-8)")
        if [ ${#needs[@]} -gt 0 ]; then
            {
                echo "tools/$(basename "$0") needs what only root may install: $(printf '%s and ' "${needs[@]}" |
                                                                                sed 's/ and $//')."
                echo "Run this once as root; it installs all that the demo, the tests and the release need:"
                echo "  $install_command"
                echo "with sudo in front, or, without sudo, as su -c $(printf '%q' "$install_command") (root's password);" \
                     "then tools/$(basename "$0") again."
            } >&2
            exit 1
        fi
        [ ${#missing_i386[@]} -eq 0 ] ||
            wine32_missing "$install_command, run as root, installs it where apt can"
        return 0
    fi
    local status=0 said
    apt_log=$(mktemp)
    trap 'install_interrupted 130' INT
    trap 'install_interrupted 143' TERM
    # An i386 architecture that an earlier run added and left with nothing installed (it was interrupted) goes.
    said=$(remove_added_i386)
    [ -z "$said" ] || echo "== $said"
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        apt_install "$apt_log" "${missing[@]}" || status=$?
        if [ "$status" -ne 0 ]; then
            echo "$(basename "$0"): apt-get could not install ${missing[*]}: $(apt_reason "$apt_log" "$status")" >&2
            rm -f "$apt_log"
            exit 1
        fi
    fi
    if [ -n "$locale" ]; then
        echo "== enabling the locale es_ES.UTF-8 in /etc/locale.gen and generating it"
        { sed -i "s/^# *$SPANISH_LOCALE\$/$SPANISH_LOCALE/" "$locale_gen" &&
          { grep -qx "$SPANISH_LOCALE" "$locale_gen" || echo "$SPANISH_LOCALE" >>"$locale_gen"; } &&
          locale-gen; } >"$apt_log" 2>&1 || { cat "$apt_log" >&2; rm -f "$apt_log"; exit 1; }
    fi
    [ ${#missing_i386[@]} -eq 0 ] || install_wine32 $retry "${missing_i386[@]}"
    rm -f "$apt_log"
    apt_log=""
    trap - INT TERM
}

# ensure_vm: where this machine's kernel runs no 32-bit programs (or VIRESKA_I686_VM=1 asks for it; 0 never: vm.py
# decides), the QEMU and debootstrap of the virtual machine that runs the 32-bit release's end-to-end scenarios there,
# and, as root, its image, which tools/vm_image.sh makes once and keeps until what went into it changes.
ensure_vm() {
    python3 tests/e2e/vm.py --needed >/dev/null || return 0
    ensure_packages qemu-system-x86 debootstrap
    [ "$(id -u)" -ne 0 ] || tools/vm_image.sh
}

# debian_mirrors [URL]: sets mirror and security, Debian's archive and its security archive, as this machine's apt
# sources give them for its own release and the component main: the deb entries of debian.sources (deb822) and of
# sources.list (one-line, its [options] passed over) whose suite is this release's codename, or that codename
# followed by -security. A vendor's repository (in a file of its own in sources.list.d, or with a suite or components
# of its own) is never taken. URL, where given, is the archive. Exits, saying why, where there is none, or where one
# is not http:// or https://, which a fresh system can reach.
debian_mirrors() {
    local apt_sources=${VIRESKA_TEST_ROOT:-}/etc/apt codename mirrors
    mirror=${1:-}
    codename=$(. "${VIRESKA_TEST_ROOT:-}/etc/os-release" 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ -z "$mirror" ] && [ -z "$codename" ]; then
        echo "this machine's Debian release is not known (no VERSION_CODENAME in /etc/os-release): give --mirror URL" >&2
        exit 1
    fi
    mirrors=$({
        awk -v RS= '/(^|\n)Types:[^\n]*deb([ \t]|\n|$)/ {
                uri = suites = components = ""
                if (match($0, /(^|\n)URIs:[ \t]*[^ \t\n]+/)) { uri = substr($0, RSTART, RLENGTH); sub(/^\n?URIs:[ \t]*/, "", uri) }
                if (match($0, /(^|\n)Suites:[^\n]*/)) suites = substr($0, RSTART, RLENGTH)
                if (match($0, /(^|\n)Components:[^\n]*/)) components = substr($0, RSTART, RLENGTH)
                if (uri == "" || components !~ /[: \t]main([ \t]|$)/) next
                n = split(suites, each, /[ \t]+/)
                for (i = 2; i <= n; i++) print each[i], uri }' "$apt_sources/sources.list.d/debian.sources" 2>/dev/null
        sed 's/\[[^]]*\]//' "$apt_sources/sources.list" 2>/dev/null | awk '
            $1 == "deb" { for (i = 4; i <= NF; i++) if ($i == "main") { print $3, $2; next } }'
    } | awk -v release="$codename" '$1 == release { print "archive", $2 } $1 == release "-security" { print "security", $2 }' ||
        true)
    if [ -z "$mirror" ]; then
        mirror=$(awk '$1 == "archive" {print $2; exit}' <<<"$mirrors")
        [ -n "$mirror" ] || { echo "no Debian archive for $codename (main) in this machine's apt sources" \
                                   "($apt_sources/sources.list.d/debian.sources, $apt_sources/sources.list): give" \
                                   "--mirror URL" >&2; exit 1; }
    fi
    mirror=${mirror%/}
    security=$(awk '$1 == "security" {print $2; exit}' <<<"$mirrors")
    security=${security:-${mirror%/debian}/debian-security}
    local uri
    for uri in "$mirror" "$security"; do
        [[ $uri =~ ^https?://[^/]+ ]] ||
            { echo "the mirror $uri is not an http:// or https:// one, which a fresh system can reach" >&2; exit 1; }
    done
}

# debian_tree ROOT RELEASE: makes a tree debootstrap made ready for apt-get in a chroot: its sources are Debian's
# archive (mirror, as debian_mirrors sets it) for the release and its updates, and the security archive (security),
# main alone, and no package's service starts there (policy-rc.d).
debian_tree() {
    rm -f "$1/etc/apt/sources.list"
    {
        printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$2" "$2"
        printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
        printf 'Types: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "$security" "$2"
        printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    } >"$1/etc/apt/sources.list.d/debian.sources"
    printf '#!/bin/sh\nexit 101\n' >"$1/usr/sbin/policy-rc.d"
    chmod 755 "$1/usr/sbin/policy-rc.d"
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
