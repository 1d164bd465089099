#!/usr/bin/env bash
# The speed table of kesta's kernels: each O(n^3) phase and the sire solver,
# literal loops against the fast forms (bench/kernels_bench, which also checks
# that both give the same bits), the fast time set against this machine's
# limit (bench/peak): the non-FMA multiply+add peak for the compute-bound
# phases, the memory bandwidth for the bandwidth-bound ones. The fast times
# are the best of six runs, three before and three after the literal forms'
# run (kernels_bench --reps 3, twice), and the limits the best of two
# measurements taken at those times; the literal forms run once.
#
#   usage: bench/phases.sh [--literal] [FAST_BUILD [LITERAL_BUILD]] [N]
#     FAST_BUILD     default build/: its bench/peak, bench/kernels_bench (and,
#                    with --literal, tools/simulate, zelk, kesta) are used
#     LITERAL_BUILD  default build-literal/: a build with -DLITERAL_KERNELS=ON;
#                    its kesta is the baseline of the whole analysis
#     N              order of the matrices (default 4000)
#     --literal      also the whole analysis, q = N sires, t = 3: kesta of
#                    both builds on the same files, their listings and output
#                    files compared byte for byte, wall time, peak memory and
#                    phase times; and zelk on 99,900 bulls
# Builds nothing. At N = 4000 the literal forms take several minutes (and
# --literal several more); run one benchmark at a time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

whole=0
dirs=()
n=4000
for arg in "$@"; do
  case $arg in
    --literal) whole=1 ;;
    -*) echo "usage: bench/phases.sh [--literal] [FAST_BUILD [LITERAL_BUILD]] [N]" >&2; exit 2 ;;
    *) if [[ $arg =~ ^[0-9]+$ ]]; then n=$arg; else dirs+=("$arg"); fi ;;
  esac
done
fast=$(realpath "${dirs[0]:-$here/../build}")
literal=$(realpath "${dirs[1]:-$here/../build-literal}")
need() { [ -x "$1" ] || { echo "phases.sh: $1 not built" >&2; exit 2; }; }
need "$fast/bench/peak"
need "$fast/bench/kernels_bench"
if [ $whole = 1 ]; then
  for exe in tools/simulate zelk kesta; do need "$fast/$exe"; done
  need "$literal/kesta"
  grep -q '^LITERAL_KERNELS:BOOL=ON' "$literal/CMakeCache.txt" 2>/dev/null ||
    { echo "phases.sh: $literal is not a build with -DLITERAL_KERNELS=ON" >&2; exit 2; }
  command -v perl >/dev/null || { echo "phases.sh: perl is needed to timestamp the listing" >&2; exit 2; }
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/phases-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# On a shared machine a slow spell can last minutes: the limits and the fast
# forms are each measured twice, minutes apart (before and after the literal
# forms' run), and the best of all their runs is kept.
echo "phases.sh: measuring this core's limits (bench/peak) ..." >&2
"$fast/bench/peak" | tee "$work/peak1.txt" >&2
echo "phases.sh: kernels at n = $n, literal and fast (bench/kernels_bench) ..." >&2
"$fast/bench/kernels_bench" --reps 3 "$n" | tee "$work/kernels1.txt" >&2
echo "phases.sh: the fast forms again, and the limits again ..." >&2
"$fast/bench/kernels_bench" --fast --reps 3 "$n" | tee "$work/kernels2.txt" >&2
"$fast/bench/peak" | tee "$work/peak2.txt" >&2
# The best of each limit: the largest rate, the smallest latency.
awk '{ if (!($1 in v) || ($1 == "add-latency" ? $2 < v[$1] : $2 > v[$1])) v[$1] = $2
       if (!($1 in o)) { o[$1] = ++k; u[$1] = $3 } }
     END { for (x in o) line[o[x]] = x " " v[x] " " u[x]; for (i = 1; i <= k; ++i) print line[i] }' \
  "$work/peak1.txt" "$work/peak2.txt" >"$work/peak.txt"
awk 'FNR == NR { if (FNR > 1) second[$1] = $4; next }
     FNR > 1 && ($1 in second) && second[$1] + 0 < $4 + 0 {
       $4 = second[$1]
       if ($3 != "-") $5 = sprintf("%.2f", $3 / $4)
     }
     { print }' "$work/kernels2.txt" "$work/kernels1.txt" >"$work/kernels.txt"

