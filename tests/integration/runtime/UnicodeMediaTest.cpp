// Media files whose names the libraries would misread (a colon, non-ASCII letters, bytes that are
// no UTF-8) written by the libraries' muxer and read back by their demuxer through the helpers.
#include "FFPtr.h"
#include "MediaApi.h"
#include "TestLibs.h"
#include "UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kRate = 8000;

// A ramp whose every sample tells its own position.
int16_t RampSample(int64_t i) {
    return static_cast<int16_t>((i * 7) % 65536 - 32768);
}

// Writes `samples` of the ramp as 16-bit mono WAV to `fileName` (a plain file name).
int WriteRampWav(const std::string& fileName, int samples) {
    std::string mediaName = MediaFileName(fileName);
    AVFormatContext* raw = nullptr;
    int rc = av::avformat_alloc_output_context2(&raw, nullptr, "wav", mediaName.c_str());
    if (rc < 0) return rc;
    TOutputContextPtr ctx(raw);
    AVStream* stream = av::avformat_new_stream(ctx.get(), nullptr);
    if (!stream) return AVERROR(ENOMEM);
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->format = AV_SAMPLE_FMT_S16;
    par->sample_rate = kRate;
    av::av_channel_layout_default(&par->ch_layout, 1);
    par->bits_per_coded_sample = 16;
    par->block_align = 2;
    par->bit_rate = kRate * 16;
    stream->time_base = AVRational{1, kRate};
    if ((rc = OpenMediaOutput(ctx.get(), mediaName)) < 0) return rc;
    if ((rc = av::avformat_write_header(ctx.get(), nullptr)) < 0) return rc;
    TPacketPtr packet(av::av_packet_alloc());
    const int block = 800;
    for (int start = 0; start < samples; start += block) {
        int n = std::min(block, samples - start);
        if ((rc = av::av_new_packet(packet.get(), n * 2)) < 0) return rc;
        auto* data = reinterpret_cast<int16_t*>(packet->data);
        for (int i = 0; i < n; ++i)
            data[i] = RampSample(start + i);
        packet->pts = packet->dts = start;
        packet->duration = n;
        packet->stream_index = 0;
        packet->time_base = stream->time_base;
        av::av_packet_rescale_ts(packet.get(), AVRational{1, kRate}, stream->time_base);
        if ((rc = av::av_interleaved_write_frame(ctx.get(), packet.get())) < 0) return rc;
    }
    return av::av_write_trailer(ctx.get());
}

struct TReadBack {
    int Result = 0;
    std::vector<int16_t> Samples;
    int64_t DurationSamples = -1;
    int SampleRate = 0;
    AVCodecID Codec = AV_CODEC_ID_NONE;
    int64_t SeekPts = -1;        // first packet after seeking to the middle
    int16_t SeekFirstSample = 0; // its first sample
};

TReadBack ReadWav(const std::string& fileName) {
    TReadBack out;
    AVFormatContext* raw = nullptr;
    out.Result = OpenMediaInput(&raw, MediaFileName(fileName), nullptr, nullptr);
    if (out.Result < 0) return out;
    TInputContextPtr ctx(raw);
    if ((out.Result = av::avformat_find_stream_info(ctx.get(), nullptr)) < 0) return out;
    AVStream* stream = ctx->streams[0];
    out.SampleRate = stream->codecpar->sample_rate;
    out.Codec = stream->codecpar->codec_id;
    out.DurationSamples = av::av_rescale_q(stream->duration, stream->time_base, AVRational{1, kRate});
    TPacketPtr packet(av::av_packet_alloc());
    while (av::av_read_frame(ctx.get(), packet.get()) >= 0) {
        auto* data = reinterpret_cast<const int16_t*>(packet->data);
        out.Samples.insert(out.Samples.end(), data, data + packet->size / 2);
        av::av_packet_unref(packet.get());
    }
    // Seeking goes through the same I/O.
    int64_t middle = av::av_rescale_q(out.DurationSamples / 2, AVRational{1, kRate}, stream->time_base);
    if (av::av_seek_frame(ctx.get(), 0, middle, AVSEEK_FLAG_BACKWARD) >= 0 &&
        av::av_read_frame(ctx.get(), packet.get()) >= 0) {
        out.SeekPts = av::av_rescale_q(packet->pts, stream->time_base, AVRational{1, kRate});
        std::memcpy(&out.SeekFirstSample, packet->data, 2);
        av::av_packet_unref(packet.get());
    }
    return out;
}

