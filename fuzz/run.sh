#!/usr/bin/env bash
# Builds the fuzz targets with clang, ASan and UBSan into build-fuzz/ and runs each in turn for
# its share of the given minutes (default 20) on one core. Seeds are generated test media; the
# corpora grow in build-fuzz/corpus/TARGET, crashes land in build-fuzz/crashes/TARGET.
#   fuzz/run.sh [minutes] [target...]     targets: probe open select (default all three)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(probe open select)
dir=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCLIPWELL_FUZZ=ON -DCLIPWELL_WITH_GUI=OFF >/dev/null
cmake --build "$dir" -j2 --target fuzz_seeds $(printf 'fuzz_%s ' "${targets[@]}")

seeds="$dir/seeds"
mkdir -p "$seeds"
[ -n "$(ls -A "$seeds")" ] || CLIPWELL_TEST_MEDIA="$dir/testmedia" "$dir/bin/fuzz_seeds" "$seeds"

seconds=$(( minutes * 60 / ${#targets[@]} ))
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
    mkdir -p "$dir/corpus/$t" "$dir/crashes/$t"
    echo "== fuzz_$t: ${seconds}s"
    "$dir/bin/fuzz_$t" "$dir/corpus/$t" "$seeds" -max_total_time="$seconds" -max_len=262144 \
        -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$dir/crashes/$t/" \
        2>&1 | grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' || true
    echo "crashes: $(ls "$dir/crashes/$t" | wc -l)"
done
