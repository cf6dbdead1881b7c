// The media probe against generated files of every format, the special and the broken files, and
// contexts attached from elsewhere.
#include "AVProbe.h"
#include "FFPtr.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& text) {
            FLog.emplace_back(level, text);
        };
    }
    void TearDown() override { FFLogger().OnLog = nullptr; }

    static void ExpectEmpty(const TAVProbe& probe) {
        EXPECT_EQ(probe.FormatContext(), nullptr);
        EXPECT_EQ(probe.StreamCount, -1);
        EXPECT_EQ(probe.ProgramCount, -1);
        EXPECT_EQ(probe.AudioStreamCount, -1);
        EXPECT_EQ(probe.VideoStreamCount, -1);
        EXPECT_EQ(probe.SubtitleStreamCount, -1);
        EXPECT_EQ(probe.FirstAudioStream, -1);
        EXPECT_EQ(probe.FirstVideoStream, -1);
        EXPECT_EQ(probe.FirstSubtitleStream, -1);
    }

    static void ExpectCleared(const TAudioStreamInfo& info) {
        EXPECT_EQ(info.Language, "");
        EXPECT_EQ(info.Codec, "");
        for (int64_t v : {info.StartTime, info.StartTimeUS, info.Duration, info.DurationUS})
            EXPECT_EQ(v, -1);
        for (int32_t v : {info.BitRate, info.Channels, info.SampleRate, info.SampleFormat})
            EXPECT_EQ(v, -1);
    }

    // A stream info filled with junk, to show that a failing call clears it.
    static TAudioStreamInfo Junk() { return TAudioStreamInfo{"x", "y", 5, 5, 5, 5, 5, 5, 5, 5}; }

    // Was `line` (as written to the library's log, with its "\n") delivered at `level`? The
    // logger hands over whole lines without the line break.
    bool Logged(TLogLevel level, std::string line) const {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        for (const auto& [l, t] : FLog)
            if (l == level && t == line) return true;
        return false;
    }

    std::vector<std::pair<TLogLevel, std::string>> FLog;
};

// ---- Every generated format ---------------------------------------------------------------------

struct TProbeCase {
    TMediaSpec Spec;
    const char* Codec;
    int SampleFormat;
    int BitRate;           // exact, or 0: any positive
    int64_t StartTimeUS;   // what the library reports (-1: none)
    int64_t MinDurationUS; // the signal's length, and how far the container's duration may exceed it
    int64_t MaxDurationUS;
};

class ProbeFormats : public ProbeTest, public ::testing::WithParamInterface<TProbeCase> {};

TEST_P(ProbeFormats, DescribesTheFile) {
    const TProbeCase& c = GetParam();
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(TestMediaFile(c.Spec))) << probe.LastErrMsg;
    EXPECT_NE(probe.FormatContext(), nullptr);
    EXPECT_TRUE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount, 1);
    EXPECT_EQ(probe.ProgramCount, 0);
    EXPECT_EQ(probe.AudioStreamCount, 1);
    EXPECT_EQ(probe.FirstAudioStream, 0);
    EXPECT_EQ(probe.VideoStreamCount, 0);
    EXPECT_EQ(probe.FirstVideoStream, -1);
    EXPECT_EQ(probe.SubtitleStreamCount, 0);
    EXPECT_EQ(probe.FirstSubtitleStream, -1);

    TAudioStreamInfo info = Junk();
    ASSERT_TRUE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(info.Codec, c.Codec);
    EXPECT_EQ(info.Language, "");
    EXPECT_EQ(info.Channels, c.Spec.Channels);
    EXPECT_EQ(info.SampleRate, c.Spec.SampleRate);
    EXPECT_EQ(info.SampleFormat, c.SampleFormat);
    if (c.BitRate) {
        EXPECT_EQ(info.BitRate, c.BitRate);
    } else {
        EXPECT_GT(info.BitRate, 0);
    }
    EXPECT_EQ(info.StartTimeUS, c.StartTimeUS);
    if (c.StartTimeUS == -1) {
        EXPECT_EQ(info.StartTime, AV_NOPTS_VALUE);
    }
    EXPECT_GE(info.DurationUS, c.MinDurationUS);
    EXPECT_LE(info.DurationUS, c.MaxDurationUS);
    EXPECT_GT(info.Duration, 0);

    // The form with an index names the same stream.
    TAudioStreamInfo byIndex;
    ASSERT_TRUE(probe.GetAudioStreamInfo(0, byIndex));
    EXPECT_EQ(byIndex.Codec, info.Codec);
    EXPECT_EQ(byIndex.DurationUS, info.DurationUS);

    probe.Close();
    ExpectEmpty(probe);
}

