#!/bin/sh
# The lossless cut against the re-encoding save and the frame-copying splitter mp3splt, all in
# one run on the same machine (not part of the test run). Times are medians of several runs of
# the whole program; "floor" is `clipwell-cut info` on the same file (loading the libraries and
# probing), which every run pays. Exactness: the cuts decoded by the ffmpeg command line and by
# mpg123 against the decoded input between the marks.
# Usage: bench/lossless.sh [build folder]   (default: build-bench, a release build)
# Then 60 s of 10-minute Ogg Vorbis, Opus and FLAC files: lossless against re-encoding, with a
# second decoder each (oggdec, libopus through ffmpeg, sox); the Vorbis and FLAC deletes.
# Needs: lame, mp3splt, ffmpeg, mpg123, vorbis-tools, sox, python3. Media are cached in
# /tmp/clipwell-bench.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
media=/tmp/clipwell-bench
mkdir -p "$media"
cmake -S "$root" -B "$build" -DCLIPWELL_WITH_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target clipwell-cut >/dev/null
cut="$build/bin/clipwell-cut"
out="$media/out"
mkdir -p "$out"

# A pseudo-random signal with a tone, so that the encoder uses its bit reservoir.
make_mp3() { # seconds name
    [ -f "$media/$2" ] && return
    ffmpeg -v error -f lavfi -i "anoisesrc=d=$1:c=pink:r=44100:a=0.3" -f lavfi -i "sine=f=440:d=$1:r=44100" \
        -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -f wav - |
        lame --quiet -b 128 - "$media/$2"
}
make_mp3 3600 hour.mp3
make_mp3 600 ten.mp3

# Median wall time (ms) of N runs of a command.
median_ms() { # runs command...
    n=$1; shift
    for i in $(seq "$n"); do
        s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
        echo $(( (e - s) / 1000000 ))
    done | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); $(ffmpeg -version | head -1)"
floor_hour=$(median_ms 7 "$cut" info "$media/hour.mp3")
floor_ten=$(median_ms 7 "$cut" info "$media/ten.mp3")
sel_hour=$(median_ms 7 "$cut" select "$media/hour.mp3" "$out/l30.mp3" --start 900000 --end 2700000 --lossless --overwrite)
splt_hour=$(median_ms 7 mp3splt -q -f -d "$out" -o splt30 "$media/hour.mp3" 15.00 45.00)
enc_hour=$(median_ms 1 "$cut" select "$media/hour.mp3" "$out/e30.mp3" --start 900000 --end 2700000 --overwrite)
sel_ten=$(median_ms 7 "$cut" select "$media/ten.mp3" "$out/l60.mp3" --start 270000 --end 330000 --lossless --overwrite)
del_hour=$(median_ms 3 "$cut" delete "$media/hour.mp3" "$out/ld.mp3" --start 1800000 --end 1860000 --lossless --overwrite)
edel_hour=$(median_ms 1 "$cut" delete "$media/hour.mp3" "$out/ed.mp3" --start 1800000 --end 1860000 --overwrite)
mem_hour=$(peak_kb "$cut" select "$media/hour.mp3" "$out/l30.mp3" --start 900000 --end 2700000 --lossless --overwrite)
mem_ten=$(peak_kb "$cut" select "$media/ten.mp3" "$out/l60.mp3" --start 270000 --end 330000 --lossless --overwrite)

awk -v f="$floor_hour" -v l="$sel_hour" -v s="$splt_hour" -v e="$enc_hour" -v f10="$floor_ten" -v l10="$sel_ten" \
    -v d="$del_hour" -v ed="$edel_hour" -v m="$mem_hour" -v m10="$mem_ten" 'BEGIN {
    printf "floor (clipwell-cut info): 1-hour file %d ms, 10-minute file %d ms\n", f, f10
    printf "30 min of a 1-hour 128 kb/s MP3: lossless %d ms, re-encoding %d ms, mp3splt %d ms\n", l, e, s
    printf "  above the floor: lossless %d ms, re-encoding %d ms: %.0fx faster\n", l - f, e - f, (e - f) / ((l - f) > 0 ? (l - f) : 1)
    printf "  lossless / (mp3splt + floor): %.2f\n", l / (s + f)
    printf "60 s of a 10-minute MP3: lossless %d ms = %.2fx the floor\n", l10, l10 / f10
    printf "delete 60 s of the 1-hour MP3: lossless %d ms, re-encoding %d ms; above the floor %.0fx faster\n", d, ed, (ed - f) / ((d - f) > 0 ? (d - f) : 1)
    printf "peak resident size: 1-hour file %d KiB, 10-minute file %d KiB\n", m, m10
}'

python3 "$root/bench/lossless_exact.py" "$media/hour.mp3" "$out/l30.mp3" 900000 2700000
python3 "$root/bench/lossless_exact.py" "$media/ten.mp3" "$out/l60.mp3" 270000 330000
python3 "$root/bench/lossless_exact.py" --delete "$media/hour.mp3" "$out/ld.mp3" 1800000 1860000
python3 "$root/bench/lossless_exact.py" --delete --reencoded "$media/hour.mp3" "$out/ed.mp3" 1800000 1860000

