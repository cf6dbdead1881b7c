// The option table: names and dispatch, tables appended by options (maps, scales, metadata,
// filter chains), codec names and tags, formats, bit rate, and hostile values for every option.
#include "OptionTable.h"
#include "EngineTexts.h"
#include "OptionTestSupport.h"

#include <set>

using EngineOptionTable = OptionTest;

TEST_F(EngineOptionTable, HasExactly105UniqueCaseSensitiveNames) {
    std::vector<std::string> names = EngineOptionNames();
    EXPECT_EQ(names.size(), 105u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_TRUE(IsEngineOption("ar"));
    EXPECT_FALSE(IsEngineOption("AR"));
    EXPECT_FALSE(IsEngineOption("ar "));
    EXPECT_FALSE(IsEngineOption(""));
}

TEST_F(EngineOptionTable, NamesOutsideTheTableGoToTheLibraryOptionsAndChangeNoSetting) {
    Engine.ApplyOption("AR", "22050");
    Engine.ApplyOption("ar ", "22050");
    EXPECT_EQ(Engine.FAudioSampleRate, 44100);
    Engine.ApplyOption("no_such_option", "1"); // nobody knows it: ignored

    // A library option by name: the audio codec context's "cutoff" (through the "a" prefix rule
    // for "acutoff").
    Engine.ApplyOption("acutoff", "15000");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "cutoff"), 15000);
}

TEST_F(EngineOptionTable, SampleRateAndChannelsKeepTheirValueForNonPositiveNumbers) {
    Engine.ApplyOption("ar", "0");
    Engine.ApplyOption("ar", "-1");
    Engine.ApplyOption("ac", "0");
    EXPECT_EQ(Engine.FAudioSampleRate, 44100);
    EXPECT_EQ(Engine.FAudioChannels, 2);
    Engine.ApplyOption("ar", "22050");
    Engine.ApplyOption("ac", "1");
    EXPECT_EQ(Engine.FAudioSampleRate, 22050);
    EXPECT_EQ(Engine.FAudioChannels, 1);
}

TEST_F(EngineOptionTable, MetadataNeedsAnEqualsSignAndKeepsFurtherOnesInTheValue) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("metadata", "title"); }), "Missing =");
    Engine.ApplyOption("metadata", "title=a=b");
    Engine.ApplyOption("metadata", "comment=");
    Engine.AddMetadata("year", "2009");
    ASSERT_EQ(Engine.FMetadata.size(), 3u);
    EXPECT_EQ(Engine.FMetadata[0], std::make_pair(std::string("title"), std::string("a=b")));
    EXPECT_EQ(Engine.FMetadata[1], std::make_pair(std::string("comment"), std::string()));
    EXPECT_EQ(Engine.FMetadata[2], std::make_pair(std::string("year"), std::string("2009")));
}

TEST_F(EngineOptionTable, StreamMapsReadTwoOrFourBaseZeroNumbers) {
    auto map = [&](const std::string& value) {
        Engine.ApplyOption("map", value);
        const TStreamMapEntry& e = Engine.FStreamMaps[Engine.FStreamMapCount - 1];
        return std::vector<int32_t>{e.FileIndex, e.StreamIndex, e.SyncFileIndex, e.SyncStreamIndex};
    };
    EXPECT_EQ(map("0:1"), (std::vector<int32_t>{0, 1, 0, 1}));
    EXPECT_EQ(map("0:1:1:0"), (std::vector<int32_t>{0, 1, 1, 0}));
    EXPECT_EQ(map("0x10.010"), (std::vector<int32_t>{16, 8, 16, 8})); // hex, octal, any separator
    EXPECT_EQ(map("2"), (std::vector<int32_t>{2, 0, 2, 0}));
    EXPECT_EQ(map(""), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(map("-1:-2"), (std::vector<int32_t>{-1, -2, -1, -2}));
    // Out of range stays out of range (the run refuses it) instead of wrapping to a valid index.
    EXPECT_EQ(map("4294967296:0"), (std::vector<int32_t>{INT32_MAX, 0, INT32_MAX, 0}));
    EXPECT_EQ(Engine.FStreamMapCount, 7);

    Engine.ApplyOption("map_meta_data", "1:0");
    EXPECT_EQ(Engine.FMetadataMapCount, 1);
    EXPECT_EQ(Engine.FMetadataMaps[0].OutFile, 1);
    EXPECT_EQ(Engine.FMetadataMaps[0].InFile, 0);
}

TEST_F(EngineOptionTable, FullMapTablesRefuseMoreEntriesNamingTheTable) {
    while (Engine.FStreamMapCount < kMaxStreamMaps)
        Engine.ApplyOption("map", "0:0");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("map", "0:1"); }),
              Format(kMsgStreamMapsFull, 400));
    EXPECT_EQ(Engine.FStreamMapCount, 400);
    EXPECT_EQ(Engine.FStreamMaps[399].StreamIndex, 0);

    while (Engine.FMetadataMapCount < kMaxMetadataMaps)
        Engine.ApplyOption("map_meta_data", "0:0");
    std::string full = MessageOf<FFmpegException>([&] { Engine.ApplyOption("map_meta_data", "0:0"); });
    EXPECT_EQ(full, Format(kMsgMetadataMapsFull, 20));
    EXPECT_NE(full.find("metadata maps"), std::string::npos);
    EXPECT_EQ(Engine.FMetadataMapCount, 20);
}

