// Playing files with SDL's dummy sound driver: the file facts, the position reports at real-time
// pace up to the duration, psEnd after the end, seeking, pausing, stopping and reopening.
#include "PlayerHarness.h"
#include "PlayerTexts.h"

#include "MediaApi.h"

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST_F(PlayerTest, OpenReportsTheFileThenPlaysAtRealTimePaceToTheEnd) {
    std::string file = WavFile(2.0);
    size_t from = States().size();
    ASSERT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
    EXPECT_EQ(FileOpens, 1);
    EXPECT_EQ(OpenedDuration, 2000000);
    EXPECT_EQ(OpenedFrameWidth, -1);
    EXPECT_EQ(OpenedFrameHeight, -1);
    EXPECT_EQ(States()[from], psPlay);
    EXPECT_TRUE(Player->HasPlayback());

    ASSERT_TRUE(WaitForPosition(2000000, 4)) << "the positions reach the duration";
    // Real-time pace: compare the reports between 0.3 s and 1.7 s with the wall clock.
    const TPositionEntry* first = nullptr;
    const TPositionEntry* last = nullptr;
    for (const TPositionEntry& entry : Positions) {
        if (entry.Pts >= 300000 && !first) first = &entry;
        if (entry.Pts <= 1700000) last = &entry;
    }
    ASSERT_TRUE(first && last && last != first);
    double pace = (last->Pts - first->Pts) / 1e6 / (last->Time - first->Time);
    EXPECT_NEAR(pace, 1.0, 0.08);
    for (size_t i = 1; i < Positions.size(); ++i) {
        EXPECT_GT(Positions[i].Pts, Positions[i - 1].Pts) << "positions only move forward while playing";
        // Changes of 10 ms or less are not reported, except for the end itself.
        if (i + 1 < Positions.size()) {
            EXPECT_GT(Positions[i].Pts - Positions[i - 1].Pts, 10000);
        }
    }
    EXPECT_EQ(Positions.back().Pts, 2000000) << "the last position is the duration itself";
    EXPECT_LT(Positions.front().Pts, 60000) << "the first position is about 0";

    // psEnd comes only after the end, and then repeatedly.
    ASSERT_TRUE(WaitForState(psEnd, 2, from));
    size_t reports = Positions.size();
    PumpFor(0.3);
    EXPECT_GE(CountStates(psEnd, from), 4) << "psEnd repeats about every 40 ms";
    EXPECT_EQ(Positions.size(), reports) << "no position changes after the end";
    EXPECT_EQ(Player->LastPosition(), 2000000);
}

TEST_F(PlayerTest, AnMp3PlaysThroughToItsDuration) {
    std::string file = Mp3File(2.0);
    ASSERT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
    EXPECT_NEAR(OpenedDuration, 2000000, 60000);
    ASSERT_TRUE(WaitForState(psEnd, 4));
    ASSERT_FALSE(Positions.empty());
    EXPECT_EQ(Positions.back().Pts, OpenedDuration);
}

TEST_F(PlayerTest, PausingStopsTheClockOnceAndResumingContinues) {
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(3.0))) << Player->LastErrMsg;
    Player->Resume(); // not paused: nothing to report
    ASSERT_TRUE(WaitForPosition(500000, 3));
    size_t from = States().size();
    Player->Pause();
    Player->Pause();
    EXPECT_EQ(CountStates(psPause, from), 1) << "a second pause reports nothing";
    EXPECT_EQ(CountStates(psResume, from), 0);
    PumpFor(0.15); // what was decoded before the pause plays out
    int64_t held = Player->LastPosition();
    size_t reports = Positions.size();
    PumpFor(0.5);
    EXPECT_EQ(Positions.size(), reports) << "the clock stands while paused";
    EXPECT_EQ(Player->LastPosition(), held);
    EXPECT_EQ(CountStates(psEnd, from), 0);

    Player->Resume();
    EXPECT_EQ(CountStates(psResume, from), 1);
    ASSERT_TRUE(PumpUntil([&] { return Positions.size() > reports + 3; }, 2));
    EXPECT_GT(Positions[reports].Pts, held);
    EXPECT_LT(Positions[reports].Pts, held + 150000) << "playing continues where it stood";
    Player->Resume();
    EXPECT_EQ(CountStates(psResume, from), 1);
}

