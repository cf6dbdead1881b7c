// Broken and unusual files: each fails Open with its text or plays what can be decoded; a file
// truncated or deleted while it plays ends playback cleanly; many opens in a row leave nothing
// behind.
#include "MyUtils.h"
#include "PlayerHarness.h"
#include "PlayerTexts.h"

#include <filesystem>
#include <unistd.h>

namespace {

TEST_F(PlayerTest, BrokenFilesFailWithTheirTextOrPlayWhatCanBeDecoded) {
    struct TCase {
        std::string File;
        bool MustPlay;
    };
    const TCase cases[] = {
        {ZeroByteFile(".mp3"), false},
        {ZeroByteFile(".wav"), false},
        {TextAsMp3(), false},
        {RandomBytesFile(".mp3"), false},
        {RandomBytesFile(".wav"), false},
        {TruncatedMp3(), true},
        {CorruptMiddleMp3(), true},
        {CoverArtMp3(), true},
        {VideoStreamFile(), true},
        {TwoAudioStreamFile(), true},
    };
    TLogCapture log;
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.File);
        Positions.clear();
        Player->LastErrMsg.clear();
        size_t from = States().size();
        bool opened = Player->Open(test.File, nullptr);
        if (!opened) {
            EXPECT_FALSE(test.MustPlay) << Player->LastErrMsg;
            EXPECT_EQ(Player->LastErrMsg.rfind(test.File + ": ", 0), 0u) << Player->LastErrMsg;
            EXPECT_FALSE(Player->HasPlayback());
            EXPECT_EQ(CountStates(psPlay, from), 0);
            continue;
        }
        // Random bytes may pass for a stream; whatever opened must play to an end.
        EXPECT_TRUE(WaitForState(psEnd, 8, from)) << "played to an end";
        EXPECT_FALSE(Positions.empty());
        Player->Stop(true);
        EXPECT_EQ(CountStates(psStop, from), 1);
    }
    EXPECT_NE(log.Count(PlayerTexts::kNoStreamToPlay) + log.Count(": "), 0);
}

TEST_F(PlayerTest, TheFirstAudioStreamPlaysAndVideoStreamsAreLeftAlone) {
    TTestHost host(200, 100);
    ASSERT_TRUE(OpenAndWaitForPlay(TwoAudioStreamFile(), &host)) << Player->LastErrMsg;
    ASSERT_TRUE(PumpUntil([&] { return host.Frames() > 3; }, 3));
    int width, height;
    std::vector<uint32_t> frame = host.LastFrame(width, height);
    for (int x = 0; x < width; ++x)
        ASSERT_EQ(frame[size_t(50) * width + x], 0xFFFFFFFF) << "two bands: the stereo stream plays";
    Player->Stop(true);

    Player->DisableAudio = true;
    EXPECT_FALSE(Player->Open(Mp3File(1.0), nullptr));
    EXPECT_EQ(Player->LastErrMsg, Format(PlayerTexts::kNoStreamToPlay, Mp3File(1.0).c_str()));
    Player->DisableAudio = false;

    Positions.clear();
    ASSERT_TRUE(OpenAndWaitForPlay(VideoStreamFile())) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(500000, 3)) << "the sound of a file with video plays";
}

TEST_F(PlayerTest, AFileTruncatedWhilePlayingEndsPlaybackCleanly) {
    std::string file = CopyOf(WavFile(6.0), "truncated");
    TLogCapture log;
    ASSERT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(300000, 3));
    std::filesystem::resize_file(file, 300000); // about 1.7 s of sound left in the file
    ASSERT_TRUE(WaitForState(psEnd, 5));
    EXPECT_LT(Now() - OpenTime, 3.5) << "the end comes where the file now ends";
    EXPECT_EQ(Positions.back().Pts, 6000000) << "a played-out file stands at its duration";
    PumpFor(0.3);
    EXPECT_EQ(log.Count(Format(PlayerTexts::kReadEnded, file.c_str())), 1) << "the end is logged once";
    Player->Stop(true);
    std::remove(file.c_str());
}

TEST_F(PlayerTest, AFileDeletedWhilePlayingPlaysToItsEnd) {
    std::string file = CopyOf(Mp3File(2.0), "deleted");
    TLogCapture log;
    ASSERT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(200000, 3));
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_TRUE(WaitForState(psEnd, 5));
    EXPECT_EQ(Positions.back().Pts, OpenedDuration);
    EXPECT_EQ(log.Count(Format(PlayerTexts::kReadEnded, file.c_str())), 1);
}

TEST_F(PlayerTest, FiftyOpensInARowLeaveNoThreadBehind) {
    std::string files[] = {WavFile(1.0), Mp3File(1.0)};
    int before = ThreadCount();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Player->Open(files[i % 2], nullptr)) << Player->LastErrMsg;
        PumpFor(0.01);
    }
    Player->Stop(true);
    EXPECT_FALSE(Player->HasPlayback());
    EXPECT_EQ(CountStates(psPlay), 50);
    EXPECT_EQ(CountStates(psStop), 50);
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() == before; }, 2))
        << ThreadCount() << " threads, " << before << " before";
}

} // namespace
