// The waveform shown for files without video: a ring of the 16-bit samples handed to the sound
// device, and the software drawing of a frame from it.
#pragma once

#include <atomic>
#include <cstdint>

// The last samples played, interleaved by channel. Written by SDL's audio thread, read by the
// play thread; every element is atomic so a frame drawn during a write is never torn.
class TSampleRing {
public:
    static constexpr int kSize = 131072; // samples (not frames)

    void Clear();
    // Appends `count` samples (whole sample frames).
    void Append(const int16_t* samples, int count);
    int16_t At(int index) const { return FSamples[Wrap(index)].load(std::memory_order_relaxed); }
    // Where the next sample will be written.
    int Index() const { return FIndex.load(std::memory_order_acquire); }

    static int Wrap(int index) { return ((index % kSize) + kSize) % kSize; }

private:
    std::atomic<int16_t> FSamples[kSize] = {};
    std::atomic<int> FIndex{0}; // released after the samples are stored
};

// First sample (ring index of a sample frame's first channel) of the frame to draw. The sample
// being heard is `delayFrames` frames before the ring's write index; the frame starts about half
// a display width before it and is moved, within the preceding 1000 samples, to the point whose
// samples 4 and 5 frames later differ in sign and whose value minus the value 9 frames later is
// largest, so that a steady tone stands still.
int WaveformStart(const TSampleRing& ring, int channels, int width, int delayFrames);

constexpr uint32_t kWaveBackground = 0xFF000000; // black
constexpr uint32_t kWaveForeground = 0xFFFFFFFF; // white

// Draws `width` sample frames from `start` into pixels (width x height, 0xAARRGGBB): black
// background, one horizontal band of equal height per channel with 1-pixel bars from the band's
// centre line (downwards for positive samples, upwards for negative ones, sample x (band height
// x 9 / 20) / 32768 pixels long), and white 1-pixel lines between the bands.
void DrawWaveformFrame(const TSampleRing& ring, int start, int channels, uint32_t* pixels, int width,
                       int height);
