// Lossless Ogg Vorbis delete: outside a short re-encoded bridge at the seam the decoded output
// equals the decoded input; the stretch removed is rounded to the long-block grid and the check
// says where the end mark moved; deletes that keep one side are exact selects; streams whose
// setup the bridge encoder cannot reproduce are left to re-encoding.
#include "LosslessTestSupport.h"
#include "LosslessTexts.h"
#include "OggPages.h"

#include "MyUtils.h"

#include <cmath>

namespace {

// The three headers of an Ogg Vorbis file.
std::vector<std::vector<uint8_t>> OggHeaders(const std::string& path) {
    TByteReader reader;
    std::string error;
    std::vector<std::vector<uint8_t>> packets;
    TOggPacketReader walk(reader);
    TOggPacket packet;
    if (!reader.Open(path, error)) return packets;
    while (packets.size() < 3 && walk.Next(packet))
        packets.push_back(packet.Data);
    return packets;
}

// The input without [from, from + count).
TDecodedAudio Without(const TDecodedAudio& whole, int64_t from, int64_t count) {
    TDecodedAudio want = whole;
    want.Samples.erase(want.Samples.begin() + from * whole.Channels,
                       want.Samples.begin() + std::min(whole.Frames(), from + count) * whole.Channels);
    return want;
}

// The first and last frame where the two differ (-1 when they do not).
std::pair<int64_t, int64_t> Differences(const TDecodedAudio& want, const TDecodedAudio& got) {
    int64_t first = -1, last = -1;
    for (size_t i = 0; i < std::min(want.Samples.size(), got.Samples.size()); ++i)
        if (want.Samples[i] != got.Samples[i]) {
            last = int64_t(i) / want.Channels;
            if (first < 0) first = last;
        }
    return {first, last};
}

double SnrDb(const TDecodedAudio& want, const TDecodedAudio& got, int64_t from, int64_t to) {
    double signal = 0, noise = 0;
    for (int64_t i = from * want.Channels; i < to * want.Channels; ++i) {
        double w = want.Samples[size_t(i)], d = w - got.Samples[size_t(i)];
        signal += w * w;
        noise += d * d;
    }
    return noise == 0 ? 1000.0 : 10 * std::log10(signal / noise);
}

struct TVorbisCase {
    const char* Name;
    std::string (*Input)();
};

class LosslessVorbisDelete : public LosslessTest, public ::testing::WithParamInterface<TVorbisCase> {};

// Marks in the middle, a stretch shorter than a block, a seam near the start, and an end mark
// 10 ms before the end (the bridge then runs to the end, whose granule trims it exactly).
TEST_P(LosslessVorbisDelete, CopiesAllButABridgeAtTheSeam) {
    std::string input = GetParam().Input();
    std::string output = Scratch(std::string(GetParam().Name) + ".ogg");
    const TDecodedAudio whole = DecodeAudioFile(input, true); // what plays
    int rate = whole.SampleRate;
    const int64_t longBlock = int64_t(1) << (OggHeaders(input)[0][28] >> 4);
    const int64_t lastMs = whole.Frames() * 1000 / rate - 10;
    for (auto [startMs, endMs] :
         {std::pair<int64_t, int64_t>{1500, 3210}, {1000, 1010}, {100, 1100}, {2000, 3800}, {1000, lastMs}}) {
        SCOPED_TRACE(Format("marks %lld..%lld ms", (long long)startMs, (long long)endMs));
        TLosslessCutter cutter;
        TLosslessCheck check = cutter.Plan(input, TLosslessMode::Delete, startMs, endMs);
        ASSERT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
        int64_t start = Samples(startMs, rate), end = Samples(endMs, rate);
        int64_t removed = end - start + std::llround(check.EndOffsetMs * rate / 1000.0);
        EXPECT_EQ(check.SampleExact, removed == end - start);
        if (endMs == lastMs) {
            EXPECT_TRUE(check.SampleExact);
        }
        EXPECT_LE(std::abs(removed - (end - start)), longBlock / 2);
        ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;

        TDecodedAudio rest = DecodeAudioFile(output, true);
        TDecodedAudio want = Without(whole, start, removed);
        ASSERT_EQ(rest.Frames(), want.Frames());
        // Bit for bit up to the bridge (its joins lie within three long blocks of the marks) and
        // from its end on.
        auto [first, last] = Differences(want, rest);
        EXPECT_GE(first, start - 4 * longBlock);
        EXPECT_LT(last, start + 5 * longBlock);
        EXPECT_GT(SnrDb(want, rest, std::max<int64_t>(0, first), last + 1), 15.0);
        EXPECT_EQ(OggHeaders(output), OggHeaders(input)); // the tags among them
    }
}

// A delete from the start or to the end keeps one side: exact to the sample.
TEST_P(LosslessVorbisDelete, KeepingOneSideIsExact) {
    std::string input = GetParam().Input();
    std::string output = Scratch(std::string(GetParam().Name) + "-side.ogg");
    const TDecodedAudio whole = DecodeAudioFile(input, true); // what plays
    int rate = whole.SampleRate;
    for (auto [startMs, endMs] : {std::pair<int64_t, int64_t>{0, 1234}, {2345, kToEnd}}) {
        TLosslessCutter cutter;
        TLosslessCheck check = cutter.Plan(input, TLosslessMode::Delete, startMs, endMs);
        ASSERT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
        EXPECT_TRUE(check.SampleExact);
        ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;
        int64_t start = Samples(startMs, rate), end = std::min(whole.Frames(), Samples(endMs, rate));
        TDecodedAudio rest = DecodeAudioFile(output, true);
        TDecodedAudio want = Without(whole, start, end - start);
        ASSERT_EQ(rest.Frames(), want.Frames()) << startMs;
        EXPECT_EQ(Differences(want, rest).first, -1) << startMs;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LosslessVorbisDelete,
    ::testing::Values(
        TVorbisCase{"TaggedStereo", [] { return TaggedMediaFile(TMediaFormat::Ogg); }},
        TVorbisCase{"Mono22k",
                    [] {
                        return TestMediaFile({TMediaFormat::Ogg, 4.0, 22050, 1, 64000});
                    }},
        // The encoder's default quality (3): the setting is found by quality.
        TVorbisCase{"Quality3",
                    [] {
                        return TestMediaFile({TMediaFormat::Ogg, 4.0, 44100, 2, 0});
                    }},
        // A lossless select, whose first page trims the beginning.
        TVorbisCase{
            "Trimmed",
            [] {
                std::string cut = Scratch("trimmed.ogg");
                TLosslessCutter cutter;
                cutter.Plan(TestMediaFile({TMediaFormat::Ogg, 6.0}), TLosslessMode::Select, 1234, 5900);
                return cutter.Write(cut) ? cut : std::string();
            }}),
    [](const auto& info) { return std::string(info.param.Name); });

// A stream no setting of the bridge encoder reproduces (here: its identification names a rate
// whose setup differs), a seam too close to the start and a chained stream are saved by
// re-encoding; a damaged page is refused.
TEST_F(LosslessTest, VorbisDeleteLeavesWhatItCannotBridgeToReencoding) {
    std::string input = TestMediaFile({TMediaFormat::Ogg, 4.0, 44100, 2, 128000});
    std::vector<uint8_t> bytes = ReadBytes(input);
    ASSERT_GT(bytes.size(), 58u);
    WriteLE32(&bytes[28 + 20], 500000); // the nominal bit rate of the identification header (page 0)
    size_t pageBytes = 27 + bytes[26] + bytes[27];
    WriteLE32(&bytes[22], 0);
    WriteLE32(&bytes[22], OggChecksum(bytes.data(), pageBytes));
    std::string other = Scratch("other.ogg");
    WriteBytes(other, bytes);

    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(other, TLosslessMode::Delete, 1000, 2000);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::NotAvailable);
    EXPECT_EQ(check.Reason, Format(LosslessText::kVorbisSetup,
                                   "no setting of the Vorbis encoder reproduces the stream's setup header"));
    check = cutter.Plan(input, TLosslessMode::Delete, 5, 2000);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::NotAvailable);
    EXPECT_EQ(check.Reason, LosslessText::kVorbisSeamEdge);
    EXPECT_FALSE(cutter.Write(Scratch("never.ogg")));

    // A stream chained after this one would be lost; a damaged page anywhere is refused.
    std::vector<uint8_t> chained = ReadBytes(input),
                         second = ReadBytes(TestMediaFile({TMediaFormat::OggOpus, 2.0, 48000}));
    chained.insert(chained.end(), second.begin(), second.end());
    WriteBytes(Scratch("chained.ogg"), chained);
    std::vector<uint8_t> damaged = ReadBytes(input);
    damaged[damaged.size() * 3 / 4] ^= 0x10;
    WriteBytes(Scratch("damaged.ogg"), damaged);
    check = cutter.Plan(Scratch("chained.ogg"), TLosslessMode::Delete, 1000, 2000);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::NotAvailable);
    EXPECT_EQ(check.Reason, LosslessText::kOggMultiplexed);
    check = cutter.Plan(Scratch("damaged.ogg"), TLosslessMode::Delete, 1000, 2000);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::Refused);
    EXPECT_EQ(check.Reason, LosslessText::kOggDamaged);
}

} // namespace
