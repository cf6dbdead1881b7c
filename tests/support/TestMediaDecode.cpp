// Decoding test media back to samples, and measuring where a decoded piece sits in its source.
#include "TestMedia.h"

#include "FFPtr.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what, int code = 0) {
    std::string text = "decode " + path + ": " + what;
    if (code < 0) {
        char err[AV_ERROR_MAX_STRING_SIZE] = {0};
        av::av_strerror(code, err, sizeof(err));
        text += std::string(" (") + err + ")";
    }
    throw std::runtime_error(text);
}

double ReadSample(const AVFrame* f, AVSampleFormat fmt, int index, int channel, int channels) {
    const bool planar = av::av_sample_fmt_is_planar(fmt);
    const int slot = planar ? index : index * channels + channel;
    const uint8_t* base = f->extended_data[planar ? channel : 0];
    switch (av::av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_U8:
        return (double(base[slot]) - 128.0) / 128.0;
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(base)[slot] / 32768.0;
    case AV_SAMPLE_FMT_S32:
        return reinterpret_cast<const int32_t*>(base)[slot] / 2147483648.0;
    case AV_SAMPLE_FMT_S64:
        return double(reinterpret_cast<const int64_t*>(base)[slot]) / 9223372036854775808.0;
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(base)[slot];
    case AV_SAMPLE_FMT_DBL:
        return reinterpret_cast<const double*>(base)[slot];
    default:
        return 0;
    }
}

void AppendFrame(TDecodedAudio& out, const AVFrame* f) {
    const int channels = f->ch_layout.nb_channels;
    if (out.Channels == 0) {
        out.Channels = channels;
        out.SampleRate = f->sample_rate;
    }
    if (channels != out.Channels) return; // a mid-stream layout change is not test media
    const auto fmt = AVSampleFormat(f->format);
    const size_t start = out.Samples.size();
    out.Samples.resize(start + size_t(f->nb_samples) * size_t(channels));
    for (int i = 0; i < f->nb_samples; ++i)
        for (int c = 0; c < channels; ++c)
            out.Samples[start + size_t(i * channels + c)] = float(ReadSample(f, fmt, i, c, channels));
}

// ---- Correlation by FFT ------------------------------------------------------------------------

using TComplex = std::complex<double>;

void Fft(std::vector<TComplex>& a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2 * M_PI / double(len) * (inverse ? 1 : -1);
        const TComplex step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            TComplex w(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const TComplex u = a[i + k];
                const TComplex v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
    if (inverse)
        for (TComplex& x : a)
            x /= double(n);
}

size_t NextPow2(size_t n) {
    size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

std::vector<double> Mono(const TDecodedAudio& audio, int64_t from, int64_t count) {
    std::vector<double> mono(size_t(std::max<int64_t>(count, 0)));
    for (int64_t i = 0; i < count; ++i) {
        double sum = 0;
        for (int c = 0; c < audio.Channels; ++c)
            sum += audio.At(from + i, c);
        mono[size_t(i)] = sum / audio.Channels;
    }
    return mono;
}

// Normalised correlation of `piece` with `seg` at every lag 0..seg.size()-piece.size().
std::vector<double> Correlate(const std::vector<double>& seg, const std::vector<double>& piece) {
    const size_t lags = seg.size() - piece.size() + 1;
    const size_t n = NextPow2(seg.size() + piece.size());
    std::vector<TComplex> a(n), b(n);
    for (size_t i = 0; i < seg.size(); ++i)
        a[i] = seg[i];
    for (size_t i = 0; i < piece.size(); ++i)
        b[i] = piece[i];
    Fft(a, false);
    Fft(b, false);
    for (size_t i = 0; i < n; ++i)
        a[i] *= std::conj(b[i]);
    Fft(a, true);
    double pieceEnergy = 0;
    for (double x : piece)
        pieceEnergy += x * x;
    std::vector<double> prefix(seg.size() + 1, 0.0);
    for (size_t i = 0; i < seg.size(); ++i)
        prefix[i + 1] = prefix[i] + seg[i] * seg[i];
    std::vector<double> score(lags);
    for (size_t k = 0; k < lags; ++k) {
        const double segEnergy = prefix[k + piece.size()] - prefix[k];
        const double denom = std::sqrt(segEnergy * pieceEnergy);
        score[k] = denom > 1e-12 ? a[k].real() / denom : 0.0;
    }
    return score;
}

double SquaredDifference(const std::vector<double>& src, size_t at, const std::vector<double>& piece) {
    double sum = 0;
    for (size_t i = 0; i < piece.size(); ++i) {
        const double d = src[at + i] - piece[i];
        sum += d * d;
    }
    return sum;
}

} // namespace

TDecodedAudio DecodeAudioFile(const std::string& path, bool fromTimeZero) {
    AVFormatContext* raw = nullptr;
    int rc = OpenMediaInput(&raw, MediaFileName(path), nullptr, nullptr);
    if (rc < 0) Fail(path, "cannot open", rc);
    TInputContextPtr input(raw);
    rc = av::avformat_find_stream_info(input.get(), nullptr);
    if (rc < 0) Fail(path, "no stream information", rc);
    AVStream* stream = nullptr;
    for (unsigned i = 0; i < input->nb_streams && !stream; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) stream = input->streams[i];
    if (!stream) Fail(path, "no audio stream");
    const AVCodec* codec = av::avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) Fail(path, "no decoder");
    TCodecContextPtr decoder(av::avcodec_alloc_context3(codec));
    av::avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->pkt_timebase = stream->time_base;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        rc = av::avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (rc < 0) Fail(path, "cannot open decoder", rc);

    TDecodedAudio out;
    TPacketPtr pkt(av::av_packet_alloc());
    TFramePtr frame(av::av_frame_alloc());
    auto drain = [&] {
        while (av::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            const size_t before = out.Samples.size();
            AppendFrame(out, frame.get());
            if (fromTimeZero && frame->pts != AV_NOPTS_VALUE && frame->pts < 0) {
                const int64_t early = av::av_rescale_q(-frame->pts, stream->time_base, AVRational{1, frame->sample_rate});
                const size_t drop = size_t(std::min<int64_t>(early, frame->nb_samples)) * size_t(out.Channels);
                out.Samples.erase(out.Samples.begin() + int64_t(before), out.Samples.begin() + int64_t(before + drop));
            }
            av::av_frame_unref(frame.get());
        }
    };
    while (av::av_read_frame(input.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream->index) {
            // A damaged packet is skipped, as a player would; the decoder carries on.
            if (av::avcodec_send_packet(decoder.get(), pkt.get()) >= 0) drain();
        }
        av::av_packet_unref(pkt.get());
    }
    av::avcodec_send_packet(decoder.get(), nullptr);
    drain();
    if (out.SampleRate == 0) {
        out.SampleRate = decoder->sample_rate;
        out.Channels = decoder->ch_layout.nb_channels;
    }
    return out;
}

