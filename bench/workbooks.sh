#!/usr/bin/env bash
# Our workbook save and open against python3-openpyxl on the same full rule table, in one run.
# Needs an optimised build (bash scripts/build-release.sh --bench).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build-release/bench/bench_files
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin" --write-workbook "$work/full.xlsx"
"$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E 'median|Benchmark'
/usr/bin/python3 bench/openpyxl_timing.py "$work/full.xlsx" 5
