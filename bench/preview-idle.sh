#!/usr/bin/env bash
# CPU of the whole editor process, idle for 60 s with a full table (3072 rules, half of
# them CC rules): with the light preview open (as "test" opens it) and, as the baseline in
# the same run, with the preview closed. Needs bash scripts/build-release.sh; runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build-release/tools/previewshot/varilume-previewshot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
measure() {
  xvfb-run -a -s "-screen 0 1600x1000x24" bash -c "
    '$bin' --full --stay 75 $1 &
    pid=\$!
    sleep 10
    t0=\$(awk '{print \$14 + \$15}' /proc/\$pid/stat)
    sleep 60
    t1=\$(awk '{print \$14 + \$15}' /proc/\$pid/stat)
    hz=\$(getconf CLK_TCK)
    awk -v d=\$((t1 - t0)) -v hz=\$hz 'BEGIN { printf \"  %.2f s of CPU in 60 s: %.2f %% of a core\n\", d / hz, 100 * d / hz / 60 }'
    wait \$pid
  " 2>&1 | grep -v XDG_RUNTIME_DIR
}
echo "preview open:"
measure ""
echo "preview closed (baseline):"
measure --no-test
