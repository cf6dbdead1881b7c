// A player under test: records its events with wall-clock times and drives the main thread
// (CheckSynchronize) while waiting, as the window's message loop would.
#pragma once

#include "FFPlay.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Seconds on a steady clock.
double Now();

// Serves main-thread calls until done() or `seconds` have passed; returns done().
bool PumpUntil(const std::function<bool()>& done, double seconds);
// Serves main-thread calls for `seconds`.
void PumpFor(double seconds);

// Number of threads of this process.
int ThreadCount();

// Sets an environment variable for the lifetime of the object.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value);
    ~TScopedEnv();

private:
    std::string FName, FOld;
    bool FHadOld;
};

// Collects the player's log lines (the logger delivers them on the main thread).
class TLogCapture {
public:
    TLogCapture();
    ~TLogCapture();
    int Count(const std::string& part) const;
    std::vector<std::string> Lines;
};

// A host window that keeps the last frame it was given.
class TTestHost : public IPlayerHost {
public:
    TTestHost(int width, int height) : FWidth(width), FHeight(height) {}
    void GetClientSize(int& width, int& height) override;
    void PresentFrame(const uint32_t* pixels, int width, int height) override;

    int Frames() const;
    std::vector<uint32_t> LastFrame(int& width, int& height) const;

private:
    int FWidth, FHeight;
    mutable std::mutex FLock; // the play thread presents, the test reads
    std::vector<uint32_t> FPixels;
    int FFrameWidth = 0, FFrameHeight = 0, FFrames = 0;
};

struct TPositionEntry {
    double Time; // Now() when reported
    int64_t Pts; // µs
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Attaches the recording handlers to `player` (the fixture's own by default).
    void Record(TCustomPlayer& player);

    bool OpenAndWaitForPlay(const std::string& file, IPlayerHost* host = nullptr);
    bool WaitForState(TPlayState state, double seconds, size_t from = 0);
    int CountStates(TPlayState state, size_t from = 0) const;
    std::vector<TPlayState> States() const;
    // Waits until a position >= pts arrives.
    bool WaitForPosition(int64_t pts, double seconds);

    std::unique_ptr<TFFPlayer> Player;
    std::vector<TPositionEntry> Positions; // main thread
    int64_t OpenedDuration = -2;
    int OpenedFrameWidth = 0, OpenedFrameHeight = 0;
    int FileOpens = 0;
    double OpenTime = 0;

private:
    mutable std::mutex FStateLock; // OnState arrives on the play thread
    std::vector<std::pair<double, TPlayState>> FStates;
    std::unique_ptr<std::thread> FWatchdog;
    std::mutex FWatchLock;
    std::condition_variable FWatchDone;
    bool FFinished = false;
};

std::string WavFile(double seconds, int channels = 2, int rate = 44100);
std::string Mp3File(double seconds);
// A copy of `file` under a new name in the test media folder (for tests that change the file).
std::string CopyOf(const std::string& file, const std::string& tag);
