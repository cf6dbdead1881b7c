#include "VorbisBridge.h"

#include "ByteFile.h"
#include "FFPtr.h"
#include "MyUtils.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kStepsAround = 5; // qualities (in tenths) tried on each side of the nominal rate's

// oggenc's quality in tenths as the libraries' global quality (whose unit is 1/FF_QP2LAMBDA).
int GlobalQualityOfTenths(int tenths) {
    return int(std::lround(tenths * double(FF_QP2LAMBDA) / 10.0));
}

// The libraries' form of a Xiph stream's headers: 2, the sizes of the first two in lacing, then
// all three.
bool SetXiphExtradata(AVCodecContext* c, const TVorbisPackets& headers) {
    std::vector<uint8_t> bytes{2};
    for (size_t i = 0; i < 2; ++i) {
        size_t size = headers[i].size();
        bytes.insert(bytes.end(), size / 255, 255);
        bytes.push_back(uint8_t(size % 255));
    }
    for (const std::vector<uint8_t>& h : headers)
        bytes.insert(bytes.end(), h.begin(), h.end());
    c->extradata = static_cast<uint8_t*>(av::av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!c->extradata) return false;
    std::memcpy(c->extradata, bytes.data(), bytes.size());
    c->extradata_size = int(bytes.size());
    return true;
}

// The three headers of an opened encoder, from its Xiph-laced extradata.
bool ReadXiphExtradata(const AVCodecContext* c, TVorbisPackets& headers) {
    const uint8_t* p = c->extradata;
    size_t size = size_t(std::max(0, c->extradata_size)), at = 1;
    if (!p || size < 3 || p[0] != 2) return false;
    size_t sizes[3] = {0, 0, 0};
    for (size_t i = 0; i < 2; ++i) {
        while (at < size && p[at] == 255)
            sizes[i] += p[at++];
        if (at >= size) return false;
        sizes[i] += p[at++];
    }
    if (sizes[0] + sizes[1] > size - at) return false;
    sizes[2] = size - at - sizes[0] - sizes[1];
    headers.clear();
    for (size_t s : sizes) {
        headers.emplace_back(p + at, p + at + s);
        at += s;
    }
    return true;
}

// The decoder opened with the stream's headers; null with `error`.
TCodecContextPtr OpenDecoder(const TVorbisPackets& headers, std::string& error) {
    const AVCodec* codec = av::avcodec_find_decoder(AV_CODEC_ID_VORBIS);
    TCodecContextPtr context(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    if (!context || headers.size() != 3 || !SetXiphExtradata(context.get(), headers)) {
        error = "no Vorbis decoder";
        return nullptr;
    }
    int rc = av::avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0 || context->sample_fmt != AV_SAMPLE_FMT_FLTP) {
        error = rc < 0 ? "the Vorbis decoder does not open: " + ErrorText(rc)
                       : "the Vorbis decoder gives no float samples";
        return nullptr;
    }
    return context;
}

// The encoder opened at `setting` with the decoder's rate and channel layout; null when it does
// not open.
TCodecContextPtr OpenEncoder(const AVCodecContext* decoder, const TVorbisSetting& setting) {
    const AVCodec* codec = av::avcodec_find_encoder_by_name("libvorbis");
    TCodecContextPtr context(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    AVCodecContext* c = context.get();
    if (!c) return nullptr;
    c->sample_rate = decoder->sample_rate;
    c->time_base = AVRational{1, decoder->sample_rate};
    if (av::av_channel_layout_copy(&c->ch_layout, &decoder->ch_layout) < 0) return nullptr;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    if (setting.BitRate > 0) {
        c->bit_rate = setting.BitRate;
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = setting.GlobalQuality;
    }
    if (av::avcodec_open2(c, codec, nullptr) < 0) return nullptr;
    return context;
}

} // namespace

bool DecodeVorbisPackets(const TVorbisPackets& headers, const TVorbisPackets& packets, TPcmBlock& pcm,
                         std::string& error) {
    TCodecContextPtr context = OpenDecoder(headers, error);
    return context && DecodePackets(context.get(), packets, pcm, error);
}

std::string TVorbisSetting::Describe() const {
    if (BitRate > 0) return Format("%lld bit/s", (long long)BitRate);
    return Format("quality %.2f", double(GlobalQuality) / FF_QP2LAMBDA);
}

bool TVorbisBridgeEncoder::Try(const TVorbisSetting& setting, int64_t& nominal) {
    ++Tries;
    nominal = -1;
    TCodecContextPtr c = OpenEncoder(FDecoder.get(), setting);
    TVorbisPackets own;
    if (!c || !ReadXiphExtradata(c.get(), own) || own[0].size() < 30) return false;
    nominal = int32_t(ReadLE32(&own[0][20]));
    if (own[0][28] != FHeaders[0][28] || own[0][11] != FHeaders[0][11] || own[2] != FHeaders[2]) return false;
    Setting = setting;
    return true;
}

// The quality (in the libraries' unit) whose nominal rate is `nominal`: the rate grows with the
// quality. Stops early at a quality that reproduces the setup.
int TVorbisBridgeEncoder::QualityOfRate(int64_t nominal, bool& found) {
    int low = -FF_QP2LAMBDA, high = 10 * FF_QP2LAMBDA;
    found = false;
    while (high - low > 1 && !found) {
        int mid = (low + high) / 2;
        int64_t rate = 0;
        found = Try(TVorbisSetting{0, mid}, rate);
        (rate >= 0 && rate < nominal ? low : high) = mid;
    }
    return high;
}

bool TVorbisBridgeEncoder::Find(const TVorbisPackets& headers, std::string& error) {
    FDecoder = OpenDecoder(headers, error);
    if (!FDecoder) return false;
    if (!av::avcodec_find_encoder_by_name("libvorbis")) {
        error = "the libraries have no libvorbis encoder";
        return false;
    }
    FHeaders = headers;
    Tries = 0;
    int64_t nominal = int32_t(ReadLE32(&headers[0][20])), rate = 0;
    bool found = false;
    // Without a nominal rate (libvorbis states none above 50 kHz), every quality from the
    // libraries' default (3) outwards.
    int centre = 30, spread = 110;
    if (nominal > 0) {
        if (Try(TVorbisSetting{nominal, 0}, rate)) return true;
        centre = int(std::lround(QualityOfRate(nominal, found) * 10.0 / FF_QP2LAMBDA));
        spread = kStepsAround;
    }
    for (int step = 0; step <= 2 * spread && !found; ++step) {
        int tenths = centre + (step % 2 ? 1 : -1) * ((step + 1) / 2);
        if (tenths >= -10 && tenths <= 100)
            found = Try(TVorbisSetting{0, GlobalQualityOfTenths(tenths)}, rate);
    }
    if (!found) error = "no setting of the Vorbis encoder reproduces the stream's setup header";
    return found;
}

bool TVorbisBridgeEncoder::Encode(const TPcmBlock& pcm, TVorbisPackets& packets, std::string& error) const {
    TCodecContextPtr context = FDecoder ? OpenEncoder(FDecoder.get(), Setting) : nullptr;
    AVCodecContext* c = context.get();
    if (!c) {
        error = "the Vorbis encoder does not open";
        return false;
    }
    packets.clear();
    return EncodePcm(c, pcm, c->frame_size > 0 ? c->frame_size : 1024, false, packets, error);
}
