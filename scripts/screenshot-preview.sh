#!/usr/bin/env bash
# Takes a screenshot of the light preview as "test" opens it over a table of CC and Note
# rules: the stage with the details button, the fader strip with its header and handles,
# both keyboards with their marked keys. Runs under Xvfb; needs a build that has
# varilume-previewshot (any build directory, build-release by default).
#   scripts/screenshot-preview.sh [OUTPUT.png] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-preview.png}")
build=${2:-build-release}
bin=$PWD/$build/tools/previewshot/varilume-previewshot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c "
  '$bin' --stay 8 &
  pid=\$!
  sleep 5
  import -window root '$out'
  wait \$pid
" 2>&1 | grep -v XDG_RUNTIME_DIR || true
echo "screenshot: $out"