TEST_F(EngineOptionTable, TimestampScaleGoesToTheNextInputAndChecksItsBounds) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("itsscale", "20:2"); }),
              "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("itsscale", "-1:2"); }),
              "stream index over MAX_STREAMS(20)");
    EXPECT_THROW(Engine.ApplyOption("itsscale", "1:nan"), FFmpegException);
    EXPECT_THROW(Engine.ApplyOption("itsscale", "1:1e999"), FFmpegException);

    Engine.FInputFileCount = 2; // as if two inputs were open
    Engine.ApplyOption("itsscale", "1:0.5");
    Engine.ApplyOption("itsscale", "0x13:2"); // stream 19
    EXPECT_EQ(Engine.FInputTsScales[2][1], 0.5);
    EXPECT_EQ(Engine.FInputTsScales[2][19], 2.0);
    EXPECT_EQ(Engine.FInputTsScales[1][1], 0.0);

    Engine.FInputFileCount = kMaxFiles; // no input can follow
    EXPECT_THROW(Engine.ApplyOption("itsscale", "1:0.5"), FFmpegException);
    Engine.FInputFileCount = 0;
}

TEST_F(EngineOptionTable, CodecCopyStaysOnWhenANameFollows) {
    Engine.ApplyOption("acodec", "copy");
    EXPECT_TRUE(Engine.FAudioStreamCopy);
    EXPECT_EQ(Engine.FAudioCodecName, "");
    Engine.ApplyOption("acodec", "libmp3lame");
    EXPECT_TRUE(Engine.FAudioStreamCopy);
    EXPECT_EQ(Engine.FAudioCodecName, "libmp3lame");
    Engine.ApplyOption("acodec", "");
    EXPECT_EQ(Engine.FAudioCodecName, "libmp3lame");
    Engine.ApplyOption("acodec", "Copy"); // only the exact word
    EXPECT_EQ(Engine.FAudioCodecName, "Copy");

    Engine.ApplyOption("vcodec", "copy");
    Engine.ApplyOption("scodec", "mov_text");
    EXPECT_TRUE(Engine.FVideoStreamCopy);
    EXPECT_FALSE(Engine.FSubtitleStreamCopy);
    EXPECT_EQ(Engine.FSubtitleCodecName, "mov_text");
}

TEST_F(EngineOptionTable, TagsNeedFourCharactersAndAreLittleEndian) {
    std::string audio = MessageOf<EAssertionFailed>([&] { Engine.ApplyOption("atag", "abc"); });
    std::string video = MessageOf<EAssertionFailed>([&] { Engine.ApplyOption("vtag", "xvid!"); });
    std::string subtitle = MessageOf<EAssertionFailed>([&] { Engine.ApplyOption("stag", "t"); });
    EXPECT_EQ(audio.rfind("audio tag parameter must be 4 chars", 0), 0u) << audio;
    EXPECT_EQ(video.rfind("video tag parameter must be 4 chars", 0), 0u) << video;
    EXPECT_EQ(subtitle.rfind("subtitle tag parameter must be 4 chars", 0), 0u) << subtitle;

    Engine.ApplyOption("atag", "mp4a");
    EXPECT_EQ(Engine.FAudioCodecTag, 'm' + 256 * 'p' + 65536 * '4' + 16777216 * 'a');
    Engine.ApplyOption("atag", "\xff\xff\xff\xff");
    EXPECT_EQ(Engine.FAudioCodecTag, -1);
    Engine.ApplyOption("atag", ""); // nothing
    EXPECT_EQ(Engine.FAudioCodecTag, -1);
    Engine.ApplyOption("vtag", "XVID");
    EXPECT_EQ(Engine.FVideoCodecTag, 'X' + 256 * 'V' + 65536 * 'I' + 16777216 * 'D');
}

