#!/usr/bin/env bash
# Makes, as root, the disk image of the Debian 13 virtual machine in which tools/test.sh runs the 32-bit release's
# end-to-end scenarios where this machine's kernel runs no 32-bit programs: a debootstrap tree with Debian's kernel,
# the 64-bit and 32-bit Wine and Python, made into an ext4 image with mke2fs -d (nothing is mounted but /proc in the
# tree), beside the kernel and its initramfs. It is kept in VIRESKA_VM_CACHE (/var/cache/vireska/vm) and made again
# only when what went into it changes: the Debian release, the list of packages, this script (which holds the
# machine's init) or the tree's sources (debian_tree), or, checked against the mirror, the version of a package in it.
#
#   tools/vm_image.sh [--check]
#
# --check only says whether the image is there and current ("current", "missing", or "out of date: WHY"; exit 0 for
# current), and may run as any user (the versions are then not checked: that needs root's apt lists).
. "$(dirname "$(readlink -f "$0")")/common.sh"

case ${1:-} in
"" | --check) ;;
*) echo "usage: tools/vm_image.sh [--check]" >&2; exit 2 ;;
esac
VM_RELEASE=trixie
# What the machine runs: Debian's kernel, Python for the driver, and the Wine of the scripts' own list (wine32:i386
# and its X libraries among them), with its locales.
VM_PACKAGES=(linux-image-amd64 kmod python3 "${WINE_PACKAGES[@]}")
cache=${VIRESKA_VM_CACHE:-/var/cache/vireska/vm}
key=$( { echo "$VM_RELEASE"; printf '%s\n' "${VM_PACKAGES[@]}"; cat "$0"; declare -f debian_tree; } | sha256sum |
      cut -d' ' -f1)

# The machine's init: the file systems a system has (the user's home on a tmpfs of its own: the Wine prefixes need
# room, and the image has little), the shared folder, then the run script that the test run put there; then it
# powers off. (A panic reboots, which QEMU's -no-reboot turns into its exit.)
INIT='#!/bin/sh
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm /share
mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm; mount -t tmpfs tmpfs /tmp; mount -t tmpfs tmpfs /run
mount -t tmpfs -o size=3g,mode=755,uid=$(id -u vireska),gid=$(id -g vireska) tmpfs /home/vireska
modprobe 9pnet_virtio
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /share
echo "vireska-vm: up"
[ -f /share/run.sh ] && sh /share/run.sh
echo "vireska-vm: done"
sync
echo o >/proc/sysrq-trigger
exec sleep 60'

# Whether the image is current: missing, made for another key, or (as root, with the mirror at hand) holding a
# package of which the mirror now has another version.
image_state() {
    [ -s "$cache/image.ext4" ] && [ -s "$cache/vmlinuz" ] && [ -s "$cache/initrd.img" ] || { echo missing; return; }
    [ "$(cat "$cache/key" 2>/dev/null)" = "$key" ] ||
        { echo "out of date: the release, the packages' list or tools/vm_image.sh changed"; return; }
    [ "$(id -u)" -eq 0 ] && [ -s "$cache/apt/sources.list" ] || { echo current; return; }
    local apt=(-o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache"
               -o Dir::Etc::SourceList="$cache/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::status="$cache/dpkg-status" -o APT::Architecture=amd64 -o APT::Architectures::=amd64
               -o APT::Architectures::=i386 -o Debug::NoLocking=1) newer
    if ! apt-get "${apt[@]}" update -qq >"$cache/apt/update.log" 2>&1; then
        echo "current (its packages' versions could not be checked: $(grep -m 1 '^[EW]: ' "$cache/apt/update.log"))"
        return
    fi
    newer=$(apt-get "${apt[@]}" -s upgrade 2>/dev/null | sed -n 's/^Inst \(\S*\) \[\(\S*\)\] (\(\S*\) .*/\1 \2 -> \3/p')
    [ -z "$newer" ] || { echo "out of date: the mirror has $(wc -l <<<"$newer") newer package(s), such as" \
                             "$(head -n 1 <<<"$newer")"; return; }
    echo current
}

state=$(image_state)
if [ "${1:-}" = --check ]; then
    echo "$state"
    [[ $state == current* ]]
    exit
fi
if [[ $state == current* ]]; then
    echo "== the virtual machine's image in $cache is $state"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "tools/vm_image.sh makes the image as root (debootstrap, chroot): $state" >&2; exit 1; }
ensure_packages debootstrap
debian_mirrors
echo "== making the virtual machine's image ($state): Debian $VM_RELEASE from $mirror, in $cache"
start=$SECONDS
mkdir -p "$cache"
tree=$(mktemp -d /var/tmp/vireska-vm.XXXXXX)
chmod 755 "$tree"
cleanup() {
    umount "$tree/proc" 2>/dev/null || true
    [ -z "$(awk -v root="$tree/" 'index($5, root) == 1' /proc/self/mountinfo)" ] && rm -rf --one-file-system "$tree"
    rm -f "$cache/image.ext4.new"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
include=(--include=ca-certificates)
logged build/vm-image.log debootstrap --variant=minbase "${include[@]}" "$VM_RELEASE" "$tree" "$mirror"
debian_tree "$tree" "$VM_RELEASE"
mount -t proc proc "$tree/proc"
logged build/vm-image.log chroot "$tree" sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get dist-upgrade -y -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ${VM_PACKAGES[*]} &&
    sed -i 's/^# *$SPANISH_LOCALE\$/$SPANISH_LOCALE/' /etc/locale.gen && locale-gen &&
    useradd --create-home --shell /bin/sh vireska && apt-get clean"
umount "$tree/proc"
printf '%s\n' "$INIT" >"$tree/vireska-init"
chmod 755 "$tree/vireska-init"
rm -f "$tree/usr/sbin/policy-rc.d"
rm -rf "$tree"/var/lib/apt/lists/*
# What the image holds, for the versions' check of later runs: its dpkg status and the sources it came from.
mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
cp "$tree/var/lib/dpkg/status" "$cache/dpkg-status"
printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
       "$mirror" "$VM_RELEASE" "$mirror" "$VM_RELEASE-updates" "$security" "$VM_RELEASE-security" >"$cache/apt/sources.list"
cp "$(ls "$tree"/boot/vmlinuz-* | sort -V | tail -n 1)" "$cache/vmlinuz"
cp "$(ls "$tree"/boot/initrd.img-* | sort -V | tail -n 1)" "$cache/initrd.img"
used=$(du -s -B1M --one-file-system "$tree" | cut -f1)
logged build/vm-image.log mke2fs -q -F -t ext4 -d "$tree" -L vireska-vm "$cache/image.ext4.new" "$((used * 5 / 4 + 768))M"
mv "$cache/image.ext4.new" "$cache/image.ext4"
echo "$key" >"$cache/key"
chmod -R a+rX "$cache"
echo "== the virtual machine's image is made in $((SECONDS - start)) s: $(du -sh --apparent-size "$cache/image.ext4" |
                                                                              cut -f1) ($(du -sh "$cache/image.ext4" |
                                                                              cut -f1) on disk), in $cache"
