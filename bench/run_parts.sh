#!/usr/bin/env bash
# Times the parts of a run (--part I/8, --threads 1) on the benchmark graphs: each part's CPU time,
# max/mean over the parts (the target is at most 1.5), and the planning time as a share of a part's
# mean time. Prints a markdown table; see BENCHMARKS.md, "Parts".
#
#   bench/run_parts.sh [--parts N] [--only REGEX] [--output null|count]
#
# The parts list to /dev/null (CIS) or count only (--output count). The planning time is that of a
# part with --max-size 0... no: of `--part 1/N` on a search cut short is not separable, so it is
# measured as the CPU time of planning alone (QUARN_PLAN_ONLY=1 stops a run after its plan).
# Environment: QUARN=path times that binary (default build/quarn, built if missing); GEN=path is
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

# NAME|MODE|gen_graph arguments|extra quarn arguments. The CIS graphs of bench/run_cis.sh, and MCS on
# a generated attribute table.
graphs=(
  "tree-48|CIS|tree 48 --seed 2|"
  "ladder-18|CIS|ladder 18|"
  "grid-5x6|CIS|grid 5 6|"
  "king-5x5|CIS|king 5 5|"
  "sparse3-34|CIS|sparse 34 3 --seed 1|"
  "sparse2-45|CIS|sparse 45 2 --seed 2|"
  "regular3-30|CIS|regular 30 3 --seed 1|"
  "regular4-27|CIS|regular 27 4 --seed 1|"
  "dense30-26|CIS|dense 26 30 --seed 1|"
  "dense45-26|CIS|dense 26 45 --seed 1|"
  "dense60-26|CIS|dense 26 60 --seed 1|"
  "union-mixed|CIS|union grid 5 5 + complete 24 + regular 26 4|"
)

# CPU seconds (user + system) of a command, its output discarded.
cpu() {
  local t
  t=$( { /usr/bin/time -f '%U %S' "$@" >/dev/null 2>/dev/null; } 2>&1 | tail -1)
  awk -v t="$t" 'BEGIN { split(t, a, " "); printf "%.2f", a[1] + a[2] }'
}

printf '| graph | whole (s) |'
for i in $(seq "$parts"); do printf ' %s |' "$i"; done
printf ' max/mean | planning |\n|---|---:|'
for i in $(seq "$parts"); do printf -- '---:|'; done
printf -- '---:|---:|\n'
for spec in "${graphs[@]}"; do
  IFS='|' read -r name mode gen_args extra <<<"$spec"
  [[ $name =~ $only ]] || continue
  # shellcheck disable=SC2086
  "$gen" $gen_args >"$work/$name.txt"
  out=(/dev/null)
  [[ $output == count ]] && out=()
  # shellcheck disable=SC2086
  whole=$(cpu "$quarn" "$mode" "$work/$name.txt" "${out[@]}" --threads 1 --quiet $extra)
  times=()
  for i in $(seq "$parts"); do
    # shellcheck disable=SC2086
    times+=("$(cpu "$quarn" "$mode" "$work/$name.txt" "${out[@]}" --threads 1 --quiet --part "$i/$parts" $extra)")
  done
  # shellcheck disable=SC2086
  plan=$(QUARN_PLAN_ONLY=1 cpu "$quarn" "$mode" "$work/$name.txt" "${out[@]}" --threads 1 --quiet --part "1/$parts" $extra)
  printf '| %s | %s |' "$name" "$whole"
  for t in "${times[@]}"; do printf ' %s |' "$t"; done
  awk -v all="${times[*]}" -v plan="$plan" 'BEGIN {
    n = split(all, t, " "); max = 0; sum = 0
    for (i = 1; i <= n; ++i) { sum += t[i]; if (t[i] > max) max = t[i] }
    mean = sum / n
    printf " %.2f | %.1f %% |\n", (mean > 0 ? max / mean : 0), (mean > 0 ? 100 * plan / mean : 0)
  }'
done
