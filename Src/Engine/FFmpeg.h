// The transcoding engine: one conversion job configured like a command-line transcoder (named
// options with text values), with its input and output files, run on a thread of its own or
// inline, reporting progress and termination through callbacks.
//
// Threads: configuration (options, OpenInputFile, OpenOutputFile, BeginConvert, EndConvert) runs
// on the configuring thread while no conversion of this engine runs; the conversion runs on the
// conversion thread (or inline). Flags read across threads are atomics.
#pragma once

#include "FFUtils.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class TCustomFFmpeg;

// Every error the engine raises itself; only the message is used.
class FFmpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int kMaxFiles = 20;              // input files, output file entries
constexpr int kMaxStreams = 20;            // streams per file
constexpr int kMaxCodecs = kMaxFiles * kMaxStreams;
constexpr int kMaxStreamMaps = 400;
constexpr int kMaxMetadataMaps = 20;

struct TStreamMapEntry {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct TMetadataMapEntry {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// (Sender, AFrameNumber, AFPS, ACurrentDuration ms, AQuality, ABitRate kbit/s, ACurrentSize bytes,
//  ATotalOutputDuration ms); called on the conversion thread.
using TEngineProgressEvent = std::function<void(TCustomFFmpeg* sender, int32_t frameNumber, int32_t fps,
                                                int32_t currentDuration, float quality, float bitRate,
                                                int64_t currentSize, int32_t totalOutputDuration)>;
// Called once per run on the thread that ends it.
using TEngineTerminateEvent = std::function<void(TCustomFFmpeg* sender)>;

class TConvertThread;

// Everything a run builds and releases (stream tables, opened-codec lists, resamplers, FIFOs);
// defined by the run path (RunState.h).
struct TRunState;

class TCustomFFmpeg {
public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // ---- Lifecycle ----------------------------------------------------------------------
    void Reset();
    void InitDefaults();
    void CloseAll();
    // Starts a conversion. Threaded: returns the thread, not yet started (the caller starts it);
    // inline: runs the whole conversion and returns null. Null also when refused.
    TConvertThread* BeginConvert(bool threaded, TThreadPriority priority = tpNormal);
    void EndConvert(bool wait);
    void BreakConvert(bool wait);
    void ConvertProc();
    void DoTerminate();

    // ---- Options ------------------------------------------------------------------------
    void ApplyOption(const std::string& name, const std::string& value);
    void SetInputFormat(const std::string& name);
    void SetOutputFormat(const std::string& name);
    void ApplyPreset(const std::string& optionName, const std::string& presetName);
    void SetCodecOption(const std::string& name, int32_t value);
    void AddMetadata(const std::string& key, const std::string& value);

    // ---- Files --------------------------------------------------------------------------
    // Opens an input file with the collected settings; false with FLastError on failure.
    bool OpenInputFile(const std::string& fileName);
    // Creates an output file entry; the new FOutputFileCount, or -1 with FLastError.
    int OpenOutputFile(const std::string& fileName, bool join);
    bool FindCodecId(const std::string& name, int mediaType, bool encoder, int& id);
    void NewAudioStream(AVFormatContext* output);
    void NewVideoStream(AVFormatContext* output);
    void NewSubtitleStream(AVFormatContext* output);

    // ---- Results and callbacks ------------------------------------------------------------
    bool Converting() const { return FConverting; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }
    bool ExceptionRaised() const { return FExceptionRaised; }
    const std::string& ExceptionMessage() const { return FExceptionMessage; }
    const std::string& LastError() const { return FLastError; }

    TEngineProgressEvent FProgressCallback;
    TEngineTerminateEvent FTerminateCallback;

    // ---- Tables -------------------------------------------------------------------------
    std::array<AVFormatContext*, kMaxFiles> FInputFiles{};   // owned; closed by CloseAll
    std::array<int64_t, kMaxFiles> FInputTsOffsets{};         // µs
    std::array<std::array<double, kMaxStreams>, kMaxFiles> FInputTsScales{}; // 0 = none
    // Decoder context of each input stream, created when the file is opened.
    std::array<std::vector<AVCodecContext*>, kMaxFiles> FInputCodecContexts{}; // owned
    std::array<const AVCodec*, kMaxCodecs> FInputCodecs{};   // by overall stream index; null = by id
    int32_t FInputFileCount = 0;
    int32_t FInputCodecCount = 0;
    // Output file entries; in join mode every entry is the same context (entry 0 owns it).
    std::array<AVFormatContext*, kMaxFiles> FOutputFiles{};
    // Encoder context of each output stream of an output context, created with the stream.
    std::array<std::vector<AVCodecContext*>, kMaxFiles> FOutputCodecContexts{}; // owned
    std::array<const AVCodec*, kMaxCodecs> FOutputCodecs{};  // by overall stream index; null = by id
    int32_t FOutputFileCount = 0;
    int32_t FOutputCodecCount = 0;
    std::array<TStreamMapEntry, kMaxStreamMaps> FStreamMaps{};
    int32_t FStreamMapCount = 0;
    std::array<TMetadataMapEntry, kMaxMetadataMaps> FMetadataMaps{};
    int32_t FMetadataMapCount = 0;
    const AVInputFormat* FForcedInputFormat = nullptr;
    const AVOutputFormat* FForcedOutputFormat = nullptr;

