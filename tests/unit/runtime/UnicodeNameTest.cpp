// Names towards the media libraries ("unicode:utf8:" URLs) and the protocol's file callbacks.
#include "MediaApi.h"
#include "UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(RuntimeUnicodeName, PassThroughProtocolsAreNeverTurnedIntoUrls) {
    for (const char* name : {"http://host/ä.mp3", "pipe:0", "udp://x:1234", "tcp://x:1", "rtp://x",
                             "gopher://x", "stream:x", "unicode:utf8:/tmp/a.wav", "pipe:\xff"}) {
        EXPECT_FALSE(NeedsUnicodeName(name)) << name;
        EXPECT_EQ(MediaFileName(name), name);
    }
    // The prefix test is case-sensitive and needs the whole word.
    for (const char* name :
         {"HTTP://host/a.mp3", "Pipe:0", "file:/tmp/a.wav", "htt:x", "https://x", "udpx:1"})
        EXPECT_TRUE(NeedsUnicodeName(name)) << name;
}

TEST(RuntimeUnicodeName, ColonAndInvalidUtf8NeedTheUrl) {
    EXPECT_TRUE(NeedsUnicodeName("/music/Live: Berlin.mp3"));
    EXPECT_TRUE(NeedsUnicodeName("relative:name.wav"));
    EXPECT_TRUE(NeedsUnicodeName(":leading.wav"));
    EXPECT_TRUE(NeedsUnicodeName("/tmp/bad\xff.wav"));      // not UTF-8 at all
    EXPECT_TRUE(NeedsUnicodeName("/tmp/\xc0\xaf.wav"));     // overlong "/"
    EXPECT_TRUE(NeedsUnicodeName("/tmp/\xed\xa0\x80.wav")); // UTF-16 surrogate
    EXPECT_TRUE(NeedsUnicodeName("/tmp/\xe2\x82"));         // cut sequence at the end
    EXPECT_TRUE(NeedsUnicodeName("/tmp/\xf4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_TRUE(NeedsUnicodeName("/tmp/\xe2\x28\xa1.wav")); // bad continuation byte
    // Valid UTF-8 without a colon is handed over as it is.
    for (const char* name : {"/music/Müller – Grüße.mp3", "/tmp/日本語.ogg", "/tmp/\xf0\x9f\x8e\xb5.wav",
                             "plain.wav", "", "C/x.wav"}) {
        EXPECT_FALSE(NeedsUnicodeName(name)) << name;
        EXPECT_EQ(MediaFileName(name), name);
    }
    EXPECT_TRUE(IsValidUtf8("Müller"));
    EXPECT_FALSE(IsValidUtf8("M\xfcller"));
}

TEST(RuntimeUnicodeName, UrlsRoundTrip) {
    const std::string names[] = {
        "/music/Live: Berlin.mp3", "/tmp/bad\xff name.wav", "C:/Windows style.wav", "/a:b:c/d:e.wav", "x:",
        "/tmp/Grüße: 日本.ogg"};
    for (const std::string& name : names) {
        std::string url = MediaFileName(name);
        EXPECT_EQ(url, "unicode:utf8:" + name);
        EXPECT_TRUE(IsUnicodeUrl(url)) << url;
        EXPECT_EQ(DecodeUnicodeUrl(url), name);
        EXPECT_EQ(DisplayFileName(url), name);
        EXPECT_EQ(EncodeUnicodeUrl(name), url);
    }
    EXPECT_EQ(DecodeUnicodeUrl("unicode:utf8:C:/x.wav"), "C:/x.wav"); // a drive colon is kept
    EXPECT_EQ(DisplayFileName("/plain/name.wav"), "/plain/name.wav");
    EXPECT_EQ(MediaFileName(""), "");
}

TEST(RuntimeUnicodeName, RecognisesOnlyTheFullPrefixWithAName) {
    EXPECT_FALSE(IsUnicodeUrl("unicode:utf8:")); // the prefix alone is no URL
    EXPECT_TRUE(IsUnicodeUrl("unicode:utf8:x"));
    EXPECT_FALSE(IsUnicodeUrl("Unicode:utf8:x"));
    EXPECT_FALSE(IsUnicodeUrl("unicode:utf16:x"));
    EXPECT_FALSE(IsUnicodeUrl(""));
    EXPECT_EQ(DisplayFileName("unicode:utf8:"), "unicode:utf8:");
}

class RuntimeUnicodeFile : public testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("clipwell-unicode-" + std::to_string(::getpid()));
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }
    std::string Path(const std::string& name) const { return (FDir / name).string(); }
    fs::path FDir;
};

