#!/usr/bin/env bash
# The demo: the game simulator plays its default scenario with the plugin loaded (a Kenworth
# W900, ignition and engine on, driving, a "Lofi radio - YouTube" window open). It leaves the
# screenshots, the simulator's console, the game log and the plugin's own log in out/demo/.
set -uo pipefail
build="$1"; out="$2"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
sim="$build/bin/zor_sim.exe"
if [ ! -f "$sim" ]; then
  echo "the simulator was not built ($sim)" >&2
  exit 1
fi
mkdir -p "$out"
rm -f "$out"/*.png "$out"/console.txt "$out"/game_log.txt "$out"/ZorTabcast.log
# Wine sees the Linux root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
(cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --scenario "$(winpath "$root/sim/scenarios/demo.txt")" \
  --plugin "$(winpath "$build/bin/ZorTabcastPlugin.dll")" --out "$(winpath "$out")")
rc=$?
echo
echo "demo output is in $out:"
for f in "$out"/*.png; do
  case "$f" in
    *_screen.png) echo "  $(basename "$f")  the game window as the screen shows it (after Present, overlays included)" ;;
    *) echo "  $(basename "$f")  the cab's frame, read back before Present" ;;
  esac
done
[ -f "$out/console.txt" ] && echo "  console.txt  the simulator's console"
[ -f "$out/game_log.txt" ] && echo "  game_log.txt  what the plugin logged through the game's log callback"
[ -f "$out/ZorTabcast.log" ] && echo "  ZorTabcast.log  the plugin's own log file, the lines of this run"
exit $rc
