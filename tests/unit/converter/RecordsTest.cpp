// Task records and the small conversions of their translation.
#include "RAzevaVUV.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

TEST(ConverterRecords, ResetRestoresEveryDefault) {
    TInputOptions in;
    EXPECT_EQ(in.StartTimeMs, -1);
    EXPECT_EQ(in.StartTime, -1);
    EXPECT_EQ(in.ProgramId, -1);
    in.FileName = "a.mp3";
    in.ExtOptions = "vn=1";
    in.StartTime = 5;
    in.Spare2 = 3;
    ResetInputOptions(in);
    EXPECT_EQ(in, TInputOptions{});
    EXPECT_TRUE(in.FileName.empty());

    TOutputOptions out;
    EXPECT_EQ(out.MuxDelay, -1.0f);
    EXPECT_EQ(out.AudioSyncMethod, 0);
    EXPECT_EQ(out.VideoSyncMethod, -1);
    EXPECT_EQ(out.TargetDefaultNorm, 1);
    EXPECT_EQ(out.Info.Timestamp, -1.0);
    EXPECT_EQ(out.Info.Year, -1);
    out.AudioCodec = "libmp3lame";
    out.DisableVideo = true;
    out.Join = true;
    out.Info.Title = "t";
    out.Info.Timestamp = 0.0;
    out.PadColor = 0x123456;
    ResetOutputOptions(out);
    EXPECT_EQ(out, TOutputOptions{});
}

// Items "start-end" in ms; a text that is no number counts as -1 ms; kept when end >= start and
// end >= 0; sorted by end.
TEST(ConverterHookRanges, ParsesKeepsAndSortsByEnd) {
    EXPECT_EQ(ParseHookRanges("0-1000,5000-4000,x-2000"),
              (std::vector<THookRange>{{0, 1000000}, {-1000, 2000000}}));
    EXPECT_EQ(ParseHookRanges(" 3000 - 4000 , 100-200,7000, 10-"),
              (std::vector<THookRange>{{100000, 200000}, {3000000, 4000000}}));
    EXPECT_TRUE(ParseHookRanges("").empty());
    EXPECT_TRUE(ParseHookRanges("  ,  ").empty());
}

namespace {
// Runs the body with TZ set to `zone`, restoring the previous zone afterwards.
template <class F> void WithTimeZone(const char* zone, F body) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", zone, 1);
    tzset();
    body();
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
} // namespace

TEST(ConverterRecords, DateTimeToUnixSecondsFollowsLocalZoneRules) {
    WithTimeZone("UTC0", [] {
        EXPECT_EQ(DateTimeToUnixSeconds(25569.0), 0);
        EXPECT_EQ(DateTimeToUnixSeconds(25569.5), 43200);
        // 2009-06-15 00:00:00 is day 39979; one second is 1/86400 of a day, rounded.
        EXPECT_EQ(DateTimeToUnixSeconds(39979.0 + 1.4 / 86400), 1245024001);
    });
    // Central Europe: one hour ahead in winter, two in summer.
    WithTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", [] {
        EXPECT_EQ(DateTimeToUnixSeconds(39979.5), 1245024000 + 43200 - 7200); // 15 June 12:00 local
        EXPECT_EQ(DateTimeToUnixSeconds(39814.5), 1230768000 + 43200 - 3600); // 1 January 12:00 local
    });
}

TEST(ConverterRecords, ColorToRGBSwapsToolkitOrderAndResolvesSystemColours) {
    EXPECT_EQ(ColorToRGB(0), 0u);
    EXPECT_EQ(ColorToRGB(0x00112233), 0x332211u);                      // 0x00BBGGRR
    EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x80000005)), 0xFFFFFFu); // window background
    EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x800000FF)), 0u);        // unknown system colour
}
