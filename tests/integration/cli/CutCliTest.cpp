// clipwell-cut as a user runs it: every exit code, info, the output name, --overwrite,
// --progress and --quiet, Ctrl+C, and bad input and bad output places.
#include "CutProcess.h"
#include "TestFiles.h"

#include "MyUtils.h"
#include "SaveWorkflow.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace WorkflowText;

namespace {


std::map<std::string, std::string> KeyValues(const std::string& text,
                                             std::vector<std::string>* keys = nullptr) {
    std::map<std::string, std::string> values;
    std::string rest = text;
    while (!rest.empty()) {
        std::string line;
        SplitString(rest, "\n", true, line);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        values[line.substr(0, eq)] = line.substr(eq + 1);
        if (keys) keys->push_back(line.substr(0, eq));
    }
    return values;
}

class CutCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        ASSERT_EQ(::access(CutProgram().c_str(), X_OK), 0) << CutProgram();
        char pattern[] = "/tmp/clipwell-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FRoot = std::string(pattern) + "/";
    }
    void TearDown() override {
        [[maybe_unused]] int rc =
            ::system(("chmod -R u+rwx '" + FRoot + "' && rm -rf '" + FRoot + "'").c_str());
    }

    std::string Scratch(const std::string& name = "") const { return FRoot + name; }
    std::vector<std::string> Entries(const std::string& folder) const { return FolderEntries(folder); }
    std::string CopyIn(const std::string& file, const std::string& name) {
        std::ofstream(FRoot + name, std::ios::binary) << ReadAll(file);
        return FRoot + name;
    }
    // Whether conversions run at all (the engine may still be incomplete).
    bool Converts() {
        std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 0.5, 8000, 1});
        TCutResult r =
            RunCut({"select", input, Scratch("probe.wav"), "--start", "100", "--end", "200", "--quiet"});
        ::unlink(Scratch("probe.wav").c_str());
        FWhyNot = r.Err;
        return r.ExitCode == 0;
    }

    std::string FRoot;
    std::string FWhyNot;
};

#define SKIP_WITHOUT_CONVERSIONS()                                                                           \
    do {                                                                                                     \
        if (!Converts()) GTEST_SKIP() << "conversions do not run yet: " << FWhyNot;                          \
    } while (0)

} // namespace

TEST_F(CutCli, HelpAndUsageErrors) {
    TCutResult help = RunCut({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Out.rfind("Usage: clipwell-cut", 0), 0u) << help.Out;
    EXPECT_TRUE(help.Err.empty());
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"cut", "a", "b"},
             {"select", "a.wav", "b.wav", "--start", "1.5", "--end", "2"},
             {"info"},
             {"delete", "a.wav", "b.wav", "--start", "1"},
             {"select", "a.wav", "b.wav", "--start", "1", "--end", "2", "-x"}}) {
        TCutResult r = RunCut(args);
        EXPECT_EQ(r.ExitCode, 2) << ::testing::PrintToString(args);
        EXPECT_NE(r.Err.find("Usage: clipwell-cut"), std::string::npos) << r.Err;
        EXPECT_TRUE(r.Out.empty());
    }
}

TEST_F(CutCli, InfoPrintsWhatTheWindowLearns) {
    TCutResult wav = RunCut({"info", TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, 44100, 2})});
    ASSERT_EQ(wav.ExitCode, 0) << wav.Err;
    std::vector<std::string> keys;
    auto values = KeyValues(wav.Out, &keys);
    EXPECT_EQ(keys, (std::vector<std::string>{"codec", "channels", "sample_rate", "bit_rate", "duration_us",
                                              "streams", "audio_streams"}));
    EXPECT_EQ(values["codec"], "pcm_s16le");
    EXPECT_EQ(values["channels"], "2");
    EXPECT_EQ(values["sample_rate"], "44100");
    EXPECT_EQ(values["bit_rate"], "1411200");
    EXPECT_EQ(values["duration_us"], "6000000");
    EXPECT_EQ(values["streams"], "1");
    EXPECT_EQ(values["audio_streams"], "1");

    auto mp3 =
        KeyValues(RunCut({"info", TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 6.0, 48000, 1})}).Out);
    EXPECT_EQ(mp3["codec"], "mp3float");
    EXPECT_EQ(mp3["channels"], "1");
    EXPECT_EQ(mp3["sample_rate"], "48000");
    EXPECT_EQ(mp3["bit_rate"], "128000");
    EXPECT_NEAR(StrToFloat(mp3["duration_us"]), 6e6, 30000.0);

    auto art = KeyValues(RunCut({"info", CoverArtMp3()}).Out);
    EXPECT_EQ(art["streams"], "2");
    EXPECT_EQ(art["audio_streams"], "1");
}

