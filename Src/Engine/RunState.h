// The engine's private part: what output creation records for the run (which streams are
// copied), the helpers of input opening and output creation, the run path (setup and teardown,
// the transcode loop, the packet and audio paths, the progress report) with the run tables that
// one RunConversion builds and releases (one record per input stream and per output stream, the
// writers that encode and mux), and the messages of these paths in one place so that tests can
// name them. Only the engine's own files and its tests include this header.
//
// Everything here is touched by one thread at a time: the configuring thread while inputs and
// outputs are opened, then the conversion thread during the run, then whoever calls CloseAll.
#pragma once

#include "FFPtr.h"
#include "FFmpeg.h"
#include "MediaApi.h"
#include "MediaTags.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// ---- Messages of input opening ------------------------------------------------------------------
inline constexpr const char* kMsgAllocContextFailed = "avformat_alloc_context failed";
inline constexpr const char* kMsgUnknownCodec = "Unknown %s '%s'";          // "encoder"/"decoder", name
inline constexpr const char* kMsgInvalidCodecType = "Invalid %s type '%s'"; // the same
inline constexpr const char* kMsgNoCodecParameters = "%s: could not find codec parameters";
inline constexpr const char* kMsgInvalidCodecTypeInput = "invalid codec_type";
inline constexpr const char* kMsgTooManyInputStreams = "%s: too many streams (at most %d per file)";

// ---- Messages of output creation ------------------------------------------------------------------
inline constexpr const char* kMsgCannotJoinTwice = "Cannot join more than one output file.";
inline constexpr const char* kMsgNoOutputFormat = "Unable to find a suitable output format for '%s'";
inline constexpr const char* kMsgCheckInputsFailed = "check_audio_video_sub_inputs fail: %s";
inline constexpr const char* kMsgInvalidInputCodecType = "invalid codec_type of input file";
inline constexpr const char* kMsgNewVideoStreamFailed = "new_video_stream fail: %s";
inline constexpr const char* kMsgNewAudioStreamFailed = "new_audio_stream fail: %s";
inline constexpr const char* kMsgNewSubtitleStreamFailed = "new_subtitle_stream fail: %s";
inline constexpr const char* kMsgCouldNotAllocStream = "Could not alloc stream";
inline constexpr const char* kMsgCouldNotOpen = "Could not open '%s'";
inline constexpr const char* kMsgCodecContextFailed = "avcodec_alloc_context failed";

// ---- Messages of mapping and codec opening -------------------------------------------------------
inline constexpr const char* kMsgNoStreamInOutput = "Output file #%d does not contain any stream";
inline constexpr const char* kMsgMapCountMismatch =
    "Number of stream maps must match number of output streams";
inline constexpr const char* kMsgNoInputStream = "Could not find input stream #%d.%d";
inline constexpr const char* kMsgNoSyncStream = "Could not find sync stream #%d.%d";
inline constexpr const char* kMsgCodecTypeMismatch =
    "Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)";
inline constexpr const char* kMsgNoMatchingInput =
    "Could not find input stream matching output stream #%d.%d (%s)";
inline constexpr const char* kMsgCopyAndVolume =
    "-acodec copy and -vol are incompatible (frames are not decoded)";
inline constexpr const char* kMsgInvalidOutputCodecType = "invalid codec_type of output stream";
inline constexpr const char* kMsgEncodingNotSupported = "Video and subtitle encoding are not supported";
inline constexpr const char* kMsgEncoderNotFound =
    "Encoder (codec id %d) not found for output stream #%d.%d (%s)";
inline constexpr const char* kMsgEncoderOpenFailed = "Error while opening encoder for output stream #%d.%d "
                                                     "(%s) - maybe incorrect parameters such as bit_rate, "
                                                     "rate, width or height";
inline constexpr const char* kMsgDecoderNotFound =
    "Decoder (codec id %d) not found for input stream #%d.%d (%s)";
inline constexpr const char* kMsgDecoderOpenFailed =
    "Error while opening decoder for input stream #%d.%d (%s)";
inline constexpr const char* kMsgBadMetadataOutput = "Invalid output file index %d map_meta_data(%d,%d)";
inline constexpr const char* kMsgBadMetadataInput = "Invalid input file index %d map_meta_data(%d,%d)";
inline constexpr const char* kMsgHeaderFailed =
    "Could not write header for output file #%d (incorrect codec parameters ?)";
