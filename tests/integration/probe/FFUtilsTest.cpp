// Open-failure texts, the default-option contexts and the description helpers.
#include "FFUtils.h"
#include "FFPtr.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// ---- Open-failure texts -------------------------------------------------------------------------

TEST(FormatOpenError, EveryCodeOfTheTable) {
    const std::string name = "dir/song.mp3";
    EXPECT_EQ(FormatOpenError(name, -42), "dir/song.mp3: Unknown format");
    EXPECT_EQ(FormatOpenError(name, -33), "dir/song.mp3: Incorrect image filename syntax.\r\n"
                                          "Use '%d' to specify the image number:\r\n"
                                          "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
                                          "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(FormatOpenError(name, -22), "dir/song.mp3: Error while parsing header");
    EXPECT_EQ(FormatOpenError(name, -12), "dir/song.mp3: memory allocation error occurred");
    EXPECT_EQ(FormatOpenError(name, -5), "dir/song.mp3: I/O error occurred\r\nUsually that means that input "
                                         "file is truncated and/or corrupted.");
    EXPECT_EQ(FormatOpenError(name, -2), "dir/song.mp3: no such file or directory");
    for (int other : {-1, 0, 1, -3, -43, -1000, AVERROR_EOF, AVERROR_UNKNOWN})
        EXPECT_EQ(FormatOpenError(name, other), "dir/song.mp3: Error while opening file") << other;
}

// The library's own codes on Linux: the POSIX ones are the table's; invalid data and an illegal
// byte sequence are mapped.
TEST(FormatOpenError, LibraryCodesAreMapped) {
    EXPECT_EQ(AVERROR(ENOENT), -2);
    EXPECT_EQ(AVERROR(EIO), -5);
    EXPECT_EQ(AVERROR(ENOMEM), -12);
    EXPECT_EQ(AVERROR(EINVAL), -22);
    EXPECT_EQ(AVERROR(EDOM), -33);
    EXPECT_EQ(OpenErrorCode(AVERROR_INVALIDDATA), -22);
    EXPECT_EQ(OpenErrorCode(AVERROR(EILSEQ)), -42);
    EXPECT_EQ(OpenErrorCode(AVERROR(EIO)), -5);
    EXPECT_EQ(FormatOpenError("a.wav", AVERROR_INVALIDDATA), "a.wav: Error while parsing header");
    EXPECT_EQ(FormatOpenError("a.wav", AVERROR(EILSEQ)), "a.wav: Unknown format");
}

// The name is an argument, not part of the template: its "%" signs stay as they are.
TEST(FormatOpenError, NameIsNotATemplate) {
    EXPECT_EQ(FormatOpenError("100%s %d %%.mp3", -2), "100%s %d %%.mp3: no such file or directory");
    EXPECT_EQ(FormatOpenError("", -1), ": Error while opening file");
}

class FFUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        InitOptionContexts(&FBlock);
        AllocOptionContexts(&FBlock, SWS_BICUBIC);
        FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& text) {
            FLog.emplace_back(level, text);
        };
    }
    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FreeOptionContexts(&FBlock);
    }

    int64_t IntOption(void* object, const char* name) {
        int64_t value = -12345;
        EXPECT_GE(av::av_opt_get_int(object, name, 0, &value), 0) << name;
        return value;
    }
    std::string TextOption(void* object, const char* name) {
        uint8_t* value = nullptr;
        if (av::av_opt_get(object, name, 0, &value) < 0 || !value) return "<none>";
        std::string text = reinterpret_cast<char*>(value);
        av::av_free(value);
        return text;
    }
    std::vector<std::string> Recorded() const {
        return std::vector<std::string>(FBlock.OptionNames, FBlock.OptionNames + FBlock.OptionNameCount);
    }

    TOptionContexts FBlock;
    std::vector<std::pair<TLogLevel, std::string>> FLog;
};

