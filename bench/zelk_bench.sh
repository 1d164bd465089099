#!/usr/bin/env bash
# Times zelk on a generated pedigree (99,900 bulls unless given).
#   usage: bench/zelk_bench.sh [PATH/TO/zelk] [N]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
zelk=$(realpath "${1:-$here/../build/zelk}")
n=${2:-99900}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_pedigree.py" "$n" > "$work/pedigree.dat"
cd "$work"
best=""
for run in 1 2 3; do
  start=$(date +%s.%N)
  "$zelk" > listing.txt </dev/null
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  printf 'run %d: %.3f s\n' "$run" "$t"
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
printf 'zelk, %d bulls: %d lines of zelk.coef, best %.3f s\n' "$n" "$(wc -l < zelk.coef)" "$best"
tail -n 12 listing.txt | head -n 5