TEST_F(EngineOptionTable, ThreadsIsRefusedAndTheThreadCountStays) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("threads", "4"); }),
              "TODO: option - threads");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("threads", ""); }),
              "TODO: option - threads");
    EXPECT_EQ(Engine.FThreadCount, 1);
}

TEST_F(EngineOptionTable, SampleFormatByNameAndTheListInTheLog) {
    Engine.ApplyOption("sample_fmt", "s16");
    EXPECT_EQ(Engine.FAudioSampleFormat, AV_SAMPLE_FMT_S16);
    Engine.ApplyOption("sample_fmt", "fltp");
    EXPECT_EQ(Engine.FAudioSampleFormat, AV_SAMPLE_FMT_FLTP);

    Engine.ApplyOption("sample_fmt", "list");
    EXPECT_EQ(Engine.FAudioSampleFormat, AV_SAMPLE_FMT_FLTP);
    ASSERT_GE(Log.size(), 13u); // header and the twelve formats of the library
    EXPECT_EQ(Log[0].Text.rfind("name", 0), 0u) << Log[0].Text;
    EXPECT_TRUE(Logged(llInfo, "u8        8"));
    EXPECT_TRUE(Logged(llInfo, "s16      16"));
    EXPECT_TRUE(Logged(llInfo, "fltp     32"));

    Engine.ApplyOption("sample_fmt", "bogus");
    EXPECT_EQ(Engine.FAudioSampleFormat, -1);
}

TEST_F(EngineOptionTable, BitRateWarnsBelow1000AndSetsTheCodecOption) {
    Engine.ApplyOption("ab", "128000");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 128000);
    EXPECT_FALSE(Logged(llWarning, kMsgBitrateTooLow));

    Engine.ApplyOption("b", "128");
    EXPECT_TRUE(Logged(llWarning, kMsgBitrateTooLow));
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "b"), 128);

    EXPECT_FALSE(Engine.OptBitrate("ab", ""));
    EXPECT_FALSE(Engine.OptBitrate("ab", "lots")); // the library refuses the value
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 128);
    EXPECT_TRUE(Engine.OptBitrate("vb", "2M"));
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "b"), 2000000);

    // The component's numeric path: no warning, value as decimal text.
    Log.clear();
    Engine.SetCodecOption("ab", 64);
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 64);
    EXPECT_FALSE(Logged(llWarning, kMsgBitrateTooLow));
}

TEST_F(EngineOptionTable, FormatsAreForcedForTheNextFilesAndUnknownOnesNamed) {
    Engine.ApplyOption("f", "wav");
    EXPECT_NE(Engine.FForcedInputFormat, nullptr);
    EXPECT_NE(Engine.FForcedOutputFormat, nullptr);
    Engine.ApplyOption("f", "ipod"); // output only
    EXPECT_EQ(Engine.FForcedInputFormat, nullptr);
    EXPECT_NE(Engine.FForcedOutputFormat, nullptr);

    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("f", "nosuchformat"); }),
              "Unknown input or output format: nosuchformat");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.SetInputFormat("ipod"); }),
              "Unknown input format: ipod");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.SetOutputFormat("bogus"); }),
              "Unknown output format: bogus");
    Engine.SetInputFormat("mp3");
    EXPECT_STREQ(Engine.FForcedInputFormat->name, "mp3");

    const AVInputFormat* before = Engine.FForcedInputFormat;
    Engine.ApplyOption("f", "");
    Engine.SetInputFormat("");
    EXPECT_EQ(Engine.FForcedInputFormat, before);

    Engine.ApplyOption("f", "pgmyuv");
    EXPECT_TRUE(Engine.FPgmYuv);
    EXPECT_TRUE(Logged(llInfo, "pgmyuv format is deprecated, use image2"));
    ASSERT_NE(Engine.FForcedInputFormat, nullptr);
    EXPECT_STREQ(Engine.FForcedInputFormat->name, "image2");
}

TEST_F(EngineOptionTable, BitstreamFiltersJoinThePendingChainOfTheirKind) {
    Engine.ApplyOption("absf", "aac_adtstoasc");
    Engine.ApplyOption("absf", "null=ignored arguments");
    Engine.ApplyOption("absf", "=null"); // no name: nothing
    Engine.ApplyOption("absf", "");
    Engine.ApplyOption("vbsf", "null");
    Engine.ApplyOption("sbsf", "null");
    ASSERT_EQ(Engine.FAudioBsfChain.size(), 2u);
    EXPECT_STREQ(Engine.FAudioBsfChain[0]->name, "aac_adtstoasc");
    EXPECT_STREQ(Engine.FAudioBsfChain[1]->name, "null");
    EXPECT_EQ(Engine.FVideoBsfChain.size(), 1u);
    EXPECT_EQ(Engine.FSubtitleBsfChain.size(), 1u);

    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("absf", " nosuch "); }),
              "Unknown bitstream filter nosuch");
    EXPECT_EQ(Engine.FAudioBsfChain.size(), 2u);
}

