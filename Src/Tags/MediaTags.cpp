#include "MediaTags.h"

#include "FFPtr.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <array>
#include <mutex>
#include <cstring>
#include <strings.h>

namespace {

// Keys that describe the old encoding: its length, encoder, gapless and VBR information. An
// output that kept them would claim a wrong duration or encoder.
constexpr std::array<const char*, 14> kEncodingTags = {
    "TLEN",        "length",       "duration",          "encoder",      "iTunSMPB",
    "iTunNORM",    "IsVBR",        "WMFSDKVersion",     "WMFSDKNeeded", "major_brand",
    "minor_version", "compatible_brands", "DeviceConformanceTemplate", "METADATA_BLOCK_PICTURE",
};

// The picture types as the libraries name them in a picture stream's "comment" (ID3v2 order,
// which FLAC's picture block shares).
constexpr std::array<const char*, 21> kPictureTypes = {
    "Other",
    "32x32 pixels 'file icon'",
    "Other file icon",
    "Cover (front)",
    "Cover (back)",
    "Leaflet page",
    "Media (e.g. label side of CD)",
    "Lead artist/lead performer/soloist",
    "Artist/performer",
    "Conductor",
    "Band/Orchestra",
    "Composer",
    "Lyricist/text writer",
    "Recording Location",
    "During recording",
    "During performance",
    "Movie/video screen capture",
    "A bright coloured fish",
    "Illustration",
    "Band/artist logotype",
    "Publisher/Studio logotype",
};

constexpr int kFrontCover = 3;

int PictureTypeOf(const AVDictionary* metadata) {
    const AVDictionaryEntry* comment = av::av_dict_get(metadata, "comment", nullptr, 0);
    if (!comment) return kFrontCover;
    for (size_t i = 0; i < kPictureTypes.size(); ++i)
        if (strcasecmp(comment->value, kPictureTypes[i]) == 0) return static_cast<int>(i);
    return kFrontCover;
}

const char* MimeTypeOf(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    case AV_CODEC_ID_PNG:
        return "image/png";
    case AV_CODEC_ID_BMP:
        return "image/bmp";
    case AV_CODEC_ID_GIF:
        return "image/gif";
    case AV_CODEC_ID_TIFF:
        return "image/tiff";
    case AV_CODEC_ID_WEBP:
        return "image/webp";
    default:
        return nullptr;
    }
}

bool IsOneOf(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (std::strcmp(name, n) == 0) return true;
    return false;
}

void CopyContentTags(AVDictionary** to, const AVDictionary* from) {
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av::av_dict_get(from, "", tag, AV_DICT_IGNORE_SUFFIX)))
        if (!TMediaTags::IsEncodingTag(tag->key)) av::av_dict_set(to, tag->key, tag->value, AV_DICT_DONT_OVERWRITE);
}

void AppendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

} // namespace

struct TMediaTags::TPicture {
    AVCodecParameters* Parameters = nullptr; // owned
    TPacketPtr Packet;
    AVDictionary* Metadata = nullptr; // owned: title (description) and comment (picture type)
    ~TPicture() {
        av::avcodec_parameters_free(&Parameters);
        av::av_dict_free(&Metadata);
    }
};

TMediaTags::TMediaTags() = default;

TMediaTags::~TMediaTags() {
    Clear();
}

void TMediaTags::Clear() {
    av::av_dict_free(&FTags);
    FPictures.clear();
    FAddedStreams.clear();
}

bool TMediaTags::Load(const std::string& fileName, std::string& error) {
    Clear();
    AVFormatContext* raw = nullptr;
    int rc = OpenMediaInput(&raw, MediaFileName(fileName), nullptr, nullptr);
    if (rc < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {0};
        av::av_strerror(rc, reason, sizeof reason);
        error = fileName + ": " + reason;
        return false;
    }
    TInputContextPtr input(raw);
    // Pictures from ID3v2 and Ogg comments get their dimensions here; muxers want them.
    bool pictures = false;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        pictures |= (raw->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (pictures) {
        std::lock_guard<std::mutex> guard(CodecLock());
        av::avformat_find_stream_info(raw, nullptr);
    }
    LoadFrom(input.get());
    return true;
}

void TMediaTags::LoadFrom(const AVFormatContext* input) {
    Clear();
    if (!input) return;
    CopyContentTags(&FTags, input->metadata);
    bool audioSeen = false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !audioSeen) {
            // Ogg keeps its comments on the stream; they count as the file's.
            CopyContentTags(&FTags, st->metadata);
            audioSeen = true;
        }
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0) continue;
        if (!MimeTypeOf(st->codecpar->codec_id)) continue;
        auto picture = std::make_unique<TPicture>();
        picture->Parameters = av::avcodec_parameters_alloc();
        picture->Packet.reset(av::av_packet_clone(&st->attached_pic));
        if (!picture->Parameters || !picture->Packet ||
            av::avcodec_parameters_copy(picture->Parameters, st->codecpar) < 0)
            continue; // out of memory: the picture is left out
        av::av_dict_copy(&picture->Metadata, st->metadata, 0);
        FPictures.push_back(std::move(picture));
    }
}

