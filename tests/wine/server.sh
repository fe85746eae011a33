#!/usr/bin/env bash
# The Wine tier's one Wine: a prefix made once per run of the tier, and one wineserver kept for the
# whole tier, so that no test pays for starting either. Usage:
#   server.sh start PREFIX VELKAR_EXE   makes the prefix afresh, starts the server, checks that Wine
#                                       runs velkar.exe
#   server.sh stop  PREFIX              stops the server (the prefix stays for a look afterwards)
# A Wine that cannot make its prefix or start a program fails the tier: nothing is skipped.
set -euo pipefail
mode=$1 prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}

case "$mode" in
  start)
    exe=$3
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    if ! mkdir -p "$prefix" 2>/dev/null || [ ! -w "$prefix" ]; then
      echo "FAIL: the Wine prefix $prefix cannot be written" >&2
      exit 1
    fi
    started=$(date +%s)
    # The server first: started after wineboot, it would find wineboot's own still running. It
    # stays until "stop" (-p: persistent).
    if ! wineserver -p >"$prefix.log" 2>&1; then
      echo "FAIL: Wine's server does not start:" >&2
      cat "$prefix.log" >&2
      exit 1
    fi
    # wineboot makes the prefix; under qemu's user-mode emulator this takes about half a minute.
    if ! timeout 600 wineboot --init >>"$prefix.log" 2>&1; then
      echo "FAIL: Wine could not make its prefix in $prefix:" >&2
      tail -20 "$prefix.log" >&2
      exit 1
    fi
    if ! timeout 300 wine "$exe" --version >"$prefix.version" 2>>"$prefix.log"; then
      echo "FAIL: Wine does not start velkar.exe on this machine (Wine is broken here, or the" >&2
      echo "emulator that runs 32-bit programs cannot run Wine: scripts/setup says which)." >&2
      tail -20 "$prefix.log" >&2
      exit 1
    fi
    echo "Wine prefix $prefix made and velkar.exe started in $(($(date +%s) - started)) s:" \
      "$(cat "$prefix.version")"
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    echo "wineserver stopped"
    ;;
  *)
    echo "usage: server.sh start PREFIX VELKAR_EXE | stop PREFIX" >&2
    exit 2
    ;;
esac
