// The ID3v2 tag in front of a lossless MP3 or ADTS cut: frames stating the input's length or its
// encoder's gapless trim are blanked, everything else is copied; tags it cannot walk stay as they are.
#include "Id3v2Frames.h"
#include "LosslessTestSupport.h"

#include <algorithm>
#include <cstring>

namespace {

std::vector<uint8_t> Frame(const char* id, const std::string& content, int version) {
    std::vector<uint8_t> f(id, id + 4);
    uint32_t n = uint32_t(content.size());
    if (version == 4)
        f.insert(f.end(), {uint8_t(n >> 21 & 0x7F), uint8_t(n >> 14 & 0x7F), uint8_t(n >> 7 & 0x7F), uint8_t(n & 0x7F)});
    else
        f.insert(f.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    f.insert(f.end(), {0, 0});
    f.insert(f.end(), content.begin(), content.end());
    return f;
}

// TIT2 "Kept", TLEN, an iTunSMPB comment (UTF-16 with a byte-order mark, as iTunes writes it)
// and an ordinary comment, then 64 bytes of padding; `flags` is the header's flag byte.
std::vector<uint8_t> Tag(int version, uint8_t flags = 0) {
    using namespace std::string_literals;
    std::vector<uint8_t> frames;
    for (const auto& f : {Frame("TIT2", "\0Kept"s, version), Frame("TLEN", "\0"s "123456", version),
                          Frame("COMM", "\1eng\xFF\xFEi\0T\0u\0n\0S\0M\0P\0B\0\0\0\xFF\xFE 0\0"s, version),
                          Frame("COMM", "\0engnote\0hello"s, version)})
        frames.insert(frames.end(), f.begin(), f.end());
    frames.resize(frames.size() + 64, 0);
    uint32_t n = uint32_t(frames.size());
    std::vector<uint8_t> tag = {'I', 'D', '3', uint8_t(version), 0, flags, uint8_t(n >> 21 & 0x7F),
                                uint8_t(n >> 14 & 0x7F), uint8_t(n >> 7 & 0x7F), uint8_t(n & 0x7F)};
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

bool Holds(const std::vector<uint8_t>& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

struct TTagCase {
    TMediaFormat Format;
    int Version;
};

class LosslessId3v2Tags : public LosslessTest, public ::testing::WithParamInterface<TTagCase> {};

TEST_P(LosslessId3v2Tags, CutDropsTheLengthAndGaplessFramesOnly) {
    const TTagCase& c = GetParam();
    std::vector<uint8_t> source = ReadBytes(TestMediaFile({c.Format, 3.0, 44100, 2, 128000}));
    size_t audio = 0;
    if (source.size() > 10 && std::memcmp(source.data(), "ID3", 3) == 0)
        audio = 10 + (size_t(source[6]) << 21 | source[7] << 14 | source[8] << 7 | source[9]);
    std::vector<uint8_t> tag = Tag(c.Version);
    std::vector<uint8_t> bytes = tag;
    bytes.insert(bytes.end(), source.begin() + std::ptrdiff_t(audio), source.end());
    std::string ext = c.Format == TMediaFormat::Aac ? ".aac" : ".mp3";
    std::string input = Scratch("tagged-v" + std::to_string(c.Version) + ext);
    WriteBytes(input, bytes);

    std::string output = Scratch("tagged-cut-v" + std::to_string(c.Version) + ext);
    if (c.Format == TMediaFormat::Aac) { // whole frames: the distance is the frame tests' concern
        TLosslessCutter cutter;
        ASSERT_EQ(cutter.Plan(input, TLosslessMode::Select, 500, 2500).Verdict, TLosslessVerdict::Possible);
        ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;
    } else {
        ExpectExactSelect(input, {500, 2500}, output);
    }
    std::vector<uint8_t> cut = ReadBytes(output);
    std::vector<uint8_t> head(cut.begin(), cut.begin() + std::ptrdiff_t(tag.size()));
    EXPECT_TRUE(std::equal(tag.begin(), tag.begin() + 10, head.begin())); // same header, same size
    EXPECT_TRUE(Holds(head, "Kept") && Holds(head, "hello"));
    EXPECT_FALSE(Holds(head, "TLEN") || Holds(head, "123456"));
    EXPECT_FALSE(Holds(head, std::string("i\0T\0u\0n", 7)));
}

INSTANTIATE_TEST_SUITE_P(Tags, LosslessId3v2Tags,
                         ::testing::Values(TTagCase{TMediaFormat::Mp3Cbr, 3}, TTagCase{TMediaFormat::Mp3Cbr, 4},
                                           TTagCase{TMediaFormat::Aac, 4}),
                         [](const auto& info) {
                             return std::string(info.param.Format == TMediaFormat::Aac ? "Adts" : "Mp3") + "V" +
                                    std::to_string(info.param.Version);
                         });

TEST(Id3v2Frames, TagsThatCannotBeWalkedSafelyStayAsTheyAre) {
    std::vector<uint8_t> unsynchronised = Tag(3, 0x80), footer = Tag(4, 0x10), old = Tag(3);
    old[3] = 2;
    std::vector<uint8_t> overrun = Tag(3);
    overrun[10 + 7] = 0x7F; // the first frame claims more than the tag holds
    for (const auto& tag : {unsynchronised, footer, old, overrun})
        EXPECT_EQ(WithoutStaleLengthFrames(tag), tag);
}

} // namespace