TEST_F(CutCli, InfoRefusesWhatTheWindowRefuses) {
    struct TCase {
        std::string File;
        std::string Message;
    };
    for (const TCase& c :
         {TCase{CopyIn(TwoAudioStreamFile(), "two.ogg"), kNotAudio},
          TCase{CopyIn(VideoStreamFile(), "video.wma"), kNotAudio},
          TCase{TwoAudioStreamFile(), kUnsupportedFormat}, TCase{Scratch("song"), kUnsupportedFormat},
          TCase{ZeroByteFile(), ZeroByteFile()}, TCase{RandomBytesFile(), RandomBytesFile()},
          TCase{TextAsMp3(), TextAsMp3()}, TCase{Scratch("missing.mp3"), Scratch("missing.mp3")}}) {
        TCutResult r = RunCut({"info", c.File});
        EXPECT_EQ(r.ExitCode, 3) << c.File;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << c.File << ": " << r.Err;
        EXPECT_TRUE(r.Out.empty());
    }
}

TEST_F(CutCli, SelectAndDeleteWriteTheInputsExtension) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 4.0, 44100, 2});
    TCutResult select =
        RunCut({"select", input, Scratch("part.dat"), "--start", "00:00:01.000", "--end", "2500"});
    ASSERT_EQ(select.ExitCode, 0) << select.Err;
    EXPECT_EQ(select.Out, Scratch("part.wav") + "\n");
    EXPECT_TRUE(select.Err.empty()) << select.Err;
    EXPECT_EQ(DecodeAudioFile(Scratch("part.wav")).Frames(), 66150);

    TCutResult del =
        RunCut({"delete", input, Scratch("rest"), "--start", "1000", "--end", "2500", "--quiet"});
    ASSERT_EQ(del.ExitCode, 0) << del.Err;
    EXPECT_TRUE(del.Out.empty());
    EXPECT_TRUE(del.Err.empty());
    EXPECT_EQ(DecodeAudioFile(Scratch("rest.wav")).Frames(), 4 * 44100 - 66150);
    EXPECT_EQ(Entries(Scratch()), (std::vector<std::string>{"part.wav", "rest.wav"}));
}

TEST_F(CutCli, ExistingOutputNeedsOverwrite) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    std::ofstream(Scratch("out.wav")) << "previous";
    TCutResult refused = RunCut({"select", input, Scratch("out.wav"), "--start", "0", "--end", "1000"});
    EXPECT_EQ(refused.ExitCode, 3);
    EXPECT_NE(refused.Err.find("--overwrite"), std::string::npos) << refused.Err;
    EXPECT_EQ(ReadAll(Scratch("out.wav")), "previous");

    TCutResult replaced =
        RunCut({"select", input, Scratch("out.wav"), "--start", "0", "--end", "1000", "--overwrite"});
    EXPECT_EQ(replaced.ExitCode, 0) << replaced.Err;
    EXPECT_EQ(DecodeAudioFile(Scratch("out.wav")).Frames(), 44100);
    EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{"out.wav"});
}

TEST_F(CutCli, RefusalsExitWithThree) {
    std::string input = CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0}), "in.wav");
    struct TCase {
        std::vector<std::string> Args;
        std::string Message;
    };
    for (const TCase& c : {
             TCase{{"select", input, Scratch("in.txt"), "--start", "0", "--end", "1000", "--overwrite"},
                   kSameAsInput},
             TCase{{"select", input, Scratch("o.wav"), "--start", "1000", "--end", "1000"}, kEndBeforeStart},
             TCase{{"delete", input, Scratch("o.wav"), "--start", "2000", "--end", "1000"}, kEndBeforeStart},
             TCase{{"delete", input, Scratch("o.wav"), "--start", "0", "--end", "3000"}, kNothingLeft},
             TCase{{"select", CopyIn(TwoAudioStreamFile(), "two.ogg"), Scratch("o.ogg"), "--start", "0",
                    "--end", "1"},
                   kNotAudio},
             TCase{{"select", Scratch("missing.mp3"), Scratch("o.mp3"), "--start", "0", "--end", "1"},
                   Scratch("missing.mp3")},
         }) {
        TCutResult r = RunCut(c.Args);
        EXPECT_EQ(r.ExitCode, 3) << ::testing::PrintToString(c.Args) << r.Err;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    }
    EXPECT_EQ(Entries(Scratch()), (std::vector<std::string>{"in.wav", "two.ogg"}));
}