printf '\nKernels at n = %s (one thread; fast build %s)\n\n' "$n" "$fast"
awk -v n="$n" '
  FNR == NR { lim[$1] = $2; next }
  FNR == 1 { next }
  {
    k = $1
    name["EIGVEC"] = "EIGVEC, whole"; name["reduce"] = "  reduction to tridiagonal"
    name["accum"] = "  accumulation"; name["QL"] = "  QL rotations"
    name["CHOLPK"] = "CHOLPK (A = U'"'"'U, packed)"; name["INVRT"] = "INVRT (the factor inverse)"
    name["PRODUCT1"] = "product 1: K L'"'"'"; name["PRODUCT2"] = "product 2: L (K L'"'"')"
    name["SIRSOL"] = "SIRSOL sweeps"
    label = (k in name) ? name[k] : k
    if (k == "SIRSOL") { split($9, note, /[=,]/); label = label " (" note[2] " rounds)" }
    lit = $3; if (lit == "-" && k != "EIGVEC" && $6 == "-") lit = "(whole)"
    frac = "-"; rate = "-"; limit = "-"
    if ($8 == "flop") {
      r = $7 / $4 / 1e9; rate = sprintf("%.1f GFLOP/s", r)
      frac = sprintf("%.0f%%", 100 * r / lim["mul+add"]); limit = sprintf("%.1f GFLOP/s", lim["mul+add"])
    } else if ($8 == "byte") {
      which = k == "reduce" ? "update" : "read"
      r = $7 / $4 / 1e9; rate = sprintf("%.1f GB/s", r)
      frac = sprintf("%.0f%%", 100 * r / lim[which]); limit = sprintf("%.1f GB/s %s", lim[which], which)
    }
    bits = $6 == "-" ? "" : $6
    printf "%-32s %10s %9.3f %7s  %-14s %-18s %6s  %s\n", label, lit, $4, $5, rate, limit, frac, bits
    if (k == "SIRSOL" && ("add-latency" in lim)) {
      # the second floor: n(n-1)/2 tail terms a round, one addition latency each
      floor = note[2] * $2 * ($2 - 1) / 2 * lim["add-latency"] * 1e-9
      printf "%-32s %10s %9s %7s  %-14s %-18s %6s\n", "  its floor: chained additions", "", "", "", "",
             sprintf("%.3f s", floor), sprintf("%.0f%%", 100 * floor / $4)
    }
    if ($6 == "DIFFER") differ = 1
  }
  BEGIN {
    printf "%-32s %10s %9s %7s  %-14s %-18s %6s  %s\n", "phase", "literal s", "fast s", "ratio", "fast rate",
           "limit", "of limit", "bits"
  }
  END { exit differ }' "$work/peak.txt" "$work/kernels.txt" || { echo "phases.sh: a fast kernel does not give the literal bits" >&2; status=1; }
