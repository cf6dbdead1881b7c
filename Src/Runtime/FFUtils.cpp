#include "FFUtils.h"

#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// ---- Open-failure texts -----------------------------------------------------------------------

int OpenErrorCode(int errorCode) {
    if (errorCode == AVERROR(EILSEQ)) return kErrUnknownFormat;
    if (errorCode == AVERROR_INVALIDDATA) return kErrParseHeader;
    return errorCode;
}

namespace {

const char* OpenErrorTemplate(int code) {
    switch (code) {
    case kErrUnknownFormat:
        return "%s: Unknown format";
    case kErrImageFileName:
        return "%s: Incorrect image filename syntax.\r\n"
               "Use '%%d' to specify the image number:\r\n"
               "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
               "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
    case kErrParseHeader:
        return "%s: Error while parsing header";
    case kErrNoMemory:
        return "%s: memory allocation error occurred";
    case kErrIO:
        return "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
    case kErrNoSuchFile:
        return "%s: no such file or directory";
    default:
        return "%s: Error while opening file";
    }
}

// The first bytes of a file as the library's format probing sees them (zero padding included).
bool ReadProbeBuffer(const std::string& fileName, std::vector<uint8_t>& buffer) {
    constexpr size_t kProbeBytes = 1 << 20; // the library's largest probe
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    buffer.assign(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
    size_t got = 0;
    while (got < kProbeBytes) {
        const ssize_t n = ::read(fd, buffer.data() + got, kProbeBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    buffer.resize(got + AVPROBE_PADDING_SIZE);
    return true;
}

} // namespace

std::string FormatOpenError(const std::string& fileName, int errorCode) {
    // The template is expanded with the name as its only argument ("%%" becomes "%").
    const char* pattern = OpenErrorTemplate(OpenErrorCode(errorCode));
    std::string text;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            text += fileName;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            text += '%';
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

int InputOpenErrorCode(const std::string& fileName, int errorCode, const AVInputFormat* forcedFormat) {
    if (errorCode != AVERROR_INVALIDDATA || forcedFormat) return errorCode;
    std::vector<uint8_t> buffer;
    if (!ReadProbeBuffer(fileName, buffer)) return errorCode;
    AVProbeData probe = {};
    probe.filename = fileName.c_str();
    probe.buf = buffer.data();
    probe.buf_size = int(buffer.size() - AVPROBE_PADDING_SIZE);
    int score = 0;
    return av::av_probe_input_format2(&probe, 1, &score) ? errorCode : kErrUnknownFormat;
}

// ---- Option contexts --------------------------------------------------------------------------

void InitOptionContexts(TOptionContexts* block) {
    *block = TOptionContexts{};
}

void AllocOptionContexts(TOptionContexts* block, int swsFlags) {
    FreeOptionContexts(block);
    for (int type = 0; type < kOptionMediaTypes; ++type) {
        block->CodecOptions[type] = av::avcodec_alloc_context3(nullptr);
        if (block->CodecOptions[type]) block->CodecOptions[type]->codec_type = AVMediaType(type);
    }
    block->FormatOptions = av::avformat_alloc_context();
    block->ScaleOptions = av::sws_alloc_context();
    if (block->ScaleOptions) av::av_opt_set_int(block->ScaleOptions, "sws_flags", swsFlags, 0);
}

void FreeOptionContexts(TOptionContexts* block) {
    for (AVCodecContext*& context : block->CodecOptions)
        if (context) av::avcodec_free_context(&context);
    if (block->FormatOptions) {
        av::avformat_free_context(block->FormatOptions);
        block->FormatOptions = nullptr;
    }
    if (block->ScaleOptions) {
        av::sws_freeContext(block->ScaleOptions);
        block->ScaleOptions = nullptr;
    }
    if (block->OptionNames) {
        av::av_free(block->OptionNames);
        block->OptionNames = nullptr;
    }
    block->OptionNameCount = 0;
}

namespace {

// Sets `name` in `object` when the object's class has it: `option` becomes the option found
// (null when none). Returns the library's result, or 0 when nothing was found.
int SetStringOption(void* object, const std::string& name, const std::string& value,
                    const AVOption** option) {
    *option = nullptr;
    if (!object) return 0;
    *option = av::av_opt_find(object, name.c_str(), nullptr, 0, 0);
    if (!*option) return 0;
    return av::av_opt_set(object, name.c_str(), value.c_str(), 0);
}

void RecordOptionName(TOptionContexts* block, const char* name) {
    void* grown =
        av::av_realloc(block->OptionNames, sizeof(const char*) * size_t(block->OptionNameCount + 1));
    if (!grown) return; // the option is set; it just will not be copied
    block->OptionNames = static_cast<const char**>(grown);
    block->OptionNames[block->OptionNameCount++] = name;
}

} // namespace

bool SetOptionDefault(TOptionContexts* block, const std::string& name, const std::string& value) {
    if (Trim(name).empty() || Trim(value).empty()) return false;

    // Per media type, the option flags that make an option apply to it (0 matches every option).
    static const int kTypeMasks[kOptionMediaTypes] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                                      AV_OPT_FLAG_SUBTITLE_PARAM, 0};
    const AVOption* option = nullptr;
    int rc = 0;
    AVCodecContext* probeContext = block->CodecOptions[0];
    if (probeContext) {
        for (int type = 0; type < kOptionMediaTypes && rc >= 0; ++type) {
            const int mask = kTypeMasks[type];
            if (!av::av_opt_find(probeContext, name.c_str(), nullptr, mask, 0)) continue;
            const AVOption* found = nullptr;
            rc = SetStringOption(block->CodecOptions[type], name, value, &found);
            if (found) option = found;
        }
    }
    if (!option) rc = SetStringOption(block->FormatOptions, name, value, &option);
    if (!option) rc = SetStringOption(block->ScaleOptions, name, value, &option);
    if (!option && name.size() > 1) {
        const std::string rest = name.substr(1);
        switch (name[0]) {
        case 'a':
            rc = SetStringOption(block->CodecOptions[AVMEDIA_TYPE_AUDIO], rest, value, &option);
            break;
        case 'v':
            rc = SetStringOption(block->CodecOptions[AVMEDIA_TYPE_VIDEO], rest, value, &option);
            break;
        case 's':
            rc = SetStringOption(block->CodecOptions[AVMEDIA_TYPE_SUBTITLE], rest, value, &option);
            break;
        default:
            break;
        }
    }
    if (option && rc < 0) {
        av::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
                   name.c_str());
        return false;
    }
    if (!option) return false;
    RecordOptionName(block, option->name);

    const AVCodecContext* video = block->CodecOptions[AVMEDIA_TYPE_VIDEO];
    if ((video && video->debug) || (block->FormatOptions && block->FormatOptions->debug))
        FFLogger().SetLogLevel(llDebug);
    return true;
}

void CopyOptionsToContext(const TOptionContexts* block, void* destination, void* source, int flags) {
    if (!destination || !source) return;
    for (int i = 0; i < block->OptionNameCount; ++i) {
        const char* name = block->OptionNames[i];
        const AVOption* option = av::av_opt_find(source, name, nullptr, 0, 0);
        if (!option || (option->flags & flags) != flags) continue;
        uint8_t* value = nullptr;
        if (av::av_opt_get(source, name, 0, &value) < 0 || !value) continue;
        av::av_opt_set(destination, name, reinterpret_cast<const char*>(value), 0);
        av::av_free(value);
    }
}

// ---- Descriptions -----------------------------------------------------------------------------

std::string GetMetadataValue(const AVDictionary* metadata, const std::string& key,
                             const std::string& defaultValue) {
    const AVDictionaryEntry* tag = av::av_dict_get(metadata, key.c_str(), nullptr, 0);
    return tag && tag->value ? std::string(tag->value) : defaultValue;
}

namespace {

std::string Describe(AVCodecID id, uint32_t tag, bool encoder) {
    const AVCodec* codec = encoder ? av::avcodec_find_encoder(id) : av::avcodec_find_decoder(id);
    if (codec) {
        const std::string longName = codec->long_name ? Trim(codec->long_name) : std::string();
        if (longName.empty()) return codec->name;
        return Format("%s(%s)", codec->name, longName.c_str());
    }
    if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    // The codec's registered name stands in for the old free-text codec name field.
    if (id != AV_CODEC_ID_NONE) {
        const AVCodecDescriptor* descriptor = av::avcodec_descriptor_get(id);
        if (descriptor && descriptor->name && !Trim(descriptor->name).empty()) return Trim(descriptor->name);
    }
    const unsigned char bytes[4] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(tag >> 16), uint8_t(tag >> 24)};
    bool printable = true;
    for (unsigned char b : bytes)
        printable = printable && b >= 32 && b <= 126;
    if (printable) return Format("%c%c%c%c / 0x%04X", bytes[0], bytes[1], bytes[2], bytes[3], tag);
    return Format("0x%04x", tag);
}

} // namespace

std::string CodecDescription(const AVCodecContext* context, bool encoder) {
    return Describe(context->codec_id, context->codec_tag, encoder);
}

std::string CodecDescription(const AVCodecParameters* parameters, bool encoder) {
    return Describe(parameters->codec_id, parameters->codec_tag, encoder);
}

std::string MediaTypeName(int mediaType) {
    static const char* const kNames[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
    return mediaType >= 0 && mediaType < 5 ? kNames[mediaType] : "Unknown";
}
