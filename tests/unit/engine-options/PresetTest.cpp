// Presets: the built-in table, the codec-name prefix, preset files and their line syntax.
#include "OptionTestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

class EnginePresets : public OptionTest {
protected:
    void SetUp() override {
        OptionTest::SetUp();
        FFolder = std::filesystem::temp_directory_path() / ("clipwell-presets-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FFolder);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
        OptionTest::TearDown();
    }
    // Writes a preset file and returns its path.
    std::string PresetFile(const std::string& name, const std::string& content) {
        std::string path = (FFolder / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

private:
    std::filesystem::path FFolder;
};

} // namespace

TEST_F(EnginePresets, EveryBuiltinPresetAppliesAndNamesMatchWithoutCase) {
    for (const char* name :
         {"libx264-baseline", "libx264-default", "libx264-fastfirstpass", "libx264-hq", "libx264-ipod320",
          "libx264-ipod640", "libx264-lossless_fast", "libx264-lossless_max", "libx264-lossless_medium",
          "libx264-lossless_slow", "libx264-lossless_slower", "libx264-lossless_ultrafast", "libx264-main",
          "libx264-max", "libx264-normal", "libx264-slowfirstpass"})
        EXPECT_NO_THROW(Engine.ApplyPreset("vpre", name)) << name;

    Engine.ApplyPreset("vpre", "LIBX264-HQ");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "bf"), 16);

    // Empty texts do nothing.
    Engine.ApplyPreset("", "libx264-max");
    Engine.ApplyPreset("vpre", "");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "bf"), 16);
}

TEST_F(EnginePresets, CodecNamePrefixIsTriedAfterThePlainName) {
    Engine.ApplyOption("vcodec", "libx264");
    Engine.ApplyOption("vpre", "main");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "bf"), 3);

    // Neither "v" nor "a" with a name of its kind: the subtitle codec name is the prefix,
    // whatever the option's first letter.
    Engine.Reset();
    Engine.ApplyOption("scodec", "libx264");
    Engine.ApplyPreset("apre", "max");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "bf"), 16);
}

TEST_F(EnginePresets, LookupEndsWithAFileAndNamesTheLastCandidateWhenAllFail) {
    Engine.ApplyOption("acodec", "libmp3lame");
    std::string missing = PresetFile("unused", "") + "-missing";
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("apre", missing); }),
              "Preset \"libmp3lame-" + missing + "\" not found");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyOption("apre", "x"); }),
              "Preset \"libmp3lame-x\" not found");

    // The file of the plain name; its codec line sets the audio codec name.
    std::string path = PresetFile("x", "  \r\nab=96000\r\n\r\n  acodec=libvorbis  \nar=8000\n");
    Engine.ApplyOption("apre", path);
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 96000);
    EXPECT_EQ(Engine.FAudioCodecName, "libvorbis");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "ar"), 8000); // a codec option, not the "ar" setting
    EXPECT_EQ(Engine.FAudioSampleRate, 44100);

    // An empty file has no text; a folder is no preset file.
    std::string empty = PresetFile("empty", "");
    Engine.Reset();
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", empty); }),
              "Preset \"" + empty + "\" not found");
    std::string folder = empty.substr(0, empty.rfind('/'));
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", folder); }),
              "Preset \"" + folder + "\" not found");
}

TEST_F(EnginePresets, BadLinesStopThePresetAndLeaveEarlierLinesApplied) {
    std::string noEquals = PresetFile("noequals", "ab=64000\n  no equals sign  \nab=32000\n");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", noEquals); }),
              noEquals + ": Invalid syntax: \"no equals sign\"");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 64000);

    std::string noName = PresetFile("noname", "=5\n");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", noName); }),
              noName + ": Invalid syntax: \"=5\"");
    std::string noValue = PresetFile("novalue", "ab=\n");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", noValue); }),
              noValue + ": Invalid syntax: \"ab=\"");

    std::string unknown = PresetFile("unknown", "nosuchoption=1\n");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", unknown); }),
              unknown +
                  ": Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\"");
    std::string badValue = PresetFile("badvalue", "ab=lots\n");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { Engine.ApplyPreset("apre", badValue); }),
              badValue + ": Invalid option or argument: \"ab=lots\", parsed as \"ab\" = \"lots\"");
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), 64000);
}