TEST_F(PlayerTest, PositionsAfterASeekStartAtOrJustBeforeTheTarget) {
    for (const std::string& file : {WavFile(6.0), Mp3File(6.0)}) {
        SCOPED_TRACE(file);
        Positions.clear();
        ASSERT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
        ASSERT_TRUE(WaitForPosition(300000, 3));
        for (int64_t target : {int64_t(4000000), int64_t(1500000)}) {
            size_t before = Positions.size();
            double sought = Now();
            Player->Seek(target);
            // The first report near the target (a forward seek jumps up, a backward one down).
            ASSERT_TRUE(PumpUntil(
                [&] {
                    for (size_t i = before; i < Positions.size(); ++i)
                        if (std::llabs(Positions[i].Pts - target) < 500000) return true;
                    return false;
                },
                2));
            size_t i = before;
            while (std::llabs(Positions[i].Pts - target) >= 500000)
                ++i;
            // Where the sound resumed, plus what has played since the seek was carried out.
            double played = Positions[i].Time - sought;
            EXPECT_GE(Positions[i].Pts, target - 100000);
            EXPECT_LE(Positions[i].Pts, target + int64_t(played * 1e6) + 30000);
            EXPECT_LT(played, 0.3) << "a seek shows within a few refreshes";
            // And positions go on from there at normal pace.
            ASSERT_TRUE(WaitForPosition(Positions[i].Pts + 200000, 2));
        }
        Player->Stop(true);
    }
}

TEST_F(PlayerTest, SeekingPastTheEndLandsOnTheDuration) {
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(3.0))) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(200000, 2));
    size_t from = States().size();
    Player->Seek(50000000);
    ASSERT_TRUE(WaitForState(psEnd, 2, from));
    EXPECT_EQ(Positions.back().Pts, 3000000);
    EXPECT_LT(Positions.size(), 20u) << "no playing through the rest of the file";

    // A seek back after the end refills the queue: psEnd stops until the end comes again.
    Player->Seek(1000000);
    PumpFor(0.2);
    size_t ends = CountStates(psEnd, from);
    PumpFor(0.3);
    EXPECT_EQ(CountStates(psEnd, from), int(ends));
    EXPECT_GT(Positions.back().Pts, 1000000);
    EXPECT_LT(Positions.back().Pts, 2000000);
}

TEST_F(PlayerTest, OpeningWhilePlayingStopsTheOldFileFirst) {
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(3.0))) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(200000, 2));
    size_t from = States().size();
    ASSERT_TRUE(Player->Open(Mp3File(2.0), nullptr)) << Player->LastErrMsg;
    // The old playback reported psStop before Open returned; the new one then reports psPlay.
    std::vector<TPlayState> states = States();
    ASSERT_GE(states.size(), from + 1);
    EXPECT_EQ(states[from], psStop);
    EXPECT_EQ(FileOpens, 2);
    EXPECT_NEAR(OpenedDuration, 2000000, 60000);
    ASSERT_TRUE(WaitForState(psPlay, 2, from));
    Positions.clear();
    ASSERT_TRUE(WaitForPosition(100000, 2));
    EXPECT_LT(Positions.front().Pts, 100000) << "the new file plays from its start";
}

TEST_F(PlayerTest, StopWithoutWaitingReturnsAtOnce) {
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(3.0))) << Player->LastErrMsg;
    size_t from = States().size();
    double start = Now();
    Player->Stop(false);
    EXPECT_LT(Now() - start, 0.01);
    ASSERT_TRUE(WaitForState(psStop, 2, from));
    EXPECT_FALSE(Player->HasPlayback());
    // Commands without a playback do nothing.
    Player->Pause();
    Player->Resume();
    Player->Seek(1000);
    Player->Stop(true);
    EXPECT_EQ(States().size(), from + 1);
}

TEST_F(PlayerTest, OpenFailuresLeaveTheirTextAndNoPlayback) {
    std::string missing = TestMediaFolder() + "no-such-file.mp3";
    EXPECT_FALSE(Player->Open(missing, nullptr));
    EXPECT_EQ(Player->LastErrMsg, missing + ": no such file or directory");
    EXPECT_FALSE(Player->HasPlayback());
    EXPECT_EQ(FileOpens, 0);
    EXPECT_TRUE(States().empty());

    // A failed open does not disturb the next one.
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(2.0))) << Player->LastErrMsg;
}

TEST_F(PlayerTest, OpenWithoutTheLibrariesFails) {
    TFFPlayer player;
    FFLoader().UnloadLibs(TLibraries{libSDL});
    EXPECT_FALSE(player.Open(WavFile(1.0), nullptr));
    EXPECT_EQ(player.LastErrMsg, PlayerTexts::kNotLoaded);
    EXPECT_TRUE(player.LoadAVLib(TestDllFolder())) << player.LastErrMsg;
    EXPECT_STREQ(TFFPlayer::Version(), "1.3");
}

