// The transcoding engine: one conversion job configured like a command-line transcoder (named
// options with text values), with its input and output files, run on a thread of its own or
// inline, reporting progress and termination through callbacks.
//
// Threads: configuration (options, OpenInputFile, OpenOutputFile, BeginConvert, EndConvert) runs
// on the configuring thread while no conversion of this engine runs; the conversion runs on the
// conversion thread (or inline). Flags read across threads are atomics.
#pragma once

#include "FFOwners.h"
#include "FFUtils.h"
#include "MyUtils.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Only pointers to the media libraries' objects pass through this header; their definitions
// stay with the engine's own files.
struct AVBitStreamFilter;
struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVInputFormat;
struct AVOutputFormat;

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
    bool operator==(const TStreamMapEntry&) const = default;
};

struct TMetadataMapEntry {
    int32_t OutFile = 0;
    int32_t InFile = 0;
    bool operator==(const TMetadataMapEntry&) const = default;
};

// (Sender, AFrameNumber, AFPS, ACurrentDuration ms, AQuality, ABitRate kbit/s, ACurrentSize bytes,
//  ATotalOutputDuration ms); called on the conversion thread.
using TEngineProgressEvent = std::function<void(TCustomFFmpeg* sender, int32_t frameNumber, int32_t fps,
                                                int32_t currentDuration, float quality, float bitRate,
                                                int64_t currentSize, int32_t totalOutputDuration)>;
// Called once per run on the thread that ends it.
using TEngineTerminateEvent = std::function<void(TCustomFFmpeg* sender)>;

class TConvertThread;

// An output file entry's owner. In join mode every entry shares one context; the last owner
// closes its I/O, deletes the file when nothing was written to it and frees the context.
using TOutputFilePtr = std::shared_ptr<AVFormatContext>;
// Takes over an output context with its file open for writing (null stays null).
TOutputFilePtr OwnOutputFile(AVFormatContext* output);

// Everything a run builds and releases (stream tables, opened-codec lists, resamplers, FIFOs);
// defined by the run path (RunState.h).
struct TRunState;

// The engine's settings and per-configuration tables with their defaults, written only here:
// a new engine starts with them and InitDefaults (Reset) restores them.
struct TEngineSettings {
    // ---- Per-configuration tables ----------------------------------------------------------
    std::array<int64_t, kMaxFiles> FInputTsOffsets{};         // µs
    std::array<std::array<double, kMaxStreams>, kMaxFiles> FInputTsScales{}; // 0 = none
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
    // Options no generic context knows, tried on the next output's muxer (e.g. WAV's "rf64") and
    // audio encoder (e.g. LAME's "abr").
    std::vector<std::pair<std::string, std::string>> FMuxerOptions;
    // The file whose tags and cover pictures the outputs get (OutputTags.cpp); empty: none.
    std::string FTagSource;
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
    int32_t FTotalDuration = -1;        // ms; -1 = none known

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


    bool operator==(const TEngineSettings&) const = default;
};

class TCustomFFmpeg : public TEngineSettings {
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
    // Stops a running conversion and waits until every thread of this engine has left it (the
    // termination callback included). The destructor does this too, but only after a derived
    // class's members are gone: a derived class whose callbacks use its own members calls it
    // first in its own destructor.
    void StopAndWait();

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
    // Raise FFmpegException naming the full table when one more input file, or `newEntries`
    // more output file entries (join mode adds one per input), would not fit.
    void CheckInputFileRoom() const;
    void CheckOutputFileRoom(int newEntries = 1) const;

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
    // Each entry owns what it holds; CloseAll empties the tables.
    std::array<TInputContextPtr, kMaxFiles> FInputFiles{};
    // Decoder context of each input stream, created when the file is opened.
    std::array<std::vector<TLockedCodecContextPtr>, kMaxFiles> FInputCodecContexts{};
    std::array<const AVCodec*, kMaxCodecs> FInputCodecs{};   // by overall stream index; null = by id
    int32_t FInputFileCount = 0;
    int32_t FInputCodecCount = 0;
    // Output file entries; in join mode every entry shares the same context.
    std::array<TOutputFilePtr, kMaxFiles> FOutputFiles{};
    // Encoder context of each output stream of an output context (recorded under the context's
    // first entry), created with the stream.
    std::array<std::vector<TLockedCodecContextPtr>, kMaxFiles> FOutputCodecContexts{};
    std::array<const AVCodec*, kMaxCodecs> FOutputCodecs{};  // by overall stream index; null = by id
    int32_t FOutputFileCount = 0;
    int32_t FOutputCodecCount = 0;
    std::vector<std::pair<std::string, std::string>> FMetadata; // pending tags of the next output
    TOptionContexts FOptionContexts{};
    int64_t FReportInterval = 500000;   // µs; kept by Reset

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
    // The conversion itself: setup, main loop, normal end. Raises FFmpegException. Virtual so
    // that a test can put a controllable run in its place.
    virtual void RunConversion();

