// Waveform data, the picture and writing them.
#include "WaveformExport.h"

#include "FFPtr.h"
#include "MyUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t kBackground = 0xff26211e; // 0xAABBGGRR as the bytes R, G, B, A in memory
constexpr uint32_t kWave = 0xfff7c34f;
constexpr uint32_t kCentre = 0xff6e5a3c;
constexpr uint32_t kMissing = 0xff504a46;
constexpr uint32_t kDatFlag8Bit = 1;

void AppendLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

} // namespace

TWaveformData WaveformDataOf(const TPeakSummary& summary, int64_t pixels, int bits) {
    TWaveformData data;
    data.SampleRate = summary.SampleRate();
    data.SamplesPerPixel = summary.BinFrames();
    data.Channels = summary.Channels();
    data.Bits = bits == 8 ? 8 : 16;
    data.Length = std::max<int64_t>(pixels, 0);
    data.Data.assign(static_cast<size_t>(data.Length * data.Channels * 2), 0);
    for (int c = 0; c < data.Channels; ++c) {
        std::vector<TPeak> bins = summary.Bins(c, 0, data.Length);
        for (int64_t x = 0; x < data.Length; ++x) {
            if (bins[x].Empty()) continue;
            size_t at = static_cast<size_t>((x * data.Channels + c) * 2);
            data.Data[at] = data.Bits == 8 ? static_cast<int16_t>(bins[x].Min >> 8) : bins[x].Min;
            data.Data[at + 1] = data.Bits == 8 ? static_cast<int16_t>(bins[x].Max >> 8) : bins[x].Max;
        }
    }
    return data;
}

std::string WaveformJson(const TWaveformData& data) {
    std::string out = Format("{\"version\":2,\"channels\":%d,\"sample_rate\":%d,\"samples_per_pixel\":%d,"
                             "\"bits\":%d,\"length\":%lld,\"data\":[",
                             data.Channels, data.SampleRate, data.SamplesPerPixel, data.Bits,
                             static_cast<long long>(data.Length));
    out.reserve(out.size() + data.Data.size() * 6 + 4);
    char number[16];
    for (size_t i = 0; i < data.Data.size(); ++i) {
        int n = std::snprintf(number, sizeof number, i == 0 ? "%d" : ",%d", data.Data[i]);
        out.append(number, static_cast<size_t>(n));
    }
    out += "]}\n";
    return out;
}

std::string WaveformDat(const TWaveformData& data) {
    std::string out;
    AppendLe(out, 2, 4);
    AppendLe(out, data.Bits == 8 ? kDatFlag8Bit : 0, 4);
    AppendLe(out, static_cast<uint32_t>(data.SampleRate), 4);
    AppendLe(out, static_cast<uint32_t>(data.SamplesPerPixel), 4);
    AppendLe(out, static_cast<uint32_t>(data.Length), 4);
    AppendLe(out, static_cast<uint32_t>(data.Channels), 4);
    for (int16_t value : data.Data)
        AppendLe(out, static_cast<uint16_t>(value), data.Bits == 8 ? 1 : 2);
    return out;
}

std::vector<uint8_t> DrawWaveform(const TPeakSummary& summary, int width, int height, int64_t columns) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, kBackground);
    auto put = [&](int x, int y, uint32_t colour) { pixels[static_cast<size_t>(y) * width + x] = colour; };
    const int channels = summary.Channels();
    for (int c = 0; c < channels; ++c) {
        int top = height * c / channels, bottom = height * (c + 1) / channels; // band [top, bottom)
        int centre = (top + bottom) / 2;
        double half = (bottom - top) / 2.0 - 1.0;
        std::vector<TPeak> bins = summary.Bins(c, 0, width);
        for (int x = 0; x < width && x < columns; ++x) {
            if (bins[x].Empty()) {
                for (int y = top; y < bottom; ++y)
                    if ((x + y) % 6 < 2) put(x, y, kMissing);
                continue;
            }
            int y0 = centre - static_cast<int>(std::lround(bins[x].Max / 32768.0 * half));
            int y1 = centre - static_cast<int>(std::lround(bins[x].Min / 32768.0 * half));
            for (int y = std::max(y0, top); y <= std::min(y1, bottom - 1); ++y)
                put(x, y, kWave);
        }
        for (int x = 0; x < width; ++x)
            if (pixels[static_cast<size_t>(centre) * width + x] == kBackground) put(x, centre, kCentre);
    }
    std::vector<uint8_t> rgba(pixels.size() * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        for (int b = 0; b < 4; ++b)
            rgba[i * 4 + b] = static_cast<uint8_t>(pixels[i] >> (8 * b));
    return rgba;
}

bool EncodePng(const std::vector<uint8_t>& rgba, int width, int height, std::string& png,
               std::string& error) {
    const AVCodec* codec = av::avcodec_find_encoder(AV_CODEC_ID_PNG);
    TCodecContextPtr context(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    TFramePtr frame(av::av_frame_alloc());
    TPacketPtr packet(av::av_packet_alloc());
    if (!context || !frame || !packet) {
        error = "the PNG encoder is not available";
        return false;
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGBA;
    context->time_base = AVRational{1, 1};
    int rc;
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        rc = av::avcodec_open2(context.get(), codec, nullptr);
    }
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = width;
    frame->height = height;
    if (rc < 0 || av::av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "the PNG encoder could not be opened";
        return false;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + static_cast<size_t>(y) * frame->linesize[0],
                    rgba.data() + static_cast<size_t>(y) * width * 4, static_cast<size_t>(width) * 4);
    frame->pts = 0;
    if (av::avcodec_send_frame(context.get(), frame.get()) < 0 ||
        av::avcodec_send_frame(context.get(), nullptr) < 0 ||
        av::avcodec_receive_packet(context.get(), packet.get()) < 0) {
        error = "the PNG encoder failed";
        return false;
    }
    png.assign(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
    std::lock_guard<std::mutex> guard(CodecLock());
    context.reset();
    return true;
}

bool WriteFileAtomically(const std::string& fileName, const std::string& bytes, std::string& error) {
    size_t slash = fileName.rfind('/');
    std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
    std::string temporary = folder + "." + fileName.substr(folder.size()) + Format(".%d.tmp", getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = Format("%s: %s", fileName.c_str(), std::strerror(errno));
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && written;
    int savedErrno = errno;
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), fileName.c_str()) == 0) return true;
    savedErrno = errno ? errno : savedErrno;
    std::remove(temporary.c_str());
    error = Format("%s: %s", fileName.c_str(), std::strerror(savedErrno));
    return false;
}
