#!/bin/bash
# Threads: wall time of quarn with one thread against two (or $THREADS) on the same runs, taking turns.
#
#   bench/run_threads.sh [--trials N] [--only REGEX]
#
# Builds build-bench/ in Release (or times $QUARN), generates seeded graphs into a temporary folder,
# and for every case runs `--threads 1` and `--threads $THREADS` alternately, N trials each (default
# 3). It prints, per case, the best wall and CPU seconds of each, the wall ratio (many / one; the
# target is at most 0.6 with 2 threads on 2 cores) and checks that both wrote the same bytes and the
# same count line. The cases:
#   list-null-*   CIS listing to /dev/null
#   list-file-*   CIS listing to a file under the temporary folder (deleted after each run)
#   count-*       CIS count-only where the dynamic program gives up (frontier wider than it can take),
#                 so the counting search runs
#   root1-fan     CIS listing of a fan: node 1 joined to a path of 27 nodes; root 1 holds all but
#                 378 of the 2^27 + 378 patterns
#   mcs-*         MCS on the attributed graphs of bench/run_mcs.sh, to a file
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
trials=3
only=.
while [ $# -gt 0 ]; do
  case $1 in
    --trials) trials=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) echo "usage: $0 [--trials N] [--only REGEX]" >&2; exit 2 ;;
  esac
done
threads=${THREADS:-2}
build=${BUILD_DIR:-$source_dir/build-bench}
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quarn gen_graph gen_attributed >/dev/null
quarn=${QUARN:-$build/quarn}
gen=$build/bench/gen_graph
gen_attributed=$build/bench/gen_attributed
work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-threads-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

"$gen" dense 26 45 >"$work/dense45-26.txt"
"$gen" grid 5 6 >"$work/grid-5x6.txt"
"$gen" tree 48 >"$work/tree-48.txt"
"$gen" dense 50 50 >"$work/dense50-50.txt"
"$gen" dense 46 40 >"$work/dense40-46.txt"
{
  for i in $(seq 2 28); do echo "1 $i"; done
  for i in $(seq 2 27); do echo "$i $((i + 1))"; done
} >"$work/fan-28.txt"
"$gen_attributed" 500000 64 11 "$work/groups-500k-g.txt" "$work/groups-500k-a.txt" 4 40 15
"$gen_attributed" 200000 256 15 "$work/groups-200k-g.txt" "$work/groups-200k-a.txt" 4 60 10

# One run: prints "wall cpu" and leaves the count line in $work/count-$tag and the output's checksum
# in $work/sum-$tag.
run_once() {
  local tag=$1 output=$2
  shift 2
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$quarn" "$@" >"$work/count-$tag" </dev/null
  if [ -f "$output" ]; then
    cksum <"$output" >"$work/sum-$tag"
    rm -f "$output"
  else
    echo none >"$work/sum-$tag"
  fi
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}

printf '| case | patterns | 1 thread wall s | 1 thread CPU s | %s threads wall s | %s threads CPU s | wall ratio |\n' \
  "$threads" "$threads"
printf '|---|--:|--:|--:|--:|--:|--:|\n'
# name, output (- for none, @ for a file), arguments with GRAPH for the folder
while read -r name output args; do
  [[ $name =~ $only ]] || continue
  args=${args//GRAPH/$work}
  out_path=$work/out.txt
  best1="" best2=""
  for trial in $(seq "$trials"); do
    for n in 1 "$threads"; do
      case $output in
        null) set -- $args /dev/null ;;
        file) set -- $args "$out_path" ;;
        *) set -- $args ;;
      esac
      read -r wall cpu < <(run_once "$n" "$out_path" "$@" --threads "$n")
      if [ "$n" = 1 ]; then
        [ -z "$best1" ] || awk -v a="$wall" -v b="${best1%% *}" 'BEGIN { exit !(a < b) }' && best1="$wall $cpu"
      else
        [ -z "$best2" ] || awk -v a="$wall" -v b="${best2%% *}" 'BEGIN { exit !(a < b) }' && best2="$wall $cpu"
      fi
      echo "$name trial $trial threads $n: $wall s wall, $cpu s CPU" >&2
    done
    if ! cmp -s "$work/count-1" "$work/count-$threads" || ! cmp -s "$work/sum-1" "$work/sum-$threads"; then
      echo "$name: the outputs of 1 and $threads threads differ" >&2
      exit 1
    fi
  done
  patterns=$(sed -n 's/^Patterns: //p' "$work/count-1")
  awk -v n="$name" -v p="$patterns" -v b1="$best1" -v b2="$best2" 'BEGIN {
    split(b1, one, " "); split(b2, many, " ")
    printf "| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n", n, p, one[1], one[2], many[1], many[2], many[1] / one[1] }'
done <<'CASES'
list-null-dense45-26 null CIS GRAPH/dense45-26.txt
list-null-tree-48 null CIS GRAPH/tree-48.txt
list-file-grid-5x6 file CIS GRAPH/grid-5x6.txt
list-file-dense45-26 file CIS GRAPH/dense45-26.txt
count-dense50-50 none CIS GRAPH/dense50-50.txt
count-dense40-46 none CIS GRAPH/dense40-46.txt
root1-fan null CIS GRAPH/fan-28.txt
mcs-groups-500k-64 file MCS GRAPH/groups-500k-g.txt GRAPH/groups-500k-a.txt 3 0
mcs-groups-200k-256 file MCS GRAPH/groups-200k-g.txt GRAPH/groups-200k-a.txt 6 0
CASES
