#!/usr/bin/env bash
# The fresh-machine check of the scripts: makes a fresh minimal Debian of the given release with debootstrap, in a
# directory of its own, clones the current commit into it and follows the README there as a new member of the
# staff would, then prints each step's result and duration and exits non-zero, naming the steps, if any failed. A
# run on a used machine hides missing install steps; this does not. It downloads about 1 GB and takes 10 to 15
# minutes, so tools/test.sh does not run it.
#
#   tools/fresh_machine.sh [--as-root] [--broken-i386-list] [--keep] [--dry-run] [--mirror URL] RELEASE
#
# RELEASE is trixie (13) or bookworm (12). By default the steps run as a user, "ana", with a user's PATH, in the
# README's order: tools/demo.sh, tools/test.sh, then tools/release.sh (unsigned); each time one of them prints the
# command to run as root, it is run as root the way a Debian user without sudo runs it (su -c, which keeps the
# user's PATH), then the script again; root must be needed exactly once. Last, apt-get update must still succeed.
# --as-root runs the three as root, which install what they need themselves. --broken-i386-list serves the system's
# security archive through a local server that makes its i386 lists one byte too long, as a mirror did from 7
# December 2026: the run then fails unless apt said so of an i386 list, the 32-bit Wine was refused with apt's
# reason, and no foreign architecture is left. --keep keeps the system (unmounted); --dry-run says what would be
# done and stops. The mirror is the Debian archive this machine's apt sources give for its own release and main
# (debian.sources or sources.list, never a vendor's repository), or --mirror URL. Each step's whole output is kept
# under build/fresh-machine/.
. "$(dirname "$(readlink -f "$0")")/common.sh"

usage() {
    echo "usage: tools/fresh_machine.sh [--as-root] [--broken-i386-list] [--keep] [--dry-run] [--mirror URL]" \
         "RELEASE   (trixie or 13, bookworm or 12)" >&2
    [ -z "${1:-}" ] || echo "$1" >&2
    exit 2
}
as_root="" broken_i386="" keep="" dry_run="" release="" mirror=""
while [ $# -gt 0 ]; do
    case $1 in
    --as-root) as_root=1 ;;
    --broken-i386-list) broken_i386=1 ;;
    --keep) keep=1 ;;
    --dry-run) dry_run=1 ;;
    --mirror) [ $# -ge 2 ] || usage; mirror=$2; shift ;;
    -*) usage ;;
    trixie | 13) [ -z "$release" ] || usage; release=trixie ;;
    bookworm | 12) [ -z "$release" ] || usage; release=bookworm ;;
    *) usage "unknown release: $1" ;;
    esac
    shift
done
[ -n "$release" ] || usage

