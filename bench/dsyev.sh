#!/usr/bin/env bash
# EIGVEC (the fast form, as kesta runs it) against Debian's OpenBLAS dsyev
# (QL-based, with vectors) and dsyevd (divide and conquer) on the same random
# symmetric matrix in the same run, one thread each.
#   usage: bench/dsyev.sh [BUILD_DIR] [N ...]     (default: build, 4000)
# Installs libopenblas-dev with apt-get when it is missing and compiles
# bench/dsyev_bench.cpp by hand against BUILD_DIR's kestalib: OpenBLAS is a
# need of this benchmark only, never of the programs, their build or tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(4000)
for lib in libkestalib.a librecords.a; do
  [ -f "$build/$lib" ] || { echo "dsyev.sh: $build/$lib not built" >&2; exit 2; }
done
if ! dpkg -s libopenblas-dev >/dev/null 2>&1; then
  echo "dsyev.sh: installing libopenblas-dev (benchmark only) ..." >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libopenblas-dev >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/dsyev-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The project's own flags (no contraction, no fast-math), so EIGVEC is the
# same code as in kesta.
march=-march=native
grep -q '^NATIVE:BOOL=OFF' "$build/CMakeCache.txt" 2>/dev/null && march=
g++ -std=c++17 -O2 $march -ffp-contract=off -fno-fast-math -I"$here/.." "$here/dsyev_bench.cpp" \
  "$build/libkestalib.a" "$build/librecords.a" -lopenblas -lm -o "$work/dsyev_bench"
OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 "$work/dsyev_bench" "${sizes[@]}"
