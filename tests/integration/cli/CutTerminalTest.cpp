// clipwell-cut as scripts and terminals see it: info --json read back by an independent JSON
// parser, the progress line on a pseudo-terminal, and an installed copy finding its private
// runtime library folder.
#include "CutProcess.h"

#include "InfoOutput.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

QJsonObject ParseObject(const std::string& text) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    EXPECT_TRUE(document.isObject()) << text;
    return document.object();
}

// Runs clipwell-cut with stderr on a pseudo-terminal `columns` wide; returns what the terminal
// received and the exit code.
std::string RunOnTerminal(const std::vector<std::string>& args, int columns, int& exitCode) {
    int master = -1, slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return "";
    std::vector<std::string> argv{CutProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    std::string received;
    char buffer[4096];
    for (ssize_t got; rc == 0 && ((got = ::read(master, buffer, sizeof(buffer))) > 0 || errno == EINTR);)
        if (got > 0) received.append(buffer, size_t(got));
    ::close(master); // EIO: the program closed its side
    int status = 0;
    exitCode = rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return received;
}

} // namespace

TEST(CutTerminal, InfoJsonHoldsTheKeyValueFields) {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    for (const TMediaSpec& spec :
         {TMediaSpec{TMediaFormat::Wav16, 2.0, 44100, 2}, TMediaSpec{TMediaFormat::Mp3Cbr, 2.0, 48000, 1}}) {
        std::string file = TestMediaFile(spec);
        TCutResult lines = RunCut({"info", file});
        TCutResult json = RunCut({"info", "--json", file});
        ASSERT_EQ(json.ExitCode, 0) << json.Err;
        ASSERT_EQ(json.Out.find('\n'), json.Out.size() - 1) << "one line: " << json.Out;
        QJsonObject object = ParseObject(json.Out);
        std::string rest = lines.Out;
        size_t keys = 0, previous = 0;
        while (!rest.empty()) {
            std::string line, key;
            SplitString(rest, "\n", true, line);
            SplitString(line, "=", true, key);
            QJsonValue value = object.value(QString::fromStdString(key));
            if (key == "codec")
                EXPECT_EQ(value.toString().toStdString(), line);
            else
                EXPECT_TRUE(value.isDouble() && value.toInteger() == std::stoll(line))
                    << key << " " << json.Out;
            size_t at = json.Out.find("\"" + key + "\":"); // the same order as the lines
            EXPECT_GT(at, previous) << key;
            previous = at;
            ++keys;
        }
        EXPECT_EQ(keys, 7u);
        EXPECT_EQ(size_t(object.size()), keys);
    }
    // Texts that JSON must escape come back as they were.
    std::string awkward = "a\"b\\c\nd\te\x01\x7f caf\xc3\xa9";
    QJsonObject object = ParseObject(FormatInfoJson({{"codec", awkward}, {"bit_rate", int64_t{-1}}}));
    EXPECT_EQ(object.value("codec").toString().toStdString(), awkward);
    EXPECT_EQ(object.value("bit_rate").toInteger(), -1);
}

// On a terminal the progress is one line redrawn with "\r": percentage, bar and time left, within
// the terminal's width, ending at 100% with the time taken and a line break.
TEST(CutTerminal, ProgressLineOnATerminal) {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, 44100, 2});
    std::string output = fs::temp_directory_path() / ("clipwell-pty-" + std::to_string(::getpid()) + ".mp3");
    int exitCode = -1;
    const int columns = 60;
    std::string screen = RunOnTerminal(
        {"select", input, output, "--start", "0", "--end", "30000", "--progress"}, columns, exitCode);
    ::unlink(output.c_str());
    ASSERT_EQ(exitCode, 0) << screen;
    ASSERT_GE(screen.size(), 2u);
    EXPECT_EQ(screen.substr(screen.size() - 2), "\r\n") << "the line ends when the save does";
    EXPECT_EQ(screen.find("Progress:"), std::string::npos);

    static const std::regex kLine(
        R"( *(\d+\.\d\d)% \[(#*)(\.*)\] (--:-- left|\d+:\d\d left|done in \d+:\d\d) *)");
    std::vector<std::string> draws;
    std::string rest = screen.substr(0, screen.size() - 2);
    while (!rest.empty()) {
        std::string draw;
        SplitString(rest, "\r", true, draw);
        if (!draw.empty()) draws.push_back(draw);
    }
    ASSERT_GE(draws.size(), 2u) << screen;
    double last = -1.0;
    for (const std::string& draw : draws) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(draw, m, kLine)) << "\"" << draw << "\"";
        EXPECT_LT(draw.size(), size_t(columns)) << draw;
        double percent = std::stod(m[1]);
        int width = int(m[2].length() + m[3].length());
        EXPECT_EQ(m[2].length(), size_t(percent / 100.0 * width)) << draw;
        EXPECT_GE(percent, last) << draw;
        last = percent;
    }
    EXPECT_EQ(draws.back().rfind("100.00% [", 0), 0u) << draws.back();
    EXPECT_NE(draws.back().find("done in"), std::string::npos) << draws.back();
}

// An installed copy keeps the runtime library folder in a private folder under lib/, found from
// the program's own place when there is no Dll/ beside it.
TEST(CutTerminal, InstalledCopyFindsItsPrivateLibraryFolder) {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    fs::path root = fs::temp_directory_path() / ("clipwell-install-" + std::to_string(::getpid()));
    fs::create_directories(root / "bin");
    fs::copy_file(CutProgram(), root / "bin/clipwell-cut", fs::copy_options::overwrite_existing);
    std::string file = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0, 8000, 1});
    auto info = [&] {
        TCutProcess process;
        EXPECT_TRUE(process.Start({(root / "bin/clipwell-cut").string(), "info", file}));
        return process.Finish();
    };
    TCutResult without = info();
    EXPECT_EQ(without.ExitCode, 1);
    EXPECT_NE(without.Err.find("libmyutil.so"), std::string::npos) << without.Err;

    fs::path libraries = root / CLIPWELL_INSTALL_LIBRARY_DIR;
    fs::create_directories(libraries);
    fs::copy_file(TestDllFolder() + "libmyutil.so", libraries / "libmyutil.so");
    TCutResult installed = info();
    EXPECT_EQ(installed.ExitCode, 0) << installed.Err;
    EXPECT_NE(installed.Out.find("codec=pcm_s16le"), std::string::npos) << installed.Out;
    fs::remove_all(root);
}
