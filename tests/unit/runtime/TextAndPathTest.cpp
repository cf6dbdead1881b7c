// Text conversions, SplitString, path and environment helpers of MyUtils.
#include "MyUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

struct TSplit {
    std::string Text, Separator;
    bool Remove;
    std::string Head, Rest;
};

TEST(RuntimeSplitString, TakesTheHeadAndOptionallyRemovesIt) {
    const TSplit cases[] = {
        {"name=value", "=", true, "name", "value"},
        {"name=value", "=", false, "name", "name=value"},
        {"a=b=c", "=", true, "a", "b=c"}, // only the first occurrence splits
        // Absent separator: the whole text is the head and, when removing, nothing is left.
        {"no separator", "=", true, "no separator", ""},
        {"no separator", "=", false, "no separator", "no separator"},
        {"=lead", "=", true, "", "lead"},
        {"trail=", "=", true, "trail", ""},
        {"line1\r\nline2\r\n", "\r\n", true, "line1", "line2\r\n"},
        {"", "=", true, "", ""},
        {"abc", "", true, "abc", ""},
    };
    for (const TSplit& c : cases) {
        std::string text = c.Text, head = "stale";
        SplitString(text, c.Separator, c.Remove, head);
        EXPECT_EQ(head, c.Head) << c.Text;
        EXPECT_EQ(text, c.Rest) << c.Text;
    }
}

TEST(RuntimeNormaliseLineBreaks, EveryKindOfBreakBecomesOneLineFeed) {
    EXPECT_EQ(NormaliseLineBreaks("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(NormaliseLineBreaks("\r\r\n\n"), "\n\n\n");
    EXPECT_EQ(NormaliseLineBreaks("trailing\r"), "trailing\n");
}

TEST(RuntimeStrToInt, AcceptsDecimalHexAndTheFullRange) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-17"), -17);
    EXPECT_EQ(StrToInt("+8"), 8);
    EXPECT_EQ(StrToInt(" 7 "), 7);
    EXPECT_EQ(StrToInt("0x1F"), 31);
    EXPECT_EQ(StrToInt("$ff"), 255);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("-0x10"), -16);
}

TEST(RuntimeStrToInt, RejectsWithTheConversionText) {
    auto textOf = [](auto&& fn) -> std::string {
        try {
            fn();
        } catch (const EConvertError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(textOf([] { StrToInt("12abc"); }), "'12abc' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt("   "); }), "'   ' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt("1.5"); }), "'1.5' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt("--5"); }), "'--5' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt("0x"); }), "'0x' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt64("9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToInt64("99999999999999999999999"); }),
              "'99999999999999999999999' is not a valid integer value");
    EXPECT_EQ(textOf([] { StrToFloat("abc"); }), "'abc' is not a valid floating point value");
    EXPECT_EQ(textOf([] { StrToFloat("1.5x"); }), "'1.5x' is not a valid floating point value");
    EXPECT_EQ(textOf([] { StrToFloat(""); }), "'' is not a valid floating point value");
    EXPECT_EQ(textOf([] { StrToFloat("1e999"); }), "'1e999' is not a valid floating point value");
}

TEST(RuntimeStrToFloat, ReadsTheCNotation) {
    EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat(" -2e3 "), -2000.0);
    EXPECT_DOUBLE_EQ(StrToFloat("0.001"), 0.001);
}

TEST(RuntimeStrToFloat, IgnoresADecimalCommaLocale) {
    // A toolkit switches the process to the user's locale; option texts keep the C notation.
    const char* commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"};
    std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* found = nullptr;
    for (const char* name : commaLocales)
        if (std::setlocale(LC_NUMERIC, name)) {
            found = name;
            break;
        }
    if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
    double value = 0;
    EXPECT_NO_THROW(value = StrToFloat("2.25"));
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_DOUBLE_EQ(value, 2.25);
}

TEST(RuntimeText, FormatTrimAndCase) {
    std::string longText(3000, 'x');
    EXPECT_EQ(Format("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(Format("%lld|%d|%s", static_cast<long long>(INT64_MIN), -3, "z"), "-9223372036854775808|-3|z");
    EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_TRUE(SameText("Warning", "wARNING"));
    EXPECT_FALSE(SameText("warn", "warning"));
    EXPECT_EQ(UpperCase("/tmp/Dll"), "/TMP/DLL");
    EXPECT_EQ(Clip(-5, 0, 7), 0);
    EXPECT_EQ(Clip(9, 0, 7), 7);
    EXPECT_EQ(Clip(3, 0, 7), 3);
}

TEST(RuntimeText, AssertionNamesTheSource) {
    EXPECT_NO_THROW(Assert(true, "Src/FFmpegLoader"));
    try {
        Assert(false, "Src/FFmpegLoader");
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Assertion failure (Src/FFmpegLoader)");
    }
}

TEST(RuntimePaths, SplitsFolderNameAndExtension) {
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/Dll"), "/a/Dll/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/Dll/"), "/a/Dll/");
    EXPECT_EQ(ExtractFilePath("/a/b/c.mp3"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("c.mp3"), "");
    EXPECT_EQ(ExtractFileName("/a/b/c.mp3"), "c.mp3");
    EXPECT_EQ(ExtractFileName("/a/b/"), "");
    EXPECT_EQ(ExtractFileExt("/a/b/c.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), ""); // a dot in a folder name is no extension
    EXPECT_EQ(ChangeFileExt("/a.b/c", ".wav"), "/a.b/c.wav");
    EXPECT_EQ(ChangeFileExt("/x/song.MP3", ".wav"), "/x/song.wav");
    EXPECT_EQ(ChangeFileExt("song", ""), "song");
}

TEST(RuntimePaths, TellsFilesFromFoldersAndSizesThem) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("clipwell-paths-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string file = (dir / "Grüße.bin").string();
    std::ofstream(file, std::ios::binary) << std::string(1234, 'a');

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.string())); // a folder is not a file
    EXPECT_FALSE(FileExists(file + ".missing"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DirectoryExists(dir.string()));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_EQ(GetFileSize64(file), 1234);
    EXPECT_EQ(GetFileSize64(file + ".missing"), -1);
    EXPECT_EQ(GetFileSize64(dir.string()), -1);
    EXPECT_EQ(ExpandFileName(dir.string() + "/x/../Grüße.bin"), file);
    fs::remove_all(dir);
}

TEST(RuntimePaths, ExecutableFolderAndEnvironment) {
    std::string folder = GetExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(FileExists(folder + "runtime_unit_tests"));

    SetEnvironmentVariable("CLIPWELL_TEST_VAR", "a:b");
    EXPECT_EQ(GetEnvironmentVariable("CLIPWELL_TEST_VAR"), "a:b");
    EXPECT_EQ(GetEnvironmentVariable("CLIPWELL_SURELY_UNSET_VAR"), "");
}

TEST(RuntimeLocks, CodecLockIsOneProcessWideMutex) {
    EXPECT_EQ(&CodecLock(), &CodecLock());
    std::lock_guard<std::mutex> guard(CodecLock());
    bool other = true;
    std::thread([&] { other = CodecLock().try_lock(); }).join();
    EXPECT_FALSE(other);
}

} // namespace