# The other formats: 60 s of a 10-minute file of the same signal.
[ -f "$media/ten.wav" ] || ffmpeg -v error -i "$media/ten.mp3" "$media/ten.wav"
[ -f "$media/ten.ogg" ] || oggenc -Q -q 4 "$media/ten.wav" -o "$media/ten.ogg"
[ -f "$media/ten.opus" ] || ffmpeg -v error -i "$media/ten.wav" -c:a libopus -b:a 96k "$media/ten.opus"
[ -f "$media/ten.flac" ] || ffmpeg -v error -i "$media/ten.wav" -c:a flac "$media/ten.flac"
for ext in ogg opus flac; do
    floor=$(median_ms 7 "$cut" info "$media/ten.$ext")
    lossless=$(median_ms 7 "$cut" select "$media/ten.$ext" "$out/l60.$ext" --start 270000 --end 330000 --lossless --overwrite)
    encoded=$(median_ms 1 "$cut" select "$media/ten.$ext" "$out/e60.$ext" --start 270000 --end 330000 --overwrite)
    mem=$(peak_kb "$cut" select "$media/ten.$ext" "$out/l60.$ext" --start 270000 --end 330000 --lossless --overwrite)
    echo "60 s of a 10-minute .$ext: floor $floor ms, lossless $lossless ms ($(awk -v l="$lossless" -v f="$floor" 'BEGIN {printf "%.2f", l / f}')x the floor), re-encoding $encoded ms, peak $mem KiB"
    python3 "$root/bench/lossless_exact.py" "$media/ten.$ext" "$out/l60.$ext" 270000 330000
done
delete=$(median_ms 3 "$cut" delete "$media/ten.flac" "$out/ld.flac" --start 270000 --end 330000 --lossless --overwrite)
echo "delete 60 s of the 10-minute .flac: lossless $delete ms"
python3 "$root/bench/lossless_exact.py" --delete "$media/ten.flac" "$out/ld.flac" 270000 330000

# Vorbis delete: the packets copied around a re-encoded bridge at the seam; the second decoder
# (oggdec) and the re-encoding delete's error over the bridge's samples.
vdelete=$(median_ms 3 "$cut" delete "$media/ten.ogg" "$out/ld.ogg" --start 270000 --end 330000 --lossless --overwrite)
vencoded=$(median_ms 1 "$cut" delete "$media/ten.ogg" "$out/ed.ogg" --start 270000 --end 330000 --overwrite)
echo "delete 60 s of the 10-minute .ogg: lossless $vdelete ms, re-encoding $vencoded ms"
python3 "$root/bench/vorbis_delete.py" "$media/ten.ogg" "$out/ld.ogg" 270000 330000 "$out/ed.ogg"

# ADTS AAC, WMA and M4A: delete 60 s of a 10-minute file, whole frames joined against re-encoding,
# each output decoded by the ffmpeg command line and measured against the decoded input.
[ -f "$media/ten.aac" ] || ffmpeg -v error -i "$media/ten.wav" -c:a aac -b:a 128k "$media/ten.aac"
[ -f "$media/ten.m4a" ] || ffmpeg -v error -i "$media/ten.wav" -c:a aac -b:a 128k "$media/ten.m4a"
[ -f "$media/ten.wma" ] || ffmpeg -v error -i "$media/ten.wav" -c:a wmav2 -b:a 128k "$media/ten.wma"
for ext in aac wma m4a; do
    floor=$(median_ms 7 "$cut" info "$media/ten.$ext")
    lossless=$(median_ms 7 "$cut" delete "$media/ten.$ext" "$out/ld.$ext" --start 270000 --end 330000 --lossless --overwrite)
    encoded=$(median_ms 1 "$cut" delete "$media/ten.$ext" "$out/ed.$ext" --start 270000 --end 330000 --overwrite)
    mem=$(peak_kb "$cut" delete "$media/ten.$ext" "$out/ld.$ext" --start 270000 --end 330000 --lossless --overwrite)
    notice=$("$cut" delete "$media/ten.$ext" "$out/ld.$ext" --start 270000 --end 330000 --lossless --overwrite 2>&1 |
        grep -o 'Whole frames.*' || true)
    echo "delete 60 s of a 10-minute .$ext: floor $floor ms, lossless $lossless ms, re-encoding $encoded ms;" \
        "above the floor $((lossless - floor)) ms against $((encoded - floor)) ms; peak $mem KiB; $notice"
    python3 "$root/bench/lossless_frames.py" "$media/ten.$ext" "$out/ld.$ext" 270000 330000
    python3 "$root/bench/lossless_frames.py" --reencoded "$media/ten.$ext" "$out/ed.$ext" 270000 330000
done

# Opus delete: the lossless delete (a re-encoded bridge at the seam) against re-encoding it all.
odelete=$(median_ms 3 "$cut" delete "$media/ten.opus" "$out/ld.opus" --start 270000 --end 330000 --lossless --overwrite)
oencoded=$(median_ms 1 "$cut" delete "$media/ten.opus" "$out/ed.opus" --start 270000 --end 330000 --overwrite)
echo "delete 60 s of the 10-minute .opus: lossless $odelete ms, re-encoding $oencoded ms"
python3 "$root/bench/lossless_exact.py" --delete "$media/ten.opus" "$out/ld.opus" 270000 330000
python3 "$root/bench/lossless_exact.py" --delete --reencoded "$media/ten.opus" "$out/ed.opus" 270000 330000
