// The engine object: creation, reset to the defaults, and releasing everything a configuration
// or a run holds.
#include "EngineTexts.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "RunState.h"
#include "UnicodeProtocol.h"

#include <unistd.h>

TCustomFFmpeg::TCustomFFmpeg() {
    FReportInterval = 500000;
    FConverting = false;
    FStopRequested = false;
    FFinished = false;
    FTerminated = false;
    FTotalDuration = -1;
    FInputCodecCount = 0;
    FOutputCodecCount = 0;
    InitDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    // Every thread of this engine has left it before anything is freed: the conversion thread
    // (after its termination callback) and the wait and terminate threads.
    StopAndWait();
    CloseAll();
}

void TCustomFFmpeg::RequireLibraries() const {
    if (!FFLoader().AllLoaded(ConverterLibs)) throw FFmpegException(kMsgLibrariesNotLoaded);
}

void TCustomFFmpeg::Reset() {
    if (!FFLoader().AllLoaded(ConverterLibs)) return;
    // A reset never pulls the state from under a thread of this engine.
    StopAndWait();

    CloseAll();
    InitDefaults();
    FJoin = false;
    FConverting = false;
    FStopRequested = false;
    FFinished = false;
    FTerminated = false;
    FTerminating = false;
    FTotalDuration = -1;
    AllocOptionContexts(&FOptionContexts, FSwsFlags);
}

void TCustomFFmpeg::InitDefaults() {
    // Tables.
    for (auto& file : FInputFiles)
        file.reset();
    FInputTsOffsets.fill(0);
    for (auto& row : FInputTsScales)
        row.fill(0.0);
    FInputFileCount = 0;
    for (auto& file : FOutputFiles)
        file.reset();
    FOutputFileCount = 0;
    FStreamMaps.fill(TStreamMapEntry{});
    FStreamMapCount = 0;
    FMetadataMaps.fill(TMetadataMapEntry{});
    FMetadataMapCount = 0;
    FForcedInputFormat = nullptr;
    FForcedOutputFormat = nullptr;

    // General settings. The pending metadata stays: it is emptied only by being written.
    FMaxFrames.fill(INT32_MAX);
    FVideoDisabled = false;
    FAudioDisabled = false;
    FSubtitleDisabled = false;
    FMuxPreload = 0.5f;
    FMuxMaxDelay = 0.7f;
    FRecordingTime = INT64_MAX;
    FStartTime = 0;
    FRecordingTimestamp = 0;
    FTagSource.clear();
    FInputTsOffset = 0;
    FHexDump = false;
    FPacketDump = false;
    FCopyTs = false;
    FShortest = false;
    FExitOnError = false;
    FVerbose = 1;
    FThreadCount = 1;
    FProgramId = 0;
    FCopyInitialNonKeyframes = 0;
    FRateEmulation = false;
    FInputSync = false;
    FLimitFileSize = 0;
    FDtsDeltaThreshold = 10.0f;
    FLoopInput = false;
    FLoopOutput = -1;
    FSwsFlags = 4;
    InitOptionContexts(&FOptionContexts);
    FTotalDuration = -1;

    // Audio settings.
    FAudioSampleRate = 44100;
    FAudioChannels = 2;
    FAudioSampleFormat = -1;
    FAudioChannelLayout = 0;
    FAudioQScale = -99999.0f;
    FAudioCodecName.clear();
    FAudioCodecTag = 0;
    FAudioLanguage.clear();
    FAudioStreamCopy = false;
    FAudioVolume = 256;
    FAudioSyncMethod = 0;
    FAudioDriftThreshold = 0.1f;
    FVideoBsfChain.clear();
    FAudioBsfChain.clear();
    FSubtitleBsfChain.clear();
    for (auto& file : FBitstreamFilters)
        for (auto& chain : file)
            chain.clear();

    // Video and subtitle settings.
    FVideoCodecName.clear();
    FSubtitleCodecName.clear();
    FVideoStreamCopy = false;
    FSubtitleStreamCopy = false;
    FVideoCodecTag = 0;
    FSubtitleCodecTag = 0;
    FSubtitleLanguage.clear();
    FPgmYuv = false;
    FVideoSettings.clear();
    FMuxerOptions.clear();

    // Statistics and run results.
    FVideoSize = FAudioSize = FExtraSize = 0;
    FFramesDuplicated = FFramesDropped = 0;
    FTimerStart = 0;
    FConvertThread = nullptr;
    FExceptionRaised = false;
    FExceptionMessage.clear();
}

void TCustomFFmpeg::CheckInputFileRoom() const {
    if (FInputFileCount >= kMaxFiles) throw FFmpegException(Format(kMsgInputFilesFull, kMaxFiles));
}

void TCustomFFmpeg::CheckOutputFileRoom(int newEntries) const {
    if (newEntries > kMaxFiles - FOutputFileCount)
        throw FFmpegException(Format(kMsgOutputFilesFull, kMaxFiles));
}

namespace {

// Closes an output file entry's I/O, deletes the file when nothing was written to it, and frees
// the context with its streams, programs, chapters and metadata.
void CloseOutputFile(AVFormatContext* ctx) {
    if (!ctx) return;
    bool writesFile = ctx->oformat && !(ctx->oformat->flags & AVFMT_NOFILE);
    if (writesFile && ctx->pb) CloseMediaOutput(ctx);
    if (writesFile && ctx->url && *ctx->url) {
        std::string name = DisplayFileName(ctx->url);
        if (GetFileSize64(name) == 0) ::unlink(name.c_str());
    }
    av::avformat_free_context(ctx);
}

} // namespace

TOutputFilePtr OwnOutputFile(AVFormatContext* output) {
    if (!output) return nullptr;
    return TOutputFilePtr(output, CloseOutputFile);
}

void TCustomFFmpeg::CloseAll() {
    if (!FFLoader().AllLoaded(ConverterLibs)) return;

    FreeOptionContexts(&FOptionContexts);
    // The run's own state (stream tables, opened codecs, resamplers, FIFOs, buffers) goes first:
    // it refers to the contexts released below.
    FRun.reset();

    // Every entry owns what it holds (join entries share their one output context).
    for (int i = 0; i < kMaxFiles; ++i) {
        FOutputCodecContexts[i].clear();
        FOutputFiles[i].reset();
    }
    FOutputFileCount = 0;
    for (int i = 0; i < kMaxFiles; ++i) {
        FInputCodecContexts[i].clear();
        FInputFiles[i].reset();
    }
    FInputFileCount = 0;

    // The codec choices describe streams of the files just closed; a later configuration starts
    // with fresh tables (and can never run past their end).
    FInputCodecs.fill(nullptr);
    FOutputCodecs.fill(nullptr);
    FInputCodecCount = 0;
    FOutputCodecCount = 0;

    FAudioCodecName.clear();
    FVideoCodecName.clear();
    FSubtitleCodecName.clear();
    FAudioLanguage.clear();
    FSubtitleLanguage.clear();
    FSubtitleCodecTag = 0;
    FVideoSettings.clear();
}
