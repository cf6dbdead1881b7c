// Lossless cuts decoded through the media libraries (which honour the info frame's delay and
// padding) equal the decoded input between the marks, sample for sample: MP3 at both MPEG
// versions, CBR, VBR and mono, marks on and beside frame boundaries, at the start and the end;
// WAV select and delete. Files that cannot be copied are refused or left to re-encoding.
#include "LosslessTestSupport.h"
#include "LosslessTexts.h"
#include "FFPtr.h"
#include "FlacFrames.h"
#include "Mp3Frames.h"
#include "OggPages.h"

#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <cmath>

namespace {

// ---- MP3 select --------------------------------------------------------------------------------

struct TMp3Case {
    const char* Name;
    TMediaSpec Spec;
};

class LosslessMp3Select : public LosslessTest, public ::testing::WithParamInterface<TMp3Case> {};

TEST_P(LosslessMp3Select, DecodesToTheMarkedSamples) {
    std::string input = TestMediaFile(GetParam().Spec);
    // With the encoder's 1105-sample skip at 44.1 kHz, 1 and 2587 ms lie a few samples before a
    // frame boundary, 2 and 2588 ms a few after; 0 and the end are the file's own edges.
    for (TMarks marks : {TMarks{0, kToEnd}, TMarks{1, 2588}, TMarks{2, 2587}, TMarks{2587, 4001},
                         TMarks{1234, kToEnd}, TMarks{3990, 4030}}) {
        SCOPED_TRACE(Format("marks %lld..%lld ms", (long long)marks.StartMs, (long long)marks.EndMs));
        ExpectExactSelect(input, marks, Scratch(std::string(GetParam().Name) + ".mp3"));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, LosslessMp3Select,
                         ::testing::Values(TMp3Case{"Cbr", {TMediaFormat::Mp3Cbr, 5.0, 44100, 2, 128000}},
                                           TMp3Case{"Vbr", {TMediaFormat::Mp3Vbr, 5.0, 44100, 2, 128000}},
                                           TMp3Case{"Mono", {TMediaFormat::Mp3Cbr, 5.0, 44100, 1, 96000}},
                                           TMp3Case{"Mpeg2", {TMediaFormat::Mp3Cbr, 5.0, 22050, 2, 64000}}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Delete: the frames outside a short re-encoded bridge at the seam are copied and decode as in
// the input; the stretch removed is whole frames, and the check says where the end mark moved.
TEST_P(LosslessMp3Select, DeleteCopiesAllButABridgeAtTheSeam) {
    std::string input = TestMediaFile(GetParam().Spec);
    std::string output = Scratch(std::string(GetParam().Name) + "-delete.mp3");
    const TDecodedAudio& whole = DecodedInput(input);
    int rate = whole.SampleRate;
    int64_t spf = rate >= 32000 ? 1152 : 576;
    int64_t seam = Samples(1500, rate), end = Samples(3210, rate);
    int64_t removed = (end - seam + spf / 2) / spf * spf;

    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(input, TLosslessMode::Delete, 1500, 3210);
    ASSERT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
    EXPECT_EQ(check.SampleExact, removed == end - seam);
    EXPECT_NEAR(check.EndOffsetMs, double(seam + removed - end) * 1000.0 / rate, 0.01);
    ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;

    TDecodedAudio rest = DecodeAudioFile(output);
    ASSERT_EQ(rest.Frames(), whole.Frames() - removed);
    TDecodedAudio want = whole;
    want.Samples.erase(want.Samples.begin() + seam * whole.Channels,
                       want.Samples.begin() + (seam + removed) * whole.Channels);
    // Exact up to the bridge (a frame before the seam's frame, less the decoder delay) and from a
    // few frames after it on (the overlap of two granules); in between, close to the input.
    int64_t bridgeFrom = seam - 3 * spf, bridgeTo = seam + (spf == 1152 ? 4 : 7) * spf;
    double signal = 0, noise = 0;
    int64_t firstOff = -1, lastOff = -1;
    for (size_t i = 0; i < want.Samples.size(); ++i) {
        int64_t frame = int64_t(i) / whole.Channels;
        if (want.Samples[i] != rest.Samples[i]) {
            lastOff = frame;
            if (firstOff < 0) firstOff = frame;
        }
        if (frame >= bridgeFrom && frame < bridgeTo) {
            signal += double(want.Samples[i]) * want.Samples[i];
            noise += double(want.Samples[i] - rest.Samples[i]) * (want.Samples[i] - rest.Samples[i]);
        }
    }
    EXPECT_GE(firstOff, bridgeFrom);
    EXPECT_LT(lastOff, bridgeTo);
    EXPECT_GT(10 * std::log10(signal / std::max(noise, 1e-12)), 10.0);
}

// The info frame counts the copied frames and bytes, and its seek table rises through the file.
TEST_F(LosslessTest, Mp3InfoFrameDescribesTheCopy) {
    std::string input = TestMediaFile({TMediaFormat::Mp3Vbr, 5.0, 44100, 2, 128000});
    std::string output = Scratch("info.mp3");
    ASSERT_NO_FATAL_FAILURE(Cut(input, TLosslessMode::Select, {1000, 3000}, output));
    std::vector<uint8_t> bytes = ReadBytes(output);
    TByteReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(output, error));
    TMp3FrameWalk walk(reader, reader.Size());
    ASSERT_TRUE(walk.First(0));
    int64_t infoAt = walk.Offset;
    TMp3InfoTag tag = ReadMp3InfoTag(bytes.data() + infoAt, bytes.size() - size_t(infoAt), walk.Header);
    ASSERT_TRUE(tag.Present && tag.HasFrames && tag.HasLame);
    int64_t frames = 0;
    while (walk.Next())
        ++frames;
    EXPECT_EQ(tag.Frames, frames);
    EXPECT_EQ(walk.SkippedBytes, 0);
    size_t xing = size_t(infoAt) + 4 + size_t(walk.Header.SideInfoBytes);
    EXPECT_EQ(ReadBE32(&bytes[xing + 12]), bytes.size() - size_t(infoAt));
    EXPECT_TRUE(std::is_sorted(&bytes[xing + 16], &bytes[xing + 116]));
    EXPECT_GT(bytes[xing + 16 + 99], 200);
}

// A frame whose data is damaged is copied as it is, and the cut around it still lands exactly.
TEST_F(LosslessTest, Mp3DamagedFrameInsideTheCutIsCopied) {
    std::string input = Scratch("damaged-in.mp3");
    std::vector<uint8_t> bytes = ReadBytes(TestMediaFile({TMediaFormat::Mp3Cbr, 5.0, 44100, 2, 128000}));
    WriteBytes(input, bytes);
    TByteReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(input, error));
    TMp3FrameWalk walk(reader, reader.Size());
    ASSERT_TRUE(walk.First(int64_t(bytes.size() / 2)));
    // The frame's data after its side information; no sync byte, so no false frame header.
    for (int64_t i = walk.Offset + 40; i < walk.Offset + walk.Header.FrameBytes; ++i)
        bytes[size_t(i)] = uint8_t(i * 131 + 7) & 0x7F;
    WriteBytes(input, bytes);
    ExpectExactSelect(input, {1000, 4000}, Scratch("damaged-out.mp3"));
}

// Frames whose data reaches further back than the info frame's delay can skip are left to the
// re-encoding save; free-format and damaged streams are refused.
TEST_F(LosslessTest, Mp3ThatCannotBeCopiedIsNotCopied) {
    std::vector<uint8_t> bytes = ReadBytes(TestMediaFile({TMediaFormat::Mp3Cbr, 3.0, 44100, 2, 32000}));
    // Every frame claims the largest reservoir (main_data_begin 511).
    TByteReader reader;
    std::string error, input = Scratch("reservoir.mp3");
    WriteBytes(input, bytes);
    ASSERT_TRUE(reader.Open(input, error));
    TMp3FrameWalk walk(reader, reader.Size());
    ASSERT_TRUE(walk.First(0));
    while (walk.Next()) {
        uint8_t* side = &bytes[size_t(walk.Offset) + 4 + (walk.Header.Crc ? 2 : 0)];
        side[0] = 0xFF;
        side[1] |= 0x80;
    }
    WriteBytes(input, bytes);

    std::vector<uint8_t> freeFormat = {0xFF, 0xFB, 0x00, 0x64};
    freeFormat.resize(4096, 0x55);
    WriteBytes(Scratch("free.mp3"), freeFormat);

    struct TCase {
        std::string File;
        TLosslessVerdict Verdict;
        const char* Reason;
    };
    for (const TCase& c : {TCase{input, TLosslessVerdict::NotAvailable, LosslessText::kLowBitRate},
                           TCase{Scratch("free.mp3"), TLosslessVerdict::Refused, LosslessText::kFreeFormat},
                           TCase{RandomBytesFile(".mp3"), TLosslessVerdict::Refused, LosslessText::kNoMp3Frames},
                           TCase{TwoAudioStreamFile(), TLosslessVerdict::NotAvailable,
                                 "Lossless cutting is not available for MKA files"}}) {
        TLosslessCutter cutter;
        TLosslessCheck check = cutter.Plan(c.File, TLosslessMode::Select, 1500, 2000);
        EXPECT_EQ(check.Verdict, c.Verdict) << c.File;
        EXPECT_EQ(check.Reason, c.Reason) << c.File;
        EXPECT_FALSE(cutter.Write(Scratch("never.mp3")));
    }
}

// ---- Ogg Vorbis and Opus ------------------------------------------------------------------------

// The packets of an Ogg file's stream, headers first.
std::vector<std::vector<uint8_t>> OggPackets(const std::string& path) {
    TByteReader reader;
    std::string error;
    std::vector<std::vector<uint8_t>> packets;
    if (!reader.Open(path, error)) return packets;
    TOggPacketReader walk(reader);
    TOggPacket packet;
    while (walk.Next(packet))
        packets.push_back(packet.Data);
    return packets;
}

double SnrDb(const TDecodedAudio& want, int64_t from, const TDecodedAudio& got, int64_t begin, int64_t end) {
    double signal = 0, noise = 0;
    for (int64_t i = begin * want.Channels; i < end * want.Channels; ++i) {
        double w = want.Samples[size_t(from * want.Channels + i)], d = w - got.Samples[size_t(i)];
        signal += w * w;
        noise += d * d;
    }
    return noise == 0 ? 1000.0 : 10 * std::log10(signal / noise);
}

struct TOggCase {
    const char* Name;
    std::string (*Input)();
};

class LosslessOgg : public LosslessTest, public ::testing::WithParamInterface<TOggCase> {};

// Vorbis plays exactly the marked samples (the copy starts a packet early, its first page's
// granule trims to the start; decoders that follow the timestamps drop that packet's samples
// before time 0). Opus starts 1 s early behind a pre-skip: the decoder settles within that
// preroll and then decodes bit for bit as from the file's start; the length is exact. The
// comment header (tags, pictures) is copied as it was.
TEST_P(LosslessOgg, SelectPlaysTheMarkedSamples) {
    std::string input = GetParam().Input();
    const TDecodedAudio& whole = DecodedInput(input);
    bool opus = whole.SampleRate == 48000;
    std::string output = Scratch(std::string(GetParam().Name) + ".ogg");
    for (TMarks marks : {TMarks{0, kToEnd}, TMarks{1234, 3456}, TMarks{2001, kToEnd}, TMarks{1500, 1530}}) {
        SCOPED_TRACE(Format("marks %lld..%lld ms", (long long)marks.StartMs, (long long)marks.EndMs));
        ASSERT_NO_FATAL_FAILURE(Cut(input, TLosslessMode::Select, marks, output));
        TDecodedAudio cut = DecodeAudioFile(output, true);
        int64_t from = Samples(marks.StartMs, whole.SampleRate);
        int64_t to = std::min(whole.Frames(), Samples(marks.EndMs, whole.SampleRate));
        ASSERT_EQ(cut.Frames(), to - from);
        int64_t settled = opus && from > 0 ? std::min(to - from, Samples(600, 48000)) : 0;
        TDecodedAudio tail = cut;
        tail.Samples.erase(tail.Samples.begin(), tail.Samples.begin() + settled * cut.Channels);
        EXPECT_EQ(FirstDifference(whole, from + settled, to, tail), -1);
        if (settled > 0) {
            EXPECT_GT(SnrDb(whole, from, cut, 0, std::min(settled, Samples(80, 48000))), 20.0);
        }
        EXPECT_EQ(OggPackets(output)[1], OggPackets(input)[1]);
    }
    // Deletes: LosslessVorbisDeleteTest.cpp and LosslessOpusTest.cpp.
}

INSTANTIATE_TEST_SUITE_P(Streams, LosslessOgg,
                         ::testing::Values(TOggCase{"TaggedVorbis", [] { return TaggedMediaFile(TMediaFormat::Ogg); }},
                                           TOggCase{"MonoVorbis",
                                                    [] {
                                                        return TestMediaFile(
                                                            {TMediaFormat::Ogg, 4.0, 22050, 1, 64000});
                                                    }},
                                           TOggCase{"TaggedOpus",
                                                    [] { return TaggedMediaFile(TMediaFormat::OggOpus); }}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Packets of every lacing edge (empty, 255 multiples, spanning several pages) come back from the
// pages written for them, with the granule of the page each ends and the stream's end on the last.
TEST_F(LosslessTest, OggPagesCarryPacketsOfEverySize) {
    const std::vector<size_t> sizes = {0, 1, 254, 255, 256, 510, 4095, 65025, 70000, 200000, 3};
    std::string path = Scratch("pages.ogg"), error;
    {
        TByteWriter out;
        ASSERT_TRUE(out.Open(path, error));
        TOggPageWriter pages(out, 0x1234);
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::vector<uint8_t> packet(sizes[i], uint8_t(i + 1));
            pages.Packet(packet.data(), packet.size(), int64_t(i) * 100);
            if (i == 0) pages.Flush();
        }
        pages.Finish();
        ASSERT_TRUE(out.Close(error));
    }
    TByteReader reader;
    ASSERT_TRUE(reader.Open(path, error));
    TOggPacketReader packets(reader);
    TOggPacket packet;
    size_t count = 0;
    while (packets.Next(packet)) {
        ASSERT_LT(count, sizes.size());
        EXPECT_EQ(packet.Data, std::vector<uint8_t>(sizes[count], uint8_t(count + 1))) << count;
        if (packet.Granule >= 0) {
            EXPECT_EQ(packet.Granule, int64_t(count) * 100) << count;
        }
        EXPECT_EQ(packet.LastOnEos, count + 1 == sizes.size());
        ++count;
    }
    EXPECT_EQ(count, sizes.size());
    EXPECT_EQ(packets.Problem, "");
    EXPECT_EQ(packets.Serial, 0x1234u);
}

// A damaged Ogg page in the copied range is refused, as are a FLAC whose frames are lost or
// followed by other data; a chained Ogg file is left to re-encoding once the walk reaches its
// second stream.
TEST_F(LosslessTest, OggAndFlacThatCannotBeCopiedAreNotCopied) {
    std::vector<uint8_t> bytes = ReadBytes(TestMediaFile({TMediaFormat::Ogg, 4.0}));
    std::vector<uint8_t> damaged = bytes;
    damaged[damaged.size() / 2] ^= 0x10;
    WriteBytes(Scratch("damaged.ogg"), damaged);
    std::vector<uint8_t> chained = bytes;
    std::vector<uint8_t> second = ReadBytes(TestMediaFile({TMediaFormat::OggOpus, 2.0, 48000}));
    chained.insert(chained.end(), second.begin(), second.end());
    WriteBytes(Scratch("chained.ogg"), chained);
    struct TCase {
        std::string File;
        TLosslessVerdict Verdict;
        const char* Reason;
    };
    std::vector<uint8_t> flac = ReadBytes(TestMediaFile({TMediaFormat::Flac, 4.0}));
    std::vector<uint8_t> junk(2 << 20, 0x11);
    junk.insert(junk.begin(), flac.begin(), flac.end());
    WriteBytes(Scratch("junk.flac"), junk);
    TByteReader reader;
    TFlacInfo info;
    std::vector<TFlacBlock> blocks;
    int64_t id3 = 0, audio = 0;
    std::string error;
    ASSERT_TRUE(reader.Open(TestMediaFile({TMediaFormat::Flac, 4.0}), error));
    ASSERT_TRUE(ReadFlacMetadata(reader, info, blocks, id3, audio, error)) << error;
    WriteBytes(Scratch("noframes.flac"), std::vector<uint8_t>(flac.begin(), flac.begin() + audio));
    std::string noFrames = Format(LosslessText::kBadFlac, "no frame header was found");
    std::string oversized = Format(LosslessText::kBadFlac, "a frame is too large (damaged, or other data follows the audio)");
    for (const TCase& c : {TCase{Scratch("damaged.ogg"), TLosslessVerdict::Refused, LosslessText::kOggDamaged},
                           TCase{Scratch("chained.ogg"), TLosslessVerdict::NotAvailable, LosslessText::kOggMultiplexed},
                           TCase{Scratch("junk.flac"), TLosslessVerdict::Refused, oversized.c_str()},
                           TCase{Scratch("noframes.flac"), TLosslessVerdict::Refused, noFrames.c_str()}}) {
        TLosslessCutter cutter;
        TLosslessCheck check = cutter.Plan(c.File, TLosslessMode::Select, 500, kToEnd);
        EXPECT_EQ(check.Verdict, c.Verdict) << c.File;
        EXPECT_EQ(check.Reason, c.Reason) << c.File;
    }
}

// ---- FLAC --------------------------------------------------------------------------------------

// The metadata blocks of a FLAC file, but the seek table: type and body.
std::vector<std::pair<int, std::vector<uint8_t>>> FlacBlocks(const std::string& path, TFlacInfo& info) {
    TByteReader reader;
    std::string error;
    std::vector<TFlacBlock> blocks;
    std::vector<std::pair<int, std::vector<uint8_t>>> out;
    int64_t id3 = 0, audio = 0;
    if (!reader.Open(path, error) || !ReadFlacMetadata(reader, info, blocks, id3, audio, error)) return out;
    for (const TFlacBlock& block : blocks) {
        if (block.Type == 3) continue;
        std::vector<uint8_t> body(size_t(block.Size));
        reader.Read(block.Offset + 4, body.size(), body.data());
        out.push_back({block.Type, body});
    }
    return out;
}

class LosslessFlac : public LosslessTest, public ::testing::WithParamInterface<TOggCase> {};

// Select and delete hold exactly the samples they should (copied frames renumbered, partial ones
// written verbatim, a start a few samples before a frame's end joined with the next); the stream
// information counts them, with the MD5 cleared; tags and the picture are copied.
TEST_P(LosslessFlac, CopiesExactlyTheMarkedSamples) {
    std::string input = GetParam().Input();
    const TDecodedAudio& whole = DecodedInput(input);
    TFlacInfo inputInfo;
    auto inputBlocks = FlacBlocks(input, inputInfo);
    // Marks whose sample lies `lo`..`hi` samples into a frame.
    auto markInFrame = [&](int64_t fromMs, int lo, int hi) {
        for (int64_t ms = fromMs; Samples(ms, whole.SampleRate) < whole.Frames(); ++ms) {
            int64_t into = Samples(ms, whole.SampleRate) % inputInfo.MinBlock;
            if (into >= lo && into <= hi) return ms;
        }
        return int64_t(-1);
    };
    int64_t nearEnd = markInFrame(1000, inputInfo.MinBlock - 15, inputInfo.MinBlock - 1);
    int64_t justIn = markInFrame(1000, 1, 15), boundary = markInFrame(3000, 0, 0);
    ASSERT_GT(nearEnd, 0);
    std::vector<TMarks> cases = {{0, kToEnd}, {1001, 2503}, {nearEnd, 3000}, {1500, 1501}, {0, nearEnd}};
    if (justIn > 0 && boundary > 0) cases.push_back({justIn, boundary}); // a delete left with a few samples
    std::string output = Scratch(std::string(GetParam().Name) + ".flac");
    for (TLosslessMode mode : {TLosslessMode::Select, TLosslessMode::Delete})
        for (TMarks marks : cases) {
            if (mode == TLosslessMode::Delete && marks.StartMs == 0 && marks.EndMs == kToEnd) continue;
            SCOPED_TRACE(Format("%s %lld..%lld ms", mode == TLosslessMode::Select ? "select" : "delete",
                                (long long)marks.StartMs, (long long)marks.EndMs));
            ASSERT_NO_FATAL_FAILURE(Cut(input, mode, marks, output));
            int64_t from = Samples(marks.StartMs, whole.SampleRate);
            int64_t to = std::min(whole.Frames(), Samples(marks.EndMs, whole.SampleRate));
            std::vector<float> want(whole.Samples.begin() + from * whole.Channels, whole.Samples.begin() + to * whole.Channels);
            if (mode == TLosslessMode::Delete) {
                want.assign(whole.Samples.begin(), whole.Samples.begin() + from * whole.Channels);
                want.insert(want.end(), whole.Samples.begin() + to * whole.Channels, whole.Samples.end());
            }
            TDecodedAudio cut = DecodeAudioFile(output);
            EXPECT_TRUE(cut.Samples == want) << cut.Frames() << " samples of " << want.size() / whole.Channels;
            TFlacInfo info;
            auto blocks = FlacBlocks(output, info);
            EXPECT_EQ(info.TotalSamples, int64_t(want.size()) / whole.Channels);
            ASSERT_EQ(blocks.size(), inputBlocks.size());
            EXPECT_EQ(std::vector<uint8_t>(blocks[0].second.begin() + 18, blocks[0].second.end()), std::vector<uint8_t>(16, 0));
            for (size_t i = 1; i < blocks.size(); ++i)
                EXPECT_TRUE(blocks[i] == inputBlocks[i]) << "block " << i;
        }
}

INSTANTIATE_TEST_SUITE_P(Streams, LosslessFlac,
                         ::testing::Values(TOggCase{"Tagged", [] { return TaggedMediaFile(TMediaFormat::Flac); }},
                                           TOggCase{"SixChannels",
                                                    [] {
                                                        return TestMediaFile({TMediaFormat::Flac, 6.0, 44100, 6});
                                                    }}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- ADTS AAC, WMA, M4A --------------------------------------------------------------------------

struct TFileTags {
    std::map<std::string, std::string> Tags; // the file's and its audio stream's
    int Pictures = 0;
};

TFileTags ReadTags(const std::string& path) {
    TFileTags facts;
    AVFormatContext* raw = nullptr;
    if (OpenMediaInput(&raw, LocalMediaName(path), nullptr, nullptr) < 0) return facts;
    TInputContextPtr input(raw);
    FindMediaStreamInfo(raw);
    auto collect = [&](const AVDictionary* dict) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av::av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)))
            facts.Tags[LowerCase(e->key)] = e->value;
    };
    collect(raw->metadata);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (raw->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) ++facts.Pictures;
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) collect(raw->streams[i]->metadata);
    }
    return facts;
}

