#!/usr/bin/env bash
# Cut fidelity per format: clipwell-cut against the ffmpeg command line re-encoding the same cut,
# both measured in one run with an independent decoder (the ffmpeg command line) and
# cross-correlation against the decoded input. Select 5 s..12 s and delete 5 s..12 s of a 20 s
# file with tags (and a cover picture where the container holds one). Errors in ms; "length
# stated" is what the select's output claims in its headers.
#   bench/fidelity.sh [build dir [FORMAT...]]     (formats by name, e.g. WMA OGG; default all)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
only=" ${*^^} "
cut="$build/bin/clipwell-cut"
[ -x "$cut" ] || cmake --build "$build" --target clipwell-cut >/dev/null
work=$(mktemp -d /tmp/clipwell-fidelity-XXXXXX)
trap 'rm -rf "$work"' EXIT
g++ -O2 -o "$work/align" bench/fidelity/Align.cpp

ff() { ffmpeg -v error -nostdin -y "$@"; }
ff -f lavfi -i "testsrc=s=64x64:d=1" -frames:v 1 "$work/cover.png"
ff -f lavfi -i "testsrc=s=64x64:d=1" -frames:v 1 -c:v mjpeg "$work/cover.jpg"
picture=$(python3 - "$work/cover.png" <<'PY'
import base64, struct, sys
data = open(sys.argv[1], 'rb').read()
mime, desc = b'image/png', b'front'
block = struct.pack('>II', 3, len(mime)) + mime + struct.pack('>I', len(desc)) + desc
block += struct.pack('>IIIII', 64, 64, 24, 0, len(data)) + data
print(base64.b64encode(block).decode())
PY
)

# name ext output-arguments rate cover(stream|comment|none); ADTS writes its ID3v2 tag only when asked
formats=(
    "MP3 mp3 -c:a,libmp3lame,-b:a,128k 44100 stream"
    "OGG ogg -c:a,libvorbis,-b:a,128k 44100 comment"
    "OPUS opus -c:a,libopus,-b:a,96k 48000 comment"
    "WMA wma -c:a,wmav2,-b:a,128k 44100 none"
    "WAV wav -c:a,pcm_s16le 44100 none"
    "FLAC flac -c:a,flac 44100 stream"
    "M4A m4a -c:a,aac,-b:a,128k 44100 stream"
    "AAC aac -c:a,aac,-b:a,128k,-write_id3v2,1 44100 none"
)

ms() { awk -v a="$1" -v b="$2" -v r="$3" 'BEGIN { if (a == "none") print "n/a"; else printf "%+.2f", (a - b) * 1000.0 / r }'; }
offset() { "$work/align" "$1" "$2" "$3" "$4" 4410 | sed 's/.*offset=\([^ ]*\).*/\1/'; }
length() { "$work/align" "$1" "$2" 0 0 0 | sed 's/.*length=\([0-9]*\).*/\1/'; }
decode() { ff -i "$1" -map 0:a -ac 1 -f f32le "$2"; }
# The whole listing is read before it is matched: grep -q would stop reading early, and under
# pipefail the probe's broken pipe would count as no match.
tags() {
    local listing
    listing=$(ffprobe -v error -show_entries format_tags=title:stream_tags=title -of csv=p=0 "$1")
    [[ $listing == *Fidelity* ]] && echo yes || echo no
}
# The length the file states (its stream's, else the container's), in seconds.
stated() {
    local d
    d=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 "$1")
    [[ $d =~ ^[0-9.]+$ ]] || d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1")
    echo "$d"
}
pictures() { ffprobe -v error -show_entries stream_disposition=attached_pic -of csv=p=0 "$1" | grep -c '^1' || true; }

printf "| format | tool | select start | select length | length stated | delete: first part | delete: after the seam | tags | cover |\n"
printf "|---|---|---|---|---|---|---|---|---|\n"
for spec in "${formats[@]}"; do
    read -r name ext args rate cover <<<"$spec"
    [ "$only" = "  " ] || [[ $only == *" $name "* ]] || continue
    enc=(${args//,/ })
    in="$work/in.$ext"
    meta=(-metadata title="Fidelity Title" -metadata artist="Fidelity Artist")
    src=(-f lavfi -i "anoisesrc=d=20:c=white:a=0.3:r=$rate:s=7,lowpass=f=5000,aformat=channel_layouts=stereo")
    case $cover in
    stream) ff "${src[@]}" -i "$work/cover.jpg" -map 0:a -map 1:v -c:v copy -disposition:v attached_pic \
                "${enc[@]}" "${meta[@]}" "$in" ;;
    comment) ff "${src[@]}" "${enc[@]}" "${meta[@]}" -metadata:s:a METADATA_BLOCK_PICTURE="$picture" "$in" ;;
    *) ff "${src[@]}" "${enc[@]}" "${meta[@]}" "$in" ;;
    esac
    decode "$in" "$work/in.f32"
    inpics=$(pictures "$in")

    # Clipwell.
    "$cut" select "$in" "$work/c-sel.$ext" --start 5000 --end 12000 --quiet --overwrite >/dev/null
    "$cut" delete "$in" "$work/c-del.$ext" --start 5000 --end 12000 --quiet --overwrite >/dev/null
    # The ffmpeg command line: input seek and duration; trim and concatenate for the delete.
    vmap=(); [ "$cover" = stream ] && vmap=(-map 0:v -c:v copy)
    ff -ss 5 -t 7 -i "$in" -map 0:a "${vmap[@]}" "${enc[@]}" "$work/f-sel.$ext"
    ff -i "$in" -filter_complex "[0:a]atrim=0:5[a];[0:a]atrim=12,asetpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=0:a=1[o]" \
        -map "[o]" "${vmap[@]}" "${enc[@]}" "$work/f-del.$ext"

    for tool in c f; do
        label=$([ $tool = c ] && echo clipwell-cut || echo "ffmpeg CLI")
        decode "$work/$tool-sel.$ext" "$work/sel.f32"
        decode "$work/$tool-del.$ext" "$work/del.f32"
        s=$(offset "$work/in.f32" "$work/sel.f32" 4096 $((5 * rate)))
        l=$(( $(length "$work/in.f32" "$work/sel.f32") ))
        h=$(offset "$work/in.f32" "$work/del.f32" $((5 * rate - 12000)) 0)
        t=$(offset "$work/in.f32" "$work/del.f32" $((5 * rate + 2048)) $((7 * rate)))
        st=$(awk -v d="$(stated "$work/$tool-sel.$ext")" 'BEGIN { printf "%+.2f", (d - 7) * 1000.0 }')
        tk="$(tags "$work/$tool-sel.$ext")/$(tags "$work/$tool-del.$ext")"
        pk="$(pictures "$work/$tool-sel.$ext")/$(pictures "$work/$tool-del.$ext") of $inpics"
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n" "$name" "$label" "$(ms "$s" $((5 * rate)) "$rate")" \
            "$(ms "$l" $((7 * rate)) "$rate")" "$st" "$(ms "$h" 0 "$rate")" "$(ms "$t" $((7 * rate)) "$rate")" "$tk" "$pk"
    done
done
