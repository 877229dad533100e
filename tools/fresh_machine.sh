#!/usr/bin/env bash
# The fresh-machine check of the scripts: makes a fresh minimal Debian of the given release with debootstrap, in a
# directory of its own, clones the current commit into it and runs the README's commands there as a new member of
# the staff would (and then tools/release.sh, unsigned), then prints each command's result and duration. A run on a used machine hides missing install
# steps; this does not. It downloads about 1 GB and takes 10 to 15 minutes, so tools/test.sh does not run it.
#
#   tools/fresh_machine.sh [--as-root] [--no-i386-security-list] [--keep] RELEASE
#
# RELEASE is trixie (13) or bookworm (12). By default the commands run as a user, "ana", a new member of the
# staff: tools/test.sh prints what to install as root, which is run as root, then tools/demo.sh and tools/test.sh
# run as ana; --as-root runs the two as root, which installs everything itself. --no-i386-security-list limits
# the security source to amd64, so that its i386 list is missing, as when a mirror serves a broken one. --keep keeps the system (unmounted).
# Mirrors are those of this machine's apt sources. Each command's whole output is kept under build/fresh-machine/.
. "$(dirname "$(readlink -f "$0")")/common.sh"

usage() {
    echo "usage: tools/fresh_machine.sh [--as-root] [--no-i386-security-list] [--keep] RELEASE   (trixie or 13," \
         "bookworm or 12)" >&2
    [ -z "${1:-}" ] || echo "$1" >&2
    exit 2
}
as_root="" no_i386_security="" keep="" release=""
for argument in "$@"; do
    case $argument in
    --as-root) as_root=1 ;;
    --no-i386-security-list) no_i386_security=1 ;;
    --keep) keep=1 ;;
    -*) usage ;;
    trixie | 13) [ -z "$release" ] || usage; release=trixie ;;
    bookworm | 12) [ -z "$release" ] || usage; release=bookworm ;;
    *) usage "unknown release: $argument" ;;
    esac
done
[ -n "$release" ] || usage
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh_machine.sh needs root (debootstrap, chroot and mounts)" >&2; exit 1; }

