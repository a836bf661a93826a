#!/usr/bin/env bash
# The README's two pictures, taken from the demo's screenshots and shrunk: the tablet playing the
# media window in the cab, and the panel over the game while the tablet plays. Run by
# `./tabcast demo --docs` after a demo that passed.
set -euo pipefail
demo="$1"; docs="$2"
if ! command -v convert >/dev/null; then
  echo "the pictures need ImageMagick's convert (scripts/setup.sh installs it)" >&2
  exit 1
fi
mkdir -p "$docs"
shrink() {
  if [ ! -f "$demo/$1" ]; then
    echo "the demo left no $1 in $demo" >&2
    exit 1
  fi
  # 800 pixels wide, 256 colours, no metadata: a few tens of kilobytes in the repository.
  convert "$demo/$1" -resize 800x -strip -dither None -colors 256 "PNG8:$docs/$2"
  echo "  $docs/$2 from $1 ($(stat -c %s "$docs/$2") bytes)"
}
echo "README pictures:"
shrink cab_playing.png tablet.png
shrink applications_in_use_screen.png panel.png
