#!/usr/bin/env bash
# Whole-process figures of varilume-cli (/usr/bin/time -v): the offline commands on a full
# table, and read, write and settings against a simulated box on a pseudo-terminal (default
# pacing, then without pauses). Needs an optimised build (bash scripts/build-release.sh --bench).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build-release
cli=$bin/src/cli/varilume-cli
simbox=$bin/tools/simbox/varilume-simbox
work=$(mktemp -d)
box=
cleanup() { [ -n "$box" ] && kill "$box" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export VARILUME_SIMBOX_DIR=$work/boxes

measure() {  # label, command...
    local label=$1; shift
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time" || { cat "$work/time"; exit 1; }
    printf '%-44s %8s s %8s MB\n' "$label" \
        "$(awk -F': ' '/Elapsed \(wall/ {print $2}' "$work/time" | awk -F: '{print $NF}')" \
        "$(awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}' "$work/time")"
}

start_box() {
    "$simbox" "$@" >"$work/port" 2>/dev/null &
    box=$!
    for _ in $(seq 50); do grep -q '^port: ' "$work/port" 2>/dev/null && break; sleep 0.1; done
}
stop_box() { kill "$box"; wait "$box" 2>/dev/null || true; box=; }

# A full table: 3072 rules, every row in use.
/usr/bin/python3 - "$work/full.bin" <<'PY'
import struct, sys
records = b"".join(
    bytes([0x90 | (r % 16), r % 128]) + struct.pack("<H", 0x1000 | 0x400 | (r % 1024)) + bytes([0, r % 51, 0, 0])
    for r in range(3072))
header = b"download request\0" + struct.pack("<H", sum(records) & 0xFFFF)
open(sys.argv[1], "wb").write(header.ljust(256, b"\0") + records + b"end of data\0")
PY
"$cli" decode "$work/full.bin" -o "$work/full.xlsx"
measure "image: full workbook to image" "$cli" image "$work/full.xlsx" -o "$work/x.bin"
measure "decode: full image to workbook" "$cli" decode "$work/full.bin" -o "$work/x.xlsx"
measure "decode: full image to text" "$cli" decode "$work/full.bin" -o -
start_box --table "$work/full.bin"
measure "ports" "$cli" ports
measure "read, default pacing" "$cli" read -p "Nemora KVR-9000" -o "$work/r.xlsx"
measure "write" "$cli" write -p "Nemora KVR-9000" "$work/full.xlsx"
measure "settings (show)" "$cli" settings -p "Nemora KVR-9000"
measure "settings (two changes)" "$cli" settings -p "Nemora KVR-9000" --break-time 300 --sleep 20
stop_box
start_box --table "$work/full.bin" --pause 0 --gap 0
measure "read, box without pauses" "$cli" read -p "Nemora KVR-9000" -o "$work/r.xlsx"
measure "write, box without pauses" "$cli" write -p "Nemora KVR-9000" "$work/full.xlsx"
measure "settings (two changes), box without pauses" "$cli" settings -p "Nemora KVR-9000" --break-time 300 --sleep 20