constexpr const char* kMp3 = "mp3float(MP3 (MPEG audio layer 3))";
constexpr const char* kAac = "aac(AAC (Advanced Audio Coding))";
constexpr const char* kWav16 = "pcm_s16le(PCM signed 16-bit little-endian)";
constexpr const char* kWavFloat = "pcm_f32le(PCM 32-bit floating point little-endian)";
constexpr const char* kWma = "wmav2(Windows Media Audio 2)";
constexpr const char* kVorbis = "vorbis(Vorbis)";
constexpr int kFltp = AV_SAMPLE_FMT_FLTP;

std::string ProbeCaseName(const ::testing::TestParamInfo<TProbeCase>& info) {
    static const char* kNames[] = {"Mp3Cbr", "Mp3Vbr", "Aac", "Wav16", "WavFloat", "Wma", "Ogg"};
    const TMediaSpec& s = info.param.Spec;
    return std::string(kNames[int(s.Format)]) + "_" + std::to_string(s.SampleRate) + "_" +
           std::to_string(s.Channels);
}

// MP3: the LAME tag's encoder delay (576 + 529 samples) is the stream's start; the duration is
// whole frames. ADTS estimates its duration from the bit rate. WMA counts in milliseconds.
INSTANTIATE_TEST_SUITE_P(
    All, ProbeFormats,
    ::testing::Values(
        TProbeCase{
            {TMediaFormat::Mp3Cbr, 3.0, 44100, 2, 128000}, kMp3, kFltp, 128000, 25057, 3000000, 3060000},
        TProbeCase{
            {TMediaFormat::Mp3Cbr, 3.0, 48000, 2, 128000}, kMp3, kFltp, 128000, 23021, 3000000, 3060000},
        TProbeCase{{TMediaFormat::Mp3Cbr, 3.0, 22050, 1, 64000}, kMp3, kFltp, 64000, 50113, 3000000, 3110000},
        TProbeCase{{TMediaFormat::Mp3Vbr, 3.0, 44100, 2}, kMp3, kFltp, 0, 25057, 3000000, 3060000},
        TProbeCase{{TMediaFormat::Aac, 3.0, 44100, 2, 128000}, kAac, kFltp, 0, -1, 2850000, 3150000},
        TProbeCase{{TMediaFormat::Aac, 3.0, 48000, 6, 256000}, kAac, kFltp, 0, -1, 2850000, 3150000},
        TProbeCase{
            {TMediaFormat::Wav16, 3.0, 44100, 2}, kWav16, AV_SAMPLE_FMT_S16, 1411200, -1, 3000000, 3000000},
        TProbeCase{
            {TMediaFormat::Wav16, 3.0, 22050, 1}, kWav16, AV_SAMPLE_FMT_S16, 352800, -1, 3000000, 3000000},
        TProbeCase{{TMediaFormat::WavFloat, 3.0, 48000, 6},
                   kWavFloat,
                   AV_SAMPLE_FMT_FLT,
                   9216000,
                   -1,
                   3000000,
                   3000000},
        TProbeCase{{TMediaFormat::Wma, 3.0, 44100, 2, 128000}, kWma, kFltp, 128000, 0, 3000000, 3100000},
        TProbeCase{{TMediaFormat::Wma, 3.0, 22050, 1, 32000}, kWma, kFltp, 32000, 0, 3000000, 3200000},
        TProbeCase{{TMediaFormat::Ogg, 3.0, 44100, 2, 128000}, kVorbis, kFltp, 128000, 0, 3000000, 3000000},
        TProbeCase{{TMediaFormat::Ogg, 3.0, 48000, 6, 256000}, kVorbis, kFltp, 0, 0, 3000000, 3000000}),
    ProbeCaseName);

// ---- Special files ------------------------------------------------------------------------------

