// The sound path of a playback: the SDL sound device, the audio callback that decodes packets
// from the queue and converts them to signed 16-bit samples, and the audio clock. The callback
// never waits for another thread and allocates nothing once playing: it counts its failures for
// the play thread to report, and a converter for a new source format is built on the read thread.
#include "DecodedPlacement.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "Playback.h"
#include "PlayerTexts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace PlayerTexts;

namespace {

// ConvertFrame's answer while the frame's converter is being built.
constexpr int kWaitForConverter = -1;

// Reopens SDL's sound system with its silent "dummy" driver, which keeps real-time pace, so that
// a machine without a usable sound device can still play a file through. False when the dummy
// driver is in use already or cannot start.
bool SwitchToDummyAudio() {
    std::lock_guard<std::mutex> guard(SDLStateLock());
    const char* driver = sdl::SDL_GetCurrentAudioDriver();
    if (driver && std::strcmp(driver, "dummy") == 0) return false;
    sdl::SDL_AudioQuit();
    return sdl::SDL_AudioInit("dummy") == 0;
}

} // namespace

bool TPlayback::OpenAudioOutput() {
    SampleRate = FDecoder->sample_rate;
    int channels = FDecoder->ch_layout.nb_channels;
    if (SampleRate <= 0 || channels <= 0) {
        Owner.ReportError(std::string(kAudioOpenFailed) + "no sample rate or channel count", false);
        return false;
    }
    // More than two channels are mixed down to stereo by the converter.
    Channels = std::min(channels, 2);

    SDL_AudioSpec wanted{};
    wanted.freq = SampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(Channels);
    wanted.silence = 0;
    wanted.samples = kDeviceSamples;
    wanted.callback = &TPlayback::SdlAudioCallback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // A device of its own per playback (not SDL's single legacy device), in exactly this format:
    // SDL converts when the hardware differs.
    uint32_t device = sdl::SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        Owner.ReportError(kAudioOpenFailed + std::string(sdl::SDL_GetError()), false);
        if (SwitchToDummyAudio()) {
            device = sdl::SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
            if (device == 0)
                Owner.ReportError(kAudioOpenFailed + std::string(sdl::SDL_GetError()), false);
            else
                FFLogger().Log(&Owner, llWarning, kDummyAudio);
        }
        if (device == 0) return false;
    }
    {
        std::lock_guard<std::mutex> guard(FDeviceLock);
        FDevice = device;
    }
    DeviceBufferSize = static_cast<int>(obtained.size);
    return true;
}

void TPlayback::StartAudioComponent(int index) {
    FPacket.reset(av::av_packet_alloc());
    FDecodedFrame.reset(av::av_frame_alloc());
    AVStream* stream = FAudioStream;
    AudioStreamDuration = stream->duration != AV_NOPTS_VALUE
                              ? av::av_rescale_q(DecodedStreamDuration(*FFormatContext, *stream),
                                                 stream->time_base, AVRational{1, 1000000})
                              : -1;
    FCurrentSize = FCurrentIndex = 0;
    FCurrentIsSilence = true;
    FDecoderHasInput = false;
    FFrameHeld = false;
    FSourceFailed = false;
    // The converter for the decoder's own format is ready before the first callback.
    TAudioSource source = SourceOf(*FDecoder);
    if (NeedsConverter(source)) {
        FConverter = MakeConverter(source);
        FConverterSource = source;
    }
    // Nothing decoded yet: the clock stands at the start of the file.
    FAudioClock = ContainerStartTime / 1000000.0;
    FPlayedClock = FAudioClock;
    AudioQueue.Init(Owner.FFlushPacket);
    AudioIndex = index;
    std::lock_guard<std::mutex> guard(FDeviceLock);
    if (FDevice) sdl::SDL_PauseAudioDevice(FDevice, 0);
}

void TPlayback::CloseAudioOutput() {
    // Both the closing thread and the read thread close the device; the second one returns only
    // once the first has closed it, so neither frees what the audio callback uses too early.
    std::lock_guard<std::mutex> guard(FDeviceLock);
    if (FDevice == 0) return;
    sdl::SDL_CloseAudioDevice(FDevice); // returns once the audio callback has left
    FDevice = 0;
}

double TPlayback::GetMasterClock() const {
    // The audio is the master clock; without an audio stream there is no clock here.
    return AudioIndex.load() >= 0 ? GetAudioClock() : 0.0;
}

// ---- The audio thread -----------------------------------------------------------------------

void TPlayback::SdlAudioCallback(void* userData, uint8_t* stream, int length) {
    static_cast<TPlayback*>(userData)->AudioCallback(stream, length);
}

