#!/usr/bin/env bash
# Runs one simulated analysis (three traits, two groups, about 50 daughters
# per bull) through kesta twice, built with the fast kernels and with the
# literal loop nests (cmake -DLITERAL_KERNELS=ON), and shows that both give
# the same listing and output files byte for byte, how much faster the fast
# build is, and its peak memory against the two q x q matrices it must hold.
#   usage: bench/compare.sh FAST_BUILD LITERAL_BUILD [Q]      (default Q: 4000)
# Peak memory needs /usr/bin/time (Debian package time).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: bench/compare.sh FAST_BUILD LITERAL_BUILD [Q]" >&2; exit 2; }
fast=$(realpath "$1")
literal=$(realpath "$2")
q=${3:-4000}
for exe in "$fast/tools/simulate" "$fast/zelk" "$fast/kesta" "$literal/kesta"; do
  [ -x "$exe" ] || { echo "compare.sh: $exe not built" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "compare.sh: /usr/bin/time is needed (apt-get install time)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/compare-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

cd "$work"
"$fast/tools/simulate" --bulls "$q" --traits 3 --groups 2 --daughters 50 --seed 1 >/dev/null
"$fast/zelk" >zelk.out
outputs="sire.pta sire.rel genphen.cor genetic.cor environment.cor"

# Runs kesta of build $2 in directory $1 on the shared inputs; leaves
# "seconds peak-kB" in $1/cost.
run() {
  mkdir -p "$1"
  ln -sf ../pass.dat ../zelk.coef "$1/"
  (cd "$1" && /usr/bin/time -f "%e %M" -o cost "$2/kesta" >listing </dev/null) ||
    { echo "compare.sh: kesta of $2 failed (listing in $work/$1)" >&2; trap - EXIT; exit 1; }
}
echo "q = $q: fast build ..." >&2
run fast "$fast"
echo "q = $q: literal build ..." >&2
run literal "$literal"

same=yes
for f in listing $outputs; do
  cmp -s "fast/$f" "literal/$f" || { echo "DIFFERENT: $f" >&2; same=no; }
done
read -r tf mf <fast/cost
read -r tl ml <literal/cost
awk -v q="$q" -v tf="$tf" -v tl="$tl" -v mf="$mf" -v ml="$ml" -v same="$same" 'BEGIN {
  two = 2 * q * q * 8 / 1048576
  printf "q = %d, t = 3, g = 2\n", q
  printf "listing and %s identical: %s\n", "sire.pta, sire.rel and the .cor files", same
  printf "%-10s %10s %10s\n", "", "wall s", "peak MB"
  printf "%-10s %10.2f %10.1f\n", "literal", tl, ml / 1024
  printf "%-10s %10.2f %10.1f\n", "fast", tf, mf / 1024
  printf "speedup %.1f; fast peak memory %.1f%% above the two q x q matrices (%.1f MB)\n",
         tl / tf, (mf / 1024 / two - 1) * 100, two
}'
[ "$same" = yes ]