    // ---- General settings ----------------------------------------------------------------
    std::array<int32_t, 4> FMaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    bool FVideoDisabled = false;
    bool FAudioDisabled = false;
    bool FSubtitleDisabled = false;
    float FMuxPreload = 0.5f;   // s
    float FMuxMaxDelay = 0.7f;  // s
    int64_t FRecordingTime = INT64_MAX; // µs
    int64_t FStartTime = 0;             // µs
    int64_t FRecordingTimestamp = 0;    // s
    int64_t FInputTsOffset = 0;         // µs
    std::vector<std::pair<std::string, std::string>> FMetadata; // pending tags of the next output
    bool FHexDump = false;
    bool FPacketDump = false;
    bool FCopyTs = false;
    bool FShortest = false;
    bool FExitOnError = false;
    int32_t FVerbose = 1;
    int32_t FThreadCount = 1;
    int32_t FProgramId = 0;
    int32_t FCopyInitialNonKeyframes = 0;
    bool FRateEmulation = false;
    bool FInputSync = false;
    int64_t FLimitFileSize = 0;         // bytes; 0 = none
    float FDtsDeltaThreshold = 10.0f;   // s
    bool FLoopInput = false;
    int32_t FLoopOutput = -1;
    int32_t FSwsFlags = 4;
    TOptionContexts FOptionContexts{};
    int32_t FTotalDuration = -1;        // ms; -1 = none known
    int64_t FReportInterval = 500000;   // µs

    // ---- Audio settings ------------------------------------------------------------------
    int32_t FAudioSampleRate = 44100;
    int32_t FAudioChannels = 2;
    int32_t FAudioSampleFormat = -1;
    int64_t FAudioChannelLayout = 0;    // layout mask; 0 = unspecified
    float FAudioQScale = -99999.0f;
    std::string FAudioCodecName;        // empty = none
    int32_t FAudioCodecTag = 0;
    std::string FAudioLanguage;
    bool FAudioStreamCopy = false;
    int32_t FAudioVolume = 256;
    int32_t FAudioSyncMethod = 0;
    float FAudioDriftThreshold = 0.1f;  // s
    // Bitstream filters collected for the next stream of each kind.
    std::vector<const AVBitStreamFilter*> FVideoBsfChain, FAudioBsfChain, FSubtitleBsfChain;
    // Chain per output file and stream, taken over when the stream is created.
    std::array<std::array<std::vector<const AVBitStreamFilter*>, kMaxStreams>, kMaxFiles> FBitstreamFilters{};

    // ---- Video and subtitle settings (only what the audio cutter needs of them) ----------
    std::string FVideoCodecName, FSubtitleCodecName;
    bool FVideoStreamCopy = false;
    bool FSubtitleStreamCopy = false;
    int32_t FVideoCodecTag = 0;
    int32_t FSubtitleCodecTag = 0;
    std::string FSubtitleLanguage;
    bool FPgmYuv = false;
    // Values of the video options that the engine stores but does not act on.
    std::vector<std::pair<std::string, std::string>> FVideoSettings;

    // ---- Statistics ----------------------------------------------------------------------
    int64_t FVideoSize = 0, FAudioSize = 0, FExtraSize = 0; // bytes
    int32_t FFramesDuplicated = 0, FFramesDropped = 0;
    int64_t FTimerStart = 0; // µs

    // ---- Run state -------------------------------------------------------------------------
    std::atomic<TConvertThread*> FConvertThread{nullptr};
    bool FJoin = false;
    std::atomic<bool> FConverting{false};
    std::atomic<bool> FStopRequested{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FExceptionRaised{false};
    std::string FExceptionMessage; // written before DoTerminate, read after termination
    std::string FLastError;

protected:
    // The conversion itself: setup, main loop, normal end. Raises FFmpegException.
    void RunConversion();

    // ---- Option handlers (Options*.cpp) -----------------------------------------------------
    // (declared by the option table's files below this line)

    // ---- Run path (Input*.cpp, Output*.cpp, Mapping*.cpp, Transcode*.cpp, Audio*.cpp,
    //      Progress*.cpp). Its private state lives in FRun.
    std::unique_ptr<TRunState> FRun;
    // (declared by the run path's files below this line)
};

// ---- Threads of one engine -----------------------------------------------------------------

// Runs ConvertProc of its engine ("convert").
class TConvertThread : public TThread {
public:
    explicit TConvertThread(TCustomFFmpeg* engine) : TThread("convert"), FEngine(engine) {}

protected:
    void Execute() override;

private:
    TCustomFFmpeg* FEngine;
};

// Sleeps in 10 ms steps while its engine's conversion thread is set ("convert-wait").
class TWaitThread : public TThread {
public:
    explicit TWaitThread(TCustomFFmpeg* engine) : TThread("convert-wait"), FEngine(engine) {}

protected:
    void Execute() override;

private:
    TCustomFFmpeg* FEngine;
};

// Runs DoTerminate of its engine ("convert-term").
class TDoTerminateThread : public TThread {
public:
    explicit TDoTerminateThread(TCustomFFmpeg* engine) : TThread("convert-term"), FEngine(engine) {}

protected:
    void Execute() override;

private:
    TCustomFFmpeg* FEngine;
};
