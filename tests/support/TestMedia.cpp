#include "TestMedia.h"

#include "MyUtils.h"
#include "TestMediaWriter.h"

#include "FFPtr.h"
#include "MediaApi.h"
#include "UnicodeProtocol.h"

#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// Bump when the signals or the encoding settings change, so that stale caches are not reused.
constexpr const char* kGeneratorVersion = "v2";

struct TFormatInfo {
    const char* Tag;
    const char* Ext;
    const char* Muxer;
    const char* Encoder;
    int MaxChannels;
};

const TFormatInfo& Info(TMediaFormat format) {
    static const std::map<TMediaFormat, TFormatInfo> kInfo = {
        {TMediaFormat::Mp3Cbr, {"mp3cbr", ".mp3", "mp3", "libmp3lame", 2}},
        {TMediaFormat::Mp3Vbr, {"mp3vbr", ".mp3", "mp3", "libmp3lame", 2}},
        {TMediaFormat::Aac, {"aac", ".aac", "adts", "aac", 6}},
        {TMediaFormat::Wav16, {"wav16", ".wav", "wav", "pcm_s16le", 6}},
        {TMediaFormat::WavFloat, {"wavf32", ".wav", "wav", "pcm_f32le", 6}},
        {TMediaFormat::Wma, {"wma", ".wma", "asf", "wmav2", 2}},
        {TMediaFormat::Ogg, {"ogg", ".ogg", "ogg", "libvorbis", 6}},
        {TMediaFormat::Flac, {"flac", ".flac", "flac", "flac", 6}},
        {TMediaFormat::M4a, {"m4a", ".m4a", "ipod", "aac", 6}},
        {TMediaFormat::OggOpus, {"opus", ".ogg", "ogg", "libopus", 2}},
        {TMediaFormat::Mp2, {"mp2", ".mp3", "mp2", "mp2", 2}},
    };
    return kInfo.at(format);
}

// 64-bit mixing function: a stateless pseudo-random value per (sample, channel).
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double WhiteNoise(int64_t n, int channel) {
    const uint64_t h = Mix(uint64_t(n) * 8 + uint64_t(channel) + 0x5A17ull);
    return double(h >> 11) / double(1ull << 52) - 1.0; // uniform in -1..1
}

constexpr int kHalfTaps = 16;

// A windowed-sinc low pass (cut-off 5 kHz, at most 0.2 of the rate), scaled so that filtered
// uniform noise has an RMS of about 0.15.
struct TNoiseFilter {
    std::array<double, 2 * kHalfTaps + 1> Taps{};
    explicit TNoiseFilter(int rate) {
        const double cutoff = std::min(5000.0, 0.2 * rate) / rate;
        double energy = 0;
        for (int k = -kHalfTaps; k <= kHalfTaps; ++k) {
            const double x = 2 * M_PI * cutoff * k;
            const double sinc = k == 0 ? 1.0 : std::sin(x) / x;
            const double window = 0.54 + 0.46 * std::cos(M_PI * k / (kHalfTaps + 1));
            Taps[size_t(k + kHalfTaps)] = sinc * window;
            energy += sinc * window * sinc * window;
        }
        const double scale = 0.15 / std::sqrt(energy / 3.0);
        for (double& t : Taps)
            t *= scale;
    }
};

const TNoiseFilter& FilterFor(int rate) {
    static std::mutex lock;
    static std::map<int, TNoiseFilter> filters;
    std::lock_guard<std::mutex> guard(lock);
    return filters.try_emplace(rate, rate).first->second; // map nodes never move
}

float LossySample(int rate, int64_t n, int channel) {
    thread_local int cachedRate = 0;
    thread_local const TNoiseFilter* filter = nullptr;
    if (cachedRate != rate) {
        filter = &FilterFor(rate);
        cachedRate = rate;
    }
    double noise = 0;
    for (int k = -kHalfTaps; k <= kHalfTaps; ++k)
        noise += filter->Taps[size_t(k + kHalfTaps)] * WhiteNoise(n - k, channel);
    // A tone whose pitch steps every 100 ms through 220..880 Hz, so position is audible too.
    const int64_t stepLength = std::max(1, rate / 10);
    const int64_t step = n / stepLength;
    const double freq = 220.0 * std::pow(2.0, double((step * 7) % 24) / 12.0);
    const double tone = 0.2 * std::sin(2 * M_PI * freq * double(n - step * stepLength) / rate);
    return float(std::fmax(-0.95, std::fmin(0.95, noise + tone)));
}

