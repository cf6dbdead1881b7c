#!/usr/bin/env python3
"""lossless_exact.py INPUT CUT START_MS END_MS: decodes INPUT and CUT with the ffmpeg command line
and with mpg123 (32-bit float) and counts the samples of CUT that differ from INPUT between the
marks, and the largest difference."""
import array
import subprocess
import sys

inp, cut, start_ms, end_ms = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels", "-of",
                        "csv=p=0", inp], capture_output=True, text=True, check=True).stdout.strip().split(",")
rate, channels = int(probe[0]), int(probe[1])
first, last = (start_ms * rate + 500) // 1000, (end_ms * rate + 500) // 1000
decoders = {
    "ffmpeg": lambda f: ["ffmpeg", "-v", "error", "-i", f, "-f", "f32le", "-acodec", "pcm_f32le", "-"],
    "mpg123": lambda f: ["mpg123", "-q", "-e", "f32", "-s", f],
}
for name, command in decoders.items():
    def decode(f):
        a = array.array("f")
        a.frombytes(subprocess.run(command(f), capture_output=True, check=True).stdout)
        return a
    whole, piece = decode(inp), decode(cut)
    want = whole[first * channels:last * channels]
    n = min(len(want), len(piece))
    diffs = [abs(want[i] - piece[i]) for i in range(n) if want[i] != piece[i]]
    print(f"{name}: {cut.split('/')[-1]}: {len(piece) // channels} of {len(want) // channels} samples, "
          f"{len(diffs)} values differ (largest {max(diffs) if diffs else 0:.3g})")
