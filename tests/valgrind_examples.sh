#!/bin/sh
# Runs quarn under valgrind's memcheck on the bundled examples, in every output mode, and on the
# error paths (bad input, a bad argument, a write that fails): any memory error or leak fails the
# script.
#
#   tests/valgrind_examples.sh [QUARN]     (default build/quarn)
set -eu
quarn=${1:-build/quarn}
examples=$(cd "$(dirname "$0")/../examples" && pwd)
work=$(mktemp -d /tmp/quarn-valgrind-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
failures=0

# check EXPECTED_STATUS ARGS...: quarn's status must be EXPECTED_STATUS and memcheck must be clean;
# returns 1 otherwise.
check() {
  expected=$1
  shift
  status=0
  valgrind -q --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --error-exitcode=99 \
    --log-file="$work/log" "$quarn" "$@" >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne "$expected" ] || [ -s "$work/log" ]; then
    echo "FAILED (status $status, expected $expected): quarn $*" >&2
    cat "$work/log" "$work/err" >&2
    return 1
  fi
  echo "clean: quarn $*"
}

for graph in cycle.txt house.txt grid4x4.txt; do
  for output in "" - "$work/patterns.txt"; do
    check 0 CIS "$examples/$graph" ${output:+"$output"} || failures=$((failures + 1))
  done
done
for support in "2 2" "1 0"; do
  for output in "" - "$work/patterns.txt"; do
    check 0 MCS "$examples/mcs-graph.txt" "$examples/mcs-attributes.txt" $support ${output:+"$output"} ||
      failures=$((failures + 1))
  done
done

printf '1 2\n2 x\n' >"$work/bad.txt"
check 1 CIS "$work/bad.txt" - || failures=$((failures + 1))
check 1 MCS "$work/bad.txt" "$examples/mcs-attributes.txt" 1 1 - || failures=$((failures + 1))
check 1 MCS "$examples/mcs-graph.txt" "$examples/mcs-attributes.txt" x 1 || failures=$((failures + 1))
# A file-size limit of 16 KiB (valgrind needs a few KiB of files of its own): the pattern file fails
# part way and is removed.
(ulimit -f 32 && check 1 CIS "$examples/grid4x4.txt" "$work/patterns.txt") || failures=$((failures + 1))

if [ "$failures" -gt 0 ]; then
  echo "$failures valgrind runs failed" >&2
  exit 1
fi
