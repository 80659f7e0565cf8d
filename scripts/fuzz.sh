#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/, runs each for a given time, one after the
# other, and prints executions and coverage per target.
#
#   scripts/fuzz.sh                      every target for 60 s
#   scripts/fuzz.sh --time 1800          every target for 30 minutes (unattended long run)
#   scripts/fuzz.sh --ci                 every target for 20 s, as CI runs it
#   scripts/fuzz.sh --time 300 sheet     only the named targets
#   scripts/fuzz.sh --keep-going ...      go on after a finding (libFuzzer's fork mode), to
#                                        collect every fault a target finds in the time
#
# The corpus grows in build-fuzz/corpus/<target>/ (seeded from tests/fuzz/corpus/<target>/)
# and is kept between runs; what a target finds (crash-*, oom-*, timeout-*, leak-*) lands
# in build-fuzz/findings/<target>/ and its log in build-fuzz/logs/<target>.log. Exit
# status 1 when a target found something: mend it, then keep the input as a regression
# case in tests/fuzz/regressions/<target>/, which the ordinary test command replays.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
build_only=0
keep_going=0
ci=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds="$2"; shift 2 ;;
    --ci) seconds=20; ci=1; shift ;;
    --build-only) build_only=1; shift ;;
    --keep-going) keep_going=1; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

all_targets=(receive tableimage workbook sheet aliases config project smf)
# Targets the CI run leaves out while a fault they find is known and being mended
# elsewhere ("target: reason"); a run that names its targets or sets a time runs them.
ci_held_back=()
held_back=()
[ "$ci" = 1 ] && held_back=("${ci_held_back[@]}")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

bash scripts/install-deps.sh

build=${VARILUME_FUZZ_BUILD_DIR:-build-fuzz}
root=$(pwd)
case "$build" in /*) root="" ;; esac
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DVARILUME_FUZZ=ON -DVARILUME_TESTS=OFF -DVARILUME_BENCH=OFF -DVARILUME_WERROR=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_targets
[ "$build_only" = 1 ] && exit 0

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen

summary=()
found=0
for t in "${targets[@]}"; do
  reason=""
  for h in "${held_back[@]+"${held_back[@]}"}"; do
    [ "${h%%:*}" = "$t" ] && reason="${h#*:}"
  done
  if [ -n "$reason" ]; then
    summary+=("$(printf '%-11s held back:%s' "$t" "$reason")")
    continue
  fi
  program="$root/$build/tests/fuzz/fuzz_$t"
  if [ ! -x "$program" ]; then
    echo "fuzz.sh: no target $t (targets: ${all_targets[*]})" >&2
    exit 2
  fi
  corpus="$root/$build/corpus/$t"
  findings="$root/$build/findings/$t"
  log="$root/$build/logs/$t.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
           -artifact_prefix="$findings/")
  [ "$keep_going" = 1 ] && options+=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  [ -f "tests/fuzz/dict/$t.dict" ] && options+=(-dict="$(pwd)/tests/fuzz/dict/$t.dict")
  echo "== $t: $seconds s (log: $log)"
  status=0
  stamp="$log.start"
  touch "$stamp"
  # New inputs go to the first corpus directory; the seeds in the repository stay as they are.
  seeds="$(pwd)/tests/fuzz/corpus/$t"
  (cd "$findings" && "$program" "${options[@]}" "$corpus" "$seeds") >"$log" 2>&1 || status=$?
  execs=$(grep -o '^#[0-9][0-9]*' "$log" | tail -1 | tr -d '#' || true)
  speed=$(grep -o 'exec/s:\? *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  units=$(ls "$corpus" | wc -l)
  rss=$(grep -o 'stat::peak_rss_mb: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
  artifacts=$(find "$findings" -type f -newer "$stamp" | sort | tr '\n' ' ')
  result=ok
  if [ "$status" -ne 0 ] || [ -n "$artifacts" ]; then
    result="FOUND: ${artifacts:-exit status $status, see $log}"
    found=1
  fi
  summary+=("$(printf '%-11s execs %-10s exec/s %-6s cov %-6s ft %-7s corpus %-6s rss %-5s MB  %s' \
    "$t" "${execs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$units" "${rss:-?}" "$result")")
done

echo
echo "fuzzing summary ($seconds s per target):"
printf '  %s\n' "${summary[@]}"
exit "$found"