inline constexpr const char* kMsgStreamMapping = "Stream mapping:";
inline constexpr const char* kMsgStreamMappingLine = "  Stream #%d.%d -> #%d.%d (%s)";
inline constexpr const char* kMsgStreamMappingSync = " [sync #%d.%d (%s)]";
inline constexpr const char* kMsgBsfInitFailed = "%s: cannot set up the bitstream filter for stream %d";

// ---- Messages of the loop and the audio path -------------------------------------------------------
inline constexpr const char* kMsgDecodeError = "Error while decoding stream #%d.%d (%s)";
inline constexpr const char* kMsgTimestampDiscontinuity = "timestamp discontinuity %lld, new offset= %lld";
inline constexpr const char* kMsgBsfFailed = "%s failed for stream %d, codec %s";
inline constexpr const char* kMsgWriteFrame = "av_interleaved_write_frame()";
inline constexpr const char* kMsgWriteTrailer = "av_write_trailer()";
inline constexpr const char* kMsgAudioEncodingFailed = "Audio encoding failed";
inline constexpr const char* kMsgInvalidCodecTypeRun = "invalid codec_type";
inline constexpr const char* kMsgCannotResample =
    "Can not resample %d channels @ %d Hz to %d channels @ %d Hz";
inline constexpr const char* kMsgFifoFailed = "av_audio_fifo_write() failed";
inline constexpr const char* kMsgOutOfMemory = "av_malloc failed";
inline constexpr const char* kMsgDiscarding = "discarding %d audio samples";
inline constexpr const char* kMsgAddingSilence = "adding %d audio samples of silence";
inline constexpr const char* kMsgCompensating = "compensating audio timestamp drift:%f compensation:%d in:%d";

// ---- Messages of the progress report -----------------------------------------------------------------
inline constexpr const char* kMsgProgressLine = "size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s";
inline constexpr const char* kMsgProgressDupDrop = " dup=%d drop=%d";
inline constexpr const char* kMsgSummary =
    "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n";

// ---- Run records ------------------------------------------------------------------------------------

struct TInputFileState {
    bool EndReached = false;
    int32_t FirstStream = 0; // index of the file's first stream in the input stream table
    int32_t StreamCount = 0;
    bool NoPacket = false; // answered "try again" since the last successful read
};

// Where a decoded audio frame lies, exactly: raw time Pts × TimeBase (as the demuxer stamped it,
// before the file's offset), plus ShiftUs (the file's offset, µs), plus Samples ÷ Rate. Frames
// that follow each other share one anchor, so their sample times stay exact even where the
// container's time base is coarser than a sample or stamps single frames off their place.
struct TSampleClock {
    int64_t Pts = AV_NOPTS_VALUE;
    AVRational TimeBase{1, 1000000};
    int64_t ShiftUs = 0;
    int64_t Samples = 0;
    int Rate = 0;
    int64_t Deviation = 0; // time-base units the last frame's stamp differed from the prediction
    int Deviations = 0;    // frames in a row whose stamps differed
};

struct TInputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0; // within its file
    AVStream* Stream = nullptr;
    AVCodecContext* Dec = nullptr; // the decoder context made when the file was opened
    bool Discarded = true;         // until some output stream takes its data
    bool Decode = false;
    int64_t StartClock = 0;           // µs, "re" only
    int64_t NextPts = AV_NOPTS_VALUE; // µs, expected time of the next decoded data
    int64_t Pts = 0;                  // µs, time of the data being decoded
    bool AtStart = true;              // cleared when audio sync first inserts or drops
    bool Flushed = false;             // join mode: decoder drained at the end of its file
    TSampleClock Clock;               // exact position of the next decoded sample
    int64_t PacketShiftUs = 0;        // the file's offset when the last packet was sent
};

