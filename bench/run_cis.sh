#!/usr/bin/env bash
# Times quarn CIS listings against the comparison peer, side by side, on a fixed set of seeded graphs,
# writing to /dev/null and to a file, and prints markdown tables (progress goes to standard error).
# See bench/README.md.
#
#   bench/run_cis.sh [--quick] [--only REGEX] [--trials N] [--no-peer] [--list]
#
# Environment: QUARN=path skips building quarn and times that binary; PEER=path skips building the
# peer; PEER_SRC is the peer's folder (default ../shared/peers beside the repository); BUILD_DIR is
# the build folder (default build-bench); TMPDIR holds the graphs and output files (default /tmp).
# --no-peer times quarn alone.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

# NAME|gen_graph arguments[|known count]. Families the listing meets in practice: trees, ladders,
# grids, king graphs, random sparse graphs, 3- and 4-regular graphs, dense G(n, p) with p from 0.3 to
# 0.6, and a union of mixed parts (75 nodes: past the one-word seen sets). Sized so that each run
# takes about 0.5 to 5 s on a 2-core machine with output files of 0.7 to 3 GB: bigger files make the
# kernel's page-cache work, not the tools, dominate the file-output times.
full_graphs=(
  "tree-48|tree 48 --seed 2"
  "ladder-18|ladder 18"
  "grid-5x6|grid 5 6"
  "king-5x5|king 5 5"
  "sparse3-34|sparse 34 3 --seed 1"
  "sparse2-45|sparse 45 2 --seed 2"
  "regular3-30|regular 30 3 --seed 1"
  "regular4-27|regular 27 4 --seed 1"
  "dense30-26|dense 26 30 --seed 1"
  "dense45-26|dense 26 45 --seed 1"
  "dense60-26|dense 26 60 --seed 1"
  "union-mixed|union grid 5 5 + complete 24 + regular 26 4"
)
# Small graphs with known counts, for a smoke run of a few seconds.
quick_graphs=(
  "grid-4x4|grid 4 4|11506"
  "grid-5x5|grid 5 5|2301877"
  "complete-16|complete 16|65535"
  "path-300|path 300|45150"
  "star-16|star 16|65552"
  "regular3-20|regular 20 3 --seed 1"
  "sparse3-24|sparse 24 3 --seed 1"
  "tree-36|tree 36 --seed 1"
)
# Both tools' sorted lines are compared on these.
check_graphs=(
  "check-grid-4x4|grid 4 4"
  "check-sparse-20|sparse 20 2.5 --seed 7"
)

usage() {
  sed -n '2,13s/^# \{0,1\}//p' "$0"
}

quick=0
only=""
trials=3
list=0
with_peer=1
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    --only) only=${2:?--only needs a regular expression}; shift ;;
    --trials) trials=${2:?--trials needs a number}; shift ;;
    --list) list=1 ;;
    --no-peer) with_peer=0 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run_cis.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

graphs=("${full_graphs[@]}")
((quick)) && graphs=("${quick_graphs[@]}")
selected=()
for entry in "${graphs[@]}"; do
  [[ -z $only || ${entry%%|*} =~ $only ]] && selected+=("$entry")
done
if ((list)); then
  printf '%s\n' "${selected[@]}" | awk -F'|' '{ print $1 ": gen_graph " $2 ($3 ? "  (" $3 " patterns)" : "") }'
  exit 0
fi
((${#selected[@]})) || { echo "run_cis.sh: no graph matches '$only'" >&2; exit 2; }

build_dir=${BUILD_DIR:-$repo/build-bench}
cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
if [[ -n ${QUARN:-} ]]; then
  cmake --build "$build_dir" -j2 --target gen_graph line_copy_rate >/dev/null
  quarn=$QUARN
  label="$QUARN"
else
  cmake --build "$build_dir" -j2 --target gen_graph line_copy_rate quarn >/dev/null
  quarn=$build_dir/quarn
  label="$(git -C "$repo" rev-parse --short HEAD) (Release build of $repo)"
fi
# The peer: a given binary, or built from its folder. When it is missing, say so and offer --no-peer.
peer=""
if ((with_peer)); then
  peer_src=${PEER_SRC:-$repo/../shared/peers}
  if [[ -n ${PEER:-} ]]; then
    [[ -x $PEER ]] || { echo "run_cis.sh: PEER=$PEER is not an executable file; run with --no-peer to time quarn alone" >&2; exit 2; }
    peer=$PEER
  elif [[ -f $peer_src/build.sh ]]; then
    peer=$(bash "$peer_src/build.sh" "$build_dir/peer" | tail -n 1) || {
      echo "run_cis.sh: building the peer with $peer_src/build.sh failed; run with --no-peer to time quarn alone" >&2
      exit 2
    }
  else
    echo "run_cis.sh: the comparison peer is missing: no $peer_src/build.sh (set PEER_SRC to its folder or" \
      "PEER to a built binary), or run with --no-peer to time quarn alone" >&2
    exit 2
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Writes the graph of one NAME|ARGS[|COUNT] entry; sets file to NAME=FILE and adds any known count
# to expects.
expects=()
generate() {
  local name args count
  IFS='|' read -r name args count <<<"$1"
  read -ra args <<<"$args"
  "$build_dir/bench/gen_graph" "${args[@]}" >"$work/$name.txt"
  file="$name=$work/$name.txt"
  [[ -z $count ]] || expects+=(--expect "$name=$count")
}

checks=()
for entry in "${check_graphs[@]}"; do
  generate "$entry"
  checks+=(--check "$file")
done
files=()
for entry in "${selected[@]}"; do
  generate "$entry"
  files+=("$file")
done

echo "quarn: $quarn" >&2
echo "peer:  ${peer:-(none: quarn alone)}" >&2
python3 "$repo/bench/cis_bench.py" --quarn "$quarn" --peer "$peer" --out-dir "$work" \
  --line-copy-rate "$build_dir/bench/line_copy_rate" \
  --trials "$trials" --label "$label" "${checks[@]}" "${expects[@]}" -- "${files[@]}"