TEST_F(ProbeTest, CoverArtCountsAsAVideoStream) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(CoverArtMp3())) << probe.LastErrMsg;
    EXPECT_EQ(probe.StreamCount, 2);
    EXPECT_EQ(probe.AudioStreamCount, 1);
    EXPECT_EQ(probe.FirstAudioStream, 0);
    EXPECT_EQ(probe.VideoStreamCount, 1);
    EXPECT_EQ(probe.FirstVideoStream, 1);
    EXPECT_TRUE(probe.FormatContext()->streams[1]->disposition & AV_DISPOSITION_ATTACHED_PIC);
    TAudioStreamInfo info;
    ASSERT_TRUE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(info.Codec, kMp3);
    EXPECT_EQ(info.Channels, 2);
}

TEST_F(ProbeTest, TwoAudioStreams) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(TwoAudioStreamFile())) << probe.LastErrMsg;
    EXPECT_EQ(probe.StreamCount, 2);
    EXPECT_EQ(probe.AudioStreamCount, 2);
    EXPECT_EQ(probe.FirstAudioStream, 0);
    EXPECT_EQ(probe.VideoStreamCount, 0);
    TAudioStreamInfo first, second;
    ASSERT_TRUE(probe.GetAudioStreamInfo(first));
    ASSERT_TRUE(probe.GetAudioStreamInfo(1, second));
    EXPECT_EQ(first.Codec, kVorbis);
    EXPECT_EQ(first.SampleRate, 44100);
    EXPECT_EQ(first.Channels, 2);
    EXPECT_EQ(second.Codec, kVorbis);
    EXPECT_EQ(second.SampleRate, 22050);
    EXPECT_EQ(second.Channels, 1);
    // Matroska keeps no per-stream duration: the no-value marker, and -1 µs.
    EXPECT_EQ(first.Duration, AV_NOPTS_VALUE);
    EXPECT_EQ(first.DurationUS, -1);
}

// The video stream comes first: asking for stream 0 is refused, the first audio stream is 1.
TEST_F(ProbeTest, VideoStreamFirstAndIndexChecks) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(VideoStreamFile())) << probe.LastErrMsg;
    EXPECT_EQ(probe.StreamCount, 2);
    EXPECT_EQ(probe.VideoStreamCount, 1);
    EXPECT_EQ(probe.FirstVideoStream, 0);
    EXPECT_EQ(probe.AudioStreamCount, 1);
    EXPECT_EQ(probe.FirstAudioStream, 1);

    TAudioStreamInfo info = Junk();
    EXPECT_FALSE(probe.GetAudioStreamInfo(0, info));
    EXPECT_EQ(probe.LastErrMsg, "stream #0 is not audio stream.");
    EXPECT_TRUE(Logged(llError, "stream #0 is not audio stream.\n"));
    ExpectCleared(info);

    info = Junk();
    EXPECT_FALSE(probe.GetAudioStreamInfo(2, info));
    EXPECT_EQ(probe.LastErrMsg, "stream index #2 is invalid.");
    EXPECT_TRUE(Logged(llError, "stream index #2 is invalid.\n"));
    ExpectCleared(info);

    // A success leaves the last failure text in place; a negative index means the first audio stream.
    ASSERT_TRUE(probe.GetAudioStreamInfo(-7, info));
    EXPECT_EQ(info.Codec, kAac);
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.StartTimeUS, 0);
    EXPECT_EQ(probe.LastErrMsg, "stream index #2 is invalid.");
}

// ---- Failures -----------------------------------------------------------------------------------

TEST_F(ProbeTest, StreamInfoWithoutAFile) {
    TAVProbe probe;
    ExpectEmpty(probe);
    TAudioStreamInfo info = Junk();
    EXPECT_FALSE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(probe.LastErrMsg, "file not loaded.");
    EXPECT_TRUE(Logged(llWarning, "file not loaded.\n"));
    ExpectCleared(info);
}

TEST_F(ProbeTest, UnknownInputFormatFailsWithoutTouchingTheFile) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(TestMediaFile({TMediaFormat::Wav16, 1.0}), "wav"));
    EXPECT_EQ(probe.FormatName(), "wav");
    // The file does not exist: the format is refused before any open.
    EXPECT_FALSE(probe.LoadFile("/nonexistent/folder/file.mp3", "no_such_format"));
    EXPECT_EQ(probe.LastErrMsg, "Unknown input format: no_such_format");
    EXPECT_EQ(probe.FormatName(), "");
    ExpectEmpty(probe);
}

