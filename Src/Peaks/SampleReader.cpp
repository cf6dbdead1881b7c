// Exact samples of a range, read on demand.
#include "SampleReader.h"

#include "MyUtils.h"
#include "PeakDecoder.h"

#include <algorithm>

bool ReadSamples(const std::string& fileName, int64_t first, int64_t count, TSampleBlock& block,
                 std::string& error, const std::atomic<bool>* abort) {
    static const std::atomic<bool> kNever{false};
    TPeakDecoder decoder(abort ? *abort : kNever);
    if (!decoder.Open(fileName, error)) return false;
    const TAudioFacts& facts = decoder.Facts();
    first = std::max<int64_t>(first, 0);
    count = std::max<int64_t>(count, 0);
    block.FileName = fileName;
    block.First = first;
    block.Channels = facts.Channels;
    block.SampleRate = facts.SampleRate;
    block.Samples.assign(static_cast<size_t>(count * facts.Channels), 0.0f);
    auto sink = [&](int64_t at, const AVFrame& frame, int offset, int n) {
        int channels = std::min(frame.ch_layout.nb_channels, facts.Channels);
        for (int i = 0; i < n; ++i) {
            float* out = &block.Samples[static_cast<size_t>((at - first + i) * facts.Channels)];
            for (int c = 0; c < channels; ++c)
                out[c] = FrameSample(frame, offset + i, c);
        }
    };
    decoder.SeekBefore(first);
    if (decoder.Run(first, first + count, sink) == TDecodeEnd::Unplaceable) {
        // No timestamps to place the frames after a seek: decode from the start instead.
        TPeakDecoder fromStart(abort ? *abort : kNever);
        if (!fromStart.Open(fileName, error)) return false;
        std::fill(block.Samples.begin(), block.Samples.end(), 0.0f);
        fromStart.Run(first, first + count, sink);
    }
    return true;
}

TSampleReader::TSampleReader() {
    FThread = std::make_unique<TFunctionThread>("peaks-read", [this] { Loop(); });
    FThread->Start();
}

TSampleReader::~TSampleReader() {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FClosing = true;
        FWake.notify_all();
    }
    FCancel = true;
    FThread->WaitFor();
}

void TSampleReader::Request(const std::string& fileName, int64_t first, int64_t count) {
    std::lock_guard<std::mutex> guard(FLock);
    FFileName = fileName;
    FFirst = first;
    FCount = std::clamp<int64_t>(count, 0, kMaxFrames);
    FHaveRequest = true;
    FCancel = true;
    FWake.notify_all();
}

bool TSampleReader::TakeBlock(TSampleBlock& block) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FHaveBlock) return false;
    block = std::move(FBlock);
    FHaveBlock = false;
    return true;
}

void TSampleReader::Loop() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FWake.wait(lock, [this] { return FClosing || FHaveRequest; });
        if (FClosing) return;
        std::string fileName = FFileName;
        int64_t first = FFirst, count = FCount;
        FHaveRequest = false;
        FCancel = false;
        lock.unlock();
        TSampleBlock block;
        std::string error;
        bool read = ReadSamples(fileName, first, count, block, error, &FCancel);
        bool cancelled = FCancel.load();
        lock.lock();
        if (read && !cancelled) {
            FBlock = std::move(block);
            FHaveBlock = true;
            lock.unlock();
            if (OnReady) OnReady();
            lock.lock();
        }
    }
}
