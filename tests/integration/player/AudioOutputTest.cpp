// What reaches the sound device, captured with SDL's "disk" driver: the samples themselves, the
// silence of Mute and of volume 0, the exact place where the sound resumes after a seek, and the
// fallback to the silent "dummy" driver when no sound device opens.
#include "PlayerHarness.h"
#include "PlayerTexts.h"

#include "MyUtils.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

class PlayerDiskOutput : public PlayerTest {
protected:
    // Plays `file` to its end through the disk driver and returns the stereo 16-bit samples played.
    std::vector<int16_t> Capture(const std::string& file, const std::function<void()>& whilePlaying = {}) {
        std::string capture = TestMediaFolder() + "player-capture-" + std::to_string(getpid()) + ".raw";
        TScopedEnv driver("SDL_AUDIODRIVER", "disk");
        TScopedEnv path("SDL_DISKAUDIOFILE", capture);
        size_t from = States().size();
        EXPECT_TRUE(OpenAndWaitForPlay(file)) << Player->LastErrMsg;
        if (whilePlaying) whilePlaying();
        EXPECT_TRUE(WaitForState(psEnd, 10, from));
        Player->Stop(true); // closes the device and its file
        std::ifstream in(capture, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(capture.c_str());
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
};

// Source frame index of a captured stereo frame of the ramp signal, or -1 for silence.
int64_t RampFrame(const std::vector<int16_t>& s, size_t frame, int64_t near) {
    if (s[2 * frame] == 0 && s[2 * frame + 1] == 0) return -1;
    return RampIndexOf(s[2 * frame], near, 0);
}

TEST_F(PlayerDiskOutput, TheDeviceGetsTheFileSamplesUnchangedAtFullVolume) {
    std::vector<int16_t> played = Capture(WavFile(1.0));
    ASSERT_GE(played.size(), size_t(2 * 44100));
    size_t frames = played.size() / 2, i = 0;
    while (i < frames && RampFrame(played, i, 0) < 0)
        ++i; // the device may start with silence
    ASSERT_LT(i, frames);
    EXPECT_EQ(RampFrame(played, i, 0), 0) << "playing starts at the first sample";
    int64_t expected = 0, matched = 0;
    for (; i < frames && expected < 44100; ++i) {
        int64_t index = RampFrame(played, i, expected);
        if (index < 0) continue; // a starved callback (silence) between blocks
        ASSERT_EQ(index, expected) << "frame " << i;
        ASSERT_EQ(RampIndexOf(played[2 * i + 1], expected, 1), expected) << "right channel";
        ++expected;
        ++matched;
    }
    EXPECT_EQ(matched, 44100) << "every sample once, in order";
}

TEST_F(PlayerDiskOutput, MuteAndVolumeZeroPlaySilence) {
    std::string file = WavFile(1.0);
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode == 0 ? "mute" : "volume 0");
        Player->SetMute(mode == 0);
        Player->SetAudioVolume(mode == 0 ? 128 : 0);
        std::vector<int16_t> played = Capture(file);
        ASSERT_GE(played.size(), size_t(2 * 44100)) << "the device kept running";
        size_t loud = 0;
        for (int16_t sample : played)
            if (sample != 0) ++loud;
        EXPECT_EQ(loud, 0u);
    }
    Player->SetAudioVolume(500);
    EXPECT_EQ(Player->AudioVolume(), 128);
    Player->SetAudioVolume(-3);
    EXPECT_EQ(Player->AudioVolume(), 0);
}

