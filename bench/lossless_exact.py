#!/usr/bin/env python3
"""lossless_exact.py [--delete] [--reencoded] INPUT CUT START_MS END_MS

Decodes INPUT and CUT with the ffmpeg command line and a second decoder (MP3: mpg123, Vorbis:
oggdec, Opus: libopus through ffmpeg, FLAC: sox) and compares
CUT with what it should hold: INPUT between the marks (select), or INPUT without them (--delete;
for MP3 the stretch removed rounded to whole frames, for Opus to 2.5 ms steps, as their lossless
deletes do). Prints how many samples differ, where, and the signal-to-noise ratio over the stretch
that differs (an Opus delete: also around the seam and over the decoder's settling after it).
--reencoded: CUT was re-encoded, so the exact marks are removed and CUT is first aligned to the
best lag within 25 ms; the SNR is then over the same samples around the seam as the bridge's."""
import array
import math
import subprocess
import sys

args = sys.argv[1:]
delete, reencoded = "--delete" in args, "--reencoded" in args
args = [a for a in args if not a.startswith("--")]
inp, cut, start_ms, end_ms = args[0], args[1], int(args[2]), int(args[3])
probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of",
                        "csv=p=0", inp], capture_output=True, text=True, check=True).stdout.strip().split(",")
codec, rate, channels = probe[0], int(probe[1]), int(probe[2])
spf = 1152 if rate >= 32000 else 576
first, last = (start_ms * rate + 500) // 1000, (end_ms * rate + 500) // 1000
# MP3 deletes remove whole frames, Opus deletes whole 2.5 ms steps; the other formats' are exact.
removed = last - first if reencoded or codec != "mp3" else max(1, (last - first + spf // 2) // spf) * spf
if codec == "opus" and not reencoded:
    removed = max(120, (last - first + 60) // 120 * 120)
ffmpeg = ["ffmpeg", "-v", "error"]
f32 = ["-f", "f32le", "-acodec", "pcm_f32le", "-"]
decoders = {
    "mp3": {"ffmpeg": lambda f: ffmpeg + ["-i", f] + f32, "mpg123": lambda f: ["mpg123", "-q", "-e", "f32", "-s", f]},
    "vorbis": {"ffmpeg": lambda f: ffmpeg + ["-i", f] + f32, "oggdec": lambda f: ["oggdec", "-Q", "-R", "-o", "-", f]},
    "opus": {"ffmpeg": lambda f: ffmpeg + ["-i", f] + f32, "libopus": lambda f: ffmpeg + ["-c:a", "libopus", "-i", f] + f32},
    "flac": {"ffmpeg": lambda f: ffmpeg + ["-i", f] + f32,
             "sox": lambda f: ["sox", "-q", f, "-t", "raw", "-e", "signed", "-b", "32", "-"]},
}[codec]


def differing(a, b, n):
    """Indexes of the first and last differing value of a and b in [0, n), or None."""
    block, blocks = 1 << 16, []
    for i in range(0, n, block):
        j = min(n, i + block)
        if a[i:j] != b[i:j]:
            blocks.append((i, j))
    if not blocks:
        return None
    lo = next(i for i in range(*blocks[0]) if a[i] != b[i])
    hi = max(i for i in range(*blocks[-1]) if a[i] != b[i])
    return lo, hi + 1


def snr(a, b, lo, hi):
    signal = sum(a[i] ** 2 for i in range(lo, hi))
    noise = sum((a[i] - b[i]) ** 2 for i in range(lo, hi))
    return 10 * math.log10(signal / noise) if noise > 0 else float("inf")


for name, command in decoders.items():
    def decode(f):
        kind = {"oggdec": "h", "sox": "i"}.get(name, "f")
        return array.array(kind, subprocess.run(command(f), capture_output=True, check=True).stdout)
    whole, piece = decode(inp), decode(cut)
    want = whole[:first * channels] + whole[(first + removed) * channels:] if delete else \
        whole[first * channels:last * channels]
    text = f"{name}: {cut.split('/')[-1]}: {len(piece) // channels} of {len(want) // channels} samples"
    # The ffmpeg command line also writes out what a Vorbis stream stamps before time 0.
    lead = (len(piece) - len(want)) // channels if name == "ffmpeg" and codec == "vorbis" else 0
    if lead > 0:
        piece = piece[lead * channels:]
        text += f" after {lead} samples stamped before time 0"
    if reencoded:
        at = first * channels if delete else 20000 * channels
        window = 4096 * channels
        lag = min(range(-rate // 40, rate // 40), key=lambda l: sum(
            (want[i] - piece[i + l * channels]) ** 2 for i in range(at, at + window, 7)))
        piece = piece[lag * channels:] if lag >= 0 else array.array("f", [0.0] * (-lag * channels)) + piece
        lo, hi = at - 3 * spf * channels, at + 4 * spf * channels
        print(text + f", lag {lag}, SNR over the bridge's samples {snr(want, piece, lo, hi):.1f} dB")
        continue
    found = differing(want, piece, min(len(want), len(piece)))
    if found is None:
        print(text + (", identical" if len(want) == len(piece) else ", identical where both have samples"))
        continue
    lo, hi = found
    text += (f", values differ in samples {lo // channels}..{(hi - 1) // channels} "
             f"({(hi - lo) // channels} samples), SNR there {snr(want, piece, lo, hi):.1f} dB")
    if codec == "opus" and delete:
        ms = rate // 1000 * channels
        seam = first * channels
        n = min(len(want), len(piece))
        snr_within = lambda a, b: snr(want, piece, max(0, a), min(n, b)) if min(n, b) > max(0, a) else float("nan")
        text += (f"; from the seam on: {(lo - seam) // channels}..{(hi - seam) // channels} samples, "
                 f"SNR -60..100 ms {snr_within(seam - 60 * ms, seam + 100 * ms):.1f} dB, "
                 f"100-300 ms {snr_within(seam + 100 * ms, seam + 300 * ms):.1f} dB, "
                 f"after 300 ms {snr_within(seam + 300 * ms, hi):.1f} dB")
    elif codec == "opus":
        ms = rate // 1000 * channels
        text += f"; SNR in the first 10 ms {snr(want, piece, 0, 10 * ms):.1f} dB, 10-80 ms {snr(want, piece, 10 * ms, 80 * ms):.1f} dB"
    print(text)