class RuntimeUnicodeMedia : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        FDir = fs::temp_directory_path() / ("clipwell-media-" + std::to_string(::getpid()));
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    void ExpectRoundTrip(const std::string& fileName, bool needsUrl) {
        EXPECT_EQ(IsUnicodeUrl(MediaFileName(fileName)), needsUrl) << fileName;
        const int samples = kRate + 123; // not a whole number of packets
        ASSERT_EQ(WriteRampWav(fileName, samples), 0) << fileName;
        ASSERT_TRUE(fs::exists(fs::path(fileName))) << "written under another name: " << fileName;
        EXPECT_GE(fs::file_size(fs::path(fileName)), static_cast<uintmax_t>(44 + samples * 2));

        TReadBack back = ReadWav(fileName);
        ASSERT_EQ(back.Result, 0) << fileName;
        EXPECT_EQ(back.Codec, AV_CODEC_ID_PCM_S16LE);
        EXPECT_EQ(back.SampleRate, kRate);
        // The header's sizes were patched through a seek on close.
        EXPECT_EQ(back.DurationSamples, samples);
        ASSERT_EQ(back.Samples.size(), static_cast<size_t>(samples));
        for (int i = 0; i < samples; ++i)
            if (back.Samples[i] != RampSample(i)) {
                ADD_FAILURE() << "sample " << i << " differs in " << fileName;
                break;
            }
        ASSERT_GE(back.SeekPts, 0);
        EXPECT_LE(back.SeekPts, samples / 2);
        EXPECT_EQ(back.SeekFirstSample, RampSample(back.SeekPts));
    }
    std::string Path(const std::string& name) const { return (FDir / name).string(); }
    fs::path FDir;
};

TEST_F(RuntimeUnicodeMedia, NameWithColonAndNonAsciiLetters) {
    ExpectRoundTrip(Path("Live: Grüße aus Köln – 日本.wav"), true);
}

TEST_F(RuntimeUnicodeMedia, NameThatIsNoUtf8) {
    ExpectRoundTrip(Path("raw \xff\xfe bytes.wav"), true);
}

TEST_F(RuntimeUnicodeMedia, PlainNameUsesTheLibrariesOwnFileAccess) {
    ExpectRoundTrip(Path("plain ascii name.wav"), false);
    ExpectRoundTrip(Path("Müller.wav"), false);
}

TEST_F(RuntimeUnicodeMedia, MissingFileIsReportedAsSuch) {
    AVFormatContext* ctx = nullptr;
    EXPECT_EQ(OpenMediaInput(&ctx, MediaFileName(Path("no: such.wav")), nullptr, nullptr), AVERROR(ENOENT));
    EXPECT_EQ(ctx, nullptr);
    // A context the caller allocated is freed on failure, as the library does it.
    ctx = av::avformat_alloc_context();
    EXPECT_EQ(OpenMediaInput(&ctx, MediaFileName(Path("no: such.wav")), nullptr, nullptr), AVERROR(ENOENT));
    EXPECT_EQ(ctx, nullptr);
    ctx = av::avformat_alloc_context();
    EXPECT_EQ(OpenMediaInput(&ctx, MediaFileName(Path("no such.wav")), nullptr, nullptr), AVERROR(ENOENT));
    EXPECT_EQ(ctx, nullptr);
    CloseMediaInput(&ctx); // closing nothing is harmless
}

TEST_F(RuntimeUnicodeMedia, FileThatIsNoMediaFails) {
    std::string name = Path("text: file.wav");
    {
        std::FILE* f = std::fopen(name.c_str(), "w");
        std::fputs("this is no wave file at all", f);
        std::fclose(f);
    }
    AVFormatContext* ctx = nullptr;
    EXPECT_LT(OpenMediaInput(&ctx, MediaFileName(name), nullptr, nullptr), 0);
    EXPECT_EQ(ctx, nullptr);
}

TEST_F(RuntimeUnicodeMedia, OutputIntoAMissingFolderFails) {
    AVFormatContext* raw = nullptr;
    std::string mediaName = MediaFileName(Path("missing: folder/x.wav"));
    ASSERT_GE(av::avformat_alloc_output_context2(&raw, nullptr, "wav", mediaName.c_str()), 0);
    TOutputContextPtr ctx(raw);
    EXPECT_EQ(OpenMediaOutput(ctx.get(), mediaName), AVERROR(ENOENT));
    EXPECT_EQ(ctx->pb, nullptr);
}

} // namespace
