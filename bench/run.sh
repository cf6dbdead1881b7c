#!/bin/sh
# Builds and runs the engine benchmark against the ffmpeg command line (one run per job; not part
# of the test run). Usage: bench/run.sh [build folder]   (default: build-bench, a release build)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -DCLIPWELL_WITH_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target clipwell_bench
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); $(ffmpeg -version | head -1)"
"$build/bin/clipwell_bench"