void TPlayback::AudioCallback(uint8_t* stream, int length) {
    // SDL hands the buffer over uninitialised; mixing adds to silence.
    std::memset(stream, 0, static_cast<size_t>(length));
    FCallbackTime.store(av::av_gettime(), std::memory_order_relaxed);
    while (length > 0) {
        if (FCurrentIndex >= FCurrentSize) {
            int n = DecodeAudioFrame();
            if (AudioQueue.Aborted()) return;
            if (n <= 0) {
                // Nothing to play now (paused, starved or undecodable): a block of silence.
                FCurrentIsSilence = true;
                FCurrentSize = kSilenceBytes;
            } else {
                if (WaveformOn) FRing->Append(reinterpret_cast<const int16_t*>(FCurrentBuffer), n / 2);
                FCurrentIsSilence = false;
                FCurrentSize = n;
            }
            FCurrentIndex = 0;
        }
        int chunk = std::min(FCurrentSize - FCurrentIndex, length);
        if (!FCurrentIsSilence && !Owner.Mute())
            sdl::SDL_MixAudioFormat(stream, FCurrentBuffer + FCurrentIndex, AUDIO_S16SYS,
                                    static_cast<Uint32>(chunk), Owner.AudioVolume());
        FCurrentIndex += chunk;
        length -= chunk;
        stream += chunk;
    }
    int bytesPerFrame = 2 * Channels;
    int unplayed = FCurrentIsSilence ? 0 : FCurrentSize - FCurrentIndex;
    FUnplayedFrames.store(unplayed / bytesPerFrame, std::memory_order_relaxed);
    FPlayedClock.store(FAudioClock - double(unplayed) / (double(SampleRate) * bytesPerFrame),
                       std::memory_order_relaxed);
}

// Where a decoded block begins, in seconds on the stream's timeline (NaN: it has no stamp). The
// clock is the decoded audio's own, so a mark taken where something is heard is where a cut of
// the same place begins.
double TPlayback::FrameStartSeconds(const AVFrame& frame) const {
    int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : frame.best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return std::nan("");
    int64_t samples = 0;
    if (FAudioStream && DecodedFrameStart(*FAudioStream, frame, pts, samples)) {
        return StreamOrigin(*FAudioStream) * av_q2d(FAudioStream->time_base) +
               double(samples) / frame.sample_rate;
    }
    return pts * av_q2d(FDecoder->pkt_timebase);
}

int TPlayback::DecodeAudioFrame() {
    AVCodecContext* decoder = FDecoder.get();
    AVFrame* frame = FDecodedFrame.get();
    AVPacket* packet = FPacket.get();
    if (!decoder || !frame || !packet) return -1;
    for (;;) {
        // Frames of the packets already sent.
        while (FDecoderHasInput) {
            if (!FFrameHeld) {
                int rc = av::avcodec_receive_frame(decoder, frame);
                if (rc < 0) {
                    FDecoderHasInput = false;
                    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) FDecodeErrors.fetch_add(1);
                    break;
                }
            }
            int bytes = ConvertFrame(frame);
            FFrameHeld = bytes == kWaitForConverter;
            if (FFrameHeld) return -1; // silence until the read thread has built its converter
            double start = FrameStartSeconds(*frame);
            av::av_frame_unref(frame);
            if (bytes <= 0) continue; // this block is lost; the next one may convert
            // A block with a timestamp sets the clock; one without continues from the last.
            if (!std::isnan(start)) FAudioClock = start;
            FAudioClock += double(bytes) / (2.0 * Channels * SampleRate);
            FAudioStarved.store(false, std::memory_order_relaxed);
            return bytes;
        }
        if (Paused.load(std::memory_order_relaxed) || AudioQueue.Aborted()) return -1;
        int taken = AudioQueue.Get(packet, false);
        if (taken <= 0) {
            if (taken == 0) FAudioStarved.store(true, std::memory_order_relaxed);
            return -1;
        }
        if (AudioQueue.IsFlushMarker(packet)) {
            av::av_packet_unref(packet);
            av::avcodec_flush_buffers(decoder);
            continue;
        }
        int rc = av::avcodec_send_packet(decoder, packet);
        av::av_packet_unref(packet);
        if (rc < 0)
            FDecodeErrors.fetch_add(1); // the packet is dropped
        else
            FDecoderHasInput = true;
    }
}

uint8_t* TPlayback::Reserve(std::vector<uint8_t>& buffer, size_t bytes) {
    if (buffer.size() < bytes) buffer.resize(bytes); // only for unusually large blocks
    return buffer.data();
}

TPlayback::TAudioSource TPlayback::SourceOf(const AVFrame& frame) {
    const AVChannelLayout& layout = frame.ch_layout;
    return {frame.format, layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0, layout.nb_channels,
            frame.sample_rate};
}

