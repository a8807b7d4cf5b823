#!/usr/bin/env bash
# Counts by size: quarn against igraph's count of connected sets of k nodes on the same graphs, side
# by side, and the figures of the work on sizes; prints markdown tables (progress goes to standard
# error). See bench/README.md.
#
#   bench/run_sizes.sh [--quick] [--only REGEX] [--timeout SECONDS] [--trials N] [--list] [--no-targets]
#
# Needs igraph for Debian's python3 (apt-get install python3-igraph). BUILD_DIR is the build folder
# (default build-bench).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  sed -n '2,9s/^# \{0,1\}//p' "$0"
  exit 0
fi
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -c 'import igraph' 2>/dev/null || {
  echo "run_sizes.sh: igraph is missing: apt-get install python3-igraph" >&2
  exit 1
}
build_dir=${BUILD_DIR:-$repo/build-bench}
cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target gen_graph count_bench quarn >/dev/null
echo "quarn: $(git -C "$repo" rev-parse --short HEAD) (Release build in $build_dir); igraph $("$python" -c 'import igraph; print(igraph.__version__)')" >&2
"$python" "$repo/bench/sizes_bench.py" --build "$build_dir" "$@"
