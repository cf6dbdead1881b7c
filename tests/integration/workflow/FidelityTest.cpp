// What a saved file keeps of its input beyond the audio: tags and cover pictures in both modes,
// the input's own encoder (Opus, MP2, FLAC, VBR MP3), and cuts placed by the decoded samples.
#include "WorkflowHarness.h"
#include "TestFiles.h"

#include "FFPtr.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <fstream>
#include <map>

using namespace WorkflowText;

namespace {

// What the libraries read back from a written file.
struct TFileFacts {
    std::string Codec; // of the first audio stream
    int64_t BitRate = 0;
    int SampleRate = 0;
    int Pictures = 0;                         // attached-picture streams
    std::map<std::string, std::string> Tags; // the file's and its audio stream's
};

TFileFacts ReadFacts(const std::string& path) {
    TFileFacts facts;
    AVFormatContext* raw = nullptr;
    if (OpenMediaInput(&raw, MediaFileName(path), nullptr, nullptr) < 0) return facts;
    TInputContextPtr input(raw);
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        av::avformat_find_stream_info(raw, nullptr);
    }
    auto collect = [&](const AVDictionary* dict) {
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = av::av_dict_get(dict, "", tag, AV_DICT_IGNORE_SUFFIX)))
            facts.Tags[LowerCase(tag->key)] = tag->value;
    };
    collect(raw->metadata);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* st = raw->streams[i];
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) ++facts.Pictures;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && facts.Codec.empty()) {
            facts.Codec = av::avcodec_get_name(st->codecpar->codec_id);
            facts.BitRate = st->codecpar->bit_rate > 0 ? st->codecpar->bit_rate : raw->bit_rate;
            facts.SampleRate = st->codecpar->sample_rate;
            collect(st->metadata);
        }
    }
    return facts;
}

std::string FormatName(TMediaFormat format) {
    static const std::map<TMediaFormat, std::string> kNames = {
        {TMediaFormat::Mp3Cbr, "Mp3"}, {TMediaFormat::Ogg, "Ogg"},   {TMediaFormat::OggOpus, "Opus"},
        {TMediaFormat::Wma, "Wma"},    {TMediaFormat::Wav16, "Wav"}, {TMediaFormat::Flac, "Flac"},
        {TMediaFormat::M4a, "M4a"},    {TMediaFormat::Mp2, "Mp2"},   {TMediaFormat::Aac, "Aac"},
    };
    return kNames.at(format);
}

} // namespace

class WorkflowTagsTravel : public WorkflowTest, public ::testing::WithParamInterface<TMediaFormat> {};

// Tags and the cover picture reach the output of a select and of a delete (whose join reads only
// untagged parts), and the output keeps the input's codec.
TEST_P(WorkflowTagsTravel, InBothModesWithTheInputsCodec) {
    SKIP_WITHOUT_CONVERSIONS();
    const std::string input = TaggedMediaFile(GetParam());
    const TFileFacts source = ReadFacts(input);
    ASSERT_EQ(source.Pictures, HoldsCover(GetParam()) ? 1 : 0);
    const std::string ext = MediaFormatExt(GetParam());
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode == 1 ? "select" : "delete");
        Open(input, mode, 1000, 2500);
        const std::string name = (mode == 1 ? "select" : "delete") + ext;
        ASSERT_EQ(SaveAs(name), TSaveResult::Done) << FWorkflow->LastMessage();
        TFileFacts out = ReadFacts(Scratch(name));
        for (const auto& [key, value] : TestTags())
            EXPECT_EQ(out.Tags[key], value) << key;
        EXPECT_EQ(out.Pictures, source.Pictures);
        EXPECT_EQ(out.Codec, source.Codec);
        EXPECT_EQ(out.Tags.count("tlen"), 0u); // no claim about the old length
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkflowTagsTravel,
                         ::testing::Values(TMediaFormat::Mp3Cbr, TMediaFormat::Ogg, TMediaFormat::OggOpus,
                                           TMediaFormat::Wma, TMediaFormat::Wav16, TMediaFormat::Flac,
                                           TMediaFormat::M4a, TMediaFormat::Aac),
                         [](const ::testing::TestParamInfo<TMediaFormat>& info) { return FormatName(info.param); });

