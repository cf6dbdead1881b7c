// clipwell-cut waveform: JSON and .dat files match an independent decode (check_waveform.py
// over the ffmpeg command line), the PNG has the asked size, and bad input fails cleanly.
#include "CutProcess.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

class WaveformCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        char pattern[] = "/tmp/clipwell-waveform-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Root = std::string(pattern) + "/";
    }
    void TearDown() override { [[maybe_unused]] int rc = std::system(("rm -rf '" + Root + "'").c_str()); }
    std::string Root;
};

TEST_F(WaveformCli, DataFilesMatchTheIndependentlyDecodedMinMaxPerPixel) {
    if (std::system("command -v ffmpeg >/dev/null && command -v python3 >/dev/null") != 0)
        GTEST_SKIP() << "needs the ffmpeg command line and python3";
    struct TCase {
        TMediaSpec Spec;
        std::vector<std::string> Options;
        std::string Ext, StartMs;
    };
    const TCase cases[] = {
        {{TMediaFormat::Mp3Cbr, 30.0, 44100, 2, 128000},
         {"--width", "640", "--start", "1500", "--end", "29000"},
         ".json",
         "1500"},
        {{TMediaFormat::Ogg, 8.0, 48000, 1, 96000}, {"--bits", "8"}, ".dat", "0"},
        {{TMediaFormat::Wav16, 25.0, 44100, 2, 0}, {"--width", "333", "--bits", "8"}, ".json", "0"},
        {{TMediaFormat::Mp3Vbr, 25.0, 44100, 2, 0}, {"--start", "00:00:12.345"}, ".dat", "12345"},
    };
    for (const TCase& test : cases) {
        std::string input = TestMediaFile(test.Spec), output = Root + "peaks" + test.Ext;
        SCOPED_TRACE(input + test.Ext);
        std::vector<std::string> args = {"waveform", input, output, "--overwrite", "--quiet"};
        args.insert(args.end(), test.Options.begin(), test.Options.end());
        TCutResult result = RunCut(args);
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        std::string command = std::string("python3 ") + CHECK_WAVEFORM_SCRIPT + " '" + input + "' '" +
                              output + "' " + test.StartMs + " > " + Root + "check.txt 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(Root + "check.txt");
    }
}

TEST_F(WaveformCli, PictureHasTheAskedSizeAndBadInputLeavesNoFile) {
    std::string input = TestMediaFile({TMediaFormat::Mp3Cbr, 30.0, 44100, 2, 128000});
    std::string png = Root + "overview.png";
    TCutResult result = RunCut({"waveform", input, png, "--width", "480", "--height", "90"});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, png + "\n");
    std::string bytes = ReadFile(png);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(BigEndian32(bytes, 16), 480u);
    EXPECT_EQ(BigEndian32(bytes, 20), 90u);
    // An existing output is kept without --overwrite.
    EXPECT_EQ(RunCut({"waveform", input, png}).ExitCode, 3);
    EXPECT_EQ(ReadFile(png), bytes);

    struct TBad {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Err;
    };
    const TBad bad[] = {
        {{"waveform", ZeroByteFile(".mp3"), Root + "a.json"}, 1, ZeroByteFile(".mp3") + ": "},
        {{"waveform", RandomBytesFile(".wav"), Root + "a.png"}, 1, RandomBytesFile(".wav") + ": "},
        {{"waveform", input, Root + "a.txt"}, 2, ".png, .json or .dat"},
        {{"waveform", input, Root + "a.png", "--width", "0"}, 2, "not a width"},
        {{"waveform", input, Root + "a.png", "--start", "5000", "--end", "4000"},
         2,
         "after the starting point"},
        {{"waveform", input, Root + "a.png", "--start", "40000"}, 3, "beyond the end"},
    };
    for (const TBad& test : bad) {
        SCOPED_TRACE(test.Args[1] + " " + test.Args[2]);
        TCutResult run = RunCut(test.Args);
        EXPECT_EQ(run.ExitCode, test.ExitCode) << run.Err;
        EXPECT_NE(run.Err.find(test.Err), std::string::npos) << run.Err;
    }
    for (const char* name : {"a.json", "a.png", "a.txt"})
        EXPECT_FALSE(FileExists(Root + name)) << name;
    // Nothing but the picture: no temporary file left behind.
    EXPECT_EQ(std::system(("test $(ls -A '" + Root + "' | wc -l) -eq 1").c_str()), 0);
}

} // namespace