// The multiplicative inverse of kRampStep modulo kRampPeriod (Newton's iteration on 2-adic numbers).
constexpr uint64_t RampStepInverse() {
    uint64_t inv = kRampStep; // correct to 3 bits for any odd number
    for (int i = 0; i < 5; ++i)
        inv *= 2 - kRampStep * inv;
    return inv % uint64_t(kRampPeriod);
}
static_assert((RampStepInverse() * kRampStep) % kRampPeriod == 1);

int64_t RampCode(int64_t n, int channel) {
    const int64_t v = (n % kRampPeriod) * kRampStep + int64_t(channel) * 4096;
    return (v % kRampPeriod + kRampPeriod) % kRampPeriod;
}

float RampSample(int64_t n, int channel) {
    return float(RampCode(n, channel) - 32768) / 32768.0f;
}

std::string SpecFileName(const TMediaSpec& spec) {
    const TFormatInfo& info = Info(spec.Format);
    std::string name = Format("%s-%s-%dhz-%dch-%lldms", kGeneratorVersion, info.Tag, spec.SampleRate,
                              spec.Channels, (long long)std::llround(spec.Seconds * 1000));
    if (!IsPcmFormat(spec.Format) && spec.Format != TMediaFormat::Mp3Vbr)
        name += Format("-%dbps", spec.BitRate);
    return name + info.Ext;
}

void CheckSpec(const TMediaSpec& spec) {
    const TFormatInfo& info = Info(spec.Format);
    if (spec.Channels != 1 && spec.Channels != 2 && spec.Channels != 6)
        throw std::invalid_argument("test media: channel count must be 1, 2 or 6");
    if (spec.Channels > info.MaxChannels)
        throw std::invalid_argument(std::string("test media: ") + info.Encoder + " takes at most 2 channels");
    if (spec.Seconds <= 0 || spec.SampleRate <= 0) throw std::invalid_argument("test media: empty spec");
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("test media: cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = char(gen() & 0xFF);
    return bytes;
}

TAudioPlan PlanFor(const TMediaSpec& spec) {
    TAudioPlan plan;
    plan.Encoder = Info(spec.Format).Encoder;
    plan.SampleRate = spec.SampleRate;
    plan.Channels = spec.Channels;
    plan.BitRate = IsPcmFormat(spec.Format) ? 0 : spec.BitRate;
    if (spec.Format == TMediaFormat::Mp3Vbr) plan.VbrQuality = 4;
    plan.Frames = std::llround(spec.Seconds * spec.SampleRate);
    plan.Signal = [spec](int64_t n, int c) { return SourceSample(spec, n, c); };
    return plan;
}

} // namespace

std::string TestMediaFolder() {
    std::string folder = GetEnvironmentVariable("CLIPWELL_TEST_MEDIA");
    if (folder.empty()) folder = "/tmp/clipwell-testmedia";
    folder = IncludeTrailingPathDelimiter(ExpandFileName(folder));
    // Create each missing level (mkdir fails harmlessly on existing ones).
    for (size_t pos = 1; pos < folder.size(); ++pos)
        if (folder[pos] == '/') ::mkdir(folder.substr(0, pos).c_str(), 0777);
    if (!DirectoryExists(folder)) throw std::runtime_error("test media: cannot create folder " + folder);
    return folder;
}

std::string MediaFormatExt(TMediaFormat format) {
    return Info(format).Ext;
}
std::string MediaFormatEncoder(TMediaFormat format) {
    return Info(format).Encoder;
}
bool IsPcmFormat(TMediaFormat format) {
    return format == TMediaFormat::Wav16 || format == TMediaFormat::WavFloat || format == TMediaFormat::Flac;
}

float SourceSample(const TMediaSpec& spec, int64_t n, int channel) {
    if (IsPcmFormat(spec.Format)) return RampSample(n, channel);
    return LossySample(spec.SampleRate, n, channel);
}

int64_t RampIndexOf(int16_t value, int64_t near, int channel) {
    // Index i with (i * step + channel * 4096) mod period == value + 32768, nearest to `near`.
    const int64_t code =
        ((int64_t(value) + 32768 - int64_t(channel) * 4096) % kRampPeriod + kRampPeriod) % kRampPeriod;
    const int64_t residue = int64_t((uint64_t(code) * RampStepInverse()) % uint64_t(kRampPeriod));
    int64_t base = near - ((near - residue) % kRampPeriod + kRampPeriod) % kRampPeriod; // <= near, ≡ residue
    return (near - base) * 2 > kRampPeriod ? base + kRampPeriod : base;
}

int64_t RampIndexOf(float value, int64_t near, int channel) {
    return RampIndexOf(int16_t(std::lrint(std::fmax(-32768.0f, std::fmin(32767.0f, value * 32768.0f)))), near,
                       channel);
}

