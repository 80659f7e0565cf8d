#!/usr/bin/env bash
# Installs what the project needs, builds an optimised editor and starts it.
# Without a display the editor runs under Xvfb: a screenshot of its window is saved and
# its path printed, then the editor is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build-release.sh

bin=$PWD/build-release/src/app/varilume
workdir=${VARILUME_WORKDIR:-$PWD/run}
mkdir -p "$workdir"
cd "$workdir"   # the editor keeps config.ini and Aliases.txt in its working directory

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin" "$@"
fi

echo "run.sh: no display found; starting the editor under Xvfb to take a screenshot."
shot=${VARILUME_SCREENSHOT:-$workdir/varilume-screenshot.png}
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$1" & pid=$!
  for i in $(seq 1 50); do
    sleep 0.2
    if xwininfo -root -tree 2>/dev/null | grep -q "\"Varilume\""; then break; fi
  done
  sleep 1
  import -window root "$2"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
' _ "$bin" "$shot"
echo "run.sh: screenshot of the editor window saved to $shot"
