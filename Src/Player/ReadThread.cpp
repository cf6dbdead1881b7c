// The read thread of a playback: opens the file, chooses and opens the stream to play, then
// carries out pause and seek requests and feeds the packet queue until the playback is closed.
#include "AVProbe.h"
#include "DecodedPlacement.h"
#include "FFUtils.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "Playback.h"
#include "PlayerTexts.h"
#include "UnicodeProtocol.h"

#include <chrono>
#include <cstring>
#include <thread>

using namespace PlayerTexts;

namespace {

// Sleeps about `ms` milliseconds, returning early once the playback is being closed.
void SleepUnlessAborted(const std::atomic<bool>& abort, int ms) {
    for (int slept = 0; slept < ms && !abort.load(); slept += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool IsDeviceInput(const AVInputFormat* format) {
    if (!format || !format->priv_class) return false;
    AVClassCategory category = format->priv_class->category;
    return category == AV_CLASS_CATEGORY_DEVICE_VIDEO_INPUT ||
           category == AV_CLASS_CATEGORY_DEVICE_AUDIO_INPUT || category == AV_CLASS_CATEGORY_DEVICE_INPUT;
}

} // namespace

TPlayback::TPlayback(TCustomPlayer& owner, uint32_t serial)
    : Owner(owner), Serial(serial), FDecodeBuffer(kAudioBufferBytes), FConvertBuffer(kAudioBufferBytes),
      FRing(std::make_unique<TSampleRing>()) {}

TPlayback::~TPlayback() {
    ClosePlayback();
}

bool TPlayback::StartReadThread() {
    try {
        auto thread = std::make_unique<TFunctionThread>("read", [this] { ReadLoop(); });
        thread->Start();
        ReadThread = std::move(thread);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void TPlayback::ClosePlayback() {
    if (FClosed.exchange(true)) return;
    AbortRequest = true; // also cuts a blocking read short through the interrupt callback
    // The sound device is released at once, even when the read thread is held up in a read that
    // cannot be interrupted: the next playback may need it.
    AudioQueue.Abort();
    CloseAudioOutput();
    if (ReadThread) ReadThread->WaitFor();
}

int TPlayback::InterruptCallback(void* opaque) {
    return static_cast<TPlayback*>(opaque)->AbortRequest.load() ? 1 : 0;
}

void TPlayback::RequestSeek(int64_t target, int64_t span) {
    if (SeekRequest.load(std::memory_order_acquire)) return; // one request at a time
    SeekTarget = target;
    SeekSpan = span;
    SeekFlags = Owner.SeekFlags();
    SeekRequest.store(true, std::memory_order_release);
}

// ---- The thread's procedure -------------------------------------------------------------------

void TPlayback::ReadLoop() {
    if (OpenInput()) {
        OpenStatus = 1; // releases Open
        WakeMainThread();
        MainLoop();
    }
    if (OpenStatus.load() != 1) OpenStatus = -1;
    AttachProbe(nullptr);
    CloseStreamComponent(AudioIndex.load());
    CloseMediaInput(&FFormatContext);
    ReleaseSDLThreadState();
    if (OpenStatus.load() == -1) {
        OpenStatus = -2;
        WakeMainThread();
    }
}

bool TPlayback::OpenInput() {
    AudioIndex = -1;
    AVFormatContext* context = av::avformat_alloc_context();
    if (!context) {
        Owner.LastErrMsg = FormatOpenError(FileName, AVERROR(ENOMEM));
        return false;
    }
    // Blocking reads return once the playback is being closed.
    context->interrupt_callback.callback = &TPlayback::InterruptCallback;
    context->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    if (Owner.FrameWidth > 0 && Owner.FrameHeight > 0)
        av::av_dict_set(&options, "video_size", Format("%dx%d", Owner.FrameWidth, Owner.FrameHeight).c_str(),
                        0);
    int rc = OpenMediaInput(&context, LocalMediaName(FileName), nullptr, &options, true);
    av::av_dict_free(&options);
    if (rc < 0) {
        Owner.LastErrMsg = MediaOpenErrorText(FileName, rc, nullptr);
        return false;
    }
    FFormatContext = context;
    if (FindMediaStreamInfo(context) < 0) {
        Owner.LastErrMsg = Format(kNoCodecParameters, FileName.c_str());
        return false;
    }
    if (context->pb) context->pb->eof_reached = 0;
    ImageSequence = std::strcmp(context->iformat->name, "image2") == 0;
    CaptureDevice = IsDeviceInput(context->iformat);
    ContainerStartTime = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    ContainerDuration = context->duration != AV_NOPTS_VALUE ? DecodedContainerDuration(*context) : -1;

    ChooseAndOpenStreams();
    if (AudioIndex.load() < 0) {
        Owner.LastErrMsg = Format(kNoStreamToPlay, FileName.c_str());
        return false;
    }
    AttachProbe(context);
    return true;
}

void TPlayback::AttachProbe(AVFormatContext* context) {
    std::lock_guard<std::mutex> guard(Owner.FProbeLock);
    // Detaching leaves alone a probe that describes the file of a newer playback.
    if (!context && Owner.FProbe->FormatContext() != FFormatContext) return;
    try {
        Owner.FProbe->AttachContext(context);
    } catch (const std::exception&) {
        // Only describes the file; playing does not depend on it.
    }
}

void TPlayback::ChooseAndOpenStreams() {
    // The wanted numbers count down: 0 picks the first stream of its type, -1 none.
    int wantedAudio = Owner.FWantedAudio;
    int audio = -1;
    for (unsigned i = 0; i < FFormatContext->nb_streams; ++i) {
        AVStream* stream = FFormatContext->streams[i];
        stream->discard = AVDISCARD_ALL;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (wantedAudio >= 0 && !Owner.DisableAudio) audio = static_cast<int>(i);
            --wantedAudio;
        }
    }
    if (audio >= 0) OpenStreamComponent(audio);
    // This player has no video path: video, subtitle and picture streams stay unread, and the
    // sound is shown as a waveform unless the display is disabled.
    WaveformOn = !Owner.DisableDisplay;
}

void TPlayback::MainLoop() {
    TPacketPtr packet(av::av_packet_alloc());
    if (!packet) return;
    bool lastPaused = false;
    bool endOfFile = false;   // the demuxer has returned everything up to the end
    bool endReported = false; // "error or end of file" logged since the last seek
    while (!AbortRequest.load()) {
        ServiceConverter();
        bool paused = Paused.load();
        if (paused != lastPaused) {
            lastPaused = paused;
            if (paused)
                av::av_read_pause(FFormatContext);
            else
                av::av_read_play(FFormatContext);
        }
        if (SeekRequest.load(std::memory_order_acquire)) {
            DoSeek();
            ReadEnded = false;
            endReported = false;
            endOfFile = false;
        }
        if (AudioQueue.Size() > kAudioQueueLimit || endOfFile) {
            SleepUnlessAborted(AbortRequest, 10);
            continue;
        }
        Reading = true;
        int rc = av::av_read_frame(FFormatContext, packet.get());
        Reading = false;
        if (rc < 0) {
            ReadEnded = true;
            if (!ImageSequence && !endReported) {
                Owner.ReportError(Format(kReadEnded, FileName.c_str()), false);
                endReported = true;
            }
            // Only the demuxer's own end counts: it may still hold packets when its input ends.
            if (rc == AVERROR_EOF || (FFormatContext->pb && av::avio_feof(FFormatContext->pb)))
                endOfFile = true;
            if (FFormatContext->pb && FFormatContext->pb->error < 0 &&
                FFormatContext->pb->error != AVERROR_EOF)
                break;
            SleepUnlessAborted(AbortRequest, 100);
            continue;
        }
        ReadEnded = false;
        if (packet->stream_index == AudioIndex.load()) {
            if (AudioQueue.Put(packet.get()) < 0) av::av_packet_unref(packet.get()); // lost, no memory
        } else {
            av::av_packet_unref(packet.get());
        }
    }
    // After a read error: wait for the playback to be closed.
    while (!AbortRequest.load()) {
        ServiceConverter();
        SleepUnlessAborted(AbortRequest, 100);
    }
}

void TPlayback::DoSeek() {
    int64_t target = SeekTarget, span = SeekSpan;
    int64_t minimum = span > 0 ? target - span + 2 : INT64_MIN;
    int64_t maximum = span < 0 ? target - span - 2 : INT64_MAX;
    int rc = av::avformat_seek_file(FFormatContext, -1, minimum, target, maximum, SeekFlags);
    if (rc < 0) {
        Owner.ReportError(Format(kSeekFailed, FileName.c_str()), false);
    } else if (AudioIndex.load() >= 0) {
        // The decoder learns of the jump before the first packet of the new position.
        AudioQueue.Flush();
        AudioQueue.Put(Owner.FFlushPacket);
    }
    SeekRequest.store(false, std::memory_order_release);
}

// ---- Stream components ------------------------------------------------------------------------

bool TPlayback::OpenStreamComponent(int index) {
    if (index < 0 || !FFormatContext || index >= static_cast<int>(FFormatContext->nb_streams)) return false;
    AVStream* stream = FFormatContext->streams[index];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) return false;

    const AVCodec* codec = av::avcodec_find_decoder(stream->codecpar->codec_id);
    TCodecContextPtr decoder(av::avcodec_alloc_context3(codec));
    bool opened = false;
    if (decoder && av::avcodec_parameters_to_context(decoder.get(), stream->codecpar) >= 0) {
        decoder->pkt_timebase = stream->time_base;
        decoder->workaround_bugs = Owner.FWorkaroundBugs;
        decoder->error_concealment = Owner.FErrorConcealment;
        decoder->err_recognition = AV_EF_CAREFUL;
        decoder->thread_count = 1;
        std::lock_guard<std::mutex> guard(CodecLock());
        opened = codec && av::avcodec_open2(decoder.get(), codec, nullptr) >= 0;
    }
    if (!opened) {
        Owner.ReportError(kCodecOpenFailed, false);
        std::lock_guard<std::mutex> guard(CodecLock());
        decoder.reset();
        return false;
    }
    FDecoder = std::move(decoder);
    FAudioStream = stream;
    if (!OpenAudioOutput()) {
        std::lock_guard<std::mutex> guard(CodecLock());
        FDecoder.reset();
        FAudioStream = nullptr;
        return false;
    }
    stream->discard = AVDISCARD_DEFAULT;
    StartAudioComponent(index);
    return true;
}

void TPlayback::CloseStreamComponent(int index) {
    if (index < 0 || !FFormatContext || index >= static_cast<int>(FFormatContext->nb_streams)) return;
    AudioQueue.Abort();
    CloseAudioOutput();
    AudioQueue.End();
    FConverter.reset();
    FNextConverter.reset();
    FConverterState = kConverterIdle;
    FFormatContext->streams[index]->discard = AVDISCARD_ALL;
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        FDecoder.reset();
    }
    AudioIndex = -1;
    FAudioStream = nullptr;
    AudioStreamDuration = -1;
}
