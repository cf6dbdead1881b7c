#!/usr/bin/env bash
# Builds Clipwell and starts it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
clipwell_install_deps
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/bin/clipwell ]; then
    exec build/bin/clipwell "$@"
fi
echo "Built:"; ls build/bin