// A failed open whose format no demuxer recognises (by content or by extension) is "Unknown
// format"; one where a demuxer was chosen but its header was bad stays a header error.
TEST_F(FFUtilsTest, InputOpenErrorCodeTellsAnUnknownFormat) {
    EXPECT_EQ(InputOpenErrorCode(RandomBytesFile(".xyz"), AVERROR_INVALIDDATA, nullptr), -42);
    EXPECT_EQ(InputOpenErrorCode(ZeroByteFile(".wav"), AVERROR_INVALIDDATA, nullptr), -42);
    EXPECT_EQ(InputOpenErrorCode(RandomBytesFile(".mp3"), AVERROR_INVALIDDATA, nullptr), AVERROR_INVALIDDATA);
    // A real file is recognised whatever its name.
    const std::string wav = TestMediaFile({TMediaFormat::Wav16, 1.0});
    EXPECT_EQ(InputOpenErrorCode(wav, AVERROR_INVALIDDATA, nullptr), AVERROR_INVALIDDATA);
    // A forced format, another code, or a file that cannot be read: unchanged.
    EXPECT_EQ(
        InputOpenErrorCode(RandomBytesFile(".xyz"), AVERROR_INVALIDDATA, av::av_find_input_format("wav")),
        AVERROR_INVALIDDATA);
    EXPECT_EQ(InputOpenErrorCode(RandomBytesFile(".xyz"), AVERROR(EIO), nullptr), AVERROR(EIO));
    EXPECT_EQ(InputOpenErrorCode("/nonexistent/file.xyz", AVERROR_INVALIDDATA, nullptr), AVERROR_INVALIDDATA);
}

// ---- Option contexts ----------------------------------------------------------------------------

TEST_F(FFUtilsTest, AllocatedContextsPerMediaType) {
    for (int type = 0; type < kOptionMediaTypes; ++type) {
        ASSERT_NE(FBlock.CodecOptions[type], nullptr);
        EXPECT_EQ(FBlock.CodecOptions[type]->codec_type, type);
    }
    ASSERT_NE(FBlock.FormatOptions, nullptr);
    ASSERT_NE(FBlock.ScaleOptions, nullptr);
    EXPECT_EQ(IntOption(FBlock.ScaleOptions, "sws_flags"), SWS_BICUBIC);
    EXPECT_EQ(FBlock.OptionNameCount, 0);
}

TEST_F(FFUtilsTest, FreeingIsSafeOnEmptyAndRepeated) {
    ASSERT_TRUE(SetOptionDefault(&FBlock, "b", "1000"));
    FreeOptionContexts(&FBlock);
    for (AVCodecContext* context : FBlock.CodecOptions)
        EXPECT_EQ(context, nullptr);
    EXPECT_EQ(FBlock.FormatOptions, nullptr);
    EXPECT_EQ(FBlock.ScaleOptions, nullptr);
    EXPECT_EQ(FBlock.OptionNames, nullptr);
    EXPECT_EQ(FBlock.OptionNameCount, 0);
    FreeOptionContexts(&FBlock);
    TOptionContexts fresh;
    InitOptionContexts(&fresh);
    FreeOptionContexts(&fresh);
    // Nothing allocated: every option is simply unknown.
    EXPECT_FALSE(SetOptionDefault(&fresh, "b", "1000"));
    EXPECT_FALSE(SetOptionDefault(&fresh, "ab", "1000"));
}

TEST_F(FFUtilsTest, EmptyOrBlankNameOrValueChangesNothing) {
    const int64_t before = IntOption(FBlock.CodecOptions[1], "b");
    for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"b", ""}, {"b", "   "}, {"", "1000"}, {" \t", "1000"}}) {
        EXPECT_FALSE(SetOptionDefault(&FBlock, name, value)) << "[" << name << "]=[" << value << "]";
    }
    EXPECT_EQ(IntOption(FBlock.CodecOptions[1], "b"), before);
    EXPECT_EQ(FBlock.OptionNameCount, 0);
    EXPECT_TRUE(FLog.empty());
}

// A codec option goes to every media type whose options include it: "b" is a video and audio
// option, so it is set for video, audio and the catch-all data and attachment types, not subtitle.
TEST_F(FFUtilsTest, CodecOptionIsSetPerMediaType) {
    const int64_t subtitleBefore = IntOption(FBlock.CodecOptions[3], "b");
    ASSERT_TRUE(SetOptionDefault(&FBlock, "b", "192000"));
    EXPECT_EQ(IntOption(FBlock.CodecOptions[0], "b"), 192000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[1], "b"), 192000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[2], "b"), 192000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[3], "b"), subtitleBefore);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[4], "b"), 192000);
    EXPECT_EQ(Recorded(), std::vector<std::string>{"b"});
}

// "ab" sets the audio codec's "b" (the bit rate): the codec options know "ab" as an audio-only
// alias of it, so the video context keeps its value.
TEST_F(FFUtilsTest, AudioBitRateByAb) {
    const int64_t videoBefore = IntOption(FBlock.CodecOptions[0], "b");
    ASSERT_TRUE(SetOptionDefault(&FBlock, "ab", "64000"));
    EXPECT_EQ(IntOption(FBlock.CodecOptions[1], "b"), 64000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[0], "b"), videoBefore);
    EXPECT_EQ(Recorded(), std::vector<std::string>{"ab"});
}

