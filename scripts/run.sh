#!/usr/bin/env bash
# Installs what the project needs, builds an optimised editor and starts it.
# Without a display the editor runs under Xvfb: a screenshot of its window is saved and
# its path printed, then the editor is stopped.
# A simulated KVR-9000 (varilume-simbox) runs beside the editor and shows in its port
# list; it starts with a small example table, keeps its table in run/simbox-table.bin
# between runs and stops with the editor. VARILUME_SIMBOX_ARGS adds options (see varilume-simbox --help);
# VARILUME_NO_SIMBOX=1 leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build-release.sh

bin=$PWD/build-release/src/app/varilume
simbox=$PWD/build-release/tools/simbox/varilume-simbox
workdir=${VARILUME_WORKDIR:-$PWD/run}
mkdir -p "$workdir"
cd "$workdir"   # the editor keeps config.ini and Aliases.txt in its working directory

# The simulated box, announced in a directory both programs are told about.
export VARILUME_SIMBOX_DIR=${VARILUME_SIMBOX_DIR:-$workdir/simbox}
simbox_pid=
stop_simbox() {
  if [ -n "$simbox_pid" ]; then
    kill "$simbox_pid" 2>/dev/null || true
    wait "$simbox_pid" 2>/dev/null || true
  fi
}
if [ "${VARILUME_NO_SIMBOX:-0}" != 1 ]; then
  table=$workdir/simbox-table.bin
  table_args=(--save-table "$table")
  # A start table of the user's own (VARILUME_SIMBOX_ARGS="--table /path/rules.xlsx") wins.
  if [[ " ${VARILUME_SIMBOX_ARGS:-} " == *" --table "* ]]; then :
  elif [ -f "$table" ]; then table_args+=(--table "$table"); else table_args+=(--demo); fi
  # shellcheck disable=SC2086  # the extra options are meant to be split
  "$simbox" "${table_args[@]}" ${VARILUME_SIMBOX_ARGS:-} >"$workdir/simbox.out" 2>"$workdir/simbox.log" &
  simbox_pid=$!
  trap stop_simbox EXIT
  for _ in $(seq 1 50); do
    if grep -q '^port: ' "$workdir/simbox.out" 2>/dev/null || ! kill -0 "$simbox_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if grep -q '^port: ' "$workdir/simbox.out"; then
    echo "run.sh: simulated KVR-9000 on $(sed -n 's/^port: //p' "$workdir/simbox.out") (log: $workdir/simbox.log)"
  else
    echo "run.sh: the simulated box did not start; see $workdir/simbox.log (a damaged $table can be deleted)" >&2
    stop_simbox
    simbox_pid=
  fi
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  status=0
  "$bin" "$@" || status=$?
  exit "$status"
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