# The mirrors of this machine's sources: the first archive and the first security archive.
sources=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
mirror=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' <<<"$sources")
security=$(awk '/^URIs:/ && $2 ~ /security/ {print $2; exit}' <<<"$sources")
if [ -z "$mirror" ]; then
    mirror=$(awk '$1 == "deb" && $0 !~ /security/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
    security=$(awk '$1 == "deb" && $0 ~ /security/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
fi
[ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt sources" >&2; exit 1; }
security=${security:-${mirror%/debian}/debian-security}

commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain)" ] ||
    echo "== the work tree has uncommitted changes: the fresh machine gets commit ${commit:0:12} without them"
ensure_packages debootstrap

checkout=$PWD
logs=$checkout/build/fresh-machine/$release-$(date +%Y%m%d-%H%M%S)
mkdir -p "$logs"
running=""  # the command being waited for
root=$(mktemp -d "/var/tmp/fresh-$release.XXXXXX")
chmod 755 "$root"  # the system's root directory, which its users must be able to traverse

# Whatever happens, Ctrl-C included: the processes left in the system are stopped, everything mounted in it is
# unmounted, deepest first, and only then, with nothing mounted, is the directory removed.
mounts_inside() {
    awk -v root="$root/" 'index($5, root) == 1 {print $5}' /proc/self/mountinfo | sort -r
}
cleanup() {
    local status=$? process mount
    trap - EXIT INT TERM
    [ -z "$running" ] || kill "$running" 2>/dev/null || true
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root" 2>/dev/null)" != "$root" ] || kill -9 "${process#/proc/}" 2>/dev/null || true
    done
    sleep 1
    for mount in $(mounts_inside); do
        umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
    done
    if [ -n "$(mounts_inside)" ]; then
        echo "== still mounted, so $root is left in place: $(mounts_inside | paste -sd ' ')" >&2
        exit 1
    fi
    if [ -n "$keep" ]; then
        echo "== the system is kept in $root"
    else
        rm -rf --one-file-system "$root"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'echo "== interrupted: stopping what runs in $root, and unmounting what is mounted there"; exit 130' INT
trap 'exit 143' TERM

results=()
# step LABEL USER COMMAND: runs COMMAND with bash in the fresh system, as USER (root or ana), in the clone; its
# output goes to a log of its own, its result and duration to the summary. Returns the command's exit code.
step() {
    local label=$1 user=$2 command=$3 log status=0 start=$SECONDS home=/root as_user=()
    log=$logs/$(( ${#results[@]} + 1 ))-$(tr -c 'a-zA-Z0-9\n' - <<<"$label" | head -c 60).log
    if [ "$user" = ana ]; then
        home=/home/ana as_user=(runuser -u ana --)
    fi
    echo "== $label (as $user; output in $log)"
    # (In the background, waited for: Ctrl-C then ends the wait at once, and the cleanup stops the command.)
    chroot "$root" "${as_user[@]}" env -i HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "cd ~ && $command" >"$log" 2>&1 &
    running=$!
    wait "$running" || status=$?
    local elapsed=$((SECONDS - start))
    results+=("$(printf '%-64s exit %3d  %2d min %02d s' "$label (as $user)" "$status" $((elapsed / 60)) $((elapsed % 60)))")
    echo "   ${results[-1]}"
    last_log=$log
    return "$status"
}

start=$SECONDS
echo "== a fresh minimal Debian $release in $root"
debootstrap --variant=minbase "$release" "$root" "$mirror" >"$logs/debootstrap.log" 2>&1 &
running=$!
wait "$running" || { tail -n 20 "$logs/debootstrap.log" >&2; echo "debootstrap failed (above)" >&2; exit 1; }
rm -f "$root/etc/apt/sources.list"
{
    printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$release" "$release"
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
    printf 'Types: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "$security" "$release"
    [ -z "$no_i386_security" ] || printf 'Architectures: amd64\n'
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
} >"$root/etc/apt/sources.list.d/debian.sources"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service of a package starts inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
for system in sys dev; do
    mount --rbind "/$system" "$root/$system"
    mount --make-rslave "$root/$system"
done
results+=("$(printf '%-64s          %2d min %02d s' "debootstrap --variant=minbase $release" $(( (SECONDS - start) / 60 )) \
                    $(( (SECONDS - start) % 60 )))")

# As a person sets up a machine: git, a user, the commit cloned into the user's home.
user=ana
[ -z "$as_root" ] || user=root
step "apt-get install git" root "apt-get update -qq && apt-get install -y -qq --no-install-recommends git" || exit 1
home=/root
if [ "$user" = ana ]; then
    chroot "$root" useradd --create-home --shell /bin/bash ana
    home=/home/ana
fi
git clone -q --no-hardlinks "$checkout" "$root$home/vireska"
git -C "$root$home/vireska" -c advice.detachedHead=false checkout -q "$commit"
chroot "$root" chown -R "$user:" "$home/vireska"
echo "== commit ${commit:0:12} cloned into $home/vireska"

if [ "$user" = ana ]; then
    # tools/test.sh as ana prints the commands to run as root; they are run as root, each in turn.
    step "tools/test.sh, before anything is installed" ana "cd vireska && tools/test.sh" || true
    mapfile -t commands < <(sed -n 's/^  \(\S.*\)$/\1/p' "$last_log")
    [ ${#commands[@]} -gt 0 ] || { cat "$last_log"; echo "tools/test.sh printed no command to run as root" >&2; exit 1; }
    for command in "${commands[@]}"; do
        step "as root: ${command:0:40}..." root "$command" || true
    done
fi
step "tools/demo.sh" "$user" "cd vireska && tools/demo.sh" || true
demo_log=$last_log
step "tools/test.sh" "$user" "cd vireska && tools/test.sh" || true
test_log=$last_log
# And the release, unsigned, whose build record says what its bytes came from on this release of Debian.
step "tools/release.sh (unsigned)" "$user" "cd vireska && tools/release.sh" || true
release_log=$last_log

echo
echo "== Debian $release${no_i386_security:+, without the i386 list of $release-security}, commit ${commit:0:12}: results"
printf '%s\n' "${results[@]}"
echo
echo "== what tools/demo.sh said of its run:"
grep -E '^== (running|.*instead|every box|the run differs|exit code)' "$demo_log" | sed 's/^/  /' || tail -n 5 "$demo_log"
echo "== tools/test.sh's results:"
sed -n '/^== results/,$p' "$test_log" | sed 's/^/  /'
grep -h 'the 32-bit Wine could not\|apt-get could not' "$logs"/*.log | sed 's/^/  /' || true
echo "== tools/release.sh's files and build record:"
sed -n '/^== release/,$p' "$release_log" | sed 's/^/  /'
cp "$root$home/vireska/dist/BUILDINFO" "$logs/BUILDINFO" 2>/dev/null && sed 's/^/  /' "$logs/BUILDINFO" ||
    echo "  (no dist/BUILDINFO)"
echo "== all output is in $logs"
