#!/usr/bin/env python3
"""vorbis_delete.py INPUT CUT START_MS END_MS [REENCODED]

Checks a lossless Ogg Vorbis delete with the ffmpeg command line and oggdec: the stretch removed
is the difference of the decoded lengths (the delete rounds it to the packets' block grid); the
decoded CUT must equal the decoded INPUT before the seam and, shifted by that stretch, after it.
Prints the stretch removed against the marked one, where the bridge's differing samples lie
around the seam, and their signal-to-noise ratio; with REENCODED (the re-encoding delete of the
same marks), that cut's signal-to-noise ratio over the same samples."""
import array
import math
import subprocess
import sys

inp, cut, start_ms, end_ms = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
reencoded = sys.argv[5] if len(sys.argv) > 5 else None
probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels", "-of", "csv=p=0",
                        inp], capture_output=True, text=True, check=True).stdout.strip().split(",")
rate, channels = int(probe[0]), int(probe[1])
seam, marked = (start_ms * rate + 500) // 1000, (end_ms * rate + 500) // 1000 - (start_ms * rate + 500) // 1000
decoders = {
    "ffmpeg": (["ffmpeg", "-v", "error", "-i"], ["-f", "f32le", "-acodec", "pcm_f32le", "-"], "f"),
    "oggdec": (["oggdec", "-Q", "-R", "-o", "-"], [], "h"),
}
for name, (before, after, kind) in decoders.items():
    def decode(f):
        return array.array(kind, subprocess.run(before + [f] + after, capture_output=True, check=True).stdout)
    whole, piece = decode(inp), decode(cut)
    removed = (len(whole) - len(piece)) // channels
    n = len(piece)
    head = next((i for i in range(n) if whole[i] != piece[i]), n) // channels
    tail = next((i for i in range(n) if whole[len(whole) - 1 - i] != piece[n - 1 - i]), n) // channels
    lo, hi = head * channels, n - tail * channels

    def snr(other, shift):
        def want(i):
            return float(whole[i + (shift * channels if i >= seam * channels else 0)])
        signal = sum(want(i) ** 2 for i in range(lo, hi))
        noise = sum((want(i) - other[i]) ** 2 for i in range(lo, hi))
        return 10 * math.log10(signal / noise) if noise > 0 else float("inf")
    text = (f"{name}: removed {removed} samples for {marked} marked ({(removed - marked) * 1000 / rate:+.1f} ms); "
            f"identical up to {head - seam:+d} and from {(n // channels - tail) - seam:+d} samples around the "
            f"seam ({hi // channels - lo // channels} differ, SNR {snr(piece, removed):.1f} dB)")
    if reencoded:
        other = decode(reencoded)
        text += f"; re-encoding delete over the same samples: SNR {snr(other, (len(whole) - len(other)) // channels):.1f} dB"
    print(text)