TEST_F(PlayerTest, TheHostGetsWaveformFramesOfItsSize) {
    TTestHost host(320, 120);
    ASSERT_TRUE(OpenAndWaitForPlay(Mp3File(2.0), &host)) << Player->LastErrMsg;
    EXPECT_EQ(Player->ScreenWidth(), 320) << "an empty screen size takes the host's";
    EXPECT_EQ(Player->ScreenHeight(), 120);
    ASSERT_TRUE(PumpUntil([&] { return host.Frames() >= 10; }, 3));
    int width = 0, height = 0;
    std::vector<uint32_t> frame = host.LastFrame(width, height);
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 120);
    size_t white = 0, black = 0;
    for (uint32_t pixel : frame) {
        if (pixel == 0xFFFFFFFF) ++white;
        if (pixel == 0xFF000000) ++black;
    }
    EXPECT_EQ(white + black, frame.size()) << "only black and white";
    EXPECT_GT(white, 320u + 320u) << "the separator line and the sound's bars";
    for (int x = 0; x < width; ++x)
        EXPECT_EQ(frame[size_t(60) * width + x], 0xFFFFFFFF) << "separator at x " << x;

    // A size chosen by the file-open handler is kept; without a display there are no frames.
    Player->Stop(true);
    Player->SetScreenWidth(0);
    Player->OnFileOpen = [](TCustomPlayer*, int64_t, int, int, int& w, int& h) {
        w = 100;
        h = 50;
    };
    ASSERT_TRUE(OpenAndWaitForPlay(Mp3File(2.0), &host));
    EXPECT_EQ(Player->ScreenWidth(), 100);
    EXPECT_EQ(Player->ScreenHeight(), 50);
    Player->Stop(true);
    Player->DisableDisplay = true;
    int frames = host.Frames();
    ASSERT_TRUE(OpenAndWaitForPlay(Mp3File(2.0), &host));
    PumpFor(0.3);
    EXPECT_EQ(host.Frames(), frames);
}

} // namespace

namespace {

// Feeds the first `bytes` of `file` into a named pipe and then keeps it open without writing, so
// that the player's read thread blocks inside a read until Release.
class TStalledPipe {
public:
    TStalledPipe(const std::string& file, size_t bytes)
        : FPath(TestMediaFolder() + "player-pipe-" + std::to_string(getpid()) + ".wav") {
        std::remove(FPath.c_str());
        EXPECT_EQ(mkfifo(FPath.c_str(), 0600), 0);
        std::ifstream in(file, std::ios::binary);
        std::vector<char> data(bytes);
        in.read(data.data(), std::streamsize(bytes));
        FWriter = std::thread([this, data] {
            int fd = ::open(FPath.c_str(), O_WRONLY); // waits for the reader
            if (fd < 0) return;
            size_t done = 0;
            while (done < data.size()) {
                ssize_t n = ::write(fd, data.data() + done, data.size() - done);
                if (n <= 0) break;
                done += size_t(n);
            }
            std::unique_lock<std::mutex> lock(FLock);
            FReleased.wait(lock, [this] { return FRelease; });
            ::close(fd);
        });
    }
    ~TStalledPipe() {
        Release();
        FWriter.join();
        std::remove(FPath.c_str());
    }
    void Release() {
        std::lock_guard<std::mutex> guard(FLock);
        FRelease = true;
        FReleased.notify_all();
    }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    std::thread FWriter;
    std::mutex FLock;
    std::condition_variable FReleased;
    bool FRelease = false;
};

TEST_F(PlayerTest, StopDoesNotWaitLongForAReadThatCannotBeInterrupted) {
    // Three seconds of sound, then the pipe stalls: the read thread, which stays about two
    // seconds ahead, ends up blocked in read().
    TStalledPipe pipe(WavFile(6.0), 44 + 44100 * 4 * 3);
    ASSERT_TRUE(OpenAndWaitForPlay(pipe.Path())) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(1300000, 3));
    size_t from = States().size();
    double start = Now();
    Player->Stop(true);
    double took = Now() - start;
    EXPECT_LT(took, 0.6) << "gives up waiting after about 0.2 s";
    EXPECT_FALSE(Player->HasPlayback());

    // Another file plays meanwhile, although the old play thread is still closing.
    Positions.clear();
    ASSERT_TRUE(Player->Open(WavFile(2.0), nullptr)) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(300000, 3)) << "the new playback gets its refresh events";

    // Once the pipe lets go, the old playback ends and reports psStop.
    pipe.Release();
    ASSERT_TRUE(PumpUntil([&] { return CountStates(psStop, from) >= 1; }, 3));
    ASSERT_TRUE(WaitForPosition(1000000, 3)) << "and the new one plays on";
    Player->Stop(true);
    EXPECT_EQ(CountStates(psStop, from), 2);
}

} // namespace
