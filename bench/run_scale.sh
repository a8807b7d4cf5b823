#!/bin/sh
# MCS at scale: time and peak memory on large inputs, set against the size of the input files.
#
#   bench/run_scale.sh [--quick]
#
# Builds quarn and the generators in Release under a temporary folder (or times $QUARN), generates
# seeded inputs, and runs each case QUARN_BENCH_TRIALS times (default 3), keeping the fastest run.
# With QUARN_BEFORE set to another quarn binary, every case runs that one too, right before, so that
# the two rows of a case are measured under the same load, and their pattern files must be identical.
# Each case has two runs:
#   - read: MIN_SUP above every node's attribute count, so the run reads and checks both files and
#     filters the edges, but keeps none and searches nothing;
#   - total: the real MIN_SUP, pattern lines written to a file.
# Peak memory is the maximum resident set size reported by /usr/bin/time. The cases:
#   edges-10m   about 10,000,000 edge lines on 2,000,000 nodes of 64 attributes (gen_attributed)
#   rows-1m     1,000,000 attribute rows of 64 values, planted groups only (gen_attributed)
#   wide-dense  2,000 nodes of 10,000 attributes, all set, 100,000 random edges (gen_graph): one
#               pattern holds every node, so the search is one chain of 2,000 patterns
# --quick runs smaller versions of the same cases. Set QUARN_BENCH_DIR to keep the files elsewhere.
set -eu

source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${QUARN_BENCH_DIR:-}" ]; then
  work=$QUARN_BENCH_DIR
else
  work=$(mktemp -d /tmp/quarn-scale-XXXXXX)
  trap 'rm -rf "$work"' EXIT INT TERM
fi
mkdir -p "$work"
trials=${QUARN_BENCH_TRIALS:-3}
scale=1
[ "${1:-}" = "--quick" ] && scale=10

echo "building in $work" >&2
cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
cmake --build "$work/build" -j2 --target quarn gen_attributed gen_graph >/dev/null
quarn=${QUARN:-$work/build/quarn}

# Runs the command TRIALS times; prints "seconds peak_kib" of the fastest run.
measure() {
  best=""
  i=0
  while [ "$i" -lt "$trials" ]; do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/count.txt"
    read -r s kib <"$work/time.txt"
    if [ -z "$best" ] || awk -v a="$s" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best="$s $kib"; fi
    i=$((i + 1))
  done
  echo "$best"
}

# name graph attributes read_min_sup min_sup: one row per binary
run_case() {
  name=$1 graph=$2 attributes=$3 read_min_sup=$4 min_sup=$5
  edges=$(wc -l <"$graph")
  input_bytes=$(($(wc -c <"$graph") + $(wc -c <"$attributes")))
  for binary in ${QUARN_BEFORE:+"$QUARN_BEFORE"} "$quarn"; do
    label=$name
    [ -n "${QUARN_BEFORE:-}" ] && { [ "$binary" = "$QUARN_BEFORE" ] && label="$name, before" || label="$name, after"; }
    set -- $(measure "$binary" MCS "$graph" "$attributes" "$read_min_sup" 0)
    read_s=$1
    set -- $(measure "$binary" MCS "$graph" "$attributes" "$min_sup" 0 "$work/out.txt")
    total_s=$1 peak_kib=$2
    patterns=$(sed 's/Patterns: //' "$work/count.txt")
    if [ "$binary" = "${QUARN_BEFORE:-}" ]; then
      mv "$work/out.txt" "$work/before.txt"
    elif [ -n "${QUARN_BEFORE:-}" ]; then
      cmp -s "$work/before.txt" "$work/out.txt" || { echo "$name: the outputs before and after differ" >&2; exit 1; }
      rm -f "$work/out.txt" "$work/before.txt"
    else
      rm -f "$work/out.txt"
    fi
    awk -v n="$label" -v e="$edges" -v in_b="$input_bytes" -v r="$read_s" -v t="$total_s" -v k="$peak_kib" \
      -v p="$patterns" 'BEGIN {
        printf "| %s | %d | %.0f | %d | %.2f | %.2f | %.0f | %.1f | %.2f |\n", n, e, in_b / 1048576, p, r, t,
          k / 1024, k * 1024 / e, k * 1024 / in_b }'
  done
}

gen_attributed=$work/build/bench/gen_attributed
gen_graph=$work/build/bench/gen_graph
printf '| case | edge lines | input MiB | patterns | read s | total s | peak MiB | peak bytes per edge line | peak / input |\n'
printf '|---|--:|--:|--:|--:|--:|--:|--:|--:|\n'

"$gen_attributed" $((2000000 / scale)) 64 21 "$work/g.txt" "$work/a.txt" 9 40 15
run_case edges-10m "$work/g.txt" "$work/a.txt" 65 3

"$gen_attributed" $((1000000 / scale)) 64 22 "$work/g.txt" "$work/a.txt" 0 40 15
run_case rows-1m "$work/g.txt" "$work/a.txt" 65 3

nodes=$((2000 / scale))
"$gen_graph" sparse "$nodes" 100 --seed 23 >"$work/g.txt"
awk -v n="$nodes" 'BEGIN { row = "1"; for (j = 1; j < 10000; j++) row = row " 1"; for (i = 0; i < n; i++) print row }' \
  >"$work/a.txt"
run_case wide-dense "$work/g.txt" "$work/a.txt" 10001 10000

rm -f "$work/g.txt" "$work/a.txt" "$work/count.txt" "$work/time.txt"
