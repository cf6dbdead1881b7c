// Lossless delete by whole frames (ADTS AAC, WMA, M4A): the frames before the removed stretch and
// after it are copied, so the output decodes as the input but for the one frame decoded across
// the join, the check's distances give the stretch removed, and the tags (and an M4A's cover)
// travel. AAC's noise bands (perceptual noise substitution) decode anew after the join, so there
// the comparison is by SNR.
#include "FFPtr.h"
#include "LosslessTestSupport.h"
#include "LosslessTexts.h"

#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct TDeleteCase {
    const char* Name;
    std::string (*Input)();
    int FrameSamples;    // of a decoded frame
    bool ExactAfterJoin; // the decoder's state after the join is the input's (no noise bands)
};

void PrintTo(const TDeleteCase& c, std::ostream* out) {
    *out << c.Name;
}

// A mark moved by a distance of the check (ms, not whole).
int64_t SamplesAt(int64_t ms, double offsetMs, int rate) {
    return std::llround((double(ms) + offsetMs) * rate / 1000.0);
}

// SNR (dB) of `got` frames [gotFrom, +count) against `want` frames [wantFrom, +count); 1000 when equal.
double SnrDb(const TDecodedAudio& want, int64_t wantFrom, const TDecodedAudio& got, int64_t gotFrom,
             int64_t count) {
    double signal = 0, noise = 0;
    for (int64_t i = 0; i < count * want.Channels; ++i) {
        double w = want.Samples[size_t(wantFrom * want.Channels + i)];
        double d = w - got.Samples[size_t(gotFrom * want.Channels + i)];
        signal += w * w;
        noise += d * d;
    }
    return noise == 0 ? 1000.0 : 10 * std::log10(signal / noise);
}

// The file's title tag and how many attached pictures it holds.
std::pair<std::string, int> TitleAndPictures(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (OpenMediaInput(&raw, LocalMediaName(path), nullptr, nullptr) < 0) return {"", -1};
    TInputContextPtr input(raw);
    FindMediaStreamInfo(raw);
    const AVDictionaryEntry* title = av::av_dict_get(raw->metadata, "title", nullptr, 0);
    int pictures = 0;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        pictures += (raw->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) ? 1 : 0;
    return {title ? title->value : "", pictures};
}

double LevelDb(const TDecodedAudio& audio, int64_t from, int64_t count) {
    double energy = 0;
    for (int64_t i = from * audio.Channels; i < (from + count) * audio.Channels; ++i)
        energy += double(audio.Samples[size_t(i)]) * audio.Samples[size_t(i)];
    return 10 * std::log10(std::max(energy, 1e-12) / double(count));
}

class LosslessFrameDelete : public LosslessTest, public ::testing::WithParamInterface<TDeleteCase> {
protected:
    // Plans and writes the delete; the decoded output.
    TDecodedAudio Delete(int64_t startMs, int64_t endMs, TLosslessCheck& check) {
        TLosslessCutter cutter;
        check = cutter.Plan(Input, TLosslessMode::Delete, startMs, endMs);
        EXPECT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
        std::string output = Scratch(std::string(GetParam().Name) + LowerCase(ExtractFileExt(Input)));
        if (check.Verdict != TLosslessVerdict::Possible || !cutter.Write(output)) {
            ADD_FAILURE() << cutter.LastError;
            return {};
        }
        EXPECT_EQ(TitleAndPictures(output), TitleAndPictures(Input)); // the tags and the cover travel
        return DecodeAudioFile(output);
    }

    // `rest` frames from `restFrom` on equal the input's from `from` on (by SNR where noise bands
    // decode anew), `count` frames (to the shorter end when negative).
    void ExpectInput(const TDecodedAudio& rest, int64_t restFrom, int64_t from, int64_t count, bool exact) {
        if (count < 0) count = std::min(rest.Frames() - restFrom, Whole.Frames() - from);
        ASSERT_GE(restFrom, 0);
        ASSERT_LE(restFrom + count, rest.Frames());
        ASSERT_LE(from + count, Whole.Frames());
        double snr = SnrDb(Whole, from, rest, restFrom, count);
        if (exact) {
            EXPECT_EQ(snr, 1000.0) << count << " frames from " << restFrom;
        } else {
            EXPECT_GT(snr, 30.0) << count << " frames from " << restFrom;
        }
    }

    std::string Input;
    TDecodedAudio Whole;
};

