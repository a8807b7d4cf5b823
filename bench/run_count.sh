#!/usr/bin/env bash
# Times quarn's count-only CIS mode road by road (the automatic choice, the dynamic program alone,
# the counting search alone, the choice of orders) and the comparison peer's count-only run, and
# prints a markdown table (progress goes to standard error). See bench/README.md.
#
#   bench/run_count.sh [--quick] [--only REGEX] [--timeout SECONDS] [--list] [--no-peer]
#
# Environment: BUILD_DIR is the build folder (default build-bench); PEER=path skips building the
# peer; PEER_SRC is the peer's folder (default ../shared/peers beside the repository).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
args=()
with_peer=1
while (($#)); do
  case $1 in
    --no-peer) with_peer=0 ;;
    --list) python3 "$repo/bench/count_bench.py" --build . --list; exit 0 ;;
    -h | --help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) args+=("$1") ;;
  esac
  shift
done

build_dir=${BUILD_DIR:-$repo/build-bench}
cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target gen_graph count_bench quarn >/dev/null
peer=()
if ((with_peer)); then
  peer=(--peer "${PEER:-$(bash "${PEER_SRC:-$repo/../shared/peers}/build.sh" "$build_dir/peer" | tail -n 1)}")
fi
echo "quarn: $(git -C "$repo" rev-parse --short HEAD) (Release build in $build_dir)" >&2
python3 "$repo/bench/count_bench.py" --build "$build_dir" "${peer[@]}" "${args[@]}"