TEST_F(ProbeTest, ForcedFormatOfTheWrongKind) {
    TAVProbe probe;
    const std::string name = TextAsMp3();
    EXPECT_FALSE(probe.LoadFile(name, "wav"));
    EXPECT_EQ(probe.LastErrMsg, name + ": Error while parsing header");
    ExpectEmpty(probe);
}

// Each broken file gives its open-failure text, never a crash, and leaves the probe empty, also
// when a good file was loaded before.
TEST_F(ProbeTest, BrokenFilesGiveTheirOpenFailureText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {ZeroByteFile(".mp3"), "Error while parsing header"},
        {ZeroByteFile(".wav"), "Unknown format"},
        {RandomBytesFile(".mp3"), "Error while parsing header"},
        {RandomBytesFile(".ogg"), "Error while parsing header"},
        {RandomBytesFile(".wav"), "Unknown format"},
        {RandomBytesFile(".wma"), "Unknown format"},
        {TextAsMp3(), "Error while parsing header"},
        {TestMediaFolder() + "no-such-file.mp3", "no such file or directory"},
    };
    TAVProbe probe;
    for (const auto& [name, text] : cases) {
        ASSERT_TRUE(probe.LoadFile(TestMediaFile({TMediaFormat::Mp3Cbr, 1.0})));
        EXPECT_FALSE(probe.LoadFile(name)) << name;
        EXPECT_EQ(probe.LastErrMsg, name + ": " + text);
        ExpectEmpty(probe);
        TAudioStreamInfo info;
        EXPECT_FALSE(probe.GetAudioStreamInfo(info));
        EXPECT_EQ(probe.LastErrMsg, "file not loaded.");
    }
}

// The current libraries report stream information even when parameters stay unknown, so the
// failure is injected at the library call.
TEST_F(ProbeTest, CodecParametersNotFound) {
    const auto real = av::avformat_find_stream_info;
    av::avformat_find_stream_info = [](AVFormatContext*, AVDictionary**) { return AVERROR(EIO); };
    TAVProbe probe;
    const std::string name = TestMediaFile({TMediaFormat::Wav16, 1.0});
    const bool loaded = probe.LoadFile(name);
    av::avformat_find_stream_info = real;
    EXPECT_FALSE(loaded);
    EXPECT_EQ(probe.LastErrMsg, name + ": could not find codec parameters");
    ExpectEmpty(probe);
}

// A stream no decoder knows is still described; its codec is named by its tag.
TEST_F(ProbeTest, UnknownCodecIsNamedByItsTag) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(UnknownCodecWav())) << probe.LastErrMsg;
    TAudioStreamInfo info;
    ASSERT_TRUE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(info.Codec, "0x7777");
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.SampleFormat, AV_SAMPLE_FMT_NONE);
}

// A file cut off mid-frame or damaged in the middle is still an MP3: it opens, and the probe
// reports what the container header says.
TEST_F(ProbeTest, DamagedMp3StillOpens) {
    TAVProbe probe;
    for (const std::string& name : {TruncatedMp3(), CorruptMiddleMp3()}) {
        ASSERT_TRUE(probe.LoadFile(name)) << probe.LastErrMsg;
        EXPECT_EQ(probe.AudioStreamCount, 1);
        TAudioStreamInfo info;
        ASSERT_TRUE(probe.GetAudioStreamInfo(info));
        EXPECT_EQ(info.Codec, kMp3);
        EXPECT_EQ(info.SampleRate, 44100);
    }
}

TEST_F(ProbeTest, UnicodeAndColonFileNames) {
    const std::string source = TestMediaFile({TMediaFormat::Ogg, 1.0});
    const std::string name = TestMediaFolder() + "probe-ñame:with colon.ogg";
    std::filesystem::copy_file(source, name, std::filesystem::copy_options::overwrite_existing);
    TAVProbe probe;
    EXPECT_TRUE(probe.LoadFile(name)) << probe.LastErrMsg;
    EXPECT_EQ(probe.AudioStreamCount, 1);
    probe.Close();
    std::remove(name.c_str());
    EXPECT_FALSE(probe.LoadFile(name));
    EXPECT_EQ(probe.LastErrMsg, name + ": no such file or directory");
}