// MPEG layer II audio in a .mp3 file stays layer II, at its bit rate.
TEST_F(WorkflowTest, Mp2InMp3StaysMp2) {
    SKIP_WITHOUT_CONVERSIONS();
    const std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp2, 4.0, 44100, 2, 192000});
    Open(input, 1, 1000, 3000);
    ASSERT_EQ(SaveAs("cut.mp3"), TSaveResult::Done) << FWorkflow->LastMessage();
    const TFileFacts out = ReadFacts(Scratch("cut.mp3"));
    EXPECT_EQ(out.Codec, "mp2");
    EXPECT_EQ(out.BitRate, 192000);
    EXPECT_NEAR(DecodeAudioFile(Scratch("cut.mp3")).Seconds(), 2.0, 0.03);
}

// A 96 kHz Vorbis file, whose bit rate the libraries cannot state, is cut by an encoder that
// chooses its own rate.
TEST_F(WorkflowTest, HighRateVorbisCuts) {
    SKIP_WITHOUT_CONVERSIONS();
    const std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Ogg, 3.0, 96000, 2, 0});
    Open(input, 1, 500, 2000);
    FWorkflow->FStreamInfo.BitRate = 4294967294; // what some files report
    ASSERT_EQ(SaveAs("cut.ogg"), TSaveResult::Done) << FWorkflow->LastMessage();
    TDecodedAudio cut = DecodeAudioFile(Scratch("cut.ogg"));
    EXPECT_EQ(cut.SampleRate, 96000);
    EXPECT_NEAR(cut.Seconds(), 1.5, 0.001);
}
// Cuts land where a decoder that counts samples puts the marks, in both modes: a Vorbis stream
// whose timestamps jump ahead of the decoded samples, and WMA, whose decoder stamps its audio two
// frames late and drops the stream's first frame. A delete keeps the file's start and joins
// within a millisecond of both marks.
class WorkflowCutPlacement : public WorkflowTest, public ::testing::WithParamInterface<TMediaFormat> {};