TDecodedAudio SourceAudio(const TMediaSpec& spec, int64_t frames) {
    if (frames < 0) frames = std::llround(spec.Seconds * spec.SampleRate);
    TDecodedAudio audio;
    audio.SampleRate = spec.SampleRate;
    audio.Channels = spec.Channels;
    audio.Samples.resize(size_t(frames * spec.Channels));
    for (int64_t n = 0; n < frames; ++n)
        for (int c = 0; c < spec.Channels; ++c)
            audio.Samples[size_t(n * spec.Channels + c)] = SourceSample(spec, n, c);
    return audio;
}

std::string TestMediaFile(const TMediaSpec& spec) {
    CheckSpec(spec);
    const TFormatInfo& info = Info(spec.Format);
    return CachedFile(TestMediaFolder() + SpecFileName(spec), [&](const std::string& tmp) {
        WriteMediaFile(tmp, info.Muxer, {PlanFor(spec)}, nullptr, false);
    });
}

// ---- Special files ----------------------------------------------------------------------------

std::string CoverArtMp3() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-coverart.mp3", [](const std::string& tmp) {
        TMediaSpec spec{TMediaFormat::Mp3Cbr, 2.0, 44100, 2, 128000};
        TVideoPlan picture;
        picture.Width = 32;
        picture.Height = 32;
        picture.AttachedPicture = true;
        WriteMediaFile(tmp, "mp3", {PlanFor(spec)}, &picture, false);
    });
}

std::string TwoAudioStreamFile() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-twoaudio.mka", [](const std::string& tmp) {
        TAudioPlan first = PlanFor({TMediaFormat::Ogg, 2.0, 44100, 2, 128000});
        TAudioPlan second = PlanFor({TMediaFormat::Ogg, 2.0, 22050, 1, 64000});
        WriteMediaFile(tmp, "matroska", {first, second}, nullptr, false);
    });
}

std::string VideoStreamFile() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-video.mkv", [](const std::string& tmp) {
        TVideoPlan video;
        video.Frames = 10; // 2 s at 5 pictures per second
        WriteMediaFile(tmp, "matroska", {PlanFor({TMediaFormat::Aac, 2.0, 44100, 2, 128000})}, &video, true);
    });
}

std::string TruncatedMp3() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-truncated.mp3", [](const std::string& tmp) {
        std::string bytes = ReadBytes(TestMediaFile({TMediaFormat::Mp3Cbr, 2.0, 44100, 2, 128000}));
        // 128 kbit/s frames at 44.1 kHz are 417 or 418 bytes: +200 lands inside a frame.
        WriteBytes(tmp, bytes.substr(0, bytes.size() * 6 / 10 + 200));
    });
}

std::string CorruptMiddleMp3() {
    return CachedFile(
        TestMediaFolder() + kGeneratorVersion + "-corruptmiddle.mp3", [](const std::string& tmp) {
            std::string bytes = ReadBytes(TestMediaFile({TMediaFormat::Mp3Cbr, 4.0, 44100, 2, 128000}));
            const std::string garbage = RandomBytes(4096, 7);
            bytes.replace(bytes.size() / 2, garbage.size(), garbage);
            WriteBytes(tmp, bytes);
        });
}

std::string ZeroByteFile(const std::string& ext) {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-zerobyte" + ext,
                      [](const std::string& tmp) { WriteBytes(tmp, ""); });
}

std::string RandomBytesFile(const std::string& ext) {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-random" + ext,
                      [](const std::string& tmp) { WriteBytes(tmp, RandomBytes(64 * 1024, 12345)); });
}

std::string TextAsMp3() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-text.mp3", [](const std::string& tmp) {
        std::string text;
        for (int i = 0; i < 200; ++i)
            text += Format("Line %d: this is a plain text file that only pretends to be audio.\n", i);
        WriteBytes(tmp, text);
    });
}

std::string UnknownCodecWav() {
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-unknowncodec.wav",
                      [](const std::string& tmp) {
                          auto le = [](std::string& out, uint32_t value, int bytes) {
                              for (int i = 0; i < bytes; ++i)
                                  out += char((value >> (8 * i)) & 0xFF);
                          };
                          const uint32_t dataBytes = 44100 * 4;
                          std::string bytes = "RIFF";
                          le(bytes, 36 + dataBytes, 4);
                          bytes += "WAVEfmt ";
                          le(bytes, 16, 4);
                          le(bytes, 0x7777, 2); // format tag
                          le(bytes, 2, 2);      // channels
                          le(bytes, 44100, 4);  // sample rate
                          le(bytes, 44100 * 4, 4);
                          le(bytes, 4, 2);  // block align
                          le(bytes, 16, 2); // bits per sample
                          bytes += "data";
                          le(bytes, dataBytes, 4);
                          bytes += RandomBytes(dataBytes, 99);
                          WriteBytes(tmp, bytes);
                      });
}

