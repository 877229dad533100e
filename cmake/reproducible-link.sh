#!/bin/sh
# Link launcher of the Windows executables: reproducible-link.sh SOURCE_DIR LINK-COMMAND...
# The linker writes SOURCE_DATE_EPOCH, when it is set, as the PE time stamp. Unless the caller set it, this
# sets it to the time of the source tree's last commit (0 outside a git checkout), so that two builds of one
# commit give the same bytes wherever and whenever they are made.
source_dir=$1
shift
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=
    export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}"
fi
exec "$@"
