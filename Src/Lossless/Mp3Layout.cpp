#include "Mp3Layout.h"

#include "Id3v2Frames.h"
#include "LosslessTexts.h"

#include <cstring>

TLosslessCheck ReadMp3Layout(TByteReader& reader, TMp3FrameWalk& walk, TMp3Layout& layout,
                             TMp3Header& stream) {
    layout.Id3v2Bytes = Id3v2TagBytes(reader);
    layout.AudioEnd = reader.Size();
    uint8_t tag[3];
    if (reader.Size() - 128 >= layout.Id3v2Bytes && reader.Read(reader.Size() - 128, 3, tag) &&
        std::memcmp(tag, "TAG", 3) == 0) {
        layout.AudioEnd -= 128;
        layout.Id3v1From = layout.AudioEnd;
    }
    walk.SetEnd(layout.AudioEnd);
    if (!walk.First(layout.Id3v2Bytes))
        return Verdict(TLosslessVerdict::Refused,
                       walk.FreeFormat ? LosslessText::kFreeFormat : LosslessText::kNoMp3Frames);
    stream = walk.Header;
    std::vector<uint8_t> first(size_t(stream.FrameBytes));
    if (!reader.Read(walk.Offset, first.size(), first.data()))
        return Verdict(TLosslessVerdict::Refused, LosslessText::kNoMp3Frames);
    layout.Tag = ReadMp3InfoTag(first.data(), first.size(), stream);
    if (layout.Tag.Present && !walk.Next())
        return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    int spf = stream.SamplesPerFrame;
    if (layout.Tag.HasLame) {
        layout.SkipRaw = layout.Tag.Delay + kMp3DecoderDelay;
        if (layout.Tag.HasFrames)
            layout.EndRaw = layout.Tag.Frames * spf - layout.Tag.Padding + kMp3DecoderDelay;
    }
    return Verdict(TLosslessVerdict::Possible, "");
}

bool WriteMp3Cut(const std::string& input, const std::string& output, const TMp3Layout& layout,
                 const TMp3InfoFields& fields, const std::vector<TMp3Piece>& pieces, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(input, error)) return false;
    if (!out.Open(output, error)) return false;
    bool copied = CopyId3v2Tag(in, layout.Id3v2Bytes, out);
    std::vector<uint8_t> info = BuildMp3InfoFrame(fields);
    out.Write(info.data(), info.size());
    for (const TMp3Piece& piece : pieces) {
        if (!piece.Bytes.empty())
            out.Write(piece.Bytes.data(), piece.Bytes.size());
        else
            copied = copied && CopyBytes(in, piece.From, piece.To, out);
    }
    if (layout.Id3v1From >= 0) copied = copied && CopyBytes(in, layout.Id3v1From, in.Size(), out);
    bool closed = out.Close(error);
    if (!copied && closed) error = "the input changed while it was copied";
    return copied && closed;
}