TPlayback::TAudioSource TPlayback::SourceOf(const AVCodecContext& decoder) {
    const AVChannelLayout& layout = decoder.ch_layout;
    return {decoder.sample_fmt, layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0,
            layout.nb_channels, decoder.sample_rate};
}

bool TPlayback::NeedsConverter(const TAudioSource& source) const {
    return source.Format != AV_SAMPLE_FMT_S16 || source.Channels != Channels || source.Rate != SampleRate;
}

int TPlayback::ConvertFrame(const AVFrame* frame) {
    int frames = frame->nb_samples;
    if (frames <= 0) return 0;
    const TAudioSource source = SourceOf(*frame);
    if (!NeedsConverter(source)) {
        // Already what the device takes: no converter.
        size_t bytes = size_t(frames) * Channels * 2;
        uint8_t* out = Reserve(FDecodeBuffer, bytes);
        std::memcpy(out, frame->data[0], bytes);
        FCurrentBuffer = out;
        return static_cast<int>(bytes);
    }
    int ready = ConverterFor(source);
    if (ready == 0) return kWaitForConverter;
    if (ready < 0) return 0;
    int64_t capacity = av::av_rescale_rnd(av::swr_get_delay(FConverter.get(), frame->sample_rate) + frames,
                                          SampleRate, frame->sample_rate, AV_ROUND_UP);
    uint8_t* out = Reserve(FConvertBuffer, size_t(capacity) * Channels * 2);
    int got = av::swr_convert(FConverter.get(), &out, static_cast<int>(capacity),
                              const_cast<const uint8_t**>(frame->extended_data), frames);
    if (got < 0) {
        FConvertErrors.fetch_add(1);
        return 0;
    }
    FCurrentBuffer = out;
    return got * Channels * 2;
}

int TPlayback::ConverterFor(const TAudioSource& source) {
    int state = FConverterState.load(std::memory_order_acquire);
    if (state == kConverterReady) {
        FConverter.swap(FNextConverter); // the read thread frees the converter replaced
        FConverterSource = FWanted;
        FSourceFailed = false;
    } else if (state == kConverterFailed) {
        FFailedSource = FWanted;
        FSourceFailed = true;
    }
    if (state == kConverterReady || state == kConverterFailed) {
        state = kConverterIdle;
        FConverterState.store(state, std::memory_order_release);
    }
    if (FConverter && FConverterSource == source) return 1;
    if (FSourceFailed && FFailedSource == source) return -1;
    if (state == kConverterIdle) {
        FWanted = source;
        FConverterState.store(kConverterWanted, std::memory_order_release);
    }
    return 0; // asked for, or another request is still being served
}

void TPlayback::ServiceConverter() {
    int state = FConverterState.load(std::memory_order_acquire);
    if (state != kConverterIdle && state != kConverterWanted) return;
    FNextConverter.reset();
    if (state != kConverterWanted) return;
    FNextConverter = MakeConverter(FWanted);
    FConverterState.store(FNextConverter ? kConverterReady : kConverterFailed, std::memory_order_release);
}

void TPlayback::ReportAudioErrors() {
    if (FDecodeErrors.exchange(0) > 0) FFLogger().Log(&Owner, llInfo, kDecodeFailed);
    if (FConvertErrors.exchange(0) > 0) Owner.ReportError(kConvertFailed, false);
}

TSwrPtr TPlayback::MakeConverter(const TAudioSource& source) {
    AVChannelLayout in{}, out{};
    if (source.Layout == 0)
        av::av_channel_layout_default(&in, source.Channels);
    else
        av::av_channel_layout_from_mask(&in, source.Layout);
    av::av_channel_layout_default(&out, Channels);
    SwrContext* converter = nullptr;
    int rc = av::swr_alloc_set_opts2(&converter, &out, AV_SAMPLE_FMT_S16, SampleRate, &in,
                                     static_cast<AVSampleFormat>(source.Format), source.Rate, 0, nullptr);
    if (rc >= 0) rc = av::swr_init(converter);
    av::av_channel_layout_uninit(&in);
    av::av_channel_layout_uninit(&out);
    if (rc < 0) {
        av::swr_free(&converter);
        // Reported once per format, not for every block of a stream that keeps it.
        if (source.Format != FFailedFormat) {
            FFailedFormat = source.Format;
            const char* from = av::av_get_sample_fmt_name(static_cast<AVSampleFormat>(source.Format));
            const char* to = av::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16);
            Owner.ReportError(Format(kNoConverter, from ? from : "?", to ? to : "?"), false);
        }
        return nullptr;
    }
    FFailedFormat = -2;
    return TSwrPtr(converter);
}