// A name that no context knows, whose remainder after "a", "v" or "s" is a codec option, is set
// in that type's context under the remainder and recorded by the library's own name string.
TEST_F(FFUtilsTest, PrefixRuleSetsTheRemainderInTheTypedContext) {
    const int64_t audioBefore = IntOption(FBlock.CodecOptions[1], "b");
    ASSERT_TRUE(SetOptionDefault(&FBlock, "vb", "800000"));
    EXPECT_EQ(IntOption(FBlock.CodecOptions[0], "b"), 800000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[1], "b"), audioBefore);
    ASSERT_EQ(FBlock.OptionNameCount, 1);
    const AVOption* option = av::av_opt_find(FBlock.CodecOptions[0], "b", nullptr, 0, 0);
    EXPECT_EQ(FBlock.OptionNames[0], option->name);

    const int64_t videoCutoff = IntOption(FBlock.CodecOptions[0], "cutoff");
    ASSERT_TRUE(SetOptionDefault(&FBlock, "acutoff", "15000"));
    EXPECT_EQ(IntOption(FBlock.CodecOptions[1], "cutoff"), 15000);
    EXPECT_EQ(IntOption(FBlock.CodecOptions[0], "cutoff"), videoCutoff);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"b", "cutoff"}));
    // No prefix rule for other letters, nor for a name that is only the letter.
    EXPECT_FALSE(SetOptionDefault(&FBlock, "xb", "1000"));
    EXPECT_FALSE(SetOptionDefault(&FBlock, "a", "1000"));
    EXPECT_EQ(FBlock.OptionNameCount, 2);
}

