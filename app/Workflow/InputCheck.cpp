// The intake check of an added file: its extension, the probe's view of it, and the audio stream
// parameters that every output copies.
#include "SaveWorkflow.h"

#include "DecodedPlacement.h"
#include "FFPtr.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <set>

using namespace WorkflowText;

bool TSaveWorkflow::CheckInputFile(const std::string& fileName) {
    if (!IsSupportedExtension(fileName)) {
        ShowMessage(TPromptKind::Plain, std::string(), kUnsupportedFormat);
        return false;
    }
    TAVProbe& probe = FFConverter.AVProbe();
    bool loaded = false;
    try {
        loaded = probe.LoadFile(fileName, std::string());
    } catch (const std::exception& e) { // libraries missing
        ShowMessage(TPromptKind::Plain, std::string(), e.what());
        return false;
    }
    if (!loaded) {
        ShowMessage(TPromptKind::Plain, std::string(), probe.LastErrMsg);
        return false;
    }
    if (!CheckStreams()) {
        ShowMessage(TPromptKind::Plain, std::string(), kNotAudio);
        return false;
    }
    std::string refusal = CheckAudioStream(fileName);
    if (!refusal.empty()) {
        ShowMessage(TPromptKind::Plain, std::string(), refusal);
        return false;
    }
    TAudioStreamInfo info;
    probe.GetAudioStreamInfo(info);
    FStreamInfo.CodecName = CodecNameFromDescription(info.Codec);
    FStreamInfo.Channels = info.Channels;
    FStreamInfo.SampleRate = info.SampleRate;
    FStreamInfo.BitRate = info.BitRate;
    TMp3BitRateMode mode;
    const AVStream* audio = probe.FormatContext()->streams[probe.FirstAudioStream];
    if (audio->codecpar->codec_id == AV_CODEC_ID_MP3) mode = AnalyseMp3BitRate(fileName);
    FStreamInfo.VariableBitRate = mode.Variable;
    FStreamInfo.VbrQuality = mode.Quality;
    FInputInfo.StreamCount = probe.StreamCount;
    FInputInfo.AudioStreamCount = probe.AudioStreamCount;
    AVFormatContext* context = probe.FormatContext();
    FInputInfo.DurationUS =
        context && context->duration != AV_NOPTS_VALUE ? DecodedContainerDuration(*context) : info.DurationUS;
    FInputInfo.DurationEstimated =
        context && context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    return true;
}

// What a save could not cut: audio no decoder knows, a stream without rate or channels, content
// of another format than the extension names. The refusal text, or empty.
std::string TSaveWorkflow::CheckAudioStream(const std::string& fileName) {
    TAVProbe& probe = FFConverter.AVProbe();
    AVFormatContext* context = probe.FormatContext();
    if (!context || probe.FirstAudioStream < 0) return kNotAudio;
    const AVCodecParameters* audio = context->streams[probe.FirstAudioStream]->codecpar;
    if (audio->codec_id == AV_CODEC_ID_NONE || !av::avcodec_find_decoder(audio->codec_id)) return kNoDecoder;
    if (audio->sample_rate <= 0 || audio->ch_layout.nb_channels <= 0) return kNoAudioParameters;
    std::string ext = LowerCase(ExtractFileExt(fileName));
    if (!ContentMatchesExtension(ext, context->iformat ? context->iformat->name : ""))
        return Format(kExtensionMismatch, ext.c_str());
    return std::string();
}

bool ContentMatchesExtension(const std::string& ext, const std::string& demuxerName) {
    // The demuxers' names are lists such as "mov,mp4,m4a,3gp,3g2,mj2".
    static const std::map<std::string, std::set<std::string>> kContents = {
        {".mp3", {"mp3"}},  {".aac", {"aac"}},  {".wav", {"wav", "w64"}}, {".wma", {"asf"}},
        {".ogg", {"ogg"}},  {".oga", {"ogg"}},  {".opus", {"ogg"}},       {".flac", {"flac", "ogg"}},
        {".m4a", {"mp4"}},
    };
    auto entry = kContents.find(ext);
    if (entry == kContents.end()) return true;
    std::string rest = demuxerName;
    while (!rest.empty()) {
        std::string name;
        SplitString(rest, ",", true, name);
        if (entry->second.count(Trim(name))) return true;
    }
    return false;
}