TEST_F(CutCli, UnwritableOutputPlacesFailWithOne) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 3.0});
    TCutResult missing =
        RunCut({"select", input, Scratch("nowhere/out.mp3"), "--start", "0", "--end", "1000"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("nowhere/out.mp3"), std::string::npos) << missing.Err;
    EXPECT_NE(missing.Err.find("No such file or directory"), std::string::npos) << missing.Err;

    // A read-only folder; root ignores permission bits, so it is a read-only mount.
    TCutResult readOnly;
    std::vector<std::string> listing;
    ASSERT_EQ(::mkdir(Scratch("ro").c_str(), 0777), 0);
    if (!RunCutOnTmpfs(Scratch("ro"), "ro",
                       {"select", input, Scratch("ro/out.mp3"), "--start", "0", "--end", "1000"}, readOnly,
                       listing)) {
        GTEST_SKIP() << "no private tmpfs mounts here";
    }
    EXPECT_EQ(readOnly.ExitCode, 1) << readOnly.Err;
    EXPECT_NE(readOnly.Err.find("Read-only file system"), std::string::npos) << readOnly.Err;
    EXPECT_TRUE(listing.empty());
}

TEST_F(CutCli, FullDiskLeavesNoPartialFile) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, 44100, 2}), "in.wav");
    std::string before = ReadAll(input);
    ASSERT_EQ(::mkdir(Scratch("small").c_str(), 0777), 0);
    // Select: the write fails part-way (1 MiB of audio into 64 KiB).
    TCutResult select;
    std::vector<std::string> listing;
    if (!RunCutOnTmpfs(Scratch("small"), "size=64k",
                       {"select", input, Scratch("small/out.wav"), "--start", "0", "--end", "6000"}, select,
                       listing)) {
        GTEST_SKIP() << "no private tmpfs mounts here";
    }
    EXPECT_EQ(select.ExitCode, 1) << select.Err;
    EXPECT_NE(select.Err.find(Scratch("small/out.wav") + ": the disk is full."), std::string::npos)
        << select.Err;
    EXPECT_TRUE(listing.empty()) << ::testing::PrintToString(listing);
    // Delete: the free-space check refuses before any part is written.
    TCutResult del;
    ASSERT_TRUE(RunCutOnTmpfs(Scratch("small"), "size=64k",
                              {"delete", input, Scratch("small/out.wav"), "--start", "1000", "--end", "2000"},
                              del, listing));
    EXPECT_EQ(del.ExitCode, 3) << del.Err;
    EXPECT_NE(del.Err.find(kNoDiskSpace), std::string::npos) << del.Err;
    EXPECT_TRUE(listing.empty()) << ::testing::PrintToString(listing);
    EXPECT_EQ(ReadAll(input), before);
}

TEST_F(CutCli, CtrlCStopsLikeTheStopButton) {
    SKIP_WITHOUT_CONVERSIONS();
    // Long enough that the conversion is still running when the first progress line appears.
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, 44100, 2});
    for (const char* mode : {"select", "delete"}) {
        std::ofstream(Scratch("out.mp3")) << "previous";
        TCutProcess process;
        // Most of the file is encoded in either mode, so the run lasts well beyond its first line.
        bool select = std::string(mode) == "select";
        ASSERT_TRUE(process.Start({CutProgram(), mode, input, Scratch("out.mp3"), "--start", "1000", "--end",
                                   select ? "110000" : "2000", "--overwrite", "--progress"}));
        ASSERT_TRUE(process.WaitForStderr("Progress: ", 60000)) << mode;
        process.Signal(SIGINT);
        TCutResult r = process.Finish();
        EXPECT_EQ(r.ExitCode, 130) << mode << ": " << r.Err;
        EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{"out.mp3"}) << mode;
        EXPECT_EQ(ReadAll(Scratch("out.mp3")), "previous") << mode;
    }
}

