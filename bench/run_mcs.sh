#!/bin/sh
# MCS benchmark: the plain first version of the search (BASELINE commit) against the current tree.
#
#   bench/run_mcs.sh [BASELINE_COMMIT]
#
# Builds both in Release (with the same POPCNT flag) under a temporary folder, generates seeded
# attributed graphs, runs both versions on each with the pattern lines written to a file (best of
# QUARN_BENCH_TRIALS runs, default 3), checks that the two outputs are identical, and prints a table
# of time, patterns, peak memory and speed ratio. Ends with the attribute-file reading speed on 1,000,000 rows of 64 attributes.
# Set QUARN_BENCH_DIR to keep the files somewhere else than a fresh temporary folder.
set -eu

baseline=${1:-73e55cc}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=${QUARN_BENCH_DIR:-$(mktemp -d /tmp/quarn-mcs-bench-XXXXXX)}
mkdir -p "$work"
cleanup() { git -C "$source_dir" worktree remove --force "$work/baseline-src" 2>/dev/null || true; }
trap cleanup EXIT INT TERM

flags=""
case $(uname -m) in x86_64 | amd64) flags=-mpopcnt ;; esac

echo "building the current tree and baseline $baseline in $work" >&2
cmake -S "$source_dir" -B "$work/tuned" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
ninja -C "$work/tuned" -j2 quarn gen_attributed read_attr_speed >/dev/null
cleanup
git -C "$source_dir" worktree add --detach "$work/baseline-src" "$baseline" >/dev/null 2>&1
cmake -S "$work/baseline-src" -B "$work/baseline" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF \
  -DQUARN_BENCH=OFF -DCMAKE_CXX_FLAGS="$flags" >/dev/null
ninja -C "$work/baseline" -j2 quarn >/dev/null

# Runs quarn TRIALS times and prints "seconds peak_kib patterns" of the fastest run.
trials=${QUARN_BENCH_TRIALS:-3}
measure() {
  best=""
  i=0
  while [ "$i" -lt "$trials" ]; do
    set -- $(measure_once "$@") "$@"
    if [ -z "$best" ] || awk -v a="$1" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best="$1 $2 $3"; fi
    shift 3
    i=$((i + 1))
  done
  echo "$best"
}

measure_once() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/count.txt"
  else
    python3 -c '
import resource, subprocess, sys, time
start = time.monotonic()
with open(sys.argv[1], "w") as out:
    subprocess.run(sys.argv[3:], stdout=out, check=True)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
open(sys.argv[2], "w").write("%.2f %d\n" % (time.monotonic() - start, peak))
' "$work/count.txt" "$work/time.txt" "$@"
  fi
  printf '%s %s\n' "$(cat "$work/time.txt")" "$(sed 's/Patterns: //' "$work/count.txt")"
}

gen=$work/tuned/bench/gen_attributed
printf '| graph | nodes | attributes | MIN_SUP | patterns | baseline s | baseline peak MiB | tuned s | tuned peak MiB | speed-up |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
# name nodes attributes seed degree group_size noise_percent min_sup
while read -r name nodes attributes seed degree group noise min_sup; do
  "$gen" "$nodes" "$attributes" "$seed" "$work/$name-g.txt" "$work/$name-a.txt" "$degree" "$group" "$noise"
  set -- $(measure "$work/baseline/quarn" MCS "$work/$name-g.txt" "$work/$name-a.txt" "$min_sup" 0 "$work/base.out")
  base_s=$1 base_kib=$2 base_patterns=$3
  set -- $(measure "$work/tuned/quarn" MCS "$work/$name-g.txt" "$work/$name-a.txt" "$min_sup" 0 "$work/tuned.out")
  tuned_s=$1 tuned_kib=$2 tuned_patterns=$3
  if ! cmp -s "$work/base.out" "$work/tuned.out" || [ "$base_patterns" != "$tuned_patterns" ]; then
    echo "$name: the outputs differ" >&2
    exit 1
  fi
  awk -v n="$name" -v nodes="$nodes" -v a="$attributes" -v s="$min_sup" -v p="$tuned_patterns" -v bs="$base_s" \
    -v bk="$base_kib" -v ts="$tuned_s" -v tk="$tuned_kib" 'BEGIN {
      printf "| %s | %d | %d | %d | %d | %.2f | %.0f | %.2f | %.0f | %.1fx |\n", n, nodes, a, s, p, bs, bk / 1024, ts,
        tk / 1024, (ts > 0 ? bs / ts : 0) }'
  rm -f "$work/$name-g.txt" "$work/$name-a.txt" "$work/base.out" "$work/tuned.out"
done <<'GRAPHS'
groups-500k-64 500000 64 11 4 40 15 3
groups-300k-64 300000 64 12 4 40 15 3
groups-1m-32 1000000 32 13 4 30 20 2
groups-200k-128 200000 128 14 4 60 12 4
groups-200k-256 200000 256 15 4 60 10 6
GRAPHS

"$gen" 1000000 64 1 "$work/parse-g.txt" "$work/parse-a.txt" 0
echo
"$work/tuned/bench/read_attr_speed" "$work/parse-a.txt" 5
rm -f "$work/parse-g.txt" "$work/parse-a.txt"