TEST_F(FFUtilsTest, FormatAndScaleOptions) {
    ASSERT_TRUE(SetOptionDefault(&FBlock, "probesize", "5000000"));
    EXPECT_EQ(IntOption(FBlock.FormatOptions, "probesize"), 5000000);
    ASSERT_TRUE(SetOptionDefault(&FBlock, "sws_flags", "bilinear"));
    EXPECT_EQ(IntOption(FBlock.ScaleOptions, "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"probesize", "sws_flags"}));
}

TEST_F(FFUtilsTest, InvalidValueIsLoggedAndRefused) {
    EXPECT_FALSE(SetOptionDefault(&FBlock, "b", "lots"));
    EXPECT_FALSE(SetOptionDefault(&FBlock, "vb", "lots"));
    EXPECT_EQ(FBlock.OptionNameCount, 0);
    // The logger hands over whole lines without their "\n".
    const std::vector<std::pair<TLogLevel, std::string>> expected = {
        {llError, "Invalid value \"lots\" for option \"b\""},
        {llError, "Invalid value \"lots\" for option \"vb\""}};
    std::vector<std::pair<TLogLevel, std::string>> invalid;
    for (const auto& line : FLog)
        if (line.second.rfind("Invalid value", 0) == 0) invalid.push_back(line);
    EXPECT_EQ(invalid, expected);

    FLog.clear();
    EXPECT_FALSE(SetOptionDefault(&FBlock, "no_such_option", "1")); // unknown: not logged
    EXPECT_TRUE(FLog.empty());
}

TEST_F(FFUtilsTest, DebugSettingRaisesTheLogLevel) {
    const TLogLevel before = FFLogger().LogLevel();
    FFLogger().SetLogLevel(llInfo);
    ASSERT_TRUE(SetOptionDefault(&FBlock, "probesize", "5000000"));
    EXPECT_EQ(FFLogger().LogLevel(), llInfo);
    ASSERT_TRUE(SetOptionDefault(&FBlock, "fdebug", "ts"));
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    FFLogger().SetLogLevel(before);
}

// The library copies text values: the caller's buffer may go away at once.
TEST_F(FFUtilsTest, TextValuesAreCopied) {
    {
        std::string value = "mp3,wav";
        ASSERT_TRUE(SetOptionDefault(&FBlock, "format_whitelist", value));
        value.assign(value.size(), 'X');
    }
    EXPECT_EQ(TextOption(FBlock.FormatOptions, "format_whitelist"), "mp3,wav");
}

// Only options whose flags hold every requested bit are copied, in the order recorded (an option
// recorded twice is copied twice).
TEST_F(FFUtilsTest, CopyOptionsToContextHonoursFlags) {
    ASSERT_TRUE(SetOptionDefault(&FBlock, "b", "64000"));
    ASSERT_TRUE(SetOptionDefault(&FBlock, "ar", "22050"));
    ASSERT_TRUE(SetOptionDefault(&FBlock, "b", "96000"));
    ASSERT_TRUE(SetOptionDefault(&FBlock, "probesize", "4096"));
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"b", "ar", "b", "probesize"}));

    TCodecContextPtr encoder(av::avcodec_alloc_context3(nullptr));
    CopyOptionsToContext(&FBlock, encoder.get(), FBlock.CodecOptions[1],
                         AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
    EXPECT_EQ(encoder->bit_rate, 96000);
    EXPECT_EQ(encoder->sample_rate, 22050);

    // "b" is no decoding option; "ar" is.
    TCodecContextPtr decoder(av::avcodec_alloc_context3(nullptr));
    const int64_t defaultRate = decoder->bit_rate;
    CopyOptionsToContext(&FBlock, decoder.get(), FBlock.CodecOptions[1],
                         AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
    EXPECT_EQ(decoder->bit_rate, defaultRate);
    EXPECT_EQ(decoder->sample_rate, 22050);

    AVFormatContext* input = av::avformat_alloc_context();
    CopyOptionsToContext(&FBlock, input, FBlock.FormatOptions, AV_OPT_FLAG_DECODING_PARAM);
    EXPECT_EQ(input->probesize, 4096);
    av::avformat_free_context(input);
    AVFormatContext* output = av::avformat_alloc_context();
    const int64_t defaultProbe = output->probesize;
    CopyOptionsToContext(&FBlock, output, FBlock.FormatOptions, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(output->probesize, defaultProbe);
    av::avformat_free_context(output);
}

// ---- Descriptions -------------------------------------------------------------------------------

TEST_F(FFUtilsTest, MetadataValue) {
    AVDictionary* dict = nullptr;
    av::av_dict_set(&dict, "language", "eng", 0);
    EXPECT_EQ(GetMetadataValue(dict, "language", "-"), "eng");
    EXPECT_EQ(GetMetadataValue(dict, "LANGUAGE", "-"), "eng");
    EXPECT_EQ(GetMetadataValue(dict, "title", "none"), "none");
    EXPECT_EQ(GetMetadataValue(nullptr, "language", ""), "");
    av::av_dict_free(&dict);
}

TEST_F(FFUtilsTest, CodecDescriptionOfKnownCodecs) {
    TCodecContextPtr context(av::avcodec_alloc_context3(nullptr));
    context->codec_id = AV_CODEC_ID_MP3;
    EXPECT_EQ(CodecDescription(context.get(), false), "mp3float(MP3 (MPEG audio layer 3))");
    EXPECT_EQ(CodecDescription(context.get(), true), "libmp3lame(libmp3lame MP3 (MPEG audio layer 3))");
    context->codec_id = AV_CODEC_ID_VORBIS;
    EXPECT_EQ(CodecDescription(context.get(), true), "libvorbis(libvorbis)");
    context->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecDescription(context.get(), false), "mpeg2ts");
    AVCodecParameters* parameters = av::avcodec_parameters_alloc();
    parameters->codec_id = AV_CODEC_ID_WMAV2;
    EXPECT_EQ(CodecDescription(parameters, false), "wmav2(Windows Media Audio 2)");
    av::avcodec_parameters_free(&parameters);
}

// Without a codec, the tag: four printable bytes (lowest first) and upper-case hexadecimal, or
// lower-case hexadecimal of at least four digits.
TEST_F(FFUtilsTest, CodecDescriptionTagBranch) {
    TCodecContextPtr context(av::avcodec_alloc_context3(nullptr));
    context->codec_id = AV_CODEC_ID_NONE;
    context->codec_tag = MKTAG('a', 'b', 'c', 'd');
    EXPECT_EQ(CodecDescription(context.get(), false), "abcd / 0x64636261");
    context->codec_tag = MKTAG(' ', '~', 'Z', '0'); // the printable range's ends
    EXPECT_EQ(CodecDescription(context.get(), false), " ~Z0 / 0x305A7E20");
    context->codec_tag = MKTAG('a', 'b', 'c', 127);
    EXPECT_EQ(CodecDescription(context.get(), false), "0x7f636261");
    context->codec_tag = 0x1f;
    EXPECT_EQ(CodecDescription(context.get(), false), "0x001f");
    context->codec_tag = 0;
    EXPECT_EQ(CodecDescription(context.get(), true), "0x0000");
}

TEST(MediaTypeName, NamesAndUnknown) {
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(5), "Unknown");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

} // namespace