rot=$(awk '$1 == "QL" { sub(/rotations=/, "", $9); print $9 }' "$work/kernels.txt")
# The reduction's arithmetic rate, for comparison with its byte rate.
red=$(awk -v n="$n" 'FNR == NR { lim[$1] = $2; next }
  $1 == "reduce" { r = 4 * n * n * n / 3 / $4 / 1e9; printf "%.1f GFLOP/s, %.0f%% of mul+add", r, 100 * r / lim["mul+add"] }' \
  "$work/peak.txt" "$work/kernels.txt")
cat <<EOF

Work counted (from the literal loop nests; exact sums, leading terms shown):
  CHOLPK      n^3/3 flops: row i updates the trailing triangle, one multiply and one subtraction per element
  INVRT       n^3/3 flops on a lower triangular factor: step k changes columns j < k on rows i > k;
              the literal loop also subtracts exact zeros on the rows above (about n^3 flops in all),
              which leave the elements as they are and which the fast form passes over
  product 1/2 n^3 flops each: output (i,k) is a sum of k products, from +0 in increasing j
  accumulation 4n^3/3 flops: step l, l columns each a dot product and an update of length l
  QL          6 flops (4 multiplies, 2 additions) per row of z per rotation: 6 n R, R = $rot rotations
              applied to each row (counted by the fast QL stage)
  reduction   8n^3/3 bytes: step l reads and writes back the trailing lower triangle, l(l+1)/2 values;
              limit: the in-place update bandwidth ("update": read + write back); below l of about
              2900 the triangle fits in the 32 MiB L3 cache, so the rate can pass the memory limit;
              its arithmetic, 4n^3/3 flops, runs at $red
  SIRSOL      8 n^2 bytes a round: K read once (its arithmetic 2 t n^2 a round); limit: read bandwidth;
              a second floor: each sire's sum over the rows below its own (n(n-1)/2 terms a round) can
              only start when the sire before is done, so a round takes at least n(n-1)/2 addition
              latencies ("add-latency" of bench/peak); the row below SIRSOL gives that time for all
              the rounds and its share of the fast time
Limits from bench/peak: mul+add = 8-lane multiplies and additions in equal numbers, no FMA;
bandwidths over $(( 3 * 256 )) MiB of arrays. EIGVEC's literal form has no stages of its own: it is
timed whole and the fast form stage by stage; "bits" compares every output array (d and z for EIGVEC;
S, WK, DG, u, v and the listing for SIRSOL).
EOF

if [ $whole = 1 ]; then
  q=$n
  echo "phases.sh: whole analysis, q = $q, t = 3: simulate, zelk, kesta fast and literal ..." >&2
  mkdir -p "$work/in" "$work/fast" "$work/literal"
  (cd "$work/in" && "$fast/tools/simulate" --bulls "$q" --traits 3 --groups 2 --daughters 50 --seed 1 >/dev/null &&
   "$fast/zelk" >zelk.lst </dev/null)
  for side in fast literal; do
    cd "$work/$side"
    ln "$work/in/pass.dat" "$work/in/zelk.coef" .
    bin=$fast/kesta; [ $side = literal ] && bin=$literal/kesta
    t0=$(now)
    measure kesta "$bin"
    echo "$(cat kesta.cost) $(kesta_phases "$t0" kesta.out)" >phases.txt
    unstamp kesta.out >kesta.lst
    tail -n 1 kesta.lst | grep -q "Program KESTA completed normally" ||
      { echo "phases.sh: $side kesta did not complete (listing in $work/$side)" >&2; trap - EXIT; exit 1; }
    listing_at_once "$(cut -d' ' -f1 kesta.cost)" kesta.out &&
      echo "phases.sh: the $side listing arrived at once: its phase times are not meaningful" >&2
    rm -f pass.dat zelk.coef kesta.out kesta.time kesta.cost
    echo "phases.sh: $side kesta done" >&2
  done
  same="identical"
  for f in $(cd "$work/literal" && ls | grep -v '^phases.txt$'); do
    cmp -s "$work/literal/$f" "$work/fast/$f" || { same="DIFFER"; echo "phases.sh: $f differs" >&2; }
  done
  [ "$(cd "$work/literal" && ls)" = "$(cd "$work/fast" && ls)" ] || { same="DIFFER"; echo "phases.sh: not the same files" >&2; }
  files=$(cd "$work/fast" && ls | grep -v '^phases.txt$' | tr '\n' ' ')
  read -r -a F <"$work/fast/phases.txt"
  read -r -a L <"$work/literal/phases.txt"
  printf '\nWhole analysis, q = %s, t = 3, g = 2 (kesta of %s against %s)\n\n' "$q" "$fast" "$literal"
  printf '%-32s %10s %9s %7s\n' "kesta" "literal s" "fast s" "ratio"
  row() { awk -v l="$2" -v f="$3" -v name="$1" 'BEGIN {
            r = (l + 0 > 0 && f + 0 > 0) ? sprintf("%.1f", l / f) : "-"
            printf "%-32s %10s %9s %7s\n", name, l, f, r }'; }
  row "end to end (wall)" "${L[0]}" "${F[0]}"
  for i in "${!kesta_phase_labels[@]}"; do row "  ${kesta_phase_labels[$i]}" "${L[$((i + 2))]}" "${F[$((i + 2))]}"; done
  awk -v q="$q" -v f="${F[1]}" -v l="${L[1]}" 'BEGIN {
    two = 2 * 8 * q * q / 1048576
    printf "%-32s %10s %9s   MiB; the two q x q matrices: %.0f MiB, fast peak %.2f of them\n", "peak memory", l, f, two, f / two }'
  printf '%-32s %s (%s)\n' "listing and output files" "$same" "$files"
  [ "$same" = identical ] || status=1
  zelk_line=$(bash "$here/zelk_bench.sh" "$fast/zelk" 99900 2>/dev/null | grep '^zelk,' || true)
  printf '%-32s %s\n' "zelk, 99,900 bulls" "${zelk_line#zelk, 99900 bulls: }"
fi
exit ${status:-0}
