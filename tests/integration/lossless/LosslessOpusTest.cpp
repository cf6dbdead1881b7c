// Lossless Ogg Opus cuts decoded through the media libraries: a select plays exactly the marked
// samples, bit for bit from its first one; a delete equals the input outside a short re-encoded
// bridge at the seam and says how far the end mark moved; and the duration read for a cut (whose
// pre-skip is long) is the decoded length.
#include "DecodedPlacement.h"
#include "FFPtr.h"
#include "LosslessTestSupport.h"
#include "MyUtils.h"
#include "OggCodecs.h"
#include "OggPages.h"
#include "UnicodeProtocol.h"

#include <cmath>

namespace {

constexpr int kRate = 48000;
constexpr int64_t kBridgeAfterMs = 600; // the bridge and the decoder settling after it

int64_t Samples48(int64_t ms) {
    return Samples(ms, kRate);
}

struct TOpusCase {
    const char* Name;
    std::string (*Input)();
    // Where the decoder does not settle to the same bits from another state (measured on hybrid
    // SILK+CELT streams: the ffmpeg decoder stays 113 dB off), the SNR a settled stretch must
    // reach instead of equality.
    double SettledDb;
};

constexpr double kBitExact = INFINITY;

// The SNR of `got` against `want` frames [from, from + got.Frames()), over got's frames
// [begin, end); infinite when equal.
double SnrDb(const TDecodedAudio& want, int64_t from, const TDecodedAudio& got, int64_t begin, int64_t end) {
    double signal = 0, noise = 0;
    int ch = want.Channels;
    for (int64_t i = begin * ch; i < end * ch; ++i) {
        double w = want.Samples[size_t(from * ch + i)], d = w - got.Samples[size_t(i)];
        signal += w * w;
        noise += d * d;
    }
    return noise == 0 ? kBitExact : 10 * std::log10(signal / noise);
}

class LosslessOpus : public ::testing::TestWithParam<TOpusCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        Input = GetParam().Input();
        Whole = DecodeAudioFile(Input);
        ASSERT_EQ(Whole.SampleRate, kRate);
    }
    std::string Output(const char* what) const {
        return Scratch(std::string(GetParam().Name) + what + ".opus");
    }

    std::string Input;
    TDecodedAudio Whole;
};

TLosslessCheck CutAndCheck(const std::string& input, TLosslessMode mode, int64_t startMs, int64_t endMs,
                           const std::string& output) {
    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(input, mode, startMs, endMs);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
    if (check.Verdict == TLosslessVerdict::Possible) {
        EXPECT_TRUE(cutter.Write(output)) << cutter.LastError;
    }
    return check;
}

// The copy starts a long preroll before the start mark, behind a pre-skip that drops it: the
// decoder has settled by the start mark, so the cut equals the decoded input from its first
// sample (hybrid streams: within rounding).
TEST_P(LosslessOpus, SelectIsExactFromTheFirstSample) {
    for (auto [startMs, endMs] :
         {std::pair<int64_t, int64_t>{0, kToEnd}, {1234, 3456}, {2001, kToEnd}, {1500, 1530}, {400, 1100}}) {
        SCOPED_TRACE(Format("marks %lld..%lld ms", (long long)startMs, (long long)endMs));
        std::string output = Output("-select");
        ASSERT_TRUE(CutAndCheck(Input, TLosslessMode::Select, startMs, endMs, output).SampleExact);
        TDecodedAudio cut = DecodeAudioFile(output);
        int64_t from = Samples48(startMs), to = std::min(Whole.Frames(), Samples48(endMs));
        ASSERT_EQ(cut.Frames(), to - from);
        if (GetParam().SettledDb == kBitExact) {
            EXPECT_EQ(FirstDifference(Whole, from, to, cut), -1);
        } else {
            EXPECT_GE(SnrDb(Whole, from, cut, 0, cut.Frames()), GetParam().SettledDb);
        }
    }
}