// ---- Attached contexts --------------------------------------------------------------------------

TEST_F(ProbeTest, AttachedContextIsDescribedButNotOwned) {
    TAVProbe owner;
    ASSERT_TRUE(owner.LoadFile(VideoStreamFile()));
    AVFormatContext* context = owner.FormatContext();
    {
        TAVProbe attached;
        attached.AttachContext(context);
        EXPECT_EQ(attached.FormatContext(), context);
        EXPECT_FALSE(attached.OwnsContext());
        EXPECT_EQ(attached.StreamCount, 2);
        EXPECT_EQ(attached.FirstAudioStream, 1);
        EXPECT_EQ(attached.FirstVideoStream, 0);
        TAudioStreamInfo info;
        EXPECT_TRUE(attached.GetAudioStreamInfo(info));
        EXPECT_EQ(info.Codec, kAac);
        attached.AttachContext(nullptr);
        ExpectEmpty(attached);
        attached.AttachContext(context);
        attached.Close();
        ExpectEmpty(attached);
        attached.AttachContext(context);
    } // destroyed while attached
    // The owner's context is still open and readable.
    TPacketPtr packet(av::av_packet_alloc());
    EXPECT_GE(av::av_read_frame(context, packet.get()), 0);
    EXPECT_EQ(owner.StreamCount, 2);
}

// A context made by hand: no audio stream, a subtitle stream, a program.
TEST_F(ProbeTest, AttachedContextWithoutAudio) {
    AVFormatContext* context = av::avformat_alloc_context();
    ASSERT_NE(context, nullptr);
    AVStream* video = av::avformat_new_stream(context, nullptr);
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    AVStream* data = av::avformat_new_stream(context, nullptr);
    data->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    AVStream* subtitle = av::avformat_new_stream(context, nullptr);
    subtitle->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    TAVProbe probe;
    probe.AttachContext(context);
    EXPECT_EQ(probe.StreamCount, 3);
    EXPECT_EQ(probe.ProgramCount, 0);
    EXPECT_EQ(probe.VideoStreamCount, 1);
    EXPECT_EQ(probe.AudioStreamCount, 0);
    EXPECT_EQ(probe.SubtitleStreamCount, 1);
    EXPECT_EQ(probe.FirstSubtitleStream, 2);
    EXPECT_EQ(probe.FirstAudioStream, -1);
    TAudioStreamInfo info = Junk();
    EXPECT_FALSE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(probe.LastErrMsg, "no audio stream.");
    EXPECT_TRUE(Logged(llError, "no audio stream.\n"));
    ExpectCleared(info);
    probe.Close();
    av::avformat_free_context(context); // still ours
}

// A stream whose time base has denominator 0 is repaired instead of dividing by zero.
TEST_F(ProbeTest, ZeroTimeBaseIsRepaired) {
    AVFormatContext* context = av::avformat_alloc_context();
    AVStream* audio = av::avformat_new_stream(context, nullptr);
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_MP3;
    audio->time_base = AVRational{0, 0};
    audio->start_time = 2;
    audio->duration = 7;
    TAVProbe probe;
    probe.AttachContext(context);
    TAudioStreamInfo info;
    ASSERT_TRUE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(audio->time_base.den, 1);
    EXPECT_EQ(info.StartTimeUS, 0); // 2 * 0/1 s
    EXPECT_EQ(info.DurationUS, 0);
    EXPECT_EQ(info.Codec, kMp3);
    audio->time_base = AVRational{1000, 0};
    ASSERT_TRUE(probe.GetAudioStreamInfo(info));
    EXPECT_EQ(audio->time_base.den, 1000);
    EXPECT_EQ(info.StartTimeUS, 2000000);
    probe.Close();
    av::avformat_free_context(context);
}

TEST_F(ProbeTest, CheckLibrariesNamesTheMissingLibrary) {
    TAVProbe probe;
    EXPECT_NO_THROW(probe.CheckLibraries());
    FFLoader().UnloadLib(libSWScale);
    try {
        probe.LoadFile(TestMediaFile({TMediaFormat::Wav16, 1.0}));
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "LibSwScale not loaded.");
    }
    EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error);
    EXPECT_TRUE(FFLoader().LoadLib(libSWScale));
    EXPECT_NO_THROW(probe.CheckLibraries());
}

} // namespace
