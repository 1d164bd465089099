#!/usr/bin/env bash
# Builds the fuzz targets with clang++ and libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz, seeds their corpora from the test
# fixtures, and runs one target for a while.
#
#   tools/fuzz/run.sh build                  configure and build only
#   tools/fuzz/run.sh seed                   build, then (re)make the seed corpora
#   tools/fuzz/run.sh TARGET [SECONDS] [-- libFuzzer options...]
#        TARGET: pedigree, coef, passdat, kesta or zelk; SECONDS: default 600
#   tools/fuzz/run.sh replay TARGET FILE...  run the target once on each file
#
# Corpora live in build-fuzz/corpus/TARGET, findings in build-fuzz/findings/TARGET.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bdir=${FUZZ_BUILD_DIR:-$top/build-fuzz}
export CXX=${CXX:-clang++}

# One build at a time, also when several targets are started together.
build() {
  mkdir -p "$bdir"
  (
    flock 9
    cmake -S "$top/tools/fuzz" -B "$bdir" -DCMAKE_CXX_COMPILER="$CXX" >/dev/null
    cmake --build "$bdir" -j4
  ) 9>"$bdir/.build-lock"
}

seed() {
  python3 "$top/tools/fuzz/seed.py" "$top" "$bdir/corpus"
}

# Sanitizer settings for every run: reports are fatal, leaks are looked for.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

case "${1:-}" in
  build) build ;;
  seed) build; seed ;;
  replay)
    shift; t=$1; shift
    build >/dev/null
    "$bdir/fuzz_$t" "$@"
    ;;
  pedigree|coef|passdat|kesta|zelk)
    t=$1; secs=${2:-600}; shift; [ $# -gt 0 ] && shift
    [ "${1:-}" = "--" ] && shift
    build >/dev/null
    [ -d "$bdir/corpus/$t" ] || seed
    mkdir -p "$bdir/findings/$t"
    # Output of the code under test (listings, condition reports) goes to
    # /dev/null; libFuzzer's own lines and the sanitizers' reports do not.
    exec "$bdir/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
      -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$bdir/findings/$t/" \
      "$@" "$bdir/corpus/$t"
    ;;
  *) sed -n '2,13p' "$0"; exit 2 ;;
esac
