// clipwell-cut's command line: marks in both notations and the usage errors.
#include "CutCommandLine.h"

#include <gtest/gtest.h>

TEST(CutCommandLine, MarkTimes) {
    int64_t ms = -1;
    EXPECT_TRUE(ParseMarkTime("2500", ms));
    EXPECT_EQ(ms, 2500);
    EXPECT_TRUE(ParseMarkTime("0", ms));
    EXPECT_EQ(ms, 0);
    EXPECT_TRUE(ParseMarkTime("00:00:02.500", ms));
    EXPECT_EQ(ms, 2500);
    EXPECT_TRUE(ParseMarkTime("01:02:03.456", ms));
    EXPECT_EQ(ms, 3723456);
    EXPECT_TRUE(ParseMarkTime("1:02.5", ms));
    EXPECT_EQ(ms, 62500);
    EXPECT_TRUE(ParseMarkTime("100:00:00.000", ms));
    EXPECT_EQ(ms, 360000000);
    EXPECT_TRUE(ParseMarkTime("90:00", ms));
    EXPECT_EQ(ms, 5400000);
    for (const char* bad : {"", "2.5", "-5", "abc", "1:", ":5", "1:60", "1:60:00", "00:00:02.5000", "1:2:3:4",
                            "00:00:02.", "2500ms", "1e3"}) {
        EXPECT_FALSE(ParseMarkTime(bad, ms)) << bad;
    }
}

TEST(CutCommandLine, Commands) {
    TCutOptions options;
    std::string error;
    ASSERT_TRUE(ParseCutCommandLine(
        {"select", "in.mp3", "out.mp3", "--start", "2500", "--end=00:00:05.000", "--overwrite", "--progress"},
        options, error))
        << error;
    EXPECT_EQ(options.Command, TCutCommand::Select);
    EXPECT_EQ(options.Input, "in.mp3");
    EXPECT_EQ(options.Output, "out.mp3");
    EXPECT_EQ(options.StartMs, 2500);
    EXPECT_EQ(options.EndMs, 5000);
    EXPECT_TRUE(options.Overwrite);
    EXPECT_TRUE(options.Progress);
    EXPECT_FALSE(options.Quiet);

    ASSERT_TRUE(ParseCutCommandLine({"--quiet", "delete", "--start", "0", "in.wav", "--end", "1", "o"},
                                    options, error));
    EXPECT_EQ(options.Command, TCutCommand::Delete);
    EXPECT_TRUE(options.Quiet);
    EXPECT_EQ(options.Output, "o");
    EXPECT_FALSE(options.Lossless);
    ASSERT_TRUE(ParseCutCommandLine({"delete", "--lossless", "--start", "0", "in.wav", "--end", "1", "o"},
                                    options, error));
    EXPECT_TRUE(options.Lossless);
    EXPECT_FALSE(ParseCutCommandLine({"info", "a.mp3", "--lossless"}, options, error));

    ASSERT_TRUE(ParseCutCommandLine({"info", "a.wav"}, options, error));
    EXPECT_EQ(options.Command, TCutCommand::Info);
    ASSERT_TRUE(ParseCutCommandLine({"select", "--help"}, options, error));
    EXPECT_EQ(options.Command, TCutCommand::Help);
    ASSERT_TRUE(ParseCutCommandLine({"select", "--start", "1", "--end", "2", "--", "-in.mp3", "-out.mp3"},
                                    options, error));
    EXPECT_EQ(options.Input, "-in.mp3");
}

TEST(CutCommandLine, UsageErrors) {
    TCutOptions options;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"cut", "a", "b"},
        {"info"},
        {"info", "a", "b"},
        {"info", "a", "--start", "1"},
        {"select", "a", "b", "--start", "1"},
        {"select", "a", "--start", "1", "--end", "2"},
        {"select", "a", "b", "--start", "x", "--end", "2"},
        {"select", "a", "b", "--start", "1", "--end"},
        {"select", "a", "b", "--start", "1", "--end", "2", "--force"},
        {"select", "a", "b", "--start", "1", "--end", "2", "--quiet=yes"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseCutCommandLine(args, options, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

// Marks travel on in microseconds: any mark whose microseconds would not fit 64 bits is refused
// rather than wrapped (the largest hour count that fits is 2562047).
TEST(CutCommandLine, MarksBeyondTheRangeAreRefused) {
    int64_t ms = 0;
    for (const char* bad : {"2562054119:00:00", "2562054119:00:01", "9999999999:59:59.999", "999999999999:00",
                            "9223372036854776", "99999999999999999999"})
        EXPECT_FALSE(ParseMarkTime(bad, ms)) << bad;
    EXPECT_TRUE(ParseMarkTime("2562047:00:00", ms));
    EXPECT_EQ(ms, int64_t(2562047) * 3600 * 1000);
    EXPECT_TRUE(ParseMarkTime("999999999999", ms)); // 12 digits of milliseconds
}