// A join inside the file: whole frames removed, the crossfade within half a frame of each mark
// (a short stretch still removes one frame); before the join's frame the output is the input's,
// after it the input's from the resumption on.
TEST_P(LosslessFrameDelete, JoinsWholeFramesAndSaysWhere) {
    Input = GetParam().Input();
    Whole = DecodedInput(Input);
    int rate = Whole.SampleRate, n = GetParam().FrameSamples;
    double half = n * 500.0 / rate;
    for (auto [startMs, endMs] : {TMarks{1234, 2345}, TMarks{1500, 1510}, TMarks{2000, 3500}}) {
        SCOPED_TRACE(Format("delete %lld..%lld ms", (long long)startMs, (long long)endMs));
        TLosslessCheck check;
        TDecodedAudio rest = Delete(startMs, endMs, check);
        if (rest.Frames() == 0) continue;
        EXPECT_FALSE(check.SampleExact);
        EXPECT_LE(std::abs(check.StartOffsetMs), half + 0.5);
        if (endMs - startMs > 2 * half) {
            EXPECT_LE(std::abs(check.EndOffsetMs), half + 0.5);
        }
        int64_t seam = SamplesAt(startMs, check.StartOffsetMs, rate), cut = seam - n / 2; // the join's frame
        int64_t removed = SamplesAt(endMs, check.EndOffsetMs, rate) - seam;
        EXPECT_EQ(removed % n, 0);
        EXPECT_GE(removed, n);
        EXPECT_EQ(rest.Frames(), Whole.Frames() - removed);
        ExpectInput(rest, 0, 0, cut, true);
        ExpectInput(rest, cut + n, cut + n + removed, -1, GetParam().ExactAfterJoin);
        // The join's frame crossfades without a jump in level.
        EXPECT_NEAR(LevelDb(rest, cut, n), LevelDb(rest, cut - n, n), 3.0);
    }
}

// A delete from the file's start or to its end keeps the other side, copied from where its
// distance says; the file's own edge is exact.
TEST_P(LosslessFrameDelete, KeepsOneSideAtTheFilesEdges) {
    Input = GetParam().Input();
    Whole = DecodedInput(Input);
    int rate = Whole.SampleRate, n = GetParam().FrameSamples;
    TLosslessCheck check;
    TDecodedAudio rest = Delete(0, 1500, check);
    EXPECT_EQ(check.StartOffsetMs, 0.0);
    int64_t resume = SamplesAt(1500, check.EndOffsetMs, rate);
    EXPECT_NEAR(double(rest.Frames()), double(Whole.Frames() - resume), rate / 1000.0); // WMA: ms stamps
    // (ADTS starts a frame early to prime the decoder; the input's decoder was primed differently.)
    ExpectInput(rest, 2 * n, resume + 2 * n, -1, GetParam().ExactAfterJoin);

    rest = Delete(2500, kToEnd, check);
    EXPECT_EQ(check.EndOffsetMs, 0.0);
    EXPECT_GE(check.StartOffsetMs, 0.0);
    EXPECT_LT(check.StartOffsetMs, 3.0 * n * 1000.0 / rate);
    EXPECT_NEAR(double(rest.Frames()), double(SamplesAt(2500, check.StartOffsetMs, rate)), rate / 1000.0);
    ExpectInput(rest, 0, 0, std::min(rest.Frames(), Samples(2500, rate)), true);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LosslessFrameDelete,
    ::testing::Values(TDeleteCase{"Adts", [] { return TaggedMediaFile(TMediaFormat::Aac); }, 1024, false},
                      TDeleteCase{"Wma", [] { return TaggedMediaFile(TMediaFormat::Wma); }, 2048, true},
                      TDeleteCase{"M4a", [] { return TaggedMediaFile(TMediaFormat::M4a); }, 1024, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A WMA whose frames continue in the next packet (the bit reservoir) would break at the join: its
// delete is left to re-encoding.
TEST_F(LosslessTest, WmaWithABitReservoirIsDeletedByReencoding) {
    std::vector<uint8_t> bytes = ReadBytes(TaggedMediaFile(TMediaFormat::Wma));
    // The stream's WAVEFORMATEX (WMA v2, stereo): its extradata's flags follow at +18 +4.
    const uint8_t format[] = {0x61, 0x01, 0x02, 0x00};
    auto at = std::search(bytes.begin(), bytes.end(), format, format + 4);
    ASSERT_NE(at, bytes.end());
    at[18 + 4] |= 0x02;
    std::string input = Scratch("reservoir.wma");
    WriteBytes(input, bytes);
    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(input, TLosslessMode::Delete, 1000, 2000);
    EXPECT_EQ(check.Verdict, TLosslessVerdict::NotAvailable);
    EXPECT_EQ(check.Reason, LosslessText::kWmaReservoir);
    EXPECT_EQ(cutter.Plan(input, TLosslessMode::Select, 1000, 2000).Verdict, TLosslessVerdict::Possible);
}

} // namespace