TEST_F(EngineOptionTable, LogLevelChangesTheProcessLoggerByNameOrNumber) {
    Engine.ApplyOption("loglevel", "debug");
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    Engine.ApplyOption("loglevel", "16"); // the libraries' "error"
    EXPECT_EQ(FFLogger().LogLevel(), llError);
    EXPECT_THROW(Engine.ApplyOption("loglevel", "chatty"), EConvertError);
    EXPECT_EQ(FFLogger().LogLevel(), llError);
}

TEST_F(EngineOptionTable, DoNothingOptionsOnlyLogAndStreamOptionsNeedAnOutput) {
    for (const char* name : {"L", "h", "version", "formats", "benchmark", "i", "y"}) {
        Engine.ApplyOption(name, "whatever");
        EXPECT_TRUE(Logged(llInfo, std::string("Do nothing: option - ") + name)) << name;
    }
    for (const char* name : {"newaudio", "newvideo", "newsubtitle"})
        EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption(name, ""); }),
                  "At least one output file must be specified");
}

TEST_F(EngineOptionTable, VideoOptionsAreStoredAndTheAudioRelevantOnesApplied) {
    Engine.ApplyOption("r", "25");
    Engine.ApplyOption("r", "30");
    Engine.ApplyOption("croptop", "8");
    Engine.OptTarget("dvd", "pal", "ntsc");
    EXPECT_EQ(Engine.VideoSetting("r"), "30");
    EXPECT_EQ(Engine.VideoSetting("croptop"), "8");
    EXPECT_EQ(Engine.VideoSetting("target"), "pal-dvd");
    EXPECT_EQ(Engine.VideoSetting("pix_fmt"), "");

    Engine.ApplyOption("vframes", "10");
    Engine.ApplyOption("sn", "");
    Engine.ApplyOption("slang", "eng");
    EXPECT_EQ(Engine.FMaxFrames[0], 10);
    EXPECT_TRUE(Engine.FSubtitleDisabled);
    EXPECT_EQ(Engine.FSubtitleLanguage, "eng");

    Engine.Reset(); // back to the defaults
    EXPECT_EQ(Engine.VideoSetting("r"), "");
    EXPECT_EQ(Engine.FMaxFrames[0], INT32_MAX);
}

// Any text for any option either applies or raises one of the engine's error types; nothing
// crashes or reads past a buffer (run under the sanitizers).
TEST_F(EngineOptionTable, HostileValuesForEveryOptionRaiseCleanErrorsOrApply) {
    const std::string values[] = {"",
                                  " ",
                                  "=",
                                  "0",
                                  "-1",
                                  "abc",
                                  "99999999999999999999999",
                                  "-9223372036854775808",
                                  "1e400",
                                  "nan",
                                  ":::::",
                                  "0:1:2:3:4:5:6",
                                  "a=b=c",
                                  "%s%n%x",
                                  "\xff\xfe\x80",
                                  std::string("1\0"
                                              "2",
                                              3),
                                  std::string(10000, '9'),
                                  std::string(5000, ':')};
    TLogLevel level = FFLogger().LogLevel();
    int applied = 0, refused = 0, silent = 0;
    auto refuse = [&](const std::exception& e) {
        ++refused;
        if (!*e.what()) ++silent;
    };
    for (const std::string& name : EngineOptionNames()) {
        for (const std::string& value : values) {
            try {
                Engine.ApplyOption(name, value);
                ++applied;
            } catch (const FFmpegException& e) {
                refuse(e);
            } catch (const EConvertError& e) {
                refuse(e);
            } catch (const EAssertionFailed& e) {
                refuse(e);
            }
        }
        Engine.Reset(); // tables never fill up between names
        EXPECT_TRUE(static_cast<const TEngineSettings&>(Engine) == TEngineSettings{}) << name;
    }
    FFLogger().SetLogLevel(level);
    // Every refusal says why; numeric options refuse words and text options take anything.
    EXPECT_EQ(silent, 0);
    EXPECT_GT(refused, 0);
    EXPECT_GT(applied, 0);
    // Whatever was thrown at it, a reset engine holds its defaults again.
    EXPECT_EQ(Engine.FAudioSampleRate, 44100);
    EXPECT_EQ(Engine.FRecordingTime, INT64_MAX);
}
