#!/usr/bin/env bash
# The software update check's share of the editor's start-up and idle time. Four ways the
# check can go: switched off (VARILUME_NO_UPDATE_CHECK=1, the baseline), the built-in
# server (unreachable from the measuring machine: the name does not resolve), a local
# server that accepts the connection and never answers, and a local server that offers a
# newer version (the dialog appears). For each: main() to the first painted window
# (five runs) and the CPU time of ten idle seconds with the check done or still waiting.
# Needs an optimised build (scripts/build-release.sh); runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build-release/src/app/varilume
py=/usr/bin/python3
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

# A server that accepts and never answers.
$py -c '
import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
' > "$work/silent.port" &
pids+=($!)
# A server offering 5.0.
mkdir -p "$work/site/download/Product/Varilume/Update"
printf 'Varilume_V5.0\nUpdate content:\nA newer editor.\n' > "$work/site/download/Product/Varilume/Update/Varilume_UpdateWin.txt"
offer_port=$($py -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/site" && exec $py -m http.server --bind 127.0.0.1 "$offer_port" >/dev/null 2>&1) &
pids+=($!)
sleep 1
silent_port=$(cat "$work/silent.port")

mkdir -p "$work/run"
cd "$work/run"
run() {  # label, then environment assignments
  local label=$1; shift
  echo "== $label"
  for i in 1 2 3 4 5; do
    env "$@" xvfb-run -a "$bin" --quit-after-show 2>&1 | grep "first window"
  done
  env "$@" xvfb-run -a /usr/bin/time -f "  idle 10 s: CPU %U s user + %S s system, max RSS %M KB" \
    timeout -s INT 10 "$bin" 2>&1 | grep "idle 10 s" || true
}
run "check switched off (baseline)" VARILUME_NO_UPDATE_CHECK=1
run "built-in server (does not resolve here)" VARILUME_NO_UPDATE_CHECK=0
run "server that never answers" VARILUME_UPDATE_URL=http://127.0.0.1:$silent_port
run "server offering 5.0 (dialog shown)" VARILUME_UPDATE_URL=http://127.0.0.1:$offer_port
