#!/usr/bin/env bash
# Workbook figures, each beside a baseline timed in the same run, both sides alternately:
#   1. our save and open in-process against python3-openpyxl's write_only and read_only modes
#   2. `varilume-cli image` and `decode` against bench/openpyxl_timing.py doing the same
#   3. opening a table with 50 extra columns against opening the plain table (bench_files)
#   4. the window's paths against a bare table view filled and painted (bench_workbooks_window)
# Needs an optimised build with the benchmarks (bash scripts/build-release.sh --bench).
# PAIRS (default 20) sets the pairs of 1 and 2.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build-release
pairs=${PAIRS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== in-process, $pairs pairs"
"$bin/bench/bench_files" --versus-openpyxl "$pairs" bench/openpyxl_timing.py

echo "== whole commands, $pairs pairs"
"$bin/bench/bench_files" --write-workbook "$work/full.xlsx"
"$bin/src/cli/varilume-cli" image "$work/full.xlsx" -o "$work/full.bin"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 bench/openpyxl_timing.py commands "$pairs" "$bin/src/cli/varilume-cli" "$work/full.xlsx" \
    "$work/full.bin"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== extra columns, and the window paths"
"$bin/bench/bench_files" --benchmark_filter=Open --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E 'median'
"$bin/bench/bench_workbooks_window" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E 'median'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
