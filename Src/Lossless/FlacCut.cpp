// Lossless FLAC cuts: the frames wholly inside the marks (select) or outside them (delete) are copied
// (renumbered: the cut is a variable-block-size stream from sample 0), the partial frames at either end are
// decoded and their marked samples written verbatim, so the cut holds exactly the marked samples. The stream
// information gets the new length (its MD5 cleared); tags, pictures and the other metadata are copied. A seek
// table is rebuilt for the cut's frames; a cue sheet (whose positions no longer hold) is dropped.
#include "CodecSupport.h"
#include "FFPtr.h"
#include "FlacFrames.h"
#include "FlacSeekTable.h"
#include "Id3v2Frames.h"
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"

#include <cstring>

namespace {

constexpr int kSeekTable = 3, kCueSheet = 5;
constexpr int kVerbatimBlock = 4096; // samples per frame of the verbatim parts
constexpr int64_t kMaxFrameBytes =
    1 << 20;                  // far above intact frames (4096 samples of 8 channels at 32 bits: 128 KiB)
constexpr int kMinBlock = 16; // the smallest frame but the last

// A stretch [Start, End) of the input's samples: partial frames at either end decoded, the
// frames between copied.
struct TFlacPiece {
    std::vector<TFlacFrame> Head; // decoded: their samples from Start on
    TFlacFrame CopyFirst;         // the first of CopyCount frames copied
    int64_t CopyCount = 0;
    TFlacFrame AfterFirst;      // the frame after CopyFirst, when CopyCount > 1
    TFlacFrame Tail;            // decoded: its samples before End (BlockSize 0: none)
    int64_t Start = 0, End = 0; // sample numbers of the input's frames
};

class TFlacPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    TFlacInfo Info;
    std::vector<TFlacBlock> Blocks; // kept, in their order
    std::vector<uint8_t> StreamInfo;
    int64_t Id3Bytes = 0;
    int64_t AudioEnd = 0;
    std::vector<TFlacPiece> Pieces;
    bool HadSeekTable = false; // the cut gets a seek table of its own

private:
    bool DecodeFrames(TByteReader& in, const std::vector<TFlacFrame>& frames, std::vector<int32_t>& pcm,
                      std::string& error);
    void AddVerbatim(const std::vector<int32_t>& pcm, int64_t from, int64_t count);
    void FlushVerbatim(TByteWriter& out);
    void WriteMetadata(TByteReader& in, TByteWriter& out, bool& copied);
    bool WritePiece(TByteReader& in, TByteWriter& out, const TFlacPiece& piece, std::string& error);
    bool CopyFrames(TByteReader& in, TByteWriter& out, const TFlacPiece& piece);
    void NoteFrame(int samples, int64_t at);
    int64_t CutSamples() const;

    const TFlacFrame* FModel = nullptr;
    std::vector<int32_t> FVerbatim; // decoded samples waiting to be written (interleaved)
    int64_t FWritten = 0;           // samples written
    int FMinBlock = 0, FMaxBlock = 0, FLastBlock = 0;
    std::unique_ptr<TFlacSeekTable> FSeekTable;
    int64_t FSeekTableAt = 0, FFramesAt = 0; // output offsets of the table's body and the first frame
};