namespace {

// The first MPEG audio frame header at or after `from` (after an ID3v2 tag), or npos.
size_t FindFrameHeader(const std::string& bytes, size_t from) {
    for (size_t i = from; i + 4 <= bytes.size(); ++i) {
        const auto b1 = static_cast<uint8_t>(bytes[i + 1]), b2 = static_cast<uint8_t>(bytes[i + 2]);
        if (static_cast<uint8_t>(bytes[i]) == 0xFF && (b1 & 0xE0) == 0xE0 && (b1 & 0x06) != 0 &&
            (b2 & 0xF0) != 0xF0 && (b2 & 0x0C) != 0x0C)
            return i;
    }
    return std::string::npos;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// The "Xing" (VBR) or "Info" (CBR) header in the first frame: 1 VBR, 0 CBR, -1 none. `quality`
// gets the LAME quality it states (-1: none).
int ReadXingHeader(const std::string& fileName, int32_t& quality) {
    quality = -1;
    std::ifstream in(fileName, std::ios::binary);
    std::string bytes(256 * 1024, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    size_t start = 0;
    if (bytes.size() >= 10 && bytes.compare(0, 3, "ID3") == 0) {
        const auto size = [&](int i) { return uint32_t(static_cast<uint8_t>(bytes[size_t(i)]) & 0x7F); };
        start = 10 + ((size(6) << 21) | (size(7) << 14) | (size(8) << 7) | size(9));
    }
    size_t frame = FindFrameHeader(bytes, start);
    if (frame == std::string::npos) return -1;
    const auto b1 = static_cast<uint8_t>(bytes[frame + 1]), b3 = static_cast<uint8_t>(bytes[frame + 3]);
    const bool mpeg1 = (b1 & 0x18) == 0x18, mono = (b3 & 0xC0) == 0xC0;
    size_t at = frame + 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (at + 8 > bytes.size()) return -1;
    const std::string tag = bytes.substr(at, 4);
    if (tag != "Xing" && tag != "Info") return -1;
    const uint32_t flags = BigEndian32(bytes, at + 4);
    size_t field = at + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0);
    // LAME writes 100 - 10 x VBR quality - algorithm quality; other writers leave 0.
    if ((flags & 8) && field + 4 <= bytes.size()) {
        uint32_t stated = BigEndian32(bytes, field);
        if (stated > 0 && stated <= 100) quality = int32_t((100 - stated) / 10);
    }
    return tag == "Xing" ? 1 : 0;
}

} // namespace

TMp3BitRateMode AnalyseMp3BitRate(const std::string& fileName) {
    TMp3BitRateMode mode;
    int xing = ReadXingHeader(fileName, mode.Quality);
    if (xing == 1) {
        mode.Variable = true;
        return mode;
    }
    // No header that says: frames of different bit rates among the first thousand.
    AVFormatContext* raw = nullptr;
    if (OpenMediaInput(&raw, MediaFileName(fileName), nullptr, nullptr) < 0) return mode;
    TInputContextPtr input(raw);
    TPacketPtr packet(av::av_packet_alloc());
    int first = -1;
    for (int n = 0; packet && n < 1000 && av::av_read_frame(raw, packet.get()) >= 0; ++n) {
        const AVStream* st = raw->streams[packet->stream_index];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && packet->size >= 4) {
            int index = (packet->data[2] >> 4) & 0x0F;
            if (first < 0)
                first = index;
            else if (index != first)
                mode.Variable = true;
        }
        av::av_packet_unref(packet.get());
        if (mode.Variable) break;
    }
    if (!mode.Variable) mode.Quality = -1;
    return mode;
}

// One audio stream; anything else in the file must be an attached picture (cover art).
bool TSaveWorkflow::CheckStreams() {
    TAVProbe& probe = FFConverter.AVProbe();
    if (probe.AudioStreamCount != 1) return false;
    if (probe.StreamCount <= 1) return true;
    AVFormatContext* context = probe.FormatContext();
    if (!context) return false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) continue;
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) return false;
    }
    return true;
}
