// Value conversions of the option table: numbers, flags, durations and dates, with their exact
// failure texts.
#include "OptionTestSupport.h"

#include <ctime>

using EngineOptionValues = OptionTest;

TEST_F(EngineOptionValues, IntegerOptionsRejectBadTextWithTheValueInTheMessage) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("fs", "abc"); }),
              "'abc' is not a valid integer value");
    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("v", "1.5"); }),
              "'1.5' is not a valid integer value");
    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("ar", ""); }),
              "'' is not a valid integer value");
    // Beyond 32 bits for an int option, beyond 64 bits for "fs".
    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("loop_output", "2147483648"); }),
              "'2147483648' is not a valid integer value");
    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("fs", "9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(Engine.FLimitFileSize, 0);
    EXPECT_EQ(Engine.FVerbose, 1);
    EXPECT_EQ(Engine.FLoopOutput, -1);

    Engine.ApplyOption("fs", "9223372036854775807");
    EXPECT_EQ(Engine.FLimitFileSize, INT64_MAX);
    Engine.ApplyOption("vol", "-512");
    EXPECT_EQ(Engine.FAudioVolume, -512);
    Engine.ApplyOption("aframes", "100");
    Engine.ApplyOption("dframes", "7");
    EXPECT_EQ(Engine.FMaxFrames[1], 100);
    EXPECT_EQ(Engine.FMaxFrames[2], 7);
    EXPECT_EQ(Engine.FMaxFrames[0], INT32_MAX);
}

TEST_F(EngineOptionValues, FloatOptionsAcceptDecimalsAndRejectWhatASingleCannotHold) {
    Engine.ApplyOption("muxpreload", "0.25");
    Engine.ApplyOption("muxdelay", "1");
    Engine.ApplyOption("aq", "-3.5");
    EXPECT_FLOAT_EQ(Engine.FMuxPreload, 0.25f);
    EXPECT_FLOAT_EQ(Engine.FMuxMaxDelay, 1.0f);
    EXPECT_FLOAT_EQ(Engine.FAudioQScale, -3.5f);

    EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("muxdelay", "x"); }),
              "'x' is not a valid floating point value");
    for (const char* bad : {"1e300", "-1e39", "nan", "inf", "1,5"})
        EXPECT_EQ(MessageOf<EConvertError>([&] { Engine.ApplyOption("adrift_threshold", bad); }),
                  std::string("'") + bad + "' is not a valid floating point value");
    EXPECT_FLOAT_EQ(Engine.FAudioDriftThreshold, 0.1f);
}

TEST_F(EngineOptionValues, FlagsAreTrueUnlessExactlyZeroAndSetOptionsIgnoreTheValue) {
    for (const char* on : {"1", "yes", "", " 0", "00", "false"}) {
        Engine.FVideoDisabled = false;
        Engine.ApplyOption("vn", on);
        EXPECT_TRUE(Engine.FVideoDisabled) << '"' << on << '"';
    }
    Engine.ApplyOption("vn", "0");
    EXPECT_FALSE(Engine.FVideoDisabled);

    struct TFlag {
        const char* Name;
        bool TCustomFFmpeg::*Field;
    };
    for (TFlag flag :
         {TFlag{"an", &TCustomFFmpeg::FAudioDisabled}, TFlag{"sn", &TCustomFFmpeg::FSubtitleDisabled},
          TFlag{"dump", &TCustomFFmpeg::FPacketDump}, TFlag{"hex", &TCustomFFmpeg::FHexDump},
          TFlag{"re", &TCustomFFmpeg::FRateEmulation}, TFlag{"loop_input", &TCustomFFmpeg::FLoopInput},
          TFlag{"shortest", &TCustomFFmpeg::FShortest}, TFlag{"isync", &TCustomFFmpeg::FInputSync}}) {
        Engine.ApplyOption(flag.Name, "");
        EXPECT_TRUE(Engine.*flag.Field) << flag.Name;
        Engine.ApplyOption(flag.Name, "0");
        EXPECT_FALSE(Engine.*flag.Field) << flag.Name;
    }

    // "copyts" and "xerror" switch on whatever the value, "0" included.
    Engine.ApplyOption("copyts", "0");
    Engine.ApplyOption("xerror", "0");
    EXPECT_TRUE(Engine.FCopyTs);
    EXPECT_TRUE(Engine.FExitOnError);
}

