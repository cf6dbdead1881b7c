#!/bin/sh
# Fails when a header of the conversion component, the application or the tools reaches a media
# library header (FFmpeg or SDL), directly or through the headers it includes: only the engine,
# the player and the runtime see those libraries' declarations.
root=$(cd "$(dirname "$0")/.." && pwd)
dirs=""
for d in $(find "$root/Src" "$root/app" "$root/tools" -type d); do dirs="$dirs -I$d"; done
status=0
for header in $(find "$root/Src/Converter" "$root/app" "$root/tools" -name '*.h' | sort); do
    # -MG lists headers it cannot find (the window toolkit's) instead of failing on them.
    found=$(${CXX:-c++} -std=c++20 -x c++ -M -MG $dirs $(pkg-config --cflags-only-I libavcodec sdl2) \
        "$header" 2>/dev/null | tr ' \\' '\n\n' | grep -E '/(libav[a-z]*|libsw[a-z]*|SDL2)/' | head -1)
    if [ -n "$found" ]; then
        echo "${header#$root/} reaches $found"
        status=1
    fi
done
[ $status = 0 ] && echo "No header of Src/Converter, app/ or tools/ reaches a media library header."
exit $status