// A real output stream with what encoding or copying it needs. In join mode several output
// stream records (one per input file) share one writer: the encoder, its FIFO and its counts go
// on across the inputs.
struct TStreamWriter {
    AVFormatContext* File = nullptr;
    int32_t FileIndex = 0;
    AVStream* Stream = nullptr;
    AVCodecContext* Enc = nullptr; // owned by FOutputCodecContexts
    bool Encode = false;
    // Audio conversion: one resampler for whatever differs between decoder and encoder; made
    // for the decoder's format, rate and layout and remade when they change.
    TSwrPtr Resampler;
    int ResamplerFormat = -1;
    int ResamplerRate = 0;
    uint64_t ResamplerLayout = 0;
    int ResamplerChannels = 0;
    TAudioFifoPtr SampleFifo; // samples in the encoder's format waiting for a whole frame
    TFramePtr EncFrame;       // the frame handed to the encoder (reused)
    int EncFrameCapacity = 0;
    TPacketPtr Packet;             // encoder output (reused)
    std::vector<uint8_t*> Scratch; // converted samples before they enter the FIFO
    int ScratchCapacity = 0;
    int64_t SamplesAccepted = 0;            // output samples taken in (FIFO or encoder): the output time
    int64_t SamplesSent = 0;                // output samples given to the encoder: the next frame's pts
    int64_t MaxSamples = INT64_MAX;         // the recording time in output samples
    int64_t LastPacketEnd = AV_NOPTS_VALUE; // stream copy: end of the last packet, stream time base
    bool ReachedEnd = false;                // the recording time was reached (the rest is cut)
    bool Flushed = false;
    std::vector<TBsfPtr> Filters; // bitstream filter chain
    ~TStreamWriter();
    TStreamWriter() = default;
    TStreamWriter(const TStreamWriter&) = delete;
    TStreamWriter& operator=(const TStreamWriter&) = delete;
};

struct TOutputStreamState {
    int32_t FileIndex = 0;   // output file entry (join mode: the input file it belongs to)
    int32_t StreamIndex = 0; // within the entry
    int32_t SourceIndex = 0; // into the input stream table
    AVStream* Stream = nullptr;
    bool Encode = false;
    int32_t FrameCount = 0;   // packets written (copy, flush)
    int32_t SyncSource = 0;   // input stream whose position drives audio sync
    int64_t SyncPosition = 0; // output samples given to the encoder
    bool NeedsResample = false;
    TStreamWriter* Writer = nullptr;
};

struct TRunState {
    explicit TRunState(TCustomFFmpeg& engine) : Engine(engine) {}
    TRunState(const TRunState&) = delete;
    TRunState& operator=(const TRunState&) = delete;
    // Closes codecs a run left open (under CodecLock) and releases the tables.
    ~TRunState();

    TCustomFFmpeg& Engine; // the engine this part belongs to

    // Recorded when output streams are created: stream copy per output file and stream.
    std::array<std::array<bool, kMaxStreams>, kMaxFiles> StreamCopy{};

    // ---- Run tables (one RunConversion) ----
    std::vector<TInputFileState> InputFiles;
    std::vector<std::unique_ptr<TInputStreamState>> InputStreams;
    std::vector<std::unique_ptr<TOutputStreamState>> OutputStreams;
    std::vector<std::unique_ptr<TStreamWriter>> Writers;
    int32_t GroupSize = 0; // streams of output entry 0
    // Codecs open now, most recent first; closed under CodecLock.
    std::vector<AVCodecContext*> OpenedEncoders;
    std::vector<AVCodecContext*> OpenedDecoders;
    int32_t CurrentInput = 0; // join mode
    int32_t NoPacketCount = 0;
    int64_t LastReportTime = 0; // µs
    TPacketPtr Packet;
    TFramePtr Frame;
    TMediaTags Tags; // of the tag source, for the outputs

    // Closes every opened codec (holding CodecLock for each).
    void CloseOpenedCodecs();
    // Frees the run tables (not the recorded copy flags).
    void ReleaseTables();

    // ---- Input opening (InputOpen.cpp) ----
    void ResetPerFileSettings();
    // Makes the decoder context of one stream of a file being opened and takes its settings.
    void OpenInputStream(AVStream* stream, std::vector<TLockedCodecContextPtr>& decoders);

    // ---- Output creation (OutputOpen.cpp) ----
    int OutputFileIndexOf(const AVFormatContext* output) const;
    // Adds a stream of `type` with its encoder context; raises FFmpegException.
    AVStream* NewOutputStream(AVFormatContext* output, AVMediaType type, const std::string& codecName,
                              bool copy, int32_t codecTag, std::vector<const AVBitStreamFilter*>& bsfChain,
                              AVCodecContext*& enc, const AVCodec*& encoder);
    // Forgets the streams and encoder contexts recorded for output entry `index`.
    void DiscardOutputStreams(int index, int32_t outputCodecCount);

