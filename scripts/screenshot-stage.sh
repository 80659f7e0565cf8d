#!/usr/bin/env bash
# Builds varilume-stageshot and takes a screenshot of it under Xvfb: the stage with three
# fixtures (one selected with its details panel, one with a picture, one whose name is cut
# with "."), and a background picture made smaller with the mouse.
#   bash scripts/screenshot-stage.sh [OUTPUT.png]     (default build-shot/stage.png)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VARILUME_SHOT_BUILD_DIR:-build-shot}
out=${1:-$build/stage.png}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARILUME_TESTS=OFF >/dev/null
cmake --build "$build" --target varilume-stageshot --parallel "$(nproc)"

xvfb-run -a -s "-screen 0 1160x700x24" bash -c '
  "$1" & pid=$!
  for i in $(seq 1 50); do
    sleep 0.2
    if xwininfo -root -tree 2>/dev/null | grep -q "\"Varilume stage\""; then break; fi
  done
  sleep 1
  import -window root "$2"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
' _ "$build/tools/stageshot/varilume-stageshot" "$out"
echo "screenshot-stage.sh: saved $out"
