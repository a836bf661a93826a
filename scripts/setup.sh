#!/usr/bin/env bash
# Prepares a Debian machine for building and testing: system packages, then the pinned
# third-party sources (checked by sha256) unpacked under third_party/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tp="$root/third_party"
cache="${ZOR_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zor-tabcast}"

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 libwine xvfb xauth xdotool
  # What Wine's Direct3D needs on a machine without a GPU: OpenGL through Mesa's llvmpipe, and the
  # X extensions its display driver uses (only recommended by the Wine packages, so named here).
  libgl1 libgl1-mesa-dri libosmesa6 libxrandr2 libxrender1 libxi6 libxcursor1 libxcomposite1
  libxinerama1 libxxf86vm1 libxfixes3
  googletest libstb-dev cmake make curl ca-certificates xz-utils imagemagick zip unzip
)

log() { printf '[setup] %s\n' "$*"; }

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q || true
  # With the recommended packages, as the tests were proven with them.
  $sudo apt-get install -y -q "${missing[@]}"
}

archive_root() {
  # The archive this machine's apt already uses (deb822 first, then the classic list).
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1=="deb" && $0 !~ /security/ {for(i=2;i<=NF;i++) if ($i ~ /^https?:/) {print $i; exit}}' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "no Debian archive configured for apt" >&2; return 1; }
  printf '%s' "${uri%/}"
}

# name | path under the archive root | sha256 | folder it unpacks into
deps=(
  "imgui|pool/main/i/imgui/imgui_1.90.1+ds.orig.tar.xz|ecce377df0f90b292f15dcbd83d438bddc162b2388c881132bde18c787572a1c|imgui"
  "zydis|pool/main/z/zydis/zydis_4.1.1.orig.tar.gz|dcc31180a31e7f568d79d55f8181bd961981559a5666bf6fac43a69ad8b406bf|zydis"
  "zycore|pool/main/z/zycore-c/zycore-c_1.5.2.orig.tar.gz|828f2e2e502c4a339c53162b865afd13de80fdfa068a9ba18032e743243027ea|zycore"
)

fetch_sources() {
  mkdir -p "$tp" "$cache"
  local base=""
  for d in "${deps[@]}"; do
    IFS='|' read -r name path sum dir <<<"$d"
    if [ -f "$tp/$dir/.unpacked-$sum" ]; then continue; fi
    local file="$cache/$(basename "$path")"
    if [ ! -f "$file" ] || ! echo "$sum  $file" | sha256sum -c --status; then
      [ -n "$base" ] || base=$(archive_root)
      log "downloading $name"
      curl -fsSL --retry 3 -o "$file.part" "$base/$path"
      mv "$file.part" "$file"
    fi
    if ! echo "$sum  $file" | sha256sum -c --status; then
      rm -f "$file"
      echo "checksum mismatch for $name ($path)" >&2
      return 1
    fi
    rm -rf "$tp/$dir"
    mkdir -p "$tp/$dir"
    tar -xf "$file" -C "$tp/$dir" --strip-components=1
    touch "$tp/$dir/.unpacked-$sum"
    log "unpacked $name"
  done
}

install_packages
fetch_sources
