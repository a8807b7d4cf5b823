#!/usr/bin/env bash
# Times the parts of a run (--part I/N, --threads 1, N = 8 by default) on the benchmark graphs of
# bench/run_cis.sh: each part's CPU time (user + system), max/mean over the parts (the target is at
# most 1.5), and the planning time (from each part's note "planned in S s") as a share of the parts'
# time. Prints a markdown table; see BENCHMARKS.md, "Parts".
#
#   bench/run_parts.sh [--parts N] [--only REGEX] [--output null|count]
#
# The parts list to /dev/null, or count only (--output count), the whole run too. Environment: QUARN=path times that binary (default build/quarn, built if missing); GEN=path is
# gen_graph (default build/bench/gen_graph); TMPDIR holds the graphs (default /tmp).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
parts=8
only=.
output=null
while [[ $# -gt 0 ]]; do
  case $1 in
    --parts) parts=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --output) output=$2; shift 2 ;;
    *) echo "run_parts.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
quarn=${QUARN:-$repo/build/quarn}
gen=${GEN:-$repo/build/bench/gen_graph}
if [[ ! -x $quarn || ! -x $gen ]]; then
  cmake --preset release >/dev/null && cmake --build "$repo/build" -j2 --target quarn gen_graph >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-parts.XXXXXX")
trap 'rm -rf "$work"' EXIT

# NAME|MODE|gen_graph arguments|extra quarn arguments. The families of bench/run_cis.sh, a little
# larger, so that a whole run takes about 3 to 15 s on one thread and a part about an eighth of it:
# a plan's first sampling takes a few hundredths of a second whatever the size of the run.
graphs=(
  "tree-56|CIS|tree 56 --seed 2|"
  "ladder-21|CIS|ladder 21|"
  "grid-5x7|CIS|grid 5 7|"
  "king-5x6|CIS|king 5 6|"
  "sparse3-36|CIS|sparse 36 3 --seed 1|"
  "sparse2-56|CIS|sparse 56 2 --seed 2|"
  "regular3-32|CIS|regular 32 3 --seed 1|"
  "regular4-30|CIS|regular 30 4 --seed 1|"
  "dense30-29|CIS|dense 29 30 --seed 1|"
  "dense45-28|CIS|dense 28 45 --seed 1|"
  "dense60-28|CIS|dense 28 60 --seed 1|"
  "union-mixed|CIS|union grid 5 6 + complete 25 + regular 28 4|"
)

# CPU seconds (user + system) of a command, its output discarded; its notes go to $work/notes.
cpu() {
  /usr/bin/time -o "$work/time" -f '%U %S' "$@" >/dev/null 2>"$work/notes"
  awk '{ printf "%.2f", $1 + $2 }' "$work/time"
}

printf '| graph | whole (s) |'
for i in $(seq "$parts"); do printf ' %s |' "$i"; done
printf ' max/mean | planning |\n|---|---:|'
for i in $(seq "$parts"); do printf -- '---:|'; done
printf -- '---:|---:|\n'
for entry in "${graphs[@]}"; do
  IFS='|' read -r name mode gen_args extra <<<"$entry"
  [[ $name =~ $only ]] || continue
  # shellcheck disable=SC2086
  "$gen" $gen_args >"$work/$name.txt"
  out=(/dev/null)
  [[ $output == count ]] && out=()
  # shellcheck disable=SC2086
  whole=$(cpu "$quarn" "$mode" "$work/$name.txt" "${out[@]}" --threads 1 --quiet $extra)
  times=()
  plan=0
  for i in $(seq "$parts"); do
    # shellcheck disable=SC2086
    times+=("$(cpu "$quarn" "$mode" "$work/$name.txt" "${out[@]}" --threads 1 --part "$i/$parts" $extra)")
    plan=$(awk -v sum="$plan" '/planned in/ { sum += $(NF - 1) } END { print sum }' "$work/notes")
  done
  printf '| %s | %s |' "$name" "$whole"
  for t in "${times[@]}"; do printf ' %s |' "$t"; done
  awk -v all="${times[*]}" -v plan="$plan" 'BEGIN {
    n = split(all, t, " "); max = 0; sum = 0
    for (i = 1; i <= n; ++i) { sum += t[i]; if (t[i] > max) max = t[i] }
    mean = sum / n
    printf " %.2f | %.1f %% |\n", (mean > 0 ? max / mean : 0), (sum > 0 ? 100 * plan / sum : 0)
  }'
done