bool TMediaTags::Empty() const {
    return av::av_dict_count(FTags) == 0 && FPictures.empty();
}

int TMediaTags::PictureCount() const {
    return static_cast<int>(FPictures.size());
}

const AVDictionary* TMediaTags::Tags() const {
    return FTags;
}

bool TMediaTags::HoldsPictureStreams(const char* muxerName) {
    return muxerName && IsOneOf(muxerName, {"mp3", "flac", "ipod", "mp4", "mov", "matroska"});
}

bool TMediaTags::HoldsPictureComments(const char* muxerName) {
    return muxerName && IsOneOf(muxerName, {"ogg", "oga", "opus", "spx"});
}

void TMediaTags::EnableTagWriting(AVFormatContext* output) {
    if (!output || !output->oformat || !output->priv_data) return;
    if (std::strcmp(output->oformat->name, "adts") == 0)
        av::av_opt_set(output->priv_data, "write_id3v2", "1", 0);
}

bool TMediaTags::IsEncodingTag(const char* key) {
    for (const char* k : kEncodingTags)
        if (strcasecmp(key, k) == 0) return true;
    return false;
}

int TMediaTags::AddTo(AVFormatContext* output, AVStream* audio) {
    if (!output || !output->oformat) return 0;
    const char* muxer = output->oformat->name;
    CopyContentTags(&output->metadata, FTags);
    if (output->metadata) EnableTagWriting(output);
    const bool comments = HoldsPictureComments(muxer);
    if (comments && audio) CopyContentTags(&audio->metadata, FTags);

    int carried = 0;
    for (size_t p = 0; p < FPictures.size(); ++p) {
        const TPicture* picture = FPictures[p].get();
        if (comments && audio) {
            const AVDictionaryEntry* title = av::av_dict_get(picture->Metadata, "title", nullptr, 0);
            std::string data(reinterpret_cast<const char*>(picture->Packet->data),
                             static_cast<size_t>(picture->Packet->size));
            std::string block = FlacPictureBlock(PictureTypeOf(picture->Metadata),
                                                 MimeTypeOf(picture->Parameters->codec_id),
                                                 title ? title->value : "", picture->Parameters->width,
                                                 picture->Parameters->height, data);
            av::av_dict_set(&audio->metadata, "METADATA_BLOCK_PICTURE", Base64Encode(block).c_str(),
                            AV_DICT_MULTIKEY);
            ++carried;
        } else if (HoldsPictureStreams(muxer)) {
            AVStream* st = av::avformat_new_stream(output, nullptr);
            if (!st || av::avcodec_parameters_copy(st->codecpar, picture->Parameters) < 0) continue;
            st->codecpar->codec_tag = 0;
            st->disposition = AV_DISPOSITION_ATTACHED_PIC;
            st->time_base = AVRational{1, 90000};
            av::av_dict_copy(&st->metadata, picture->Metadata, 0);
            FAddedStreams.push_back(TAddedStream{output, st->index, p});
            ++carried;
        }
    }
    return carried;
}

int TMediaTags::WritePictures(AVFormatContext* output) {
    for (const TAddedStream& added : FAddedStreams) {
        if (added.Output != output) continue;
        TPacketPtr packet(av::av_packet_clone(FPictures[added.Picture]->Packet.get()));
        if (!packet) return AVERROR(ENOMEM);
        packet->stream_index = added.StreamIndex;
        packet->pts = packet->dts = 0;
        packet->duration = 0;
        packet->flags |= AV_PKT_FLAG_KEY;
        int rc = av::av_interleaved_write_frame(output, packet.get());
        if (rc < 0) return rc;
    }
    return 0;
}

std::string FlacPictureBlock(int pictureType, const std::string& mimeType, const std::string& description,
                             int width, int height, const std::string& data) {
    std::string block;
    AppendBigEndian(block, static_cast<uint32_t>(pictureType));
    AppendBigEndian(block, static_cast<uint32_t>(mimeType.size()));
    block += mimeType;
    AppendBigEndian(block, static_cast<uint32_t>(description.size()));
    block += description;
    AppendBigEndian(block, static_cast<uint32_t>(width > 0 ? width : 0));
    AppendBigEndian(block, static_cast<uint32_t>(height > 0 ? height : 0));
    AppendBigEndian(block, 0); // colour depth: unknown
    AppendBigEndian(block, 0); // palette size: not indexed
    AppendBigEndian(block, static_cast<uint32_t>(data.size()));
    block += data;
    return block;
}

std::string Base64Encode(const std::string& bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t chunk = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[(chunk >> 18) & 63];
        out += kDigits[(chunk >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(chunk >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[chunk & 63] : '=';
    }
    return out;
}