bool TFlacPlan::DecodeFrames(TByteReader& in, const std::vector<TFlacFrame>& frames,
                             std::vector<int32_t>& pcm, std::string& error) {
    const AVCodec* codec = av::avcodec_find_decoder(AV_CODEC_ID_FLAC);
    TCodecContextPtr context(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    if (!context) {
        error = "no FLAC decoder";
        return false;
    }
    context->extradata =
        static_cast<uint8_t*>(av::av_mallocz(StreamInfo.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata) {
        error = "out of memory";
        return false;
    }
    std::memcpy(context->extradata, StreamInfo.data(), StreamInfo.size());
    context->extradata_size = int(StreamInfo.size());
    int rc = av::avcodec_open2(context.get(), codec, nullptr);
    TPacketPtr packet(av::av_packet_alloc());
    TFramePtr frame(av::av_frame_alloc());
    if (rc < 0 || !packet || !frame) {
        error = rc < 0 ? ErrorText(rc) : "out of memory";
        return false;
    }
    pcm.clear();
    for (const TFlacFrame& f : frames) {
        if (av::av_new_packet(packet.get(), int(f.Bytes)) < 0 ||
            !in.Read(f.Offset, size_t(f.Bytes), packet->data)) {
            error = "a frame at the cut cannot be read";
            return false;
        }
        rc = av::avcodec_send_packet(context.get(), packet.get());
        av::av_packet_unref(packet.get());
        size_t before = pcm.size();
        while (rc >= 0 && (rc = av::avcodec_receive_frame(context.get(), frame.get())) >= 0) {
            auto format = AVSampleFormat(frame->format);
            bool wide = format == AV_SAMPLE_FMT_S32 || format == AV_SAMPLE_FMT_S32P;
            bool planar = av::av_sample_fmt_is_planar(format) != 0;
            int shift = (wide ? 32 : 16) - Info.BitsPerSample;
            for (int i = 0; i < frame->nb_samples; ++i)
                for (int c = 0; c < Info.Channels; ++c) {
                    int index = planar ? i : i * Info.Channels + c;
                    const uint8_t* plane = frame->extended_data[planar ? c : 0];
                    int32_t v = wide ? reinterpret_cast<const int32_t*>(plane)[index]
                                     : reinterpret_cast<const int16_t*>(plane)[index];
                    pcm.push_back(shift > 0 ? v >> shift : v);
                }
            av::av_frame_unref(frame.get());
        }
        if (pcm.size() - before != size_t(f.BlockSize) * size_t(Info.Channels)) {
            error = "a frame at the cut cannot be decoded";
            return false;
        }
    }
    return true;
}

void TFlacPlan::AddVerbatim(const std::vector<int32_t>& pcm, int64_t from, int64_t count) {
    FVerbatim.insert(FVerbatim.end(), pcm.begin() + from * Info.Channels,
                     pcm.begin() + (from + count) * Info.Channels);
}

// Writes the waiting samples in frames of at most kVerbatimBlock samples; a remainder too short
// for a frame joins the one before.
void TFlacPlan::FlushVerbatim(TByteWriter& out) {
    int64_t count = int64_t(FVerbatim.size()) / Info.Channels, from = 0;
    while (count > 0) {
        int64_t n = std::min<int64_t>(count, kVerbatimBlock);
        if (count - n > 0 && count - n < kMinBlock) n = count;
        std::vector<int32_t> part(FVerbatim.begin() + from * Info.Channels,
                                  FVerbatim.begin() + (from + n) * Info.Channels);
        std::vector<uint8_t> frame = VerbatimFlacFrame(Info, *FModel, part, int(n), FWritten);
        int64_t at = out.Position();
        out.Write(frame.data(), frame.size());
        NoteFrame(int(n), at);
        from += n;
        count -= n;
    }
    FVerbatim.clear();
}

// The block sizes for the stream information (the smallest but the last frame's, the largest)
// and the seek table's points, for a frame written at `at`.
void TFlacPlan::NoteFrame(int samples, int64_t at) {
    if (FSeekTable) FSeekTable->NoteFrame(FWritten, at - FFramesAt, samples);
    if (FLastBlock > 0) FMinBlock = FMinBlock == 0 ? FLastBlock : std::min(FMinBlock, FLastBlock);
    FMaxBlock = std::max(FMaxBlock, samples);
    FLastBlock = samples;
    FWritten += samples;
}

// The frames between the partial ones, renumbered to follow the samples written before them.
bool TFlacPlan::CopyFrames(TByteReader& in, TByteWriter& out, const TFlacPiece& piece) {
    TFlacFrameWalk walk(in, Info);
    walk.AudioEnd = AudioEnd;
    TFlacFrame frame = piece.CopyFirst;
    std::vector<uint8_t> bytes;
    if (piece.CopyCount > 0) FlushVerbatim(out);
    for (int64_t n = 0; n < piece.CopyCount; ++n) {
        TFlacFrame current = frame;
        bool next = walk.Next(frame);
        current.Bytes = next ? frame.Offset - current.Offset : AudioEnd - current.Offset;
        bytes.resize(size_t(current.Bytes));
        if ((!next && n + 1 < piece.CopyCount) || !in.Read(current.Offset, bytes.size(), bytes.data()))
            return false;
        std::vector<uint8_t> renumbered = RenumberFlacFrame(bytes, current, FWritten);
        int64_t at = out.Position();
        out.Write(renumbered.data(), renumbered.size());
        NoteFrame(current.BlockSize, at);
    }
    return true;
}

int64_t TFlacPlan::CutSamples() const {
    int64_t total = 0;
    for (const TFlacPiece& piece : Pieces)
        total += piece.End - piece.Start;
    return total;
}

namespace {

void WriteBlockHeader(TByteWriter& out, int type, int64_t size, bool last) {
    uint8_t h[4] = {uint8_t((last ? 0x80 : 0) | type), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
    out.Write(h, 4);
}

} // namespace

// The stream information (rewritten with the cut's figures at the end), the new seek table's
// room after it, then the input's other blocks as they are.
void TFlacPlan::WriteMetadata(TByteReader& in, TByteWriter& out, bool& copied) {
    copied = copied && CopyId3v2Tag(in, Id3Bytes, out);
    out.Write("fLaC", 4);
    WriteBlockHeader(out, Blocks[0].Type, Blocks[0].Size, Blocks.size() == 1 && !FSeekTable);
    out.Write(StreamInfo.data(), StreamInfo.size());
    if (FSeekTable) {
        std::vector<uint8_t> room = FSeekTable->Body();
        WriteBlockHeader(out, kSeekTable, int64_t(room.size()), Blocks.size() == 1);
        FSeekTableAt = out.Position();
        out.Write(room.data(), room.size());
    }
    for (size_t i = 1; i < Blocks.size(); ++i) {
        const TFlacBlock& block = Blocks[i];
        WriteBlockHeader(out, block.Type, block.Size, i + 1 == Blocks.size());
        copied = copied && CopyBytes(in, block.Offset + 4, block.Offset + 4 + block.Size, out);
    }
    FFramesAt = out.Position();
}

bool TFlacPlan::WritePiece(TByteReader& in, TByteWriter& out, const TFlacPiece& piece, std::string& error) {
    std::vector<int32_t> pcm;
    if (!piece.Head.empty()) {
        if (!DecodeFrames(in, piece.Head, pcm, error)) return false;
        int64_t headEnd = std::min(piece.End, piece.Head.back().FirstSample + piece.Head.back().BlockSize);
        AddVerbatim(pcm, piece.Start - piece.Head[0].FirstSample, headEnd - piece.Start);
    }
    if (!CopyFrames(in, out, piece)) {
        error = "the input changed while it was copied";
        return false;
    }
    if (piece.Tail.BlockSize > 0) {
        if (!DecodeFrames(in, {piece.Tail}, pcm, error)) return false;
        AddVerbatim(pcm, 0, piece.End - piece.Tail.FirstSample);
    }
    return true;
}

bool TFlacPlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    bool copied = true;
    if (HadSeekTable) FSeekTable = std::make_unique<TFlacSeekTable>(CutSamples(), Info.SampleRate);
    WriteMetadata(in, out, copied);
    int64_t streamInfoAt = Id3Bytes + 8;
    FWritten = 0;
    FMinBlock = FMaxBlock = FLastBlock = 0;
    const TFlacPiece& first = Pieces[0];
    FModel = !first.Head.empty() ? &first.Head[0] : first.CopyCount > 0 ? &first.CopyFirst : &first.Tail;
    for (const TFlacPiece& piece : Pieces)
        if (!WritePiece(in, out, piece, error)) {
            std::string ignored;
            out.Close(ignored);
            return false;
        }
    FlushVerbatim(out);
    TFlacInfo info = Info;
    info.MinBlock = FMinBlock > 0 ? FMinBlock : FLastBlock;
    info.MaxBlock = FMaxBlock;
    info.TotalSamples = FWritten;
    std::vector<uint8_t> streamInfo = FlacStreamInfo(info);
    out.WriteAt(streamInfoAt, streamInfo.data(), streamInfo.size());
    if (FSeekTable) {
        std::vector<uint8_t> points = FSeekTable->Body();
        out.WriteAt(FSeekTableAt, points.data(), points.size());
    }
    bool closed = out.Close(error);
    if (!copied && closed) error = "the input changed while it was copied";
    return copied && closed;
}

class TFlacPlanner {
public:
    TFlacPlanner(TFlacPlan& plan, TByteReader& reader)
        : FPlan(plan), FReader(reader), FWalk(reader, plan.Info) {}
    TLosslessCheck Run(TLosslessMode mode, int64_t startMs, int64_t endMs);

private:
    TLosslessCheck ReadLayout();
    void Fetch();
    void Step();
    void JumpTowards(int64_t sample);
    bool PlanPiece(int64_t start, int64_t end);
    void JoinShortEnd();

    TFlacPlan& FPlan;
    TByteReader& FReader;
    TFlacFrameWalk FWalk;
    int64_t FAudio = 0;
    TFlacFrame FCurrent, FNext; // the frame the walk is on (its size known) and the one after it
    bool FHasNext = false;
    bool FOversized = false; // a frame of the cut is larger than any intact one
};

TLosslessCheck TFlacPlanner::ReadLayout() {
    std::string reason;
    std::vector<TFlacBlock> blocks;
    if (!ReadFlacMetadata(FReader, FPlan.Info, blocks, FPlan.Id3Bytes, FAudio, reason))
        return Verdict(TLosslessVerdict::Refused, Format(LosslessText::kBadFlac, reason.c_str()));
    FPlan.StreamInfo.resize(34);
    FReader.Read(blocks[0].Offset + 4, 34, FPlan.StreamInfo.data());
    for (const TFlacBlock& block : blocks) {
        if (block.Type == kSeekTable) FPlan.HadSeekTable = true;
        if (block.Type != kSeekTable && block.Type != kCueSheet) FPlan.Blocks.push_back(block);
    }
    uint8_t tag[3];
    FPlan.AudioEnd = FReader.Size();
    if (FReader.Size() >= 128 && FReader.Read(FReader.Size() - 128, 3, tag) &&
        std::memcmp(tag, "TAG", 3) == 0)
        FPlan.AudioEnd -= 128;
    FWalk.AudioEnd = FPlan.AudioEnd;
    if (!FWalk.Find(FAudio, -1, FCurrent))
        return Verdict(TLosslessVerdict::Refused,
                       Format(LosslessText::kBadFlac, "no frame header was found"));
    Fetch();
    return Verdict(TLosslessVerdict::Possible, "");
}

// Finds the frame after FCurrent, which gives FCurrent's size.
void TFlacPlanner::Fetch() {
    FNext = FCurrent;
    FHasNext = FWalk.Next(FNext);
    FCurrent.Bytes = FHasNext ? FNext.Offset - FCurrent.Offset : FPlan.AudioEnd - FCurrent.Offset;
}

void TFlacPlanner::Step() {
    FCurrent = FNext;
    Fetch();
}

// Plans the piece [start, end) (lowered to the stream's end), walking forward to it; the walk
// stays on the piece's last frame. False when the piece holds no samples.
// Moves the walk forward to a frame shortly before the one holding `sample`, by bisecting the
// bytes ahead: every frame header names its first sample. A header counts when the frame after
// it continues the numbering.
void TFlacPlanner::JumpTowards(int64_t sample) {
    constexpr int64_t kClose = 64 << 10;
    bool lost = FWalk.Lost;
    int64_t lo = FCurrent.Offset, hi = FPlan.AudioEnd;
    TFlacFrame best = FCurrent;
    while (hi - lo > kClose) {
        int64_t mid = lo + (hi - lo) / 2;
        TFlacFrame found, after;
        bool header = FWalk.Find(mid, -1, found) && found.Offset < hi;
        after = found;
        if (!header || !FWalk.Next(after)) {
            hi = mid;
        } else if (found.FirstSample <= sample && found.FirstSample > best.FirstSample) {
            best = found;
            lo = found.Offset;
        } else {
            hi = mid;
        }
    }
    FWalk.Lost = lost; // looking ahead is not walking
    if (best.Offset == FCurrent.Offset) return;
    FCurrent = best;
    Fetch();
}

bool TFlacPlanner::PlanPiece(int64_t start, int64_t end) {
    auto frameEnd = [](const TFlacFrame& f) { return f.FirstSample + f.BlockSize; };
    if (frameEnd(FCurrent) <= start) JumpTowards(start);
    while (frameEnd(FCurrent) <= start && FHasNext)
        Step();
    // The first four frames of the piece (for the head and the first two copied ones) and the last.
    TFlacFrame leading[4], last;
    int64_t count = 0;
    while (true) {
        if (frameEnd(FCurrent) > start) {
            FOversized = FOversized || FCurrent.Bytes > kMaxFrameBytes;
            if (count < 4) leading[count] = FCurrent;
            last = FCurrent;
            ++count;
        }
        if (frameEnd(FCurrent) >= end || !FHasNext) break;
        Step();
    }
    if (count == 0) return false;
    end = std::min(end, frameEnd(last));
    if (end <= start) return false;
    TFlacPiece piece;
    // The head: the first frame when the start lies inside it, with the next when too few of its
    // samples are left for a frame; the tail: the last frame when the end lies inside it.
    int64_t i = 0;
    if (leading[0].FirstSample < start) {
        piece.Head.push_back(leading[i++]);
        if (frameEnd(leading[0]) - start < kMinBlock && i < count) piece.Head.push_back(leading[i++]);
    }
    int64_t copyEnd = count;
    if (copyEnd > i && frameEnd(last) > end) {
        piece.Tail = last;
        --copyEnd;
    }
    piece.CopyCount = copyEnd - i;
    if (piece.CopyCount > 0) piece.CopyFirst = leading[i];
    if (piece.CopyCount > 1) piece.AfterFirst = leading[i + 1];
    piece.Start = start;
    piece.End = end;
    FPlan.Pieces.push_back(piece);
    return true;
}

// Only the last frame may be shorter than kMinBlock: when the first piece ends in fewer decoded
// samples and the second begins with a copied frame, that frame is decoded to join them.
void TFlacPlanner::JoinShortEnd() {
    if (FPlan.Pieces.size() != 2) return;
    const TFlacPiece& a = FPlan.Pieces[0];
    TFlacPiece& b = FPlan.Pieces[1];
    int64_t pending = a.Tail.BlockSize > 0 ? a.End - a.Tail.FirstSample
                      : a.CopyCount == 0   ? a.End - a.Start
                                           : 0;
    if (pending == 0 || pending >= kMinBlock || !b.Head.empty() || b.CopyCount == 0) return;
    b.Head.push_back(b.CopyFirst);
    if (--b.CopyCount > 0) b.CopyFirst = b.AfterFirst;
}

TLosslessCheck TFlacPlanner::Run(TLosslessMode mode, int64_t startMs, int64_t endMs) {
    TLosslessCheck check = ReadLayout();
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    int64_t origin = FCurrent.FirstSample; // decoded sample 0
    int64_t start = MarkToSamples(startMs, FPlan.Info.SampleRate) + origin;
    int64_t end = MarkToSamples(endMs, FPlan.Info.SampleRate) + origin;
    int64_t streamEnd = FPlan.Info.TotalSamples > 0 ? origin + FPlan.Info.TotalSamples : INT64_MAX;
    end = std::min(end, streamEnd);
    if (end <= start) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    if (mode == TLosslessMode::Select) {
        PlanPiece(start, end);
    } else {
        if (start > origin) PlanPiece(origin, start);
        if (end < streamEnd) PlanPiece(end, streamEnd);
        JoinShortEnd();
    }
    if (FOversized)
        return Verdict(TLosslessVerdict::Refused,
                       Format(LosslessText::kBadFlac,
                              "a frame is too large (damaged, or other data follows the audio)"));
    if (FWalk.Lost)
        return Verdict(TLosslessVerdict::Refused,
                       Format(LosslessText::kBadFlac, "a frame header is damaged"));
    if (FPlan.Pieces.empty()) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    return check;
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanFlacCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                           int64_t endMs, TLosslessCheck& check) {
    auto plan = std::make_unique<TFlacPlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TFlacPlanner planner(*plan, reader);
    check = planner.Run(mode, startMs, endMs);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}
