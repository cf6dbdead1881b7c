#!/usr/bin/env python3
"""Checks a waveform-data file (.json or .dat, version 2) against an independent decode.

usage: check_waveform.py AUDIO WAVEFORM [START_MS]

AUDIO is decoded by the ffmpeg command line to signed 16-bit samples; for every pixel of
WAVEFORM the min/max of its samples_per_pixel frames (from START_MS on) must equal the stored
pair, per channel (for 8 bits: the 16-bit value shifted down by 8). Exit 0 when all match.
"""
import json
import struct
import subprocess
import sys


def read_waveform(path):
    if path.endswith(".json"):
        with open(path) as f:
            w = json.load(f)
        return w
    with open(path, "rb") as f:
        raw = f.read()
    version, flags, rate, spp, length, channels = struct.unpack_from("<iIiiIi", raw, 0)
    bits = 8 if flags & 1 else 16
    count = length * channels * 2
    data = struct.unpack_from("<%d%s" % (count, "b" if bits == 8 else "h"), raw, 24)
    return {"version": version, "channels": channels, "sample_rate": rate, "samples_per_pixel": spp,
            "bits": bits, "length": length, "data": list(data)}


def main():
    audio, path = sys.argv[1], sys.argv[2]
    start_ms = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    w = read_waveform(path)
    for key in ("version", "channels", "sample_rate", "samples_per_pixel", "bits", "length", "data"):
        if key not in w:
            sys.exit("missing key %s" % key)
    if w["version"] != 2 or w["bits"] not in (8, 16):
        sys.exit("version %s, bits %s" % (w["version"], w["bits"]))
    ch, spp, length = w["channels"], w["samples_per_pixel"], w["length"]
    if len(w["data"]) != length * ch * 2:
        sys.exit("data holds %d values, not length x channels x 2 = %d" % (len(w["data"]), length * ch * 2))
    pcm = subprocess.run(["ffmpeg", "-v", "error", "-i", audio, "-f", "s16le", "-acodec", "pcm_s16le", "-"],
                         check=True, stdout=subprocess.PIPE).stdout
    samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
    frames = len(samples) // ch
    first = start_ms * w["sample_rate"] // 1000
    mismatches = 0
    for x in range(length):
        lo_frame = first + x * spp
        hi_frame = min(lo_frame + spp, frames)
        for c in range(ch):
            column = samples[lo_frame * ch + c:hi_frame * ch:ch]
            want = (min(column), max(column)) if column else (0, 0)
            if w["bits"] == 8:
                want = (want[0] >> 8, want[1] >> 8)
            got = (w["data"][(x * ch + c) * 2], w["data"][(x * ch + c) * 2 + 1])
            if got != want:
                mismatches += 1
                if mismatches <= 5:
                    print("pixel %d channel %d: %s, decoded %s" % (x, c, got, want))
    if mismatches:
        sys.exit("%d of %d pairs differ" % (mismatches, length * ch))
    print("%d pixels x %d channels match" % (length, ch))


if __name__ == "__main__":
    main()
