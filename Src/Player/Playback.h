// One open file of the player: the read thread with its packet queue, the audio decoder and the
// sound device, the clock, and the facts of the file. Private to the player.
#pragma once

#include "FFPlay.h"
#include "FFPtr.h"
#include "MyUtils.h"
#include "PacketQueue.h"
#include "Waveform.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Bytes of queued audio packets above which the read thread waits.
constexpr int64_t kAudioQueueLimit = 5 * 64 * 1024;
// Size of the decode and conversion buffers; grown when a decoder hands over a larger block.
constexpr int kAudioBufferBytes = 288000;
// Silence block handed to the device when nothing can be decoded.
constexpr int kSilenceBytes = 1024;
// Sample frames per device buffer.
constexpr int kDeviceSamples = 1024;

// Held around every change of SDL's process-wide state: its subsystems and its audio driver.
std::mutex& SDLStateLock();

// The player's own SDL events, registered once per process.
struct TPlayerEvents {
    uint32_t AllocPicture, Refresh, Quit, Redraw;
};
const TPlayerEvents& PlayerEvents();
// Posts one of the player's events for the playback with `serial`.
void PostPlayerEvent(uint32_t type, uint32_t serial);
// Takes the next SDL event, sleeping until one of the player's events is posted; false when
// none arrived for a while.
bool WaitPlayerEvent(SDL_Event& event);
// Frees what SDL keeps per thread (its error text): called at the end of every thread of ours
// that calls into SDL, since SDL cleans up only after threads it created itself.
void ReleaseSDLThreadState();

class TPlayback {
public:
    TPlayback(TCustomPlayer& owner, uint32_t serial);
    ~TPlayback();
    TPlayback(const TPlayback&) = delete;
    TPlayback& operator=(const TPlayback&) = delete;

    TCustomPlayer& Owner;
    const uint32_t Serial; // carried by this playback's SDL events

    // 0 opening, 1 opened, -1 failed and cleaning up, -2 failed and cleaned up.
    std::atomic<int> OpenStatus{0};

    // ---- File facts: written by the read thread before OpenStatus becomes 1, then read-only ----
    std::string FileName;
    int64_t ContainerStartTime = 0; // µs; 0 when the library has none
    int64_t ContainerDuration = -1; // µs; -1 when the library has none
    bool ImageSequence = false;
    bool CaptureDevice = false;
    bool WaveformOn = false; // draw the waveform (no video, display not disabled)
    int SampleRate = 0;      // of the sound device (the stream's rate)
    int Channels = 0;        // of the sound device: the stream's, at most 2
    int DeviceBufferSize = 0;

    // ---- Set by DoFileOpen on the main thread before the play thread starts ----
    int64_t StartTime = 0; // µs
    int64_t Duration = 0;  // µs

    // ---- Read control ----
    std::unique_ptr<TThread> ReadThread;
    std::atomic<bool> AbortRequest{false};        // set once by ClosePlayback
    std::atomic<bool> Paused{false};              // main thread writes, read and audio threads poll
    std::atomic<bool> Reading{false};             // the read thread is inside a packet read
    std::atomic<bool> ReadEnded{false};           // the last read met the end or an error; cleared by a seek
    std::atomic<int> AudioIndex{-1};              // -1 = no audio stream open
    std::atomic<int64_t> AudioStreamDuration{-1}; // µs; -1 when the stream has none
    TPacketQueue AudioQueue;

    // Seek request: the main thread fills the three values only while SeekRequest is false and
    // then sets it; the read thread reads them only while it is true and clears it when done.
    std::atomic<bool> SeekRequest{false};
    int SeekFlags = 0;
    int64_t SeekTarget = 0;
    int64_t SeekSpan = 0;
    void RequestSeek(int64_t target, int64_t span);

    // ---- Clock, read by the play thread ----
    // The audio clock (end of the samples decoded so far, s) less what the device has not been
    // given yet, as of the end of the last audio callback.
    double GetAudioClock() const { return FPlayedClock.load(std::memory_order_relaxed); }
    double GetMasterClock() const;
    // The decoder has been given every queued packet and its output is used up.
    bool AudioPlayedOut() const { return FAudioStarved.load(std::memory_order_relaxed); }
    // Frames decoded but not yet given to the device, and when the last callback started (µs).
    int UnplayedFrames() const { return FUnplayedFrames.load(std::memory_order_relaxed); }
    int64_t AudioCallbackTime() const { return FCallbackTime.load(std::memory_order_relaxed); }
    const TSampleRing& SampleRing() const { return *FRing; }

