# shellcheck shell=bash
# Shell functions shared by the benchmark scripts (sourced, not run).

# Copies standard input to standard output, each line prefixed with the time
# it arrived ("seconds.micro line"); kesta writes its listing line by line.
stamp() { perl -MTime::HiRes=time -ne 'BEGIN { $| = 1 } printf "%.6f %s", time, $_'; }

# The listing without the stamps.
unstamp() { sed 's/^[0-9.]* //' "$1"; }

now() { perl -MTime::HiRes=time -e 'printf "%.6f", time'; }

# measure NAME COMMAND...: runs the command in the current directory with
# standard input from /dev/null and its stamped output in NAME.out; leaves
# "wall-seconds peak-MiB" in NAME.cost (peak "-" without GNU time).
gnutime=""
[ -x /usr/bin/time ] && /usr/bin/time -v true >/dev/null 2>&1 && gnutime=/usr/bin/time
measure() {
  local name=$1; shift
  if [ -n "$gnutime" ]; then
    "$gnutime" -v -o "$name.time" "$@" </dev/null | stamp >"$name.out" || true
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; w = s }
                /Maximum resident set size/ { m = $2 / 1024 }
                END { printf "%.2f %.0f\n", w, m }' "$name.time" >"$name.cost"
  else
    local t0 t1
    t0=$(now)
    "$@" </dev/null | stamp >"$name.out" || true
    t1=$(now)
    echo "$t0 $t1" | awk '{ printf "%.2f -\n", $2 - $1 }' >"$name.cost"
  fi
}

# kesta's phases, in the order of kesta_phases T0 LISTING's figures.
kesta_phase_labels=("input, A-inverse read" "Cholesky of A-inverse" "inverse of the factor" "W read, groups, product 1"
                    "product 2" "eigen-decomposition" "REML rounds" "re-read, sire solver" "groups, sire.pta, sire.rel")

# kesta_phases T0 LISTING: the time of each kesta phase from its stamped
# listing: each phase ends with the first line that matches its pattern; the
# first starts at T0 (the launch). "-" for a phase whose line never came.
kesta_phases() {
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

# listing_at_once WALL LISTING: true when the stamped listing arrived all at
# once (held in a buffer), so that its phase times mean nothing.
listing_at_once() {
  awk -v wall="$1" 'NR == 1 { a = $1 } { b = $1 } END { exit !(wall > 1 && b - a < 0.05 * wall) }' "$2"
}