TEST_F(RuntimeUnicodeFile, WriteThenReadBack) {
    std::string name = Path("Töne: 1.raw");
    int handle = -1;
    ASSERT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(name), AVIO_FLAG_WRITE), 0);
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(UnicodeWrite(handle, data, sizeof data), 10);
    EXPECT_EQ(UnicodeClose(handle), 1);

    ASSERT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(name), AVIO_FLAG_READ), 0);
    uint8_t back[16] = {};
    EXPECT_EQ(UnicodeRead(handle, back, 4), 4);
    EXPECT_EQ(back[3], 4);
    // The size query answers without moving.
    EXPECT_EQ(UnicodeSeek(handle, 0, AVSEEK_SIZE), 10);
    EXPECT_EQ(UnicodeSeek(handle, 0, SEEK_CUR), 4);
    EXPECT_EQ(UnicodeSeek(handle, -2, SEEK_END), 8);
    EXPECT_EQ(UnicodeRead(handle, back, 16), 2);
    EXPECT_EQ(back[0], 9);
    EXPECT_EQ(UnicodeRead(handle, back, 16), 0); // end of file
    EXPECT_EQ(UnicodeSeek(handle, 1, SEEK_SET), 1);
    EXPECT_EQ(UnicodeSeek(handle, -5, SEEK_SET), -1);
    EXPECT_EQ(UnicodeWrite(handle, data, 1), -1); // opened for reading only
    EXPECT_EQ(UnicodeClose(handle), 1);
}

TEST_F(RuntimeUnicodeFile, WritingTruncatesAndReadingNeedsAFile) {
    std::string name = Path("exists.bin");
    std::ofstream(name) << "old content that is long";
    int handle = -1;
    ASSERT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(name), AVIO_FLAG_WRITE), 0);
    EXPECT_EQ(UnicodeSeek(handle, 0, AVSEEK_SIZE), 0);
    UnicodeClose(handle);

    ASSERT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(name), AVIO_FLAG_READ_WRITE), 0);
    const uint8_t byte = 42;
    EXPECT_EQ(UnicodeWrite(handle, &byte, 1), 1);
    EXPECT_EQ(UnicodeSeek(handle, 0, SEEK_SET), 0);
    uint8_t back = 0;
    EXPECT_EQ(UnicodeRead(handle, &back, 1), 1);
    EXPECT_EQ(back, 42);
    UnicodeClose(handle);

    handle = -7;
    EXPECT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(Path("missing.bin")), AVIO_FLAG_READ), -2);
    EXPECT_EQ(handle, -7); // untouched on failure
    EXPECT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(FDir.string()), AVIO_FLAG_READ), -2); // a folder
    EXPECT_EQ(UnicodeOpen(&handle, EncodeUnicodeUrl(Path("no/such/folder/x.bin")), AVIO_FLAG_WRITE), -2);
    EXPECT_FALSE(fs::exists(Path("missing.bin")));
}

TEST_F(RuntimeUnicodeFile, InvalidUtf8NamesReachTheFileSystemUnchanged) {
    std::string name = Path("raw\xff\xfe.bin");
    int handle = -1;
    ASSERT_EQ(UnicodeOpen(&handle, MediaFileName(name), AVIO_FLAG_WRITE), 0);
    UnicodeClose(handle);
    EXPECT_TRUE(fs::exists(fs::path(name)));
}

} // namespace