    // ---- Option handlers (Options.cpp, OptionHandlers.cpp, VideoOptions.cpp, Presets.cpp) -----
    // One public operation per option; ApplyOption dispatches to them by name. Each takes the
    // option's text value, converts it and raises FFmpegException, EConvertError or
    // EAssertionFailed on bad input. They run on the configuring thread, before BeginConvert.
public:
    // "L", "h", "version", "formats", "benchmark", "i", "y": only logged.
    void OptDoNothing(const std::string& name);
    void OptFormat(const std::string& value);                // "f": next input and next output
    void OptMap(const std::string& value);                   // "map": file:stream[:syncfile:syncstream]
    void OptMapMetaData(const std::string& value);           // "map_meta_data": outfile:infile
    void OptRecordingTime(const std::string& value);         // "t"
    void OptLimitFileSize(const std::string& value);         // "fs"
    void OptStartTime(const std::string& value);             // "ss"
    void OptInputTsOffset(const std::string& value);         // "itsoffset"
    void OptInputTsScale(const std::string& value);          // "itsscale": stream:scale
    void OptRecordingTimestamp(const std::string& value);    // "timestamp"
    void OptMetadata(const std::string& value);              // "metadata": key=value
    void OptDataFrames(const std::string& value);            // "dframes"
    void OptAudioFrames(const std::string& value);           // "aframes"
    void OptVideoFrames(const std::string& value);           // "vframes"
    void OptPacketDump(const std::string& value);            // "dump"
    void OptHexDump(const std::string& value);               // "hex"
    void OptRateEmulation(const std::string& value);         // "re"
    void OptLoopInput(const std::string& value);             // "loop_input"
    void OptLoopOutput(const std::string& value);            // "loop_output"
    void OptVerbose(const std::string& value);               // "v"
    void OptLogLevel(const std::string& value);              // "loglevel"
    void OptThreads(const std::string& value);               // "threads": always refused
    void OptAudioSyncMethod(const std::string& value);       // "async"
    void OptAudioDriftThreshold(const std::string& value);   // "adrift_threshold"
    void OptCopyTs(const std::string& value);                // "copyts"
    void OptShortest(const std::string& value);              // "shortest"
    void OptDtsDeltaThreshold(const std::string& value);     // "dts_delta_threshold"
    void OptProgramId(const std::string& value);             // "programid"
    void OptExitOnError(const std::string& value);           // "xerror"
    void OptCopyInitialNonKeyframes(const std::string& value); // "copyinkf"
    void OptInputSync(const std::string& value);             // "isync"
    void OptMuxMaxDelay(const std::string& value);           // "muxdelay"
    void OptMuxPreload(const std::string& value);            // "muxpreload"
    // "b", "ab", "vb": the codec option "b"; the result of SetOptionDefault.
    bool OptBitrate(const std::string& name, const std::string& value);
    void OptAudioQScale(const std::string& value);           // "aq"
    void OptAudioSampleRate(const std::string& value);       // "ar"
    void OptAudioChannels(const std::string& value);         // "ac"
    void OptAudioDisable(const std::string& value);          // "an"
    void OptVideoDisable(const std::string& value);          // "vn"
    void OptSubtitleDisable(const std::string& value);       // "sn"
    void OptAudioCodec(const std::string& value);            // "acodec"
    void OptVideoCodec(const std::string& value);            // "vcodec"
    void OptSubtitleCodec(const std::string& value);         // "scodec"
    void OptAudioTag(const std::string& value);              // "atag"
    void OptVideoTag(const std::string& value);              // "vtag"
    void OptSubtitleTag(const std::string& value);           // "stag"
    void OptAudioVolume(const std::string& value);           // "vol"
    void OptNewAudioStream(const std::string& value);        // "newaudio"
    void OptNewVideoStream(const std::string& value);        // "newvideo"
    void OptNewSubtitleStream(const std::string& value);     // "newsubtitle"
    void OptAudioLanguage(const std::string& value);         // "alang"
    void OptSubtitleLanguage(const std::string& value);      // "slang"
    void OptSampleFmt(const std::string& value);             // "sample_fmt" ("list" logs them)
    // "absf", "vbsf", "sbsf": appends to the pending chain chosen by the name's first letter.
    void OptBitstreamFilter(const std::string& name, const std::string& value);

