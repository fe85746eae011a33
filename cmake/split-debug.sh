#!/bin/sh
# Moves the debug information of a linked DLL into a file of its own and leaves the DLL stripped,
# with a debug link (the debug file's name and CRC) to it:
#   split-debug.sh OBJCOPY DLL DEBUG_FILE SOURCE_DIR
# objcopy writes the PE header's time stamp again; it takes SOURCE_DATE_EPOCH, which defaults to
# the time of the source tree's last commit, so that every build of a commit gives the same bytes.
set -eu
objcopy=$1 dll=$2 debug=$3 source_dir=$4
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH
rm -f "$debug"
"$objcopy" --only-keep-debug "$dll" "$debug"
# The debug link names the file only; a debugger looks for it next to the DLL.
cd "$(dirname "$debug")"
"$objcopy" --strip-all --add-gnu-debuglink="$(basename "$debug")" "$dll"
