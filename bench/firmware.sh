#!/usr/bin/env bash
# The firmware upgrade's share of the idle editor: the upgrade dialog's port list is
# refreshed on every 100 ms tick of the window, shown or not. Twenty idle seconds of the
# editor under Xvfb, three runs each: with no device at all, and with a simulated
# bootloader announced (listed on every tick). Then the Google Benchmark figures: the
# transfer with real pacing against varilume-simbox and its baseline, a bare chain of
# 10 ms timers; one tick's refresh with a fresh scan (the baseline) and cached.
# Needs an optimised build with the benchmarks (scripts/build-release.sh --bench).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build-release/src/app/varilume
simbox=$PWD/build-release/tools/simbox/varilume-simbox
work=$(mktemp -d)
box_pid=
cleanup() { [ -n "$box_pid" ] && kill "$box_pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VARILUME_SIMBOX_DIR=$work/boxes VARILUME_NO_UPDATE_CHECK=1
mkdir -p "$work/run"
cd "$work/run"

# CPU time of the editor's process over 20 idle seconds, counted from 3 s after its start
# (start-up left out), from /proc/<pid>/stat.
idle() {
  echo "== $1"
  for i in 1 2 3; do
    xvfb-run -a "$bin" >/dev/null 2>&1 &
    local runner=$!
    sleep 3
    local pid
    pid=$(pgrep -n -f "^$bin\$" || true)
    if [ -z "$pid" ]; then echo "  the editor did not start"; kill "$runner" 2>/dev/null || true; continue; fi
    local hz before after
    hz=$(getconf CLK_TCK)
    before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep 20
    after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    kill -TERM "$pid" 2>/dev/null || true
    wait "$runner" 2>/dev/null || true
    awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "  idle 20 s: CPU %.2f s, %.2f %% of a core\n", t / hz, 100 * t / hz / 20 }'
  done
}
idle "no device"
"$simbox" --upgrade >"$work/box.out" 2>/dev/null &
box_pid=$!
sleep 1
idle "a simulated bootloader announced"
kill "$box_pid"; wait "$box_pid" 2>/dev/null || true; box_pid=

cd - >/dev/null
build-release/bench/bench_firmware --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
