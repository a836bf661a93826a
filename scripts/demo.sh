#!/usr/bin/env bash
# The demo: the game simulator plays its default scenario with the plugin loaded (a Kenworth
# W900, ignition and engine on, driving, a "Lofi radio - YouTube" window open), then the panel
# walk-through (the first-run wizard, calibration switched off, Aplicaciones, Diagnostico), the
# same in English (the wizard's pages and the panel's four tabs), then a full-screen test chart
# played on the tablet (sharpness.png: the old and the new scaling side by side). It leaves the screenshots, the
# simulator's console, the game log, the plugin's own log and the exported support report in
# out/demo/.
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
rm -f "$out"/*.png "$out"/console.txt "$out"/game_log.txt "$out"/ZorTabcast.log "$out"/ZorTabcast_Diagnostic_Report.txt
rm -rf "$out/panel" "$out/panel_en" "$out/titles" "$out/sharpness" "$out/still"
# Wine sees the Linux root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
(cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --scenario "$(winpath "$root/sim/scenarios/demo.txt")" \
  --plugin "$(winpath "$build/bin/ZorTabcastPlugin.dll")" --out "$(winpath "$out")")
rc=$?

# Runs sim/scenarios/NAME.txt with the test build of the plugin (the same plugin with an export
# that reports where the panel's buttons are) in a folder of its own, so each starts as a new
# player's would; its screenshots and any support report join the others, its console and logs
# stay in out/demo/NAME/.
test_build_scenario() {
  local name=$1 plugin code
  plugin=$(mktemp -d)
  cp "$build/bin/ZorTabcastPlugin_playback.dll" "$plugin/"
  mkdir -p "$out/$name"
  (cd "$build/bin" && "$here/wine-run.sh" zor_sim.exe --scenario "$(winpath "$root/sim/scenarios/$name.txt")" \
    --plugin "$(winpath "$plugin/ZorTabcastPlugin_playback.dll")" --out "$(winpath "$out/$name")")
  code=$?
  mv "$out/$name"/*.png "$out/" 2>/dev/null
  [ -f "$plugin/ZorTabcast_Diagnostic_Report.txt" ] && cp "$plugin/ZorTabcast_Diagnostic_Report.txt" "$out/"
  rm -rf "$plugin"
  [ $rc -eq 0 ] && rc=$code
}
# The panel, clicked through as a new player does: the first-run wizard, Aplicaciones, Diagnostico.
test_build_scenario panel
# The same player in English: the wizard switched to English in its language box, its pages and
# the panel's four tabs (en_*_screen.png).
test_build_scenario panel_en
# A music program whose title turns into the song: it plays on, and the panel shows the song.
test_build_scenario titles
# A browser that stops painting its covered window: the log's warning and the panel's hint.
test_build_scenario still
# Picture quality: a full-screen test chart played on the tablet (calibration off); sharpness.png
# and the texture's picture.
test_build_scenario sharpness
echo
echo "demo output is in $out:"
for f in "$out"/*.png; do
  case "$f" in
    *_screen.png) echo "  $(basename "$f")  the game window as the screen shows it (after Present, overlays included)" ;;
    */sharpness.png) echo "  sharpness.png  the test chart through StretchBlt COLORONCOLOR (left) and the new scaler (right), a close-up of the tablet playing it below, then the fine stripes shrunk by 1.1, 1.3, 1.5, 1.95 and 3 with the old area average (left) and the tent (right); their deviations are in sharpness/console.txt" ;;
    */chart_top_mip.png) echo "  chart_top_mip.png  what the tablet's replacement texture holds of the test chart (its top mip)" ;;
    *) echo "  $(basename "$f")  the cab's frame, read back before Present" ;;
  esac
done
[ -f "$out/console.txt" ] && echo "  console.txt  the simulator's console"
[ -f "$out/game_log.txt" ] && echo "  game_log.txt  what the plugin logged through the game's log callback"
[ -f "$out/ZorTabcast.log" ] && echo "  ZorTabcast.log  the plugin's own log file, the lines of this run"
[ -f "$out/ZorTabcast_Diagnostic_Report.txt" ] && echo "  ZorTabcast_Diagnostic_Report.txt  the support report exported in the Diagnostico tab"
[ -d "$out/panel" ] && echo "  panel/  console and logs of the panel walk-through (sim/scenarios/panel.txt)"
[ -d "$out/panel_en" ] && echo "  panel_en/  console and logs of the English walk-through (sim/scenarios/panel_en.txt)"
[ -d "$out/titles" ] && echo "  titles/  console and logs of the music program whose title is the song (sim/scenarios/titles.txt)"
[ -d "$out/still" ] && echo "  still/  console and logs of the browser that stops painting while covered (sim/scenarios/still.txt)"
[ -d "$out/sharpness" ] && echo "  sharpness/  console and logs of the test chart on the tablet (sim/scenarios/sharpness.txt)"
exit $rc
