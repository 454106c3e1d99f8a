#!/usr/bin/env bash
# The echo canceller's figures: offline, then live on a private virtual
# desktop (X server and audio server) with room-rig as the room.
# usage: bench/echo/run.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
here=$(cd "$(dirname "$0")" && pwd)
bench=$(find "$build" -name echo_bench -type f | head -1)
helper=$(find "$build" -name tarsel-helper -type f -path '*Helper*' | head -1)
demo=$(find "$build" -name demo-window -type f | head -1)
rig=$(find "$build" -name room-rig -type f | head -1)

echo "Offline (the room simulated in-process):"
"$bench" offline

state=$(mktemp -d)
trap '"$here/../../scripts/virtual-desktop" stop "$state"; rm -rf "$state"' EXIT
eval "$("$here/../../scripts/virtual-desktop" start "$state" | sed 's/^/export /')"
echo "Live (the helper recording on a virtual desktop, room-rig as the room):"
"$bench" live "$helper" "$demo" "$rig"
