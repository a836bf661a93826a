#!/usr/bin/env bash
# The chaos runs: three fixed seeds of ZOR_CHAOS_EVENTS events (2000) each and a soak of
# ZOR_SOAK_MINUTES minutes (10), each in an output folder of its own under BUILD/chaos; one
# summary line each (the count of events of each kind; the soak's growth of memory, handles and
# GDI objects). The whole console of a run is in its folder's console.txt.
set -uo pipefail
build=$(cd "$1" && pwd); shift || true
here=$(cd "$(dirname "$0")" && pwd)
events="${ZOR_CHAOS_EVENTS:-2000}"
minutes="${ZOR_SOAK_MINUTES:-10}"
rc=0
run() {  # NAME ARGS...
  local name=$1; shift
  local out="$build/chaos/$name"
  rm -rf "$out"; mkdir -p "$out"
  local winout; winout=$(printf 'Z:%s' "$out" | tr '/' '\\')
  local code=0
  (cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe "$@" --out "$winout") > "$out/run.txt" 2>&1 || code=$?
  grep -E '^(chaos: seed|soak: |FAILED|CRASH|TIMEOUT)' "$out/run.txt"
  [ $code -eq 0 ] || { echo "   $name failed (exit $code); see $out/console.txt"; rc=1; }
  WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
for seed in 1 2 3; do run "seed$seed" --chaos "$seed" --events "$events"; done
[ "$minutes" -gt 0 ] && run soak --soak "$minutes"
exit $rc