struct TFrameCase {
    const char* Name;
    std::string (*Input)();
    int FrameSamples; // of a decoded frame
    bool ExactStart;  // the container skips the samples before the start mark
};

class LosslessFrameCopy : public LosslessTest, public ::testing::WithParamInterface<TFrameCase> {};

// Whole frames are copied from about one frame before the start mark (none before it where the
// container says what to skip) to about one after the end mark; the check says how far that is,
// the decoded cut lies there in the input's timeline, and the tags (and the picture) travel.
TEST_P(LosslessFrameCopy, CopiesWholeFramesAndSaysHowFar) {
    std::string input = GetParam().Input();
    const TDecodedAudio& whole = DecodedInput(input);
    int rate = whole.SampleRate;
    double frameMs = GetParam().FrameSamples * 1000.0 / rate;
    std::string output = Scratch(std::string(GetParam().Name) + MediaFormatExt(TMediaFormat::Wav16));
    output = output.substr(0, output.size() - 4) + LowerCase(ExtractFileExt(input));
    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(input, TLosslessMode::Select, 1234, 2345);
    ASSERT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
    EXPECT_FALSE(check.SampleExact);
    if (GetParam().ExactStart) {
        EXPECT_EQ(check.StartOffsetMs, 0.0);
    } else {
        EXPECT_LE(check.StartOffsetMs, 0.0);
        EXPECT_GT(check.StartOffsetMs, -2 * frameMs);
    }
    EXPECT_GE(check.EndOffsetMs, 0.0);
    EXPECT_LT(check.EndOffsetMs, 2 * frameMs);
    ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;

    TDecodedAudio cut = DecodeAudioFile(output);
    int64_t from = Samples(1234, rate) + int64_t(std::lround(check.StartOffsetMs * rate / 1000.0));
    int64_t to = Samples(2345, rate) + int64_t(std::lround(check.EndOffsetMs * rate / 1000.0));
    EXPECT_NEAR(double(cut.Frames()), double(to - from), rate / 1000.0);
    // (WMA's times are whole milliseconds.)
    EXPECT_NEAR(double(FindOffsetInSource(whole, cut, GetParam().FrameSamples, from, 4000)), double(from), rate / 1000.0);

    TFileTags source = ReadTags(input), copy = ReadTags(output);
    EXPECT_EQ(copy.Pictures, source.Pictures);
    for (const auto& [key, value] : TestTags()) {
        if (source.Tags.count(key)) {
            EXPECT_EQ(copy.Tags[key], value) << key;
        }
    }
    EXPECT_EQ(cutter.Plan(input, TLosslessMode::Delete, 1234, 2345).Verdict, TLosslessVerdict::Possible);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LosslessFrameCopy,
    ::testing::Values(
        TFrameCase{"Adts", [] { return TestMediaFile({TMediaFormat::Aac, 4.0, 44100, 2, 128000}); }, 1024, false},
        TFrameCase{"Wma", [] { return TaggedMediaFile(TMediaFormat::Wma); }, 2048, false},
        TFrameCase{"M4a", [] { return TaggedMediaFile(TMediaFormat::M4a); }, 1024, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- WAV ---------------------------------------------------------------------------------------

class LosslessWav : public LosslessTest, public ::testing::WithParamInterface<TMediaFormat> {};

TEST_P(LosslessWav, SelectAndDeleteCopyExactlyTheSamples) {
    std::string input = TestMediaFile({GetParam(), 3.0, 44100, 2});
    std::string name = Format("wav%d-%d-", int(GetParam()), int(::getpid()));
    ExpectExactSelect(input, {1001, 2503}, Scratch(name + "select.wav"));
    ExpectExactSelect(input, {0, kToEnd}, Scratch(name + "select-all.wav"));

    std::string output = Scratch(name + "delete.wav");
    ASSERT_NO_FATAL_FAILURE(Cut(input, TLosslessMode::Delete, {1001, 2503}, output));
    const TDecodedAudio& whole = DecodedInput(input);
    TDecodedAudio rest = DecodeAudioFile(output);
    int64_t seam = Samples(1001, 44100), resume = Samples(2503, 44100);
    ASSERT_EQ(rest.Frames(), whole.Frames() - (resume - seam));
    std::vector<float> want(whole.Samples.begin(), whole.Samples.begin() + seam * 2);
    want.insert(want.end(), whole.Samples.begin() + resume * 2, whole.Samples.end());
    EXPECT_TRUE(want == rest.Samples);
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessWav, ::testing::Values(TMediaFormat::Wav16, TMediaFormat::WavFloat));

} // namespace
