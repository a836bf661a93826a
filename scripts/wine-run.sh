#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's own prefix and a quiet Wine.
# Used as the CMake cross-compiling emulator, so ctest runs every test program through it.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=d;mshtml=d}"
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Serialise the first boot of a prefix shared by parallel test programs.
  ( flock 9; [ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; } ) 9>"$WINEPREFIX.lock"
fi
# Start the server ourselves, detached from our output: a server started by wine inherits this
# program's stdout, and whoever reads it (ctest) would then wait until the server exits.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
if [ "${ZOR_WINE_BUFFER:-0}" = 1 ]; then
  # Wine's helper processes (services, desktop) started on first use also inherit our output
  # and outlive the program: give them a file, and hand its content on once the program ended.
  out=$(mktemp)
  wine "$@" </dev/null >"$out" 2>&1
  rc=$?
  cat "$out"
  rm -f "$out"
  exit $rc
fi
exec wine "$@" </dev/null
