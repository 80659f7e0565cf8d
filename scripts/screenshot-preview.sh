#!/usr/bin/env bash
# Takes a screenshot of the light preview as "test" opens it over a table of CC and Note
# rules: the stage with the details button, the fader strip with its header and handles,
# both keyboards with their marked keys. Runs under Xvfb; needs a build that has
# varilume-previewshot (any build directory, build-release by default).
#   scripts/screenshot-preview.sh [--play] [OUTPUT.png] [BUILD_DIR]
# --play: three fixtures on the stage, lit as a user lights them: the preview connects to
# a MIDI input on a JACK server started for the shot (dummy driver, package jackd2), three
# faders are moved and key C3 is held down; the held key's fixture shows its details.
set -euo pipefail
cd "$(dirname "$0")/.."
play=
if [ "${1:-}" = "--play" ]; then
  play=--play
  shift
fi
out=$(realpath -m "${1:-preview.png}")
build=${2:-build-release}
bin=$PWD/$build/tools/previewshot/varilume-previewshot
work=$(mktemp -d)
jack_pid=
cleanup() {
  if [ -n "$jack_pid" ]; then
    kill "$jack_pid" 2>/dev/null || true
    wait "$jack_pid" 2>/dev/null || true
    rm -f /dev/shm/*_"$JACK_DEFAULT_SERVER"_* 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
if [ -n "$play" ]; then
  export JACK_DEFAULT_SERVER=previewshot-$$ JACK_NO_AUDIO_RESERVATION=1
  # Synchronous, with a generous deadline: a late client would lose its MIDI.
  timeout -k 5 120 jackd --no-realtime --sync -t 10000 -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 \
    >jackd.log 2>&1 &
  jack_pid=$!
fi
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c "
  '$bin' $play --stay 8 &
  pid=\$!
  sleep 5
  import -window root '$out'
  wait \$pid
" 2>&1 | grep -v XDG_RUNTIME_DIR || true
echo "screenshot: $out"