TEST_P(WorkflowCutPlacement, BySampleCountInBothModes) {
    SKIP_WITHOUT_CONVERSIONS();
    const bool vorbis = GetParam() == TMediaFormat::Ogg;
    const std::string input = vorbis ? GranuleJumpOgg(448) : TestMediaFile(TMediaSpec{GetParam(), 6.0});
    const std::string ext = MediaFormatExt(GetParam());
    TDecodedAudio source = DecodeAudioFile(input);
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode == 1 ? "select" : "delete");
        Open(input, mode, 3500, 5000);
        const std::string name = (mode == 1 ? "select" : "delete") + ext;
        ASSERT_EQ(SaveAs(name), TSaveResult::Done) << FWorkflow->LastMessage();
        TDecodedAudio cut = DecodeAudioFile(Scratch(name));
        const int64_t start = 3500 * 441 / 10, end = 5000 * 441 / 10;
        if (mode == 1) {
            EXPECT_NEAR(double(FindOffsetInSource(source, cut, 2048, start, 4410)), double(start), 44.0);
        } else {
            // The first part lies at the file's start up to the start mark, the rest follows the end mark.
            EXPECT_NEAR(double(FindOffsetInSource(source, cut, start - 16384 - 256, 0, 4410)), 0.0, 44.0);
            TDecodedAudio tail;
            tail.SampleRate = cut.SampleRate;
            tail.Channels = cut.Channels;
            tail.Samples.assign(cut.Samples.begin() + start * cut.Channels, cut.Samples.end());
            EXPECT_NEAR(double(FindOffsetInSource(source, tail, 1024, end, 4410)), double(end), 44.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkflowCutPlacement, ::testing::Values(TMediaFormat::Ogg, TMediaFormat::Wma),
                         [](const ::testing::TestParamInfo<TMediaFormat>& info) { return FormatName(info.param); });

// An .m4a output states its length to the sample (its edit list), even where a millisecond is no
// whole number of samples: a decoder that honours it decodes exactly the kept samples.
TEST_F(WorkflowTest, M4aStatesTheKeptSamplesExactly) {
    SKIP_WITHOUT_CONVERSIONS();
    const std::string input = TestMediaFile(TMediaSpec{TMediaFormat::M4a, 4.0, 22050, 2, 96000});
    Open(input, 1, 1000, 2501);
    ASSERT_EQ(SaveAs("cut.m4a"), TSaveResult::Done) << FWorkflow->LastMessage();
    AVFormatContext* raw = nullptr;
    ASSERT_GE(OpenMediaInput(&raw, MediaFileName(Scratch("cut.m4a")), nullptr, nullptr), 0);
    TInputContextPtr cut(raw);
    const AVStream* audio = raw->streams[0];
    ASSERT_EQ(audio->time_base.den, 22050 * audio->time_base.num);
    // The samples n with 1.000 s <= n / 22050 < 2.501 s.
    EXPECT_EQ(audio->duration, 55148 - 22050);
}

// A VBR MP3 is re-encoded at a variable rate whose average stays within 15 % of the input's.
TEST_F(WorkflowTest, VbrMp3StaysVbr) {
    SKIP_WITHOUT_CONVERSIONS();
    const std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Vbr, 6.0});
    Open(input, 1, 1000, 5000);
    ASSERT_TRUE(FWorkflow->FStreamInfo.VariableBitRate);
    ASSERT_EQ(SaveAs("cut.mp3"), TSaveResult::Done) << FWorkflow->LastMessage();
    EXPECT_TRUE(AnalyseMp3BitRate(Scratch("cut.mp3")).Variable);
    const double in = double(ReadFacts(input).BitRate), out = double(ReadFacts(Scratch("cut.mp3")).BitRate);
    EXPECT_NEAR(out / in, 1.0, 0.15) << in << " -> " << out;
    // A CBR input stays CBR.
    EXPECT_FALSE(AnalyseMp3BitRate(TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 3.0})).Variable);
}

// Files a save could not cut are refused by the intake with their reason.
TEST_F(WorkflowTest, IntakeRefusesUndecodableAndMislabelledAudio) {
    std::string wav = ReadAll(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0}));
    std::string silentRate = wav, noChannels = wav;
    silentRate.replace(24, 4, std::string(4, '\0')); // sample rate 0
    noChannels.replace(22, 2, std::string(2, '\0')); // 0 channels
    { std::ofstream(Scratch("rate0.wav"), std::ios::binary) << silentRate; }
    { std::ofstream(Scratch("channels0.wav"), std::ios::binary) << noChannels; }
    const std::pair<std::string, std::string> cases[] = {
        {UnknownCodecWav(), kNoDecoder},
        {CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0}), "wav.mp3"), Format(kExtensionMismatch, ".mp3")},
        {Scratch("rate0.wav"), ""},
        {Scratch("channels0.wav"), ""},
    };
    for (const auto& [file, message] : cases) {
        FMessages.clear();
        EXPECT_FALSE(FWorkflow->CheckInputFile(file)) << file;
        ASSERT_EQ(FMessages.size(), 1u) << file;
        if (!message.empty()) {
            EXPECT_EQ(FMessages[0], message);
        }
        EXPECT_FALSE(FMessages[0].empty());
    }
}

// A start past the decoded end (a duration that was an estimate) is refused; nothing is left.
TEST_F(WorkflowTest, StartPastTheRealEndIsRefused) {
    SKIP_WITHOUT_CONVERSIONS();
    Open(TaggedMediaFile(TMediaFormat::Mp3Cbr), 1, 5000, 6000);
    EXPECT_EQ(SaveAs("late.mp3"), TSaveResult::Refused);
    EXPECT_EQ(FMessages, std::vector<std::string>{kStartBeyondEnd});
    EXPECT_TRUE(ScratchEntries().empty());
}
