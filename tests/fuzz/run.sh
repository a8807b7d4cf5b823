#!/usr/bin/env bash
# Usage: tests/fuzz/run.sh SECONDS [TARGET...]
#
# Builds the fuzz targets with clang and libFuzzer (in build-fuzz/, or $QUARN_FUZZ_BUILD) and runs
# each target for SECONDS, one after another, at the lowest priority. A target's working corpus
# grows in BUILD/corpus/TARGET, starting from the seeds in tests/fuzz/corpus/TARGET and the inputs in
# tests/fuzz/regressions/TARGET; inputs that fail land in BUILD/findings/TARGET/ and the whole log in
# BUILD/logs/TARGET.log. At the end it prints, per target, the executions, executions per second,
# and libFuzzer's edge coverage (cov) and features (ft); with COVERAGE=1 also the share of the lines
# of src/ that the working corpus reaches. SECONDS 0 skips the fuzzing: COVERAGE=1 run.sh 0 measures
# the corpus as it is. Exits with status 1 when any target found something.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(edge_reader_fuzz attribute_reader_fuzz mcs_run_fuzz cis_run_fuzz)
build=${QUARN_FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_FUZZ=ON \
  -DQUARN_TESTS=OFF -DQUARN_BENCH=OFF >/dev/null
nice -n 19 cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

# Line coverage: the same targets built with clang's source-based coverage and a replaying main.
coverage_build=$build/coverage
if [ "${COVERAGE:-0}" = 1 ]; then
  CC=clang CXX=clang++ CXXFLAGS="-fprofile-instr-generate -fcoverage-mapping" \
    cmake -S "$root" -B "$coverage_build" -DCMAKE_BUILD_TYPE=Debug -DQUARN_BENCH=OFF >/dev/null
  nice -n 19 cmake --build "$coverage_build" -j2 --target "${targets[@]}" >/dev/null
fi

# The targets' scratch files, in memory where possible, removed however the targets end.
scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/quarn-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export QUARN_FUZZ_SCRATCH=$scratch

found=0
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  inputs=("$corpus" "$here/corpus/$target")
  [ -d "$here/regressions/$target" ] && inputs+=("$here/regressions/$target")
  echo "== $target: ${seconds}s"
  line="$target: not fuzzed"
  if [ "$seconds" != 0 ]; then
    status=0
    nice -n 19 "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout="${TIMEOUT:-5}" \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1 || status=$?
    if [ $status -ne 0 ]; then
      found=1
      echo "FINDING in $target (status $status): see $log and $findings/"
      grep -E "^(==[0-9]+==ERROR|SUMMARY|quarn fuzz:)" "$log" | head -5 || true
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    line="$target: ${runs:-?} executions, ${rate:-?}/s, ${cov:-no stats}"
  fi
  if [ "${COVERAGE:-0}" = 1 ]; then
    profile=$coverage_build/$target
    LLVM_PROFILE_FILE="$profile.profraw" "$coverage_build/tests/fuzz/$target" "${inputs[@]}" >/dev/null 2>&1 || true
    llvm-profdata merge -sparse "$profile.profraw" -o "$profile.profdata"
    lines=$(llvm-cov report "$coverage_build/tests/fuzz/$target" -instr-profile="$profile.profdata" "$root/src" |
      awk '$1 == "TOTAL" { printf "%d of %d lines of src/ (%s)", $8 - $9, $8, $10 }')
    line="$line, $lines"
  fi
  summary+=("$line")
done
echo "== Summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $found