    // Video options the engine stores without acting on them (FVideoSettings). The named ones
    // are those the conversion component applies from its output record.
    void OptVideoSetting(const std::string& name, const std::string& value);
    void OptFrameRate(const std::string& value);             // "r"
    void OptFrameSize(const std::string& value);             // "s"
    void OptFrameAspectRatio(const std::string& value);      // "aspect"
    void OptFrameCropTop(const std::string& value);          // "croptop"
    void OptFrameCropBottom(const std::string& value);       // "cropbottom"
    void OptFrameCropLeft(const std::string& value);         // "cropleft"
    void OptFrameCropRight(const std::string& value);        // "cropright"
    void OptFramePadTop(const std::string& value);           // "padtop"
    void OptFramePadBottom(const std::string& value);        // "padbottom"
    void OptFramePadLeft(const std::string& value);          // "padleft"
    void OptFramePadRight(const std::string& value);         // "padright"
    void OptPadColor(const std::string& value);              // "padcolor"
    void OptVideoFilters(const std::string& value);          // "vfilters"
    void OptVideoSync(const std::string& value);             // "vsync"
    void OptTarget(const std::string& value);                // "target", e.g. "pal-dvd"
    // The target routine with its parts: type "vcd"/"svcd"/"dvd", norm "auto"/"pal"/"ntsc" and
    // the norm assumed when "auto" cannot decide.
    void OptTarget(const std::string& type, const std::string& norm, const std::string& defaultNorm);
    // The stored value of a video option, or "" when it was never set.
    std::string VideoSetting(const std::string& name) const;

    // ---- Lifecycle internals (Engine.cpp, EngineThreads.cpp) -------------------------------
private:
    friend class TConvertThread;
    friend class TWaitThread;
    friend class TDoTerminateThread;
    // Raises FFmpegException unless the converter's libraries are loaded.
    void RequireLibraries() const;
    // Keeps a started helper thread until it has ended (the engine frees its threads itself).
    void AdoptThread(std::unique_ptr<TThread> thread);
    // Waits for and frees helper threads: the ended ones, or all of them, and with `all` also
    // the conversion thread of the last run.
    void ReapThreads(bool all);

    // Guards FOwnedConvertThread, FHelperThreads and the decisions of BeginConvert and
    // EndConvert (start a run or report termination), which may come from different threads
    // (a terminating task starts the next one while the application stops them all). Never
    // held while waiting for a thread or calling a callback.
    std::mutex FThreadsLock;
    // The conversion thread of the current run; FConvertThread points at it while it runs.
    std::unique_ptr<TConvertThread> FOwnedConvertThread;
    std::vector<std::unique_ptr<TThread>> FHelperThreads; // wait and terminate threads
    // Set once termination is claimed without a run (a failed validation, or EndConvert on a
    // task that never ran), so that a second EndConvert or a late BeginConvert does nothing.
    // Cleared by Reset.
    std::atomic<bool> FTerminating{false};

protected:
    // The engine's private part (RunState.h): input and output helpers, the run path (setup,
    // transcode loop, packet and audio paths, progress) and the state of one run. Created on
    // first use; output creation records stream copy in it.
    friend struct TRunState;
    std::unique_ptr<TRunState> FRun;
    TRunState& RunState();
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
