#!/usr/bin/env bash
# Runs the X11 capture benchmark on a private Xvfb: a moving and a still
# 1280x720 window, captured one after the other in one run.
# usage: bench/x11/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?build directory}
seconds=${2:-10}
bench=$(find "$build" -name x11_capture_bench -type f | head -1)
demo=$(find "$build" -name demo-window -type f | head -1)

exec 3< <(:)
numberFile=$(mktemp)
Xvfb -displayfd 4 -screen 0 1920x1080x24 -nolisten tcp -noreset 4>"$numberFile" 2>/dev/null &
server=$!
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  kill "$server" 2>/dev/null || true
  rm -f "$numberFile"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$numberFile" ] && break; sleep 0.05; done
export DISPLAY=":$(head -1 "$numberFile")"

exec 5< <("$demo" --title moving --size 1280x720 --position 0,0)
pids+=($!)
read -r moving <&5
exec 6< <("$demo" --title still --size 1280x720 --position 600,300 --still)
pids+=($!)
read -r still <&6
"$bench" "$seconds" "$moving" "$still"
