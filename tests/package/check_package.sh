#!/usr/bin/env bash
# The player's download: scripts/package.sh, run into a folder of its own, leaves one archive
# that holds exactly the DLL that was built, the guide, and the licence notices.
#   tests/package/check_package.sh <build folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bash "$root/scripts/package.sh" "$build" "$work/out" > "$work/said"
archives=("$work"/out/*)
[ "${#archives[@]}" -eq 1 ] || { echo "expected one file in the output folder, found: ${archives[*]}" >&2; exit 1; }
archive=${archives[0]}
[ "$(cat "$work/said")" = "$archive" ] || { echo "the script named $(cat "$work/said"), not $archive" >&2; exit 1; }
name=$(basename "$archive" .zip)
[[ "$name" =~ ^ZorTabcast-[0-9]+(\.[0-9]+)+$ ]] || { echo "unexpected archive name $name" >&2; exit 1; }

expected="$name/LEEME.md
$name/LICENCIAS/DearImGui-LICENSE.txt
$name/LICENCIAS/GCC-runtime-LICENSE.txt
$name/LICENCIAS/LEEME.txt
$name/LICENCIAS/MinGW-w64-runtime-LICENSE.txt
$name/LICENCIAS/Zycore-LICENSE.txt
$name/LICENCIAS/Zydis-LICENSE.txt
$name/ZorTabcastPlugin.dll"
listed=$(unzip -Z1 "$archive" | LC_ALL=C sort)
if [ "$listed" != "$expected" ]; then
  echo "the archive holds:" >&2; echo "$listed" >&2
  echo "expected:" >&2; echo "$expected" >&2
  exit 1
fi

unzip -q "$archive" -d "$work/x"
cmp "$work/x/$name/ZorTabcastPlugin.dll" "$build/bin/ZorTabcastPlugin.dll"
cmp "$work/x/$name/LEEME.md" "$root/LEEME.md"
for f in "$work/x/$name"/LICENCIAS/*; do
  [ -s "$f" ] || { echo "empty notice $f" >&2; exit 1; }
done
grep -q "MIT" "$work/x/$name/LICENCIAS/DearImGui-LICENSE.txt"
echo "package ok: $name.zip"
