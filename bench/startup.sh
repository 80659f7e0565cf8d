#!/usr/bin/env bash
# Whole-process start-up of the editor: time from main() to the first painted window as
# the editor reports it, wall time of the whole process and its peak memory, five runs.
# Needs an optimised build (bash scripts/build-release.sh); runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build-release/src/app/varilume
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for i in 1 2 3 4 5; do
  xvfb-run -a /usr/bin/time -f "  process: wall %e s, max RSS %M KB" "$bin" --quit-after-show 2>&1 \
    | grep -v XDG_RUNTIME_DIR
done
