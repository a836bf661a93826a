#!/usr/bin/env bash
# Runs every benchmark program under Wine and prints what each reports.
set -uo pipefail
build="$1"; shift || true
here=$(cd "$(dirname "$0")" && pwd)
rc=0
shopt -s nullglob
benches=("$build"/bin/bench_*.exe)
if [ ${#benches[@]} -eq 0 ]; then echo "no benchmarks built"; exit 0; fi
for b in "${benches[@]}"; do
  echo "== $(basename "$b" .exe)"
  (cd "$build/bin" && "$here/wine-run.sh" "$b" "$@") || { echo "   failed (exit $?)"; rc=1; }
done
exit $rc