TEST_F(CutCli, ProgressLines) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, 44100, 2});
    TCutResult r =
        RunCut({"select", input, Scratch("out.mp3"), "--start", "0", "--end", "60000", "--progress"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string rest = r.Err;
    int lines = 0;
    double last = -1.0;
    while (!rest.empty()) {
        std::string line;
        SplitString(rest, "\n", true, line);
        ASSERT_EQ(line.rfind("Progress: ", 0), 0u) << line;
        ASSERT_EQ(line.back(), '%') << line;
        double value = StrToFloat(line.substr(10, line.size() - 11));
        EXPECT_GE(value, last);
        EXPECT_LE(value, 100.0);
        last = value;
        ++lines;
    }
    EXPECT_GE(lines, 1);
}

// Broken inputs: refused with a message or cut cleanly; never a crash, never a partial file, and
// the input is left as it was.
TEST_F(CutCli, BrokenInputs) {
    for (const std::string& file :
         {ZeroByteFile(), RandomBytesFile(), TextAsMp3(), TruncatedMp3(), CorruptMiddleMp3()}) {
        std::string input = CopyIn(file, "in.mp3");
        std::string before = ReadAll(input);
        TCutResult r = RunCut({"select", input, Scratch("out.mp3"), "--start", "500", "--end", "1500"});
        EXPECT_EQ(r.TermSignal, 0) << file;
        EXPECT_TRUE(r.ExitCode == 0 || r.ExitCode == 1 || r.ExitCode == 3) << file << ": " << r.ExitCode;
        if (r.ExitCode != 0) {
            EXPECT_FALSE(r.Err.empty()) << file;
            EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{"in.mp3"}) << file;
        }
        EXPECT_EQ(ReadAll(input), before) << file;
        ::unlink(Scratch("out.mp3").c_str());
    }
}

// The final step: a file that appears under the output's name while a save runs is kept, and of
// two runs writing one new name only one wins. A replaced file keeps its mode.
TEST_F(CutCli, FinalStepReplacesOnlyWithConsent) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, 44100, 2});
    TCutProcess late;
    ASSERT_TRUE(late.Start({CutProgram(), "select", input, Scratch("out.mp3"), "--start", "1000", "--end",
                            "110000", "--progress"}));
    ASSERT_TRUE(late.WaitForStderr("Progress: ", 60000));
    std::ofstream(Scratch("out.mp3")) << "precious";
    TCutResult r = late.Finish();
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    EXPECT_NE(r.Err.find("appeared while saving"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(Scratch("out.mp3")), "precious");
    EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{"out.mp3"});

    std::vector<std::string> args{CutProgram(), "select", input,   Scratch("same.mp3"),
                                  "--start",    "0",      "--end", "30000"};
    TCutProcess first, second;
    ASSERT_TRUE(first.Start(args));
    ASSERT_TRUE(second.Start(args));
    int a = first.Finish().ExitCode, b = second.Finish().ExitCode;
    EXPECT_TRUE((a == 0 && b == 3) || (a == 3 && b == 0)) << a << " " << b;
    EXPECT_EQ(Entries(Scratch()), (std::vector<std::string>{"out.mp3", "same.mp3"}));

    ASSERT_EQ(::chmod(Scratch("same.mp3").c_str(), 0600), 0);
    ASSERT_EQ(RunCut({"select", input, Scratch("same.mp3"), "--start", "0", "--end", "500", "--overwrite"})
                  .ExitCode,
              0);
    struct stat info;
    ASSERT_EQ(::stat(Scratch("same.mp3").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A second Ctrl+C still cleans up; a killed run's partial output and temporary folder are
// removed by the next save into that folder, and nothing without the marker is touched.
TEST_F(CutCli, InterruptedOrKilledRunsLeaveNothing) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, 44100, 2});
    std::vector<std::string> args{CutProgram(), "delete", input,  Scratch("out.mp3"), "--start",
                                  "1000",       "--end",  "2000", "--progress"};
    {
        TCutProcess twice;
        ASSERT_TRUE(twice.Start(args));
        ASSERT_TRUE(twice.WaitForStderr("Progress: ", 60000));
        twice.Signal(SIGINT);
        twice.Signal(SIGINT);
        TCutResult r = twice.Finish();
        EXPECT_EQ(r.ExitCode, 130) << r.Err;
        EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{});
    }
    {
        TCutProcess killed;
        ASSERT_TRUE(killed.Start(args));
        ASSERT_TRUE(killed.WaitForStderr("Progress: ", 60000));
        killed.Signal(SIGKILL);
        killed.Finish();
    }
    EXPECT_FALSE(Entries(Scratch()).empty()) << "the killed run left nothing to clean up";
    // Look-alikes of other programs and folders of the user stay.
    std::ofstream(Scratch(".out.mp3.AbC123")) << "theirs";
    ASSERT_EQ(::mkdir(Scratch("TemAudio-abc123").c_str(), 0777), 0);
    TCutResult next =
        RunCut({"select", input, Scratch("short.mp3"), "--start", "0", "--end", "500", "--quiet"});
    EXPECT_EQ(next.ExitCode, 0) << next.Err;
    EXPECT_EQ(Entries(Scratch()),
              (std::vector<std::string>{".out.mp3.AbC123", "TemAudio-abc123", "short.mp3"}));
}

