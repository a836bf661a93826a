#!/usr/bin/env bash
# Runs every benchmark program under Wine and prints what each reports, then the simulator's
# frame-time benchmark (the cab scene with and without the plugin, as a ratio from one run).
set -uo pipefail
build=$(cd "$1" && pwd); shift || true
here=$(cd "$(dirname "$0")" && pwd)
rc=0
shopt -s nullglob
benches=("$build"/bin/bench_*.exe)
for b in "${benches[@]}"; do
  echo "== $(basename "$b" .exe)"
  (cd "$build/bin" && "$here/wine-run.sh" "$b" "$@") || { echo "   failed (exit $?)"; rc=1; }
done
if [ -f "$build/bin/zor_sim.exe" ]; then
  echo "== sim_frame"
  out="$build/bench_sim"
  mkdir -p "$out"
  winout=$(printf 'Z:%s' "$out" | tr '/' '\\')
  (cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --bench 5 --bench-frames 60 --out "$winout") \
    | grep -E '^(bench round|sim_frame:|FAILED|CRASH)'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "   failed"; rc=1; }
  # The two playback targets, with a private copy of the plugin: its ZOR folder holds the
  # target the plugin restores, and the build folder's settings stay untouched.
  echo "== sim_target"
  mkdir -p "$out/plugin"
  cp "$build/bin/ZorTabcastPlugin.dll" "$out/plugin/"
  (cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --bench 5 --bench-frames 60 --bench-target \
      --plugin "$winout\\plugin\\ZorTabcastPlugin.dll" --out "$winout") \
    | grep -E '^(bench round|sim_target:|FAILED|CRASH)'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "   failed"; rc=1; }
  if [ -f "$build/bin/ZorTabcastPlugin_playback.dll" ]; then
    echo "== sim_playback"
    (cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --bench 5 --bench-frames 60 --bench-playback \
        --plugin ZorTabcastPlugin_playback.dll --out "$winout\\playback") \
      | grep -E '^(bench round|sim_playback:|FAILED|CRASH)'
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "   failed"; rc=1; }
  fi
elif [ ${#benches[@]} -eq 0 ]; then
  echo "no benchmarks built"
fi
exit $rc