TEST_F(EngineOptionValues, RecordingTimeTakesPositiveDurationsOnly) {
    for (const char* none : {"0", "-5", "00:00:00", "-00:00:01"}) {
        Engine.ApplyOption("t", none);
        EXPECT_EQ(Engine.FRecordingTime, INT64_MAX) << none;
        EXPECT_EQ(Engine.FTotalDuration, -1) << none;
    }
    Engine.ApplyOption("t", "00:00:02.5");
    EXPECT_EQ(Engine.FRecordingTime, 2500000);
    EXPECT_EQ(Engine.FTotalDuration, 2500);

    Engine.ApplyOption("t", "1.0009"); // milliseconds truncate
    EXPECT_EQ(Engine.FRecordingTime, 1000900);
    EXPECT_EQ(Engine.FTotalDuration, 1000);

    Engine.ApplyOption("t", "250ms");
    EXPECT_EQ(Engine.FRecordingTime, 250000);

    // Longer than the millisecond total can count: the total saturates instead of wrapping.
    Engine.ApplyOption("t", "3600000000");
    EXPECT_EQ(Engine.FRecordingTime, int64_t(3600000000) * 1000000);
    EXPECT_EQ(Engine.FTotalDuration, INT32_MAX);
}

TEST_F(EngineOptionValues, DurationsUseTheLibrarySyntaxAndNameOptionAndValueWhenInvalid) {
    Engine.ApplyOption("ss", "-1.5");
    EXPECT_EQ(Engine.FStartTime, -1500000);
    Engine.ApplyOption("ss", "01:02:03.004");
    EXPECT_EQ(Engine.FStartTime, ((1 * 60 + 2) * 60 + 3) * int64_t(1000000) + 4000);
    Engine.ApplyOption("ss", "02:03");
    EXPECT_EQ(Engine.FStartTime, 123000000);
    Engine.ApplyOption("itsoffset", "-2");
    EXPECT_EQ(Engine.FInputTsOffset, -2000000);

    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("ss", "abc"); }),
              "Invalid duration specification for ss: abc");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("itsoffset", "1:2:3:4"); }),
              "Invalid duration specification for itsoffset: 1:2:3:4");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("t", "5x"); }),
              "Invalid duration specification for t: 5x");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("ss", ""); }),
              "Invalid duration specification for ss: ");
    EXPECT_THROW(Engine.ApplyOption("ss", "99999999999999999999"), FFmpegException); // out of range
    // A NUL would hide the rest of the text from the parser.
    EXPECT_THROW(Engine.ApplyOption("ss", std::string("5\0abc", 5)), FFmpegException);
    EXPECT_EQ(Engine.FStartTime, 123000000);
}

TEST_F(EngineOptionValues, TimestampIsADateRoundedToSeconds) {
    Engine.ApplyOption("timestamp", "1970-01-01 00:00:10Z");
    EXPECT_EQ(Engine.FRecordingTimestamp, 10);
    Engine.ApplyOption("timestamp", "1970-01-01 00:00:10.6Z");
    EXPECT_EQ(Engine.FRecordingTimestamp, 11);
    Engine.ApplyOption("timestamp", "2009-06-15T12:00:00Z");
    EXPECT_EQ(Engine.FRecordingTimestamp, 1245067200);

    int64_t before = std::time(nullptr);
    Engine.ApplyOption("timestamp", "now");
    EXPECT_GE(Engine.FRecordingTimestamp, before);
    EXPECT_LE(Engine.FRecordingTimestamp, std::time(nullptr) + 1);

    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("timestamp", "yesterday"); }),
              "Invalid date specification for timestamp: yesterday");
}