int64_t FindOffsetInSource(const TDecodedAudio& source, const TDecodedAudio& piece, int64_t pieceStart,
                           int64_t expected, int64_t radius) {
    constexpr int64_t kWindow = 16384;     // piece frames compared
    constexpr int64_t kLagBlock = 1 << 17; // lags per FFT block
    constexpr int64_t kRefine = 256;       // sample-exact check around the best lag
    if (source.Channels <= 0 || piece.Channels <= 0 || pieceStart < 0) return -1;
    const int64_t window = std::min(kWindow, piece.Frames() - pieceStart);
    if (window < 64) return -1;
    // s is the source frame aligned with piece frame 0; piece frame pieceStart sits at s + pieceStart.
    const int64_t lo = std::max(expected - radius, -pieceStart);
    const int64_t hi = std::min(expected + radius, source.Frames() - pieceStart - window);
    if (hi < lo) return -1;
    const std::vector<double> probe = Mono(piece, pieceStart, window);

    int64_t best = -1;
    double bestScore = -2;
    for (int64_t blockLo = lo; blockLo <= hi; blockLo += kLagBlock) {
        const int64_t blockHi = std::min(hi, blockLo + kLagBlock - 1);
        const std::vector<double> seg = Mono(source, blockLo + pieceStart, blockHi - blockLo + window);
        const std::vector<double> score = Correlate(seg, probe);
        for (size_t k = 0; k < score.size(); ++k)
            if (score[k] > bestScore) {
                bestScore = score[k];
                best = blockLo + int64_t(k);
            }
    }
    if (bestScore < 0.5) return -1;
    // The correlation peak of a smooth signal (a ramp) is broad: settle the exact lag by the
    // smallest difference nearby.
    const int64_t refineLo = std::max(lo, best - kRefine);
    const int64_t refineHi = std::min(hi, best + kRefine);
    const std::vector<double> seg = Mono(source, refineLo + pieceStart, refineHi - refineLo + window);
    double bestDiff = SquaredDifference(seg, size_t(best - refineLo), probe);
    for (int64_t s = refineLo; s <= refineHi; ++s) {
        const double diff = SquaredDifference(seg, size_t(s - refineLo), probe);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = s;
        }
    }
    return best;
}

int64_t LongestSilence(const TDecodedAudio& audio, float threshold) {
    int64_t longest = 0, run = 0;
    for (int64_t n = 0; n < audio.Frames(); ++n) {
        bool silent = true;
        for (int c = 0; c < audio.Channels && silent; ++c)
            silent = std::fabs(audio.At(n, c)) < threshold;
        run = silent ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}
