#!/bin/sh
# Link launcher of the Windows executables: reproducible-link.sh SOURCE_DIR LINK-COMMAND...
# The linker writes SOURCE_DATE_EPOCH, when it is set, as the PE time stamp. Unless the caller set it, this
# sets it to the time of the source tree's last commit, so that two builds of one commit with one toolchain give
# the same bytes. Only sources that are no git work tree at all (an exported archive) get 0; in a work tree whose
# commit git cannot read (a checkout owned by another user, say), the link fails with git's own message.
source_dir=$1
shift
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>&1)
    case $SOURCE_DATE_EPOCH in
    "" | *[!0-9]*) ;;
    *) export SOURCE_DATE_EPOCH
       exec "$@" ;;
    esac
    if [ -e "$source_dir/.git" ]; then
        echo "reproducible-link.sh: git cannot give the time of the last commit of $source_dir, which the" \
             "executable's time stamp must be: ${SOURCE_DATE_EPOCH:-git said nothing}" >&2
        exit 1
    else
        SOURCE_DATE_EPOCH=0
    fi
    export SOURCE_DATE_EPOCH
fi
exec "$@"
