#!/bin/bash
# Reading speed of the input readers from each kind of source, in MB/s of uncompressed text.
#
#   bench/run_read.sh [--quick] READ_SPEED [READ_SPEED_BEFORE]
#
# READ_SPEED is a build of bench/read_speed.cpp (build/bench/read_speed). With a second one (the same
# program built against an older tree), every case runs both, one right after the other, so that the
# two columns are measured under the same load. Each case runs QUARN_BENCH_TRIALS times (default 3)
# and keeps the fastest run; MB/s is the size of the uncompressed text over that time. A case that
# the older build cannot read (compressed input) is left blank in its column.
#
# Inputs, generated into a temporary folder (QUARN_BENCH_DIR to keep them elsewhere):
#   edges      2,000,000 edge lines "u v", nodes up to 1,000,000 (gen_graph sparse 1000000 4)
#   edges-cr   the same with every line feed turned into a carriage return
#   edges-crlf the same with carriage return and line feed
#   attributes 200,000 rows of 64 values (gen_attributed), and its carriage-return version
#   long-line  "1 2 " then 100,000,000 bytes on the same line, then "2 3"
#   .gz, .zst  the edge file compressed by gzip -6 and zstd -3
# Sources: the file itself, a pipe (cat FILE | read_speed KIND /dev/stdin) and a FIFO.
# --quick makes every input ten times smaller.
set -euo pipefail

scale=1
if [ "${1:-}" = "--quick" ]; then
  scale=10
  shift
fi
after=${1:?usage: run_read.sh [--quick] READ_SPEED [READ_SPEED_BEFORE]}
before=${2:-}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
trials=${QUARN_BENCH_TRIALS:-3}
if [ -n "${QUARN_BENCH_DIR:-}" ]; then
  work=$QUARN_BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d /tmp/quarn-read-XXXXXX)
  trap 'rm -rf "$work"' EXIT INT TERM
fi

gen_dir=$(dirname "$after")
if [ ! -x "$gen_dir/gen_graph" ] || [ ! -x "$gen_dir/gen_attributed" ]; then
  echo "run_read.sh: expected gen_graph and gen_attributed beside $after" >&2
  exit 1
fi
echo "generating inputs in $work" >&2
"$gen_dir/gen_graph" sparse $((1000000 / scale)) 4 >"$work/edges"
tr '\n' '\r' <"$work/edges" >"$work/edges-cr"
sed 's/$/\r/' "$work/edges" >"$work/edges-crlf"
"$gen_dir/gen_attributed" $((200000 / scale)) 64 1 "$work/unused-graph" "$work/attributes" >/dev/null
tr '\n' '\r' <"$work/attributes" >"$work/attributes-cr"
{
  printf '1 2 '
  head -c $((100000000 / scale)) /dev/zero | tr '\0' 'x'
  printf '\n2 3\n'
} >"$work/long-line"
have_gzip=$(command -v gzip || true)
have_zstd=$(command -v zstd || true)
[ -n "$have_gzip" ] && gzip -6 -c "$work/edges" >"$work/edges.gz"
[ -n "$have_zstd" ] && zstd -q -3 -c "$work/edges" >"$work/edges.zst"

# One run of BINARY on KIND from SOURCE (file, pipe or fifo) of PATH: prints the seconds, or nothing
# when the run fails.
run_once() {
  local binary=$1 kind=$2 source=$3 path=$4
  case $source in
    file) "$binary" "$kind" "$path" 2>/dev/null | cut -d' ' -f1 ;;
    pipe) cat "$path" | "$binary" "$kind" /dev/stdin 2>/dev/null | cut -d' ' -f1 ;;
    fifo)
      rm -f "$work/fifo"
      mkfifo "$work/fifo"
      cat "$path" >"$work/fifo" &
      "$binary" "$kind" "$work/fifo" 2>/dev/null | cut -d' ' -f1 || true
      wait
      ;;
  esac
}

# The best of the trials, or "-" when the binary cannot read the input.
best_of() {
  local best="" t i
  for ((i = 0; i < trials; i++)); do
    t=$(run_once "$@" || true)
    [ -z "$t" ] && { echo "-"; return; }
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

speed() {  # seconds bytes
  [ "$1" = "-" ] && { echo "| - | - "; return; }
  awk -v s="$1" -v b="$2" 'BEGIN { printf "| %.3f | %.0f ", s, b / s / 1e6 }'
}

if [ -n "$before" ]; then
  echo "| case | source | MB | before s | before MB/s | after s | after MB/s |"
  echo "|---|---|--:|--:|--:|--:|--:|"
else
  echo "| case | source | MB | s | MB/s |"
  echo "|---|---|--:|--:|--:|"
fi
# name kind source file [plain file for the size]
row() {
  local name=$1 kind=$2 source=$3 path=$4 plain=${5:-$4}
  [ -f "$path" ] || return 0
  local bytes
  bytes=$(wc -c <"$plain")
  local line
  line=$(awk -v n="$name" -v s="$source" -v b="$bytes" 'BEGIN { printf "| %s | %s | %.1f ", n, s, b / 1e6 }')
  if [ -n "$before" ]; then
    echo "  $name, $source: before" >&2
    line+=$(speed "$(best_of "$before" "$kind" "$source" "$path")" "$bytes")
  fi
  echo "  $name, $source: after" >&2
  line+=$(speed "$(best_of "$after" "$kind" "$source" "$path")" "$bytes")
  echo "$line|"
}

for source in file pipe fifo; do row "edges" edges "$source" "$work/edges"; done
for source in file pipe fifo; do row "edges, CR only" edges "$source" "$work/edges-cr"; done
row "edges, CRLF" edges file "$work/edges-crlf"
for source in file pipe; do row "attributes" attributes "$source" "$work/attributes"; done
for source in file pipe; do row "attributes, CR only" attributes "$source" "$work/attributes-cr"; done
for source in file pipe fifo; do row "long line" edges "$source" "$work/long-line"; done
for source in file pipe; do row "edges, gzip" edges "$source" "$work/edges.gz" "$work/edges"; done
for source in file pipe; do row "edges, zstd" edges "$source" "$work/edges.zst" "$work/edges"; done
