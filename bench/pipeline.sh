#!/usr/bin/env bash
# Times a whole analysis, simulate -> zelk -> kesta, for several numbers of
# sires (three traits, two groups, about 50 daughters each), and prints one
# table: wall time and peak memory of each program, and the time of each
# kesta phase, taken from the moments its listing lines appear (kesta writes
# its listing line by line).
#   usage: bench/pipeline.sh [BUILD_DIR] [Q ...]      (default: build, 1000 2000 4000)
# Peak memory needs /usr/bin/time; without it only the times are shown.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 2000 4000)
for exe in tools/simulate zelk kesta; do
  [ -x "$build/$exe" ] || { echo "pipeline.sh: $build/$exe not built" >&2; exit 2; }
done
command -v perl >/dev/null || { echo "pipeline.sh: perl is needed to timestamp the listing" >&2; exit 2; }
. "$here/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/pipeline-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

labels=("simulate: wall s" "simulate: peak MB" "zelk: wall s" "zelk: peak MB" "kesta: wall s" "kesta: peak MB")
for l in "${kesta_phase_labels[@]}"; do labels+=("  $l"); done
declare -A cell
for q in "${sizes[@]}"; do
  d=$work/q$q
  mkdir -p "$d" && cd "$d"
  echo "q = $q: simulating, zelk, kesta ..." >&2
  measure simulate "$build/tools/simulate" --bulls "$q" --traits 3 --groups 2 --daughters 50 --seed 1
  measure zelk "$build/zelk"
  t0=$(now)
  measure kesta "$build/kesta"
  tail -n 1 kesta.out | grep -q "Program KESTA completed normally" ||
    { echo "pipeline.sh: kesta did not complete for q = $q (listing in $d/kesta.out)" >&2; trap - EXIT; exit 1; }
  read -r -a v < <(cat simulate.cost zelk.cost kesta.cost | tr '\n' ' '; kesta_phases "$t0" kesta.out)
  # A listing that arrives all at once (held in a buffer) gives no phase times.
  listing_at_once "${v[4]}" kesta.out &&
    echo "pipeline.sh: kesta's listing for q = $q arrived at once: its phase times are not meaningful" >&2
  for i in "${!labels[@]}"; do cell[$q,$i]=${v[$i]:--}; done
  rm -f pass.dat zelk.coef
done

printf '\n%-30s' "t = 3, g = 2, q ="
for q in "${sizes[@]}"; do printf '%10s' "$q"; done
printf '\n'
for i in "${!labels[@]}"; do
  printf '%-30s' "${labels[$i]}"
  for q in "${sizes[@]}"; do printf '%10s' "${cell[$q,$i]}"; done
  printf '\n'
done
