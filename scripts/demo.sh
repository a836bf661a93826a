#!/usr/bin/env bash
# The demo: loads the plugin in the host program and keeps what it produced in out/demo/.
set -uo pipefail
build="$1"; out="$2"
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$build/bin/zor_host.exe" ]; then
  (cd "$build/bin" && "$here/wine-run.sh" zor_host.exe ZorTabcastPlugin.dll) | tee "$out/console.txt"
  rc=${PIPESTATUS[0]}
else
  echo "the host program was not built" >&2
  rc=1
fi
echo "demo output is in $out"
exit $rc
