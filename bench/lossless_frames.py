#!/usr/bin/env python3
"""lossless_frames.py [--reencoded] INPUT CUT START_MS END_MS

A delete of ADTS AAC, WMA or M4A, decoded with the ffmpeg command line and compared with the
decoded input, without trusting the cutter: the stretch removed is the difference in length, the
frame across the join is where the output first differs. Prints both, the distances from the
marks they make (the join's crossfade centred half a frame into that frame), how many samples
after the join frame differ and the SNR there, and the SNR of the join frame against the input
before it and after the resumption.
--reencoded: CUT was re-encoded with the marks removed exactly: it is aligned to the best lag
within 25 ms, and the SNR is over the same frame around the seam and over the 10 s after it."""
import array
import math
import subprocess
import sys

args = sys.argv[1:]
reencoded = "--reencoded" in args
args = [a for a in args if not a.startswith("--")]
inp, cut, start_ms, end_ms = args[0], args[1], int(args[2]), int(args[3])
probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                        "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", inp],
                       capture_output=True, text=True, check=True).stdout.strip().split(",")
codec, rate, ch = probe[0], int(probe[1]), int(probe[2])
frame = 1024
if codec.startswith("wma"):  # the codec's block length
    frame = 512 if rate <= 16000 else 1024 if rate <= 22050 or (rate <= 32000 and codec == "wmav1") else 2048


def decode(f):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", f, "-f", "f32le", "-acodec", "pcm_f32le", "-"],
                         capture_output=True, check=True).stdout
    return array.array("f", out)


def snr(want, w0, got, g0, frames):
    signal = noise = 0.0
    for i in range(frames * ch):
        w = want[w0 * ch + i]
        signal += w * w
        noise += (w - got[g0 * ch + i]) ** 2
    return 10 * math.log10(signal / noise) if noise > 0 else float("inf")


def level_db(a, a0, frames):
    return 10 * math.log10(sum(v * v for v in a[a0 * ch:(a0 + frames) * ch]) / (frames * ch) + 1e-20)


def largest_step(a, a0, frames):
    return max(abs(a[(i + 1) * ch + c] - a[i * ch + c]) for i in range(a0, a0 + frames - 1) for c in range(ch))


def first_difference(a, a0, b, b0, frames):
    block = 1 << 14
    for i in range(0, frames * ch, block):
        n = min(block, frames * ch - i)
        x, y = a[a0 * ch + i:a0 * ch + i + n], b[b0 * ch + i:b0 * ch + i + n]
        if x != y:
            return (i + next(k for k in range(n) if x[k] != y[k])) // ch
    return None


def differing_count(a, a0, b, b0, frames):
    block, count = 1 << 14, 0
    for i in range(0, frames * ch, block):
        n = min(block, frames * ch - i)
        x, y = a[a0 * ch + i:a0 * ch + i + n], b[b0 * ch + i:b0 * ch + i + n]
        if x != y:
            count += sum(1 for k in range(0, n, ch) if x[k:k + ch] != y[k:k + ch])
    return count


whole, rest = decode(inp), decode(cut)
s, e = (start_ms * rate + 500) // 1000, (end_ms * rate + 500) // 1000
name = cut.split("/")[-1]
ten = 10 * rate
if reencoded:
    want = whole[:s * ch] + whole[e * ch:]
    at, window = s, 4096
    lag = min(range(-rate // 40, rate // 40), key=lambda l: sum(
        (want[i] - rest[i + l * ch]) ** 2 for i in range(at * ch, (at + window) * ch, 7)))
    rest = rest[lag * ch:] if lag >= 0 else array.array("f", [0.0] * (-lag * ch)) + rest
    print(f"{name} (re-encoded, lag {lag}): SNR over the frame around the seam "
          f"{snr(want, s - frame // 2, rest, s - frame // 2, frame):.1f} dB, over the 10 s after it "
          f"{snr(want, s + frame // 2, rest, s + frame // 2, ten):.1f} dB")
    sys.exit(0)
removed = (len(whole) - len(rest)) // ch
join = first_difference(whole, 0, rest, 0, min(len(whole), len(rest)) // ch)
if join is None:
    sys.exit(f"{name}: no difference found")
join -= join % frame
after = min(len(rest) // ch - join - frame, len(whole) // ch - join - frame - removed)
diff = differing_count(whole, join + frame + removed, rest, join + frame, after)
start_off = (join + frame // 2 - s) * 1000.0 / rate
end_off = (join + removed + frame // 2 - e) * 1000.0 / rate
print(f"{name}: removed {removed} samples ({removed / frame:.2f} frames), join frame at {join}: "
      f"the crossfade lies {start_off:+.1f} ms from the start mark and {end_off:+.1f} ms from the end mark; "
      f"after it {diff} of {after} samples differ, SNR over the 10 s after it "
      f"{snr(whole, join + frame + removed, rest, join + frame, min(after, ten)):.1f} dB; "
      f"join frame against the input before it {snr(whole, join, rest, join, frame):.1f} dB, "
      f"after the resumption {snr(whole, join + removed, rest, join, frame):.1f} dB; its level "
      f"{level_db(rest, join, frame) - level_db(rest, join - frame, frame):+.1f} dB against the frame before; "
      f"largest sample step in it {largest_step(rest, join, frame):.4f}, in the input's 10 s around "
      f"{largest_step(whole, max(0, s - ten // 2), ten):.4f}")