// ---- Tagged files -----------------------------------------------------------------------------

const std::vector<std::pair<std::string, std::string>>& TestTags() {
    static const std::vector<std::pair<std::string, std::string>> kTags = {
        {"title", "Clipwell Test Title"}, {"artist", "Clipwell Artist"}, {"album", "Clipwell Album"},
        {"date", "2024"},                 {"track", "7"},
    };
    return kTags;
}

bool HoldsCover(TMediaFormat format) {
    switch (format) {
    case TMediaFormat::Mp3Cbr:
    case TMediaFormat::Mp3Vbr:
    case TMediaFormat::Ogg:
    case TMediaFormat::OggOpus:
    case TMediaFormat::Flac:
    case TMediaFormat::M4a:
        return true;
    default:
        return false;
    }
}

std::string TaggedMediaFile(TMediaFormat format) {
    const TFormatInfo& info = Info(format);
    const int rate = format == TMediaFormat::OggOpus ? 48000 : 44100;
    return CachedFile(TestMediaFolder() + kGeneratorVersion + "-tagged-" + info.Tag + info.Ext,
                      [&](const std::string& tmp) {
                          TMediaSpec spec{format, 4.0, rate, 2, 128000};
                          TTagPlan tags{TestTags(), HoldsCover(format)};
                          TVideoPlan picture;
                          picture.Width = 32;
                          picture.Height = 32;
                          picture.AttachedPicture = true;
                          const bool stream = tags.Cover && format != TMediaFormat::Ogg &&
                                              format != TMediaFormat::OggOpus;
                          WriteMediaFile(tmp, info.Muxer, {PlanFor(spec)}, stream ? &picture : nullptr, false,
                                         &tags);
                      });
}

std::string GranuleJumpOgg(int jumpSamples) {
    return CachedFile(
        TestMediaFolder() + Format("%s-granulejump-%d.ogg", kGeneratorVersion, jumpSamples),
        [&](const std::string& tmp) {
            std::string source = TestMediaFile({TMediaFormat::Ogg, 6.0, 44100, 2, 128000});
            AVFormatContext* raw = nullptr;
            if (OpenMediaInput(&raw, MediaFileName(source), nullptr, nullptr) < 0)
                throw std::runtime_error("test media: cannot open " + source);
            TInputContextPtr input(raw);
            AVFormatContext* out = nullptr;
            if (av::avformat_alloc_output_context2(&out, nullptr, "ogg", tmp.c_str()) < 0)
                throw std::runtime_error("test media: no ogg muxer");
            TOutputContextPtr output(out);
            const AVStream* in = input->streams[0];
            AVStream* st = av::avformat_new_stream(out, nullptr);
            if (!st || av::avcodec_parameters_copy(st->codecpar, in->codecpar) < 0)
                throw std::runtime_error("test media: cannot copy the stream");
            st->codecpar->codec_tag = 0;
            st->time_base = in->time_base;
            if (OpenMediaOutput(out, MediaFileName(tmp)) < 0 || av::avformat_write_header(out, nullptr) < 0)
                throw std::runtime_error("test media: cannot write " + tmp);
            const int64_t jumpAt = av::av_rescale_q(3 * 44100, AVRational{1, 44100}, in->time_base);
            const int64_t jump = av::av_rescale_q(jumpSamples, AVRational{1, 44100}, in->time_base);
            TPacketPtr packet(av::av_packet_alloc());
            while (av::av_read_frame(input.get(), packet.get()) >= 0) {
                if (packet->pts != AV_NOPTS_VALUE && packet->pts >= jumpAt) {
                    packet->pts += jump;
                    if (packet->dts != AV_NOPTS_VALUE) packet->dts += jump;
                }
                av::av_packet_rescale_ts(packet.get(), in->time_base, st->time_base);
                packet->stream_index = 0;
                if (av::av_interleaved_write_frame(out, packet.get()) < 0)
                    throw std::runtime_error("test media: cannot write a packet of " + tmp);
            }
            if (av::av_write_trailer(out) < 0) throw std::runtime_error("test media: trailer of " + tmp);
            CloseMediaOutput(out);
        });
}

// Sanitizer builds: libvorbisenc leaks one block per multichannel encoder setup
// (vorbis_encode_setup_init); that is the system library's, not a fault of the program.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:vorbis_encode_setup_init\n";
}
