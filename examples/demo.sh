#!/usr/bin/env bash
# Runs quarn on the bundled examples: quarn's path is the first argument (default build/quarn).
set -euo pipefail
quarn=${1:-build/quarn}
here=$(cd "$(dirname "$0")" && pwd)
show() {
  echo "\$ quarn $*"
  "$quarn" "$@"
  echo
}
show CIS "$here/cycle.txt" -
show CIS "$here/house.txt" -
show CIS "$here/grid4x4.txt"
show CIS "$here/karate.txt"
show MCS "$here/mcs-graph.txt" "$here/mcs-attributes.txt" 2 2 -
show MCS "$here/mcs-graph.txt" "$here/mcs-attributes.txt" 1 0 -
