#!/usr/bin/env bash
# Builds Clipwell and runs every test through CTest.
#   ./test.sh                 the default build in build/
#   SANITIZE=address ./test.sh  ASan+UBSan build in build-asan/
#   SANITIZE=thread ./test.sh   TSan build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
clipwell_install_deps xvfb xauth

SANITIZE=${SANITIZE:-}
case "$SANITIZE" in
    "") dir=build ;;
    address) dir=build-asan ;;
    thread) dir=build-tsan ;;
    *) echo "SANITIZE must be address or thread"; exit 2 ;;
esac
cmake -S . -B "$dir" -DCLIPWELL_SANITIZE="$SANITIZE" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=offscreen
cd "$dir" && ctest --output-on-failure -j"$(nproc)" "$@"
