#!/usr/bin/env bash
# Builds the archive a player downloads: the plugin DLL, the player's guide (LEEME.md) and the
# licence notices of the third-party code linked into the DLL, in out/ZorTabcast-<version>.zip.
#   scripts/package.sh <build folder> <output folder>
set -euo pipefail
build=$(cd "$1" && pwd)
out="$2"
root=$(cd "$(dirname "$0")/.." && pwd)
tp="$root/third_party"

dll="$build/bin/ZorTabcastPlugin.dll"
[ -f "$dll" ] || { echo "the plugin was not built ($dll)" >&2; exit 1; }
[ -f "$root/LEEME.md" ] || { echo "LEEME.md is missing" >&2; exit 1; }

# The version the plugin announces in its start line ("ZorTabcastPlugin V4.8.5.2 - ...").
version=$(grep -o 'ZorTabcastPlugin V[0-9][0-9.]*' "$root/src/plugin/TelemetryEntry.cpp" | head -n 1 | sed 's/.* V//')
[ -n "$version" ] || version=dev

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
name="ZorTabcast-$version"
mkdir -p "$stage/$name/LICENCIAS"
cp "$dll" "$stage/$name/"
cp "$root/LEEME.md" "$stage/$name/"

# What the DLL carries inside, and the notice each licence asks a binary to reproduce.
notice() { # <source file> <name in the archive>
  [ -f "$1" ] || { echo "licence text missing: $1" >&2; exit 1; }
  cp "$1" "$stage/$name/LICENCIAS/$2"
}
notice "$tp/imgui/LICENSE.txt" "DearImGui-LICENSE.txt"
notice "$tp/zydis/LICENSE" "Zydis-LICENSE.txt"
notice "$tp/zycore/LICENSE" "Zycore-LICENSE.txt"
# The MinGW-w64 run-time (start-up code, winpthreads) and GCC's run-time libraries (libstdc++,
# libgcc; GPL with the GCC Runtime Library Exception), linked statically.
notice /usr/share/doc/mingw-w64-x86-64-dev/copyright "MinGW-w64-runtime-LICENSE.txt"
notice /usr/share/doc/gcc-mingw-w64-base/copyright "GCC-runtime-LICENSE.txt"
cat > "$stage/$name/LICENCIAS/LEEME.txt" <<'TXT'
ZorTabcastPlugin.dll lleva dentro codigo de terceros, enlazado de forma estatica:

- Dear ImGui 1.90.1 (licencia MIT): DearImGui-LICENSE.txt
- Zydis 4.1.1 y Zycore 1.5.2 (licencia MIT): Zydis-LICENSE.txt, Zycore-LICENSE.txt
- El entorno de ejecucion de MinGW-w64, incluido winpthreads: MinGW-w64-runtime-LICENSE.txt
- Las bibliotecas de ejecucion de GCC (libstdc++, libgcc), bajo la GPL con la excepcion de
  bibliotecas de ejecucion de GCC: GCC-runtime-LICENSE.txt
TXT

mkdir -p "$out"
archive="$(cd "$out" && pwd)/$name.zip"
rm -f "$archive"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | zip -q -X "$archive" -@)
echo "$archive"