// Before the bridge (which begins at most 60 ms before the seam) the output decodes as the input,
// and from 600 ms after the seam on, once the decoder has settled after the bridge, too; in
// between it is close. The stretch removed is whole 2.5 ms steps; the check says where the end
// mark moved.
TEST_P(LosslessOpus, DeleteCopiesAllButABridgeAtTheSeam) {
    // Also a seam within the first packets (the bridge begins the stream) and an end mark within
    // the last 40 ms (the bridge ends it, the last page's granule trims it).
    for (auto [startMs, endMs] :
         {std::pair<int64_t, int64_t>{1500, 3210}, {1000, 1001}, {2222, 2282}, {10, 500}, {3800, 3990}}) {
        SCOPED_TRACE(Format("marks %lld..%lld ms", (long long)startMs, (long long)endMs));
        std::string output = Output("-delete");
        TLosslessCheck check = CutAndCheck(Input, TLosslessMode::Delete, startMs, endMs, output);
        int64_t seam = Samples48(startMs), end = Samples48(endMs);
        int64_t removed = std::max<int64_t>(120, (end - seam + 60) / 120 * 120);
        EXPECT_EQ(check.SampleExact, removed == end - seam);
        EXPECT_NEAR(check.EndOffsetMs, double(seam + removed - end) * 1000.0 / kRate, 1e-9);

        TDecodedAudio rest = DecodeAudioFile(output);
        ASSERT_EQ(rest.Frames(), Whole.Frames() - removed);
        TDecodedAudio want = Whole;
        int ch = Whole.Channels;
        want.Samples.erase(want.Samples.begin() + seam * ch, want.Samples.begin() + (seam + removed) * ch);
        int64_t bridgeFrom = std::max<int64_t>(0, seam - Samples48(60));
        int64_t bridgeTo = std::min(want.Frames(), seam + Samples48(kBridgeAfterMs));
        TDecodedAudio before = rest, after = rest;
        before.Samples.resize(size_t(bridgeFrom * ch));
        after.Samples.erase(after.Samples.begin(), after.Samples.begin() + bridgeTo * ch);
        EXPECT_EQ(FirstDifference(want, 0, bridgeFrom, before), -1);
        if (GetParam().SettledDb == kBitExact) {
            EXPECT_EQ(FirstDifference(want, bridgeTo, want.Frames(), after), -1);
        } else {
            EXPECT_GE(SnrDb(want, bridgeTo, after, 0, after.Frames()), GetParam().SettledDb);
        }
        rest.Samples.erase(rest.Samples.begin(), rest.Samples.begin() + bridgeFrom * ch);
        EXPECT_GT(SnrDb(want, bridgeFrom, rest, 0, bridgeTo - bridgeFrom), 10.0);
    }
}

// `input` on new pages whose granule positions begin `offset` samples later (a stream recorded
// from the middle of a broadcast).
void WriteLaterGranules(const std::string& input, int64_t offset, const std::string& output) {
    TByteReader reader;
    TByteWriter writer;
    std::string error;
    ASSERT_TRUE(reader.Open(input, error) && writer.Open(output, error)) << error;
    TOggPacketReader packets(reader);
    TOggPageWriter pages(writer, 0x5eed);
    TOggPacket packet;
    int64_t granule = offset;
    while (packets.Next(packet)) {
        int previous = 0;
        if (packet.Index >= 2)
            granule += std::max<int64_t>(0, OggPacketSamples(TOggStream{TOggCodec::Opus}, packet.Data.data(),
                                                             packet.Data.size(), previous));
        pages.Packet(packet.Data.data(), packet.Data.size(), packet.Index < 2 ? 0 : granule);
        if (packet.Index < 2) pages.Flush();
    }
    pages.Finish();
    ASSERT_TRUE(writer.Close(error)) << error;
}

// The libraries count an Ogg Opus stream's pre-skip (and a later first granule position) in its
// duration; read through the program's rule, the file's and the stream's durations are the
// decoded length: for the input, for a cut whose pre-skip holds a long preroll, and for a stream
// whose granule positions begin at 1 s.
TEST_P(LosslessOpus, DurationIsTheDecodedLength) {
    std::string output = Output("-duration"), later = Output("-later");
    CutAndCheck(Input, TLosslessMode::Select, 1500, kToEnd, output);
    ASSERT_NO_FATAL_FAILURE(WriteLaterGranules(Input, kRate, later));
    for (const std::string& file : {Input, output, later}) {
        SCOPED_TRACE(file);
        AVFormatContext* raw = nullptr;
        ASSERT_GE(OpenMediaInput(&raw, LocalMediaName(file), nullptr, nullptr), 0);
        TInputContextPtr context(raw);
        ASSERT_GE(FindMediaStreamInfo(raw), 0);
        int64_t frames = DecodeAudioFile(file).Frames();
        EXPECT_EQ(DecodedStreamDuration(*raw, *raw->streams[0]), frames);
        EXPECT_NEAR(double(DecodedContainerDuration(*raw)), frames * 1e6 / kRate, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LosslessOpus,
    ::testing::Values(TOpusCase{"TaggedStereo", [] { return TaggedMediaFile(TMediaFormat::OggOpus); },
                                kBitExact},
                      TOpusCase{"Mono",
                                [] {
                                    return TestMediaFile({TMediaFormat::OggOpus, 4.0, kRate, 1, 48000});
                                }}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