    // ---- Play thread only ----
    std::vector<uint32_t> Frame; // the waveform frame handed to the host
    int LastWaveStart = 0;
    // Reports the decode and conversion failures the audio callback has counted since the last
    // call (the callback itself never logs).
    void ReportAudioErrors();

    // Starts the read thread; false when it cannot be created.
    bool StartReadThread();
    // Sets the abort request, waits for the read thread (which closes the file on its way out)
    // and releases the device. Only the first caller does the work; later calls return at once.
    void ClosePlayback();

    static void SdlAudioCallback(void* userData, uint8_t* stream, int length);

private:
    // Read thread (ReadThread.cpp).
    void ReadLoop();
    bool OpenInput();
    void AttachProbe(AVFormatContext* context);
    void ChooseAndOpenStreams();
    void MainLoop();
    void DoSeek();
    void ReadFailed(int result, bool& endOfFile, bool& leave);
    bool OpenStreamComponent(int index);
    void CloseStreamComponent(int index);
    static int InterruptCallback(void* opaque);

    // Audio (AudioOutput.cpp).
    bool OpenAudioOutput();
    void StartAudioComponent(int index);
    void CloseAudioOutput();
    void AudioCallback(uint8_t* stream, int length);
    int DecodeAudioFrame();
    double FrameStartSeconds(const AVFrame& frame) const;
    int ConvertFrame(const AVFrame* frame);
    uint8_t* Reserve(std::vector<uint8_t>& buffer, size_t bytes);

    // What a converter converts from.
    struct TAudioSource {
        int Format = -1;
        uint64_t Layout = 0; // channel mask; 0 when the layout is not a native one
        int Channels = 0;
        int Rate = 0;
        bool operator==(const TAudioSource&) const = default;
    };
    static TAudioSource SourceOf(const AVFrame& frame);
    static TAudioSource SourceOf(const AVCodecContext& decoder);
    bool NeedsConverter(const TAudioSource& source) const;
    // Audio thread: whether the converter for `source` is in place (1), being built by the read
    // thread (0: the caller keeps its frame and plays silence meanwhile) or impossible (-1).
    int ConverterFor(const TAudioSource& source);
    // Read thread: builds the converter the audio thread asked for and frees the one it replaced.
    void ServiceConverter();
    // Builds a converter from `source` to the device's format; reports a failure once per format.
    TSwrPtr MakeConverter(const TAudioSource& source);

    std::atomic<bool> FClosed{false};
    AVFormatContext* FFormatContext = nullptr; // read thread only (opened and closed there)
    AVStream* FAudioStream = nullptr;          // read thread; audio thread while the device runs

    // Audio thread only, while the device runs.
    TCodecContextPtr FDecoder;
    std::mutex FDeviceLock; // guards FDevice: whoever closes the device first waits until it is closed
    uint32_t FDevice = 0;   // SDL audio device id, 0 = none
    double FAudioClock = 0;
    std::vector<uint8_t> FDecodeBuffer;
    std::vector<uint8_t> FConvertBuffer;
    const uint8_t* FCurrentBuffer = nullptr;
    int FCurrentSize = 0;
    int FCurrentIndex = 0;
    bool FCurrentIsSilence = true;
    TPacketPtr FPacket;
    TFramePtr FDecodedFrame;
    bool FDecoderHasInput = false; // a packet was sent and its frames are not all received yet
    bool FFrameHeld = false;       // FDecodedFrame waits for its converter
    TSwrPtr FConverter;
    TAudioSource FConverterSource; // what FConverter converts from
    bool FSourceFailed = false;    // FFailedSource has no converter: its frames are dropped
    TAudioSource FFailedSource;

    // Audio thread <-> read thread: a new converter, built off the audio thread. FConverterState
    // hands the two fields below over: FWanted is written by the audio thread while idle and read
    // by the read thread while wanted; FNextConverter belongs to the read thread while idle or
    // wanted (it holds a replaced converter to free) and to the audio thread while ready.
    enum : int { kConverterIdle, kConverterWanted, kConverterReady, kConverterFailed };
    std::atomic<int> FConverterState{kConverterIdle};
    TAudioSource FWanted;
    TSwrPtr FNextConverter;
    int FFailedFormat = -2; // read thread: a conversion that could not be set up, reported once

    // Counted by the audio thread, reported by the play thread.
    std::atomic<int> FDecodeErrors{0};
    std::atomic<int> FConvertErrors{0};

    // Written by the audio thread, read by the play thread.
    std::atomic<double> FPlayedClock{0};
    std::atomic<bool> FAudioStarved{false};
    std::atomic<int> FUnplayedFrames{0};
    std::atomic<int64_t> FCallbackTime{0};
    std::unique_ptr<TSampleRing> FRing;
};
