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
gnutime=""
[ -x /usr/bin/time ] && /usr/bin/time -v true >/dev/null 2>&1 && gnutime=/usr/bin/time
work=$(mktemp -d "${TMPDIR:-/tmp}/pipeline-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs a program in the current directory with its listing to $1.out;
# leaves "seconds peak-MB" in $1.cost. The listing goes through a reader
# that stamps every line with the time it arrived.
stamp() { perl -MTime::HiRes=time -ne 'BEGIN { $| = 1 } printf "%.6f %s", time, $_'; }
measure() {
  local name=$1; shift
  if [ -n "$gnutime" ]; then
    "$gnutime" -v -o "$name.time" "$@" </dev/null | stamp >"$name.out" || true
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; w = s }
                /Maximum resident set size/ { m = $2 / 1024 }
                END { printf "%.2f %.0f\n", w, m }' "$name.time" >"$name.cost"
  else
    local t0 t1
    t0=$(perl -MTime::HiRes=time -e 'printf "%.6f", time')
    "$@" </dev/null | stamp >"$name.out" || true
    t1=$(perl -MTime::HiRes=time -e 'printf "%.6f", time')
    echo "$t0 $t1" | awk '{ printf "%.2f -\n", $2 - $1 }' >"$name.cost"
  fi
}

# Phase times of kesta from its stamped listing: each phase ends with the
# first line that matches its pattern; the first starts at $1 (the launch).
phases() {
  awk -v t0="$1" '
    BEGIN {
      n = split("ZELK COEFS READ;CHOLESKY DECOMPOSITION OF A-INVERSE DONE;INVERSION OF CHOLESKY MATRIX DONE;" \
                "LARGE MATRIX MULTIPLICATION 1 DONE;LARGE MATRIX MULTIPLICATION 2 DONE;EIGENVECTORS OF L ZSZ;" \
                "^FINAL ESTIMATES:;SIRE SOLUTIONS (AT|DID NOT);Program KESTA completed normally", pat, ";")
      k = 1; last = t0
    }
    k <= n {
      line = substr($0, index($0, " ") + 1)
      if (line ~ pat[k]) { printf "%.2f ", $1 - last; last = $1; k++ }
    }
    END { for (; k <= n; k++) printf "- "; printf "\n" }' "$2"
}

labels=("simulate: wall s" "simulate: peak MB" "zelk: wall s" "zelk: peak MB" "kesta: wall s" "kesta: peak MB"
        "  input, A-inverse read" "  Cholesky of A-inverse" "  inverse of the factor" "  W read, groups, product 1"
        "  product 2" "  eigen-decomposition" "  REML rounds" "  re-read, sire solver" "  groups, sire.pta, sire.rel")
declare -A cell
for q in "${sizes[@]}"; do
  d=$work/q$q
  mkdir -p "$d" && cd "$d"
  echo "q = $q: simulating, zelk, kesta ..." >&2
  measure simulate "$build/tools/simulate" --bulls "$q" --traits 3 --groups 2 --daughters 50 --seed 1
  measure zelk "$build/zelk"
  t0=$(perl -MTime::HiRes=time -e 'printf "%.6f", time')
  measure kesta "$build/kesta"
  tail -n 1 kesta.out | grep -q "Program KESTA completed normally" ||
    { echo "pipeline.sh: kesta did not complete for q = $q (listing in $d/kesta.out)" >&2; trap - EXIT; exit 1; }
  read -r -a v < <(cat simulate.cost zelk.cost kesta.cost | tr '\n' ' '; phases "$t0" kesta.out)
  # A listing that arrives all at once (held in a buffer) gives no phase times.
  awk -v wall="${v[4]}" 'NR == 1 { a = $1 } { b = $1 } END { exit !(wall > 1 && b - a < 0.05 * wall) }' kesta.out &&
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
