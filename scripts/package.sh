#!/usr/bin/env bash
# Builds the Debian package in build-package/ (a release build without the tests) and checks it:
# lintian, the desktop entry, the AppStream metadata, the manual pages (groff warnings, and every
# command and option of --help named in clipwell-cut(1) and offered by the bash completion), then
# installs it into a scratch folder with DESTDIR and runs both programs from there.
#   scripts/package.sh            build and check; the package is build-package/clipwell_*.deb
# Needs lintian, desktop-file-utils and appstream (installed when run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
clipwell_install_deps lintian desktop-file-utils appstream fakeroot dpkg-dev man-db xvfb xauth

dir=build-package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCLIPWELL_WITH_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
(cd "$dir" && rm -f clipwell_*.deb && cpack -G DEB)
deb=$(ls "$dir"/clipwell_*.deb)
failed=0
fail() { echo "FAILED: $*"; failed=1; }

echo "== dpkg -c $deb"
dpkg -c "$deb"
echo "== dpkg -I"
dpkg-deb -f "$deb" Package Version Architecture Section Depends
echo "== lintian"
lintian --tag-display-limit 0 --info "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$dir/lintian.txt" || true
grep -q '^E:' "$dir/lintian.txt" && fail "lintian reports errors"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
echo "== desktop entry and AppStream metadata"
desktop-file-validate "$scratch/usr/share/applications/clipwell.desktop" || fail "desktop entry"
appstreamcli validate --no-net --explain "$scratch/usr/share/metainfo/clipwell.metainfo.xml" || true

echo "== manual pages"
for page in "$scratch"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
cut="$scratch/usr/bin/clipwell-cut"
help=$("$cut" --help)
manual=$(zcat "$scratch/usr/share/man/man1/clipwell-cut.1.gz" | sed 's/\\-/-/g')
completion=$(cat "$scratch/usr/share/bash-completion/completions/clipwell-cut")
for option in $(grep -oE '(^|[ [])--[a-z-]+' <<<"$help" | tr -d ' [' | sort -u) --; do
    grep -qF -- "$option" <<<"$manual" || fail "clipwell-cut(1) lacks $option"
    grep -qF -- "$option" <<<"$completion" || fail "the completion lacks $option"
done
for command in $(grep -oE '^(Usage:)? +clipwell-cut [a-z]+' <<<"$help" | awk '{print $NF}' | sort -u); do
    grep -qE "^\.BI? $command\b" <<<"$manual" || fail "clipwell-cut(1) lacks the command $command"
    grep -qw -- "$command" <<<"$completion" || fail "the completion lacks the command $command"
done

window="$scratch/usr/bin/clipwell"
window_manual=$(zcat "$scratch/usr/share/man/man1/clipwell.1.gz" | sed 's/\\-/-/g')
for option in $(env -u DISPLAY "$window" --help | grep -oE '(^|[ [])--[a-z-]+' | tr -d ' [' | sort -u); do
    grep -qF -- "$option" <<<"$window_manual" || fail "clipwell(1) lacks $option"
    grep -qF -- "$option" "$scratch/usr/share/bash-completion/completions/clipwell" ||
        fail "the completion of clipwell lacks $option"
done

echo "== installed into $scratch (DESTDIR)"
rm -rf "$scratch"/*
DESTDIR="$scratch" cmake --install "$dir" --prefix /usr --strip >/dev/null
find "$scratch" -type f | sed "s|^$scratch||" | sort
media="$scratch/tone.wav"
ffmpeg -v error -y -f lavfi -i "sine=440:duration=3" -ac 2 "$media" 2>/dev/null ||
    fail "ffmpeg is needed for the sample file"
echo "\$ $cut --version"; "$cut" --version
echo "\$ clipwell --version (no display)"; env -u DISPLAY "$scratch/usr/bin/clipwell" --version
echo "\$ $cut info --json tone.wav"; "$cut" info --json "$media" || fail "clipwell-cut info"
echo "\$ clipwell tone.wav (offscreen, stopped after 5 s)"
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy LD_DEBUG=files timeout 5 "$scratch/usr/bin/clipwell" "$media" \
    2>"$dir/clipwell-run.txt" && rc=0 || rc=$?
[ "$rc" = 124 ] && echo "clipwell ran until stopped" || fail "clipwell ended with $rc"
# The window loads both library sets when it is shown; libmyutil.so must come from the private folder.
grep -o 'file=[^ ]*libmyutil.so[^ ]*' "$dir/clipwell-run.txt" | sort -u
grep -q "file=$scratch/usr/lib/.*/clipwell/libmyutil.so" \
    "$dir/clipwell-run.txt" || fail "clipwell did not load libmyutil.so from its private folder"
exit $failed