TEST_F(PlayerDiskOutput, TheSoundResumesExactlyAtASeekTargetInAWav) {
    const int64_t target = 2500000, targetFrame = 2500000LL * 44100 / 1000000;
    std::vector<int16_t> played = Capture(WavFile(4.0), [&] {
        ASSERT_TRUE(WaitForPosition(300000, 3));
        Player->Seek(target);
    });
    size_t frames = played.size() / 2;
    // Walk the played frames until the source index jumps.
    int64_t previous = -1;
    size_t i = 0;
    for (; i < frames; ++i) {
        int64_t index = RampFrame(played, i, previous < 0 ? 0 : previous + 1);
        if (index < 0) continue;
        if (previous >= 0 && index != previous + 1) break;
        previous = index;
    }
    ASSERT_LT(i, frames) << "no jump found";
    EXPECT_GT(previous, 300000LL * 44100 / 1000000 - 5000) << "played on until the seek";
    EXPECT_LT(previous, 44100);
    int64_t resumed = RampFrame(played, i, targetFrame);
    EXPECT_EQ(resumed, targetFrame) << "a WAV resumes at the target sample";
    // From there on, the rest of the file in order.
    int64_t next = resumed + 1;
    for (++i; i < frames && next < 4 * 44100; ++i) {
        int64_t index = RampFrame(played, i, next);
        if (index < 0) continue;
        ASSERT_EQ(index, next);
        ++next;
    }
    EXPECT_EQ(next, 4 * 44100);
}

TEST_F(PlayerTest, WithoutASoundDeviceThePlayerPlaysOnSilently) {
    TLogCapture log;
    {
        // The device cannot be opened: its file's folder does not exist.
        TScopedEnv driver("SDL_AUDIODRIVER", "disk");
        TScopedEnv path("SDL_DISKAUDIOFILE", "/nonexistent-folder/capture.raw");
        ASSERT_TRUE(OpenAndWaitForPlay(WavFile(1.0))) << Player->LastErrMsg;
        ASSERT_TRUE(WaitForPosition(500000, 3)) << "positions advance";
        EXPECT_EQ(log.Count(PlayerTexts::kAudioOpenFailed), 1);
        EXPECT_EQ(log.Count(PlayerTexts::kDummyAudio), 1);
        Player->Stop(true);
    }
    {
        // No sound system at all.
        TScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
        Positions.clear();
        ASSERT_TRUE(OpenAndWaitForPlay(WavFile(1.0))) << Player->LastErrMsg;
        ASSERT_TRUE(WaitForPosition(1000000, 3));
        EXPECT_EQ(log.Count(PlayerTexts::kDummyAudio), 2);
        Player->Stop(true);
    }
    // The next open uses the configured driver again.
    Positions.clear();
    ASSERT_TRUE(OpenAndWaitForPlay(WavFile(1.0))) << Player->LastErrMsg;
    ASSERT_TRUE(WaitForPosition(200000, 3));
    EXPECT_EQ(log.Count(PlayerTexts::kDummyAudio), 2);
}

} // namespace

// A source the device does not take goes through a converter: one made before playing starts
// (float samples, every one arriving exactly) and one made while playing, when the rate changes
// in the middle of the stream (44.1 kHz MP3 followed by 48 kHz MP3).
TEST_F(PlayerDiskOutput, ConvertedSourcesPlayThroughAlsoWhenTheRateChanges) {
    std::vector<int16_t> played = Capture(TestMediaFile(TMediaSpec{TMediaFormat::WavFloat, 1.0, 44100, 2, 0}));
    int64_t expected = 0;
    for (size_t i = 0; i < played.size() / 2 && expected < 44100; ++i) {
        int64_t index = RampFrame(played, i, expected);
        if (index < 0) continue;
        ASSERT_EQ(index, expected) << "frame " << i;
        ++expected;
    }
    EXPECT_EQ(expected, 44100) << "every float sample once, in order";

    std::string joined = TestMediaFolder() + "player-rate-change-" + std::to_string(getpid()) + ".mp3";
    {
        std::ofstream out(joined, std::ios::binary);
        for (int rate : {44100, 48000}) {
            std::ifstream in(TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 1.0, rate, 2, 128000}),
                             std::ios::binary);
            out << in.rdbuf();
        }
    }
    played = Capture(joined);
    std::remove(joined.c_str());
    size_t sounding = 0, last = 0;
    for (size_t i = 0; i < played.size() / 2; ++i)
        if (played[2 * i] != 0 || played[2 * i + 1] != 0) {
            ++sounding;
            last = i;
        }
    EXPECT_GT(sounding, size_t(1.8 * 44100)) << "both parts were played";
    EXPECT_GT(last, size_t(1.8 * 44100)) << "the part after the change was played";
}