debian_mirrors "$mirror"
include=()
[[ "$mirror $security" != *https://* ]] || include=(--include=ca-certificates)  # apt's https needs the roots

commit=$(git rev-parse HEAD)
user=ana
[ -z "$as_root" ] || user=root
if [ -n "$dry_run" ]; then
    echo "== Debian $release from $mirror, security updates from $security${broken_i386:+ (through a local server" \
         "that breaks their i386 lists)}; commit ${commit:0:12}, as $user: tools/demo.sh, tools/test.sh," \
         "tools/release.sh${as_root:-, each again after the command it prints for root}; then apt-get update"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh_machine.sh needs root (debootstrap, chroot and mounts)" >&2; exit 1; }
[ -z "$(git status --porcelain)" ] ||
    echo "== the work tree has uncommitted changes: the fresh machine gets commit ${commit:0:12} without them"
ensure_packages debootstrap

checkout=$PWD
logs=$checkout/build/fresh-machine/$release-$(date +%Y%m%d-%H%M%S)
mkdir -p "$logs"
root=$(mktemp -d "/var/tmp/fresh-$release.XXXXXX")
# The process groups of the step being waited for and of the local mirror: each writes its group's id, its own pid,
# into a file of its own as it starts (in_group).
step_group=$logs/step.group proxy_group=$logs/mirror.group
chmod 755 "$root"  # the system's root directory, which its users must be able to traverse

# Whatever happens, Ctrl-C included: the step's whole process group and every process left in the system are
# stopped, what is mounted there is made a slave again and unmounted, deepest first, and only then, with nothing
# mounted, is the directory removed. The binds are made slaves as they are made, but mount(8) applies that with a
# second mount(2) call, so for an instant each is shared; making each a slave again before it is unmounted is what
# keeps an unmount from reaching this machine's own mounts.
mounts_inside() {
    awk -v root="$root/" 'index($5, root) == 1 {print $5}' /proc/self/mountinfo | sort -r
}
stop_group() {
    local id
    id=$(cat "$1" 2>/dev/null) || return 0
    [[ $id =~ ^[0-9]+$ ]] && kill "-$2" -- "-$id" 2>/dev/null || true
}
cleanup() {
    local status=$? process mount
    trap - EXIT INT TERM
    stop_group "$step_group" TERM
    stop_group "$proxy_group" TERM
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root" 2>/dev/null)" != "$root" ] || kill -9 "${process#/proc/}" 2>/dev/null || true
    done
    sleep 1
    stop_group "$step_group" KILL
    for mount in $(mounts_inside); do
        mount --make-rslave "$mount" 2>/dev/null || true
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

# in_group GROUP_FILE LOG COMMAND...: runs COMMAND in a process group of its own, its output in LOG, in the
# background, and waits for it (Ctrl-C then ends the wait at once, and the cleanup stops the whole group, saying so
# here, not in LOG); its exit code. The group's leader writes its pid, the group's id, into GROUP_FILE, whether
# setsid had to fork or not (it does under job control), and the file goes once the group has ended, so that no
# other process is ever signalled in its name.
in_group() {
    local group_file=$1 log=$2 status=0
    shift 2
    rm -f "$group_file"
    setsid --wait sh -c 'echo $$ >"$0" && exec "$@"' "$group_file" "$@" >"$log" 2>&1 &
    wait "$!" || status=$?
    rm -f "$group_file"
    return "$status"
}

results=() failed=()
# step LABEL USER COMMAND: runs COMMAND with bash in the fresh system, from the user's home, as USER: root (a
# login's environment), ana (a user's PATH, without sbin), or "su" (root, as ana gets it without sudo: su -c from
# ana's environment, which keeps her PATH); its output goes to a log of its own (last_log), its result and duration
# to the summary. Returns its exit code.
user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
step() {
    local label=$1 who=$2 command=$3 log status=0 start=$SECONDS home=/root as=() path=/usr/local/sbin:/usr/sbin:/sbin
    log=$logs/$(( ${#results[@]} + 1 ))-$(tr -c 'a-zA-Z0-9\n' - <<<"$label" | head -c 60).log
    path+=:$user_path
    case $who in
    ana) home=/home/ana as=(runuser -u ana --) path=$user_path ;;
    su) home=/home/ana as=() path=$user_path ;;
    esac
    local environment=(env -i HOME="$home" USER="${who/su/ana}" LOGNAME="${who/su/ana}" LANG=C.UTF-8 TERM=dumb
                       PATH="$path")
    echo "== $label (as $who; output in $log)"
    if [ "$who" = su ]; then
        in_group "$step_group" "$log" chroot "$root" "${environment[@]}" su -c "cd ~ && $command" || status=$?
    else
        in_group "$step_group" "$log" chroot "$root" "${as[@]}" "${environment[@]}" bash -c "cd ~ && $command" ||
            status=$?
    fi
    local elapsed=$((SECONDS - start))
    results+=("$(printf '%-64s exit %3d  %2d min %02d s' "$label (as $who)" "$status" $((elapsed / 60)) $((elapsed % 60)))")
    echo "   ${results[-1]}"
    last_log=$log
    return "$status"
}
# must LABEL USER COMMAND: a step whose failure fails the check.
must() {
    step "$@" || failed+=("$1 (exit $?)")
}
# as_staff SCRIPT: runs tools/SCRIPT in the clone as the user; where it stops, printing the command to run as root,
# that command is run as root, then the script again.
root_runs=0
as_staff() {
    local command status=0
    step "tools/$1" "$user" "cd vireska && tools/$1" || status=$?
    command=$(sed -n 's/^  \(\S*install_packages\.sh\)$/\1/p' "$last_log" | head -n 1)
    if [ "$status" -ne 0 ] && [ "$user" = ana ] && [ -n "$command" ]; then
        root_runs=$((root_runs + 1))
        must "as root, through su -c: $command" su "$command"
        must "tools/$1, again" ana "cd vireska && tools/$1"
    elif [ "$status" -ne 0 ]; then
        failed+=("tools/$1 (exit $status)")
    fi
    step_logs+=("$last_log")
}

start=$SECONDS
echo "== a fresh minimal Debian $release in $root"
in_group "$step_group" "$logs/debootstrap.log" debootstrap --variant=minbase "${include[@]}" "$release" "$root" "$mirror" ||
    { tail -n 20 "$logs/debootstrap.log" >&2; echo "debootstrap failed (above)" >&2; exit 1; }
if [ -n "$broken_i386" ]; then
    # (It prints its port first, then what it serves.)
    in_group "$proxy_group" "$logs/mirror.log" /usr/bin/python3 tools/broken_i386_lists.py "$security" $$ &
    for _ in $(seq 50); do [ ! -s "$logs/mirror.log" ] || break; sleep 0.1; done
    port=$(head -n 1 "$logs/mirror.log")
    [[ $port =~ ^[0-9]+$ ]] || { cat "$logs/mirror.log" >&2; echo "the local mirror did not start (above)" >&2; exit 1; }
    security=http://127.0.0.1:$port
fi
debian_tree "$root" "$release"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
for system in sys dev; do
    mount --rbind --make-rslave "/$system" "$root/$system"  # (slaves again before they are unmounted: see cleanup)
done
results+=("$(printf '%-64s          %2d min %02d s' "debootstrap --variant=minbase $release" $(( (SECONDS - start) / 60 )) \
                    $(( (SECONDS - start) % 60 )))")

# As the README has a person set up a machine: a user, git (through su -c, as a user without sudo), the commit
# cloned into the user's home.
home=/root
if [ "$user" = ana ]; then
    chroot "$root" useradd --create-home --shell /bin/bash ana
    home=/home/ana
fi
step "apt-get install git" "${user/ana/su}" "apt-get update && apt-get install -y git" ||
    { cat "$last_log" >&2; exit 1; }
git clone -q --no-hardlinks "$checkout" "$root$home/vireska"
git -C "$root$home/vireska" -c advice.detachedHead=false checkout -q "$commit"
chroot "$root" chown -R "$user:" "$home/vireska"
echo "== commit ${commit:0:12} cloned into $home/vireska"

# The README's order; the release is unsigned, and its build record says what its bytes came from.
step_logs=()
as_staff demo.sh
as_staff test.sh
as_staff release.sh
# No later update may fail because of what the scripts did (an i386 architecture left with a broken list).
must "apt-get update, afterwards" root "apt-get update"
foreign=$(chroot "$root" dpkg --print-foreign-architectures | paste -sd ' ')
# What this check promises: root needed once on the newcomer's path; with the broken list, that apt saw it broken,
# that the 32-bit Wine was refused with apt's reason, and that no foreign architecture was left behind.
[ -n "$as_root" ] || [ "$root_runs" -eq 1 ] || failed+=("root was needed $root_runs times, not once")
if [ -n "$broken_i386" ]; then
    grep -q 'binary-i386/.*File has unexpected size' "$logs"/*.log ||
        failed+=("apt never said \"File has unexpected size\" of an i386 list: the local mirror did not break it")
    grep -q '^== the 32-bit Wine could not be installed, .*apt-get said: ' "$logs"/*.log ||
        failed+=("the 32-bit Wine was not refused with apt's reason")
    [ -z "$foreign" ] || failed+=("foreign architectures left: $foreign")
fi

echo
echo "== Debian $release${broken_i386:+, with the i386 lists of $release-security broken}, commit ${commit:0:12}," \
     "as $user: results"
printf '%s\n' "${results[@]}"
echo "root was needed $root_runs time(s); foreign architectures afterwards: ${foreign:-none}"
echo
echo "== what tools/demo.sh said of its run:"
grep -hE '^== (running|.*instead|every box|the run differs|exit code)' "${step_logs[0]}" | sed 's/^/  /' ||
    tail -n 5 "${step_logs[0]}"
echo "== tools/test.sh's results:"
sed -n '/^== results/,$p' "${step_logs[1]}" | sed 's/^/  /'
grep -h 'the 32-bit Wine \(could not\|is not\)\|apt-get could not' "$logs"/*.log | sort -u | sed 's/^/  /' || true
echo "== tools/release.sh's files and build record:"
sed -n '/^== release/,$p' "${step_logs[2]}" | sed 's/^/  /'
cp "$root$home/vireska/dist/BUILDINFO" "$logs/BUILDINFO" 2>/dev/null && sed 's/^/  /' "$logs/BUILDINFO" ||
    echo "  (no dist/BUILDINFO)"
echo "== all output is in $logs"
if [ ${#failed[@]} -gt 0 ]; then
    echo "== FAILED: $(printf '%s; ' "${failed[@]}" | sed 's/; $//')"
    exit 1
fi
echo "== every step passed"
