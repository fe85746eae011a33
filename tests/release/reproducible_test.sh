#!/usr/bin/env bash
# The release DLL is reproducible: built twice, in two build folders of different paths, it comes
# out the same, byte for byte, and so does its debug file. Usage:
#   reproducible_test.sh [WORK_DIR]     (default build/reproducible; emptied first)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$src/build/reproducible}
rm -rf "$work"
mkdir -p "$work"

build() {  # folder
  cmake -S "$src" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVATUPDATE_RELEASE=ON >/dev/null
  cmake --build "$1" -j2 --target vatupdate >/dev/null
}

a=$work/a
b=$work/second-build/b
build "$a"
build "$b"
status=0
for f in vatupdate.dll vatupdate-*-win32.dll.debug; do
  fa=$(cd "$a" && ls $f) || { echo "FAIL: $f not built" >&2; exit 1; }
  if cmp "$a/$fa" "$b/$fa"; then
    echo "same in both builds: $fa ($(sha256sum <"$a/$fa" | cut -c1-16)...)"
  else
    echo "FAIL: $fa differs between $a and $b" >&2
    status=1
  fi
done
[ $status = 0 ] && rm -rf "$work"
exit $status
