// The engine object: creation, reset to the defaults, and releasing everything a configuration
// or a run holds.
#include "EngineTexts.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "RunState.h"
#include "UnicodeProtocol.h"

#include <unistd.h>

TCustomFFmpeg::TCustomFFmpeg() {
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
    AllocOptionContexts(&FOptionContexts, FSwsFlags);
}

void TCustomFFmpeg::InitDefaults() {
    // The defaults are those of TEngineSettings. The pending metadata stays (it is emptied only
    // by being written), and so does the report interval.
    static_cast<TEngineSettings&>(*this) = TEngineSettings{};
    for (auto& file : FInputFiles)
        file.reset();
    FInputFileCount = 0;
    for (auto& file : FOutputFiles)
        file.reset();
    FOutputFileCount = 0;
    InitOptionContexts(&FOptionContexts);
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