// Names that look like network addresses or pipes are local files; only regular files are cut.
TEST_F(CutCli, NamesAreLocalRegularFiles) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string source = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 2.0, 8000, 1});
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string http = "http:127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + ".wav";
    for (const std::string& name : {http, std::string("pipe:x.wav")}) {
        CopyIn(source, name);
        TCutProcess process; // relative names, as a user types them in that folder
        ASSERT_TRUE(
            process.Start({"/bin/sh", "-c", "cd \"$0\" && exec \"$@\" </dev/null", Scratch(), CutProgram(),
                           "select", name, "cut-" + name, "--start", "500", "--end", "1500", "--quiet"}));
        TCutResult r = process.Finish();
        ASSERT_EQ(r.ExitCode, 0) << name << ": " << r.Err;
        EXPECT_EQ(DecodeAudioFile(Scratch("cut-" + name)).Frames(), 8000) << name;
    }
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "a local file name reached the network";
    ::close(listener);

    ASSERT_EQ(::mkfifo(Scratch("fifo.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", Scratch("zero.mp3").c_str()), 0);
    ASSERT_EQ(::mkdir(Scratch("folder.mp3").c_str(), 0777), 0);
    for (const char* name : {"fifo.mp3", "zero.mp3", "folder.mp3"}) {
        TCutResult r = RunCut({"select", Scratch(name), Scratch("o.mp3"), "--start", "0", "--end", "1000"});
        EXPECT_EQ(r.ExitCode, 3) << name << ": " << r.Err;
        EXPECT_EQ(r.Err.find("Error while opening file"), std::string::npos) << r.Err;
        EXPECT_FALSE(FileExists(Scratch("o.mp3")));
    }
}

// Marks beyond the 64-bit range or the file, a missing output folder, long output names and
// names after "--".
TEST_F(CutCli, MarksAndNamesAtTheirLimits) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0, 8000, 1});
    EXPECT_EQ(RunCut({"select", input, Scratch("o.wav"), "--start", "2562054119:00:00", "--end",
                      "2562054119:00:01"})
                  .ExitCode,
              2);
    TCutResult beyond = RunCut({"select", input, Scratch("o.wav"), "--start", "9000", "--end", "10000"});
    EXPECT_EQ(beyond.ExitCode, 3);
    EXPECT_NE(beyond.Err.find(kStartBeyondEnd), std::string::npos) << beyond.Err;
    TCutResult missing =
        RunCut({"delete", input, Scratch("nowhere/o.wav"), "--start", "1000", "--end", "2000"});
    EXPECT_EQ(missing.ExitCode, 1) << missing.Err;
    EXPECT_EQ(Entries(Scratch()), std::vector<std::string>{});

    std::string longName = std::string(251, 'n') + ".wav"; // 255 bytes, the most a name may have
    TCutResult full =
        RunCut({"select", input, Scratch(longName), "--start", "0", "--end", "1000", "--quiet"});
    EXPECT_EQ(full.ExitCode, 0) << full.Err;
    EXPECT_TRUE(FileExists(Scratch(longName)));
    TCutResult dashed =
        RunCut({"select", "--start", "0", "--end", "1000", "--quiet", "--", input, Scratch("-dash.wav")});
    EXPECT_EQ(dashed.ExitCode, 0) << dashed.Err;
    EXPECT_TRUE(FileExists(Scratch("-dash.wav")));
    EXPECT_NE(RunCut({"--help"}).Out.find("  --  "), std::string::npos);
}
