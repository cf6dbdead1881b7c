// A lossless FLAC cut of a file with a seek table gets a table of its own: a point every ten
// seconds, each at the header of the frame holding that sample.
#include "FlacFrames.h"
#include "LosslessTestSupport.h"

#include <cstring>

namespace {

struct TSeekPoint {
    uint64_t Sample, Offset;
    int Samples;
};

uint64_t BE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

// The input with an (empty) seek table after its stream information, as the reference encoder
// writes one.
std::string WithSeekTable(const std::string& flac) {
    std::vector<uint8_t> bytes = ReadBytes(flac);
    const size_t afterStreamInfo = 4 + 4 + 34;
    std::vector<uint8_t> table = {3, 0, 0, 18};
    table.insert(table.end(), 8, 0xFF);
    table.insert(table.end(), 10, 0);
    bytes.insert(bytes.begin() + std::ptrdiff_t(afterStreamInfo), table.begin(), table.end());
    std::string path = Scratch("seektable-in.flac");
    WriteBytes(path, bytes);
    return path;
}

class LosslessFlacSeekTable : public LosslessTest, public ::testing::WithParamInterface<TLosslessMode> {};

TEST_P(LosslessFlacSeekTable, PointsAtTheCutsOwnFrames) {
    std::string input = WithSeekTable(TestMediaFile({TMediaFormat::Flac, 25.0, 44100, 2}));
    std::string output = Scratch("seektable-out.flac");
    TMarks marks = GetParam() == TLosslessMode::Select ? TMarks{1003, 23517} : TMarks{2003, 6517};
    if (GetParam() == TLosslessMode::Select)
        ASSERT_NO_FATAL_FAILURE(ExpectExactSelect(input, marks, output));
    else
        ASSERT_NO_FATAL_FAILURE(Cut(input, GetParam(), marks, output));

    TByteReader reader;
    std::string error;
    TFlacInfo info;
    std::vector<TFlacBlock> blocks;
    int64_t id3 = 0, audio = 0;
    ASSERT_TRUE(reader.Open(output, error) && ReadFlacMetadata(reader, info, blocks, id3, audio, error)) << error;
    auto table = std::find_if(blocks.begin(), blocks.end(), [](const TFlacBlock& b) { return b.Type == 3; });
    ASSERT_NE(table, blocks.end());
    const int64_t spacing = 10 * int64_t(info.SampleRate);
    ASSERT_EQ(table->Size, 18 * ((info.TotalSamples + spacing - 1) / spacing));
    std::vector<uint8_t> body(size_t(table->Size));
    ASSERT_TRUE(reader.Read(table->Offset + 4, body.size(), body.data()));

    TFlacFrameWalk walk(reader, info);
    for (size_t k = 0; k < body.size() / 18; ++k) {
        TSeekPoint point{BE(&body[18 * k], 8), BE(&body[18 * k + 8], 8), int(BE(&body[18 * k + 16], 2))};
        SCOPED_TRACE("point " + std::to_string(k));
        EXPECT_LE(point.Sample, k * uint64_t(spacing));
        EXPECT_GT(point.Sample + uint64_t(point.Samples), k * uint64_t(spacing));
        TFlacFrame frame;
        ASSERT_TRUE(walk.Find(audio + int64_t(point.Offset), int64_t(point.Sample), frame));
        EXPECT_EQ(frame.Offset, audio + int64_t(point.Offset));
        EXPECT_EQ(frame.BlockSize, point.Samples);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LosslessFlacSeekTable, ::testing::Values(TLosslessMode::Select, TLosslessMode::Delete),
                         [](const auto& info) { return info.param == TLosslessMode::Select ? "Select" : "Delete"; });

} // namespace
