#include "Waveform.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

void TSampleRing::Clear() {
    for (auto& sample : FSamples)
        sample.store(0, std::memory_order_relaxed);
    FIndex.store(0, std::memory_order_release);
}

void TSampleRing::Append(const int16_t* samples, int count) {
    int index = FIndex.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i) {
        FSamples[index].store(samples[i], std::memory_order_relaxed);
        if (++index >= kSize) index = 0;
    }
    FIndex.store(index, std::memory_order_release);
}

int WaveformStart(const TSampleRing& ring, int channels, int width, int delayFrames) {
    if (channels < 1) channels = 1;
    int start = TSampleRing::Wrap(ring.Index() - (delayFrames + width / 2) * channels);
    int best = INT_MIN;
    int chosen = start;
    for (int i = 0; i < 1000; i += channels) {
        int index = start - i;
        int a = ring.At(index);
        int b = ring.At(index + 4 * channels);
        int c = ring.At(index + 5 * channels);
        int d = ring.At(index + 9 * channels);
        int score = a - d;
        if (score > best && ((b < 0) != (c < 0))) {
            best = score;
            chosen = TSampleRing::Wrap(index);
        }
    }
    return chosen;
}

namespace {

void FillRect(uint32_t* pixels, int width, int height, int x, int y, int w, int h, uint32_t colour) {
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
    for (int row = y0; row < y1; ++row)
        std::fill(pixels + size_t(row) * width + x0, pixels + size_t(row) * width + x1, colour);
}

} // namespace

void DrawWaveformFrame(const TSampleRing& ring, int start, int channels, uint32_t* pixels, int width,
                       int height) {
    if (width <= 0 || height <= 0) return;
    std::fill(pixels, pixels + size_t(width) * height, kWaveBackground);
    if (channels < 1) return;
    int band = height / channels;
    int reach = band * 9 / 20; // the longest bar, for a full-scale sample
    for (int ch = 0; ch < channels; ++ch) {
        int centre = ch * band + band / 2;
        int index = start + ch;
        for (int x = 0; x < width; ++x, index += channels) {
            int sample = ring.At(index);
            int length = std::abs(sample) * reach / 32768;
            if (sample >= 0)
                FillRect(pixels, width, height, x, centre, 1, length, kWaveForeground);
            else
                FillRect(pixels, width, height, x, centre - length, 1, length, kWaveForeground);
        }
    }
    for (int ch = 1; ch < channels; ++ch)
        FillRect(pixels, width, height, 0, ch * band, width, 1, kWaveForeground);
}
