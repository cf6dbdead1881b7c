// The samples themselves, for views zoomed in below the summary's bins: ReadSamples decodes a
// range of timeline frames exactly (seeking ahead of it and placing the frames like the build),
// TSampleReader does so on its own "peaks-read" thread for the newest range a view asks for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TThread;

struct TSampleBlock {
    std::string FileName;
    int64_t First = 0; // timeline frame of the first sample
    int Channels = 0;
    int SampleRate = 0;
    std::vector<float> Samples; // interleaved, -1..1; frames the file does not hold are 0
    int64_t Frames() const { return Channels > 0 ? static_cast<int64_t>(Samples.size()) / Channels : 0; }
};

// Decodes frames [first, first + count) of the file. False with the open error's text.
bool ReadSamples(const std::string& fileName, int64_t first, int64_t count, TSampleBlock& block,
                 std::string& error, const std::atomic<bool>* abort = nullptr);

class TSampleReader {
public:
    static constexpr int64_t kMaxFrames = 1 << 20;

    TSampleReader();
    ~TSampleReader();

    // Asks for a range (at most kMaxFrames); a request still waiting is replaced, one being read
    // is cut short. Called on the view's thread.
    void Request(const std::string& fileName, int64_t first, int64_t count);
    // The newest block read, when one has arrived since the last call.
    bool TakeBlock(TSampleBlock& block);
    // Called on the reader thread when a block has arrived. Set before the first Request.
    std::function<void()> OnReady;

private:
    void Loop();

    std::mutex FLock;              // guards the fields below up to FBlock
    std::condition_variable FWake; // with FLock: a request arrived or the reader closes
    bool FClosing = false;
    bool FHaveRequest = false;
    std::string FFileName;
    int64_t FFirst = 0;
    int64_t FCount = 0;
    bool FHaveBlock = false;
    TSampleBlock FBlock;
    std::atomic<bool> FCancel{false}; // cuts the read in progress short
    std::unique_ptr<TThread> FThread;
};
