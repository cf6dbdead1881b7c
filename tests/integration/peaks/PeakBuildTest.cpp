// The background build on real files: the summary equals the decoded samples' min/max whether
// one or two threads decode (the second half starts after a seek), reads of a range are exact,
// broken files draw what decodes, and a new file stops the old build at once.
#include "PeakBuilder.h"
#include "SampleReader.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>

namespace {

constexpr float kAacNoise = 0.05f; // of full scale

int16_t Code(float v) {
    return static_cast<int16_t>(std::clamp(std::nearbyint(v * 32768.0), -32768.0, 32767.0));
}

class PeaksTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTestLibs(ConverterLibs)); }

    static std::shared_ptr<const TPeakSummary> Build(const std::string& file, int threads) {
        TPeakBuilder builder;
        TPeakOptions options;
        options.Threads = threads;
        builder.Start(file, options);
        EXPECT_TRUE(builder.Wait()) << builder.LastError();
        EXPECT_EQ(builder.LastError(), "");
        EXPECT_EQ(builder.Progress(), 1.0);
        return builder.Summary();
    }
};

class PeaksFormatTest : public PeaksTest, public ::testing::WithParamInterface<TMediaFormat> {};

TEST_P(PeaksFormatTest, SummaryOfOneOrTwoThreadsEqualsTheDecodedMinMax) {
    TMediaSpec spec{GetParam(), 30.0, 44100, 2, 128000};
    std::string file = TestMediaFile(spec);
    TDecodedAudio audio = DecodeAudioFile(file);
    auto one = Build(file, 1), two = Build(file, 2);
    ASSERT_TRUE(one && two);
    const int64_t bins = (audio.Frames() + TPeakSummary::kBaseBinFrames - 1) / TPeakSummary::kBaseBinFrames;
    ASSERT_EQ(one->BinCount(), bins);
    ASSERT_EQ(two->BinCount(), bins);
    for (int c = 0; c < 2; ++c) {
        std::vector<TPeak> a = one->Bins(c, 0, bins), b = two->Bins(c, 0, bins);
        for (int64_t bin = 0; bin < bins; ++bin) {
            TPeak direct;
            int64_t from = bin * TPeakSummary::kBaseBinFrames;
            for (int64_t f = from; f < std::min(from + TPeakSummary::kBaseBinFrames, audio.Frames()); ++f) {
                int16_t v = Code(audio.At(f, c));
                direct.Add(TPeak{v, v});
            }
            ASSERT_EQ(a[bin], direct) << "one thread, channel " << c << " bin " << bin;
            // AAC's noise substitution draws from a generator that a seek does not restore.
            if (GetParam() == TMediaFormat::Aac) {
                ASSERT_NEAR(b[bin].Min, direct.Min, kAacNoise * 32768)
                    << "two threads, channel " << c << " bin " << bin;
                ASSERT_NEAR(b[bin].Max, direct.Max, kAacNoise * 32768)
                    << "two threads, channel " << c << " bin " << bin;
            } else {
                ASSERT_EQ(b[bin], direct) << "two threads, channel " << c << " bin " << bin;
            }
        }
    }
    // Sample-exact reads of a range on either side of the middle.
    for (int64_t first : {int64_t(3), audio.Frames() / 2 - 500, audio.Frames() - 800}) {
        TSampleBlock block;
        std::string error;
        ASSERT_TRUE(ReadSamples(file, first, 1000, block, error)) << error;
        for (int64_t i = 0; i < std::min<int64_t>(1000, audio.Frames() - first); ++i)
            for (int c = 0; c < 2; ++c)
                ASSERT_NEAR(block.Samples[size_t(i * 2 + c)], audio.At(first + i, c),
                            GetParam() == TMediaFormat::Aac ? kAacNoise : 0.0f)
                    << first << "+" << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PeaksFormatTest,
                         ::testing::Values(TMediaFormat::Wav16, TMediaFormat::Mp3Cbr, TMediaFormat::Mp3Vbr,
                                           TMediaFormat::Ogg, TMediaFormat::Aac, TMediaFormat::Wma));

TEST_F(PeaksTest, BrokenFilesDrawWhatDecodesAndEmptyFilesFailWithTheOpenError) {
    TPeakBuilder builder;
    builder.Start(ZeroByteFile(".mp3"));
    EXPECT_FALSE(builder.Wait());
    EXPECT_EQ(builder.State(), TPeakState::Failed);
    EXPECT_EQ(builder.LastError().rfind(ZeroByteFile(".mp3") + ": ", 0), 0u) << builder.LastError();

    // Truncated: the decoded part is there, the rest of the promised length is left undrawn.
    builder.Start(TruncatedMp3());
    ASSERT_TRUE(builder.Wait());
    std::vector<TFrameRange> built = builder.BuiltRanges();
    ASSERT_EQ(built.size(), 1u);
    EXPECT_GT(built[0].End, 44100 / 2);
    EXPECT_LT(built[0].End, builder.TotalFrames());

    // A WAV cut short (read straight from the file): everything it holds, up to its last sample.
    std::string wav = TestMediaFile({TMediaFormat::Wav16, 30.0, 44100, 2, 0});
    std::string shortWav = TestMediaFolder() + "peaks-short.wav";
    std::filesystem::copy_file(wav, shortWav, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(shortWav, std::filesystem::file_size(wav) * 6 / 10);
    builder.Start(shortWav);
    ASSERT_TRUE(builder.Wait());
    EXPECT_NEAR(double(builder.DecodedFrames()), 0.6 * 30 * 44100, 44100 * 0.1);
    EXPECT_EQ(builder.DecodedFrames(), builder.TotalFrames());
    EXPECT_FALSE(builder.Summary()->Bins(1, builder.Summary()->BinCount() - 1, 1)[0].Empty());

    // Damaged in the middle: audio on both sides of the damage; what the damage took is missing
    // from the promised length, as when the file is played or cut.
    builder.Start(CorruptMiddleMp3());
    ASSERT_TRUE(builder.Wait());
    auto summary = builder.Summary();
    int64_t bins = summary->BinCount();
    EXPECT_GT(bins, 3 * 44100 / 256);
    EXPECT_LT(builder.BuiltRanges().back().End, builder.TotalFrames());
    std::vector<TPeak> peaks = summary->Bins(0, 0, bins);
    EXPECT_FALSE(peaks[10].Empty());
    EXPECT_FALSE(peaks[bins - 10].Empty());
}

TEST_F(PeaksTest, ANewFileStopsTheOldBuildAtOnce) {
    std::string longFile = TestMediaFile({TMediaFormat::Mp3Cbr, 120.0, 44100, 2, 128000});
    std::string other = TestMediaFile({TMediaFormat::Wav16, 3.0, 22050, 1, 0});
    TPeakBuilder builder;
    std::atomic<int> calls{0};
    builder.OnProgress = [&] { ++calls; };
    builder.Start(longFile);
    while (builder.Progress() == 0.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto old = builder.Summary();
    auto before = std::chrono::steady_clock::now();
    builder.Start(other);
    auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    EXPECT_LT(stopMs.count(), 100);
    auto filled = [&] {
        int64_t count = 0;
        for (const TPeak& peak : old->Bins(0, 0, old->BinCount()))
            count += !peak.Empty();
        return count;
    };
    int64_t oldBins = filled();
    ASSERT_TRUE(builder.Wait());
    EXPECT_EQ(filled(), oldBins) << "the old build wrote on after the switch";
    EXPECT_LT(oldBins, 120 * 44100 / 256 / 2);
    auto summary = builder.Summary();
    EXPECT_EQ(summary->Channels(), 1);
    EXPECT_EQ(summary->SampleRate(), 22050);
    EXPECT_EQ(builder.TotalFrames(), 3 * 22050);
    EXPECT_GT(calls.load(), 0);
}

} // namespace