    // ---- Run setup and teardown (StreamMapping.cpp, CodecOpening.cpp), in the order of a run ----
    // The whole conversion: setup, main loop, normal end; raises FFmpegException.
    void Run();
    void SetupRun();
    void BuildInputTables();
    void BuildOutputTables();
    void CheckOutputsAndMaps();
    void BuildWriters();
    // The input stream that output stream number `n` (overall) is made from, by map or by type.
    void ChooseSource(TOutputStreamState& ost, AVFormatContext* output, int n);
    int FindSourceByType(AVMediaType type, int outputFile) const;
    void SetCodecParameters();
    void SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist);
    void SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist);
    void OpenEncoders();
    void OpenDecoders();
    void SetupBitstreamFilters(TStreamWriter& writer);
    void InitInputTimestamps();
    void ApplyMetadataMaps();
    void AttachTags();
    void WriteHeaders();
    void WriteTagPictures();
    void DumpOutputs();
    void LogStreamMapping();
    // A setup step that cannot go on: logs the stream mapping and the text, then raises it.
    [[noreturn]] void FailSetup(const std::string& text);
    // Closes the codecs at the normal end.
    void CloseRunCodecs();

    // ---- The transcode loop (TranscodeLoop.cpp). An iteration returns false to leave the loop ----
    bool RunLoopIteration();
    // The input to read next (-1: none) and the lowest output time among the streams looked at (s).
    struct TInputChoice {
        int File;
        double MinOutput;
    };
    TInputChoice ChooseInput() const;
    TInputChoice ChooseJoinInput() const;
    // No input to read: false to end the loop, or true after a short wait when inputs had no
    // packet for the moment.
    bool WaitForInputs();
    bool OutputLimitReached(double minOutput) const;
    // Hands a packet read from `file` to the packet path; false when it could not be decoded.
    bool HandlePacket(int file, AVPacket* packet);
    void CorrectTimestamps(TInputStreamState& ist, int file, AVPacket* packet);
    void ReportProgressDue();
    // The output time the loop compares (s) and whether the stream has written its frame limit.
    double LoopTime(const TOutputStreamState& ost) const;
    bool FrameLimitReached(const TOutputStreamState& ost) const;
    bool JoinStep(int inputFile);
    void FinishRun();
    // Seconds of output the stream has produced (the engine's own count).
    double OutputTime(const TOutputStreamState& ost) const;

    // ---- The packet path (PacketPath.cpp) ----
    // ProcessPacket: 0, or -1 when decoding failed; a null packet drains the decoder and, with
    // flushEncoders, the encoders the stream feeds.
    int ProcessPacket(int inputStream, AVPacket* packet, bool flushEncoders);
    void DeliverFrame(int inputStream, AVFrame* frame);
    void CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket* packet);
    void MuxPacket(TStreamWriter& writer, AVPacket* packet);
    void FilterPacket(TStreamWriter& writer, size_t filterIndex, AVPacket* packet);
    void ReportFilterError(TStreamWriter& writer, size_t filterIndex, int streamIndex, int rc);
    void ApplyVolume(AVFrame* frame);

    // ---- The audio output path (AudioOutput.cpp) ----
    void EncodeAudio(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame, int first, int count,
                     int64_t blockTimeUs);
    // The steps of EncodeAudio: the resampler the block needs, audio sync (which may drop the
    // block's start or add silence before it; false when nothing of it is left) and the samples
    // into the FIFO (false when they could not be converted).
    void ChooseResampler(TStreamWriter& writer, TOutputStreamState& ost, const AVFrame* frame);
    bool SyncAudio(TStreamWriter& writer, TOutputStreamState& ost, TInputStreamState& ist,
                   const AVFrame* frame, int& first, int& count, int64_t blockTimeUs);
    bool QueueSamples(TStreamWriter& writer, TOutputStreamState& ost, const AVFrame* frame, int first,
                      int count);
    double SyncInputSeconds(const TOutputStreamState& ost, int64_t blockTimeUs) const;
    void MakeResampler(TStreamWriter& writer, const AVFrame* frame);
    void DrainResampler(TStreamWriter& writer, TOutputStreamState& ost);
    void PushSamples(TStreamWriter& writer, TOutputStreamState& ost, const uint8_t* const* data, int count);
    void PushSilence(TStreamWriter& writer, TOutputStreamState& ost, int count);
    void EncodeFromFifo(TStreamWriter& writer, TOutputStreamState& ost, bool final);
    void SendToEncoder(TStreamWriter& writer, TOutputStreamState& ost, AVFrame* frame);
    void FlushEncoder(TStreamWriter& writer, TOutputStreamState& ost);

    // ---- The progress report (Progress.cpp) ----
    void ReportProgress(bool isLast);
};
