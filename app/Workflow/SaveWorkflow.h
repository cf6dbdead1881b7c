// The save workflow without a window: the intake check of an added file, and saving the marked
// segment (select mode) or everything outside it (delete mode) through the conversion component.
// The window and the command-line tool both drive it; prompts, messages, the busy state, the
// progress display and the event wait are callbacks that each of them supplies.
//
// Threads: every operation is called on the main thread. While a conversion runs, Save() stays
// inside the caller's event wait (Callbacks.WaitForEvents); Stop() is called from inside that wait.
// Progress arrives on the conversion thread, termination on short-lived threads of the component.
#pragma once

#include "RAzevaVUV.h"
#include "WorkflowTexts.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// ---- The window's state that a save needs -----------------------------------------------------

// Times of the open file.
struct rTimeInfo {
    int64_t TotalTime = 0; // µs, the duration reported for the file
    int64_t PlayTime = 0;  // µs, the last play position
    int64_t StartMark = 0; // ms
    int64_t EndMark = 0;   // ms
};

// The audio stream of the added file, copied into every output.
struct rInputStreamInfo {
    std::string CodecName; // decoder short name ("mp3float", "aac", "wmav2", "vorbis", "pcm_s16le")
    int64_t Channels = 0;
    int64_t SampleRate = 0; // Hz
    int64_t BitRate = 0;    // bit/s
    // MP3 only: frames of varying bit rates, re-encoded at a variable rate too; the LAME quality
    // (0 best .. 9) the input states, -1 when it states none (the average BitRate is then aimed at).
    bool VariableBitRate = false;
    int32_t VbrQuality = -1;
};

// The save flags of the window's control record.
struct rSaveControl {
    int32_t TrimMode = 0;                   // 0 none chosen, 1 select, 2 delete
    std::atomic<bool> Terminated{false};    // set by the component's final event (another thread)
    std::atomic<bool> Stopped{false};       // set by Stop()
    std::atomic<int32_t> ProgressBase{0};   // percent done before the running conversion
    std::atomic<int32_t> ProgressWeight{0}; // percent share of the running conversion
    std::string OutputPath;                 // folder of the chosen output, with a trailing "/"
    bool Lossless = false; // copy the compressed frames instead of re-encoding (where possible)
};

// What the intake check learnt about the file beyond the stream record.
struct rInputDescription {
    int32_t StreamCount = -1;
    int32_t AudioStreamCount = -1;
    int64_t DurationUS = -1; // the container's duration (an estimate for some formats); -1 unknown
    bool DurationEstimated = false; // DurationUS comes from the bit rate, not from the stream
};

// ---- Callbacks --------------------------------------------------------------------------------

enum class TPromptKind { Plain, Warning, Information };

enum class TStepKind {
    Segment, // one segment of the input straight into the output
    Part,    // a part of a delete-mode save into the temporary folder
    Join,    // the parts joined into the output
};

// One conversion about to start (its task is set up, not yet started).
struct TConversionStep {
    TStepKind Kind = TStepKind::Segment;
    std::vector<std::string> Inputs;
    std::string Output;     // the file the conversion writes
    int64_t StartMs = 0;    // in the input
    int64_t DurationMs = 0; // 0: to the end of the input
    int32_t ProgressBase = 0;
    int32_t ProgressWeight = 0;
};

struct TWorkflowCallbacks {
    // A message with an OK button. An empty caption stands for the program's title.
    std::function<void(TPromptKind kind, const std::string& caption, const std::string& text)> ShowMessage;
    // A question with Yes and No; true for Yes. Unassigned: No.
    std::function<bool(TPromptKind kind, const std::string& caption, const std::string& text)> AskYesNo;
    // The save dialog: filter in the "mp3 Files|*.mp3" form; fileName holds the chosen name.
    // False when cancelled. Unassigned: cancelled.
    std::function<bool(const std::string& filter, std::string& fileName)> ChooseSaveFile;
    // Mode 0: a save starts (Save becomes Stop); mode 1: it has ended.
    std::function<void(int mode)> SetBusy;
    // Progress bar position (0..100) and text ("Progress: 25.00%"). Called on the conversion
    // thread; the window hands it to its UI thread.
    std::function<void(int32_t position, const std::string& text)> Progress;
    // Open the output folder on the desktop (asked for after a finished save).
    std::function<void(const std::string& folder)> OpenFolder;
    // Blocks in the caller's event wait, serving its events, until done() is true; it may return
    // earlier and is then called again. Must not spin: Wake() is called whenever done() may have
    // turned true. Unassigned: WaitUntil (serving CallInMainThread).
    std::function<void(const std::function<bool()>& done)> WaitForEvents;
    // Any thread: wakes the event wait. Unassigned: WakeMainThread.
    std::function<void()> Wake;
    // Observer, main thread: a conversion is set up and about to start.
    std::function<void(const TConversionStep& step)> ConversionStarting;
};

enum class TSaveResult {
    Done,      // the output was written
    Cancelled, // the save dialog was cancelled or the replace question answered No
    Refused,   // a check refused the save; its message was shown
    Failed,    // a conversion or a file operation failed; its message was shown
    Stopped,   // Stop() ended the save; nothing was written
};

// ---- Rules of the save, free of state (unit-tested) -------------------------------------------

// The decoder name of a probe's codec text "name(long name)": the trimmed text before the first
// "(", empty when there is none.
std::string CodecNameFromDescription(const std::string& codecText);
// The intake's extension test (lower-cased, a substring of ".mp3.aac.wav.wma.ogg.oga.opus.flac.m4a",
// not empty).
bool IsSupportedExtension(const std::string& fileName);
// Whether an input is opened with "vn=1": its extension as written occurs in
// ".aac.ac3.mp2.mp3.wav.wma" (case-sensitive, so ".MP3" does not).
bool InputNeedsVideoOff(const std::string& fileName);
// The save dialog's filter for a lower-case extension with its dot: "mp3 Files|*.mp3".
std::string SaveDialogFilter(const std::string& ext);
// How an MP3 file's frames are coded, from its first frames: a "Xing" header or frames of
// different bit rates mean VBR; the LAME quality is the one its Xing header states (-1: none).
struct TMp3BitRateMode {
    bool Variable = false;
    int32_t Quality = -1;
};
TMp3BitRateMode AnalyseMp3BitRate(const std::string& fileName);
// The content format the libraries found is one that an input with this extension may hold
// (true for extensions the intake does not list exactly, which the probe alone judges).
bool ContentMatchesExtension(const std::string& ext, const std::string& demuxerName);
// The output settings of a variable-bit-rate MP3 input: the LAME quality it states, or an average
// bit rate aimed at the input's.
void ApplyVariableBitRate(const rInputStreamInfo& input, TOutputOptions& options);
// The container settings that let an output state its length to the sample: an .m4a file's movie
// time scale (where its edit list is counted) is the sample rate, not milliseconds.
void ApplyExactLength(const std::string& outputExt, TOutputOptions& options);

// Adjusts Options.AudioCodec (holding the input's decoder name) to the encoder for outputExt. The
// known encoders are those of the loaded codec library (the fixed list when it is not loaded).
void ChooseAudioEncoder(const std::string& outputExt, TOutputOptions& options);
// The input's bit rate as an encoder setting: -1 (the encoder chooses) for an unknown or absurd
// value (<= 0, or above 1,000,000 bit/s, which no lossy audio codec uses).
int32_t EncoderBitRate(int64_t inputBitRate);

// Progress bar position and text for one progress event (ms values). Valid is false when there is
// nothing to show (no total, or a trim mode other than 1 and 2).
struct TProgressView {
    bool Valid = false;
    int32_t Position = 0; // 0..100
    std::string Text;
};
TProgressView ProgressView(int32_t trimMode, int32_t base, int32_t weight, int64_t currentMs,
                           int64_t totalMs);

// The parts and progress shares of a delete-mode save.
struct TDeletePlan {
    bool FirstPart = false;  // 0 .. StartMark holds audio
    bool SecondPart = false; // EndMark .. the end holds audio
    int32_t FirstWeight = 0;
    int32_t SecondBase = 0;
    int32_t SecondWeight = 0;
    int32_t JoinBase = 0;
    int32_t JoinWeight = 0;
};
TDeletePlan PlanDelete(int64_t totalTimeUs, int64_t startMark, int64_t endMark);

// Deletes a folder's contents (and, with removeFolder, the folder); symbolic links are removed,
// never followed. True when everything went.
bool DeleteFolder(const std::string& folder, bool removeFolder);

// ---- The workflow -----------------------------------------------------------------------------

class TSaveWorkflow {
public:
    // Takes over the component's OnProgress and OnTerminate for as long as it lives.
    explicit TSaveWorkflow(ZEVuzuzAVE& converter);
    ~TSaveWorkflow();
    TSaveWorkflow(const TSaveWorkflow&) = delete;
    TSaveWorkflow& operator=(const TSaveWorkflow&) = delete;

    ZEVuzuzAVE& FFConverter;
    TWorkflowCallbacks Callbacks;

    std::string InputFile; // the added file
    rTimeInfo FTimeInfo;
    rInputStreamInfo FStreamInfo;
    rSaveControl FControl;
    rInputDescription FInputInfo;
    // The position bar's selection, in its units (the window's bar counts milliseconds). The window
    // copies its bar's selection here; a caller without a bar leaves -1 and sets the marks directly.
    int64_t SelStart = -1;
    int64_t SelEnd = -1;

    // Checks an added file by extension and probe; on success fills FStreamInfo and FInputInfo
    // (not InputFile, which the caller sets once the file is open). Shows the refusal message.
    bool CheckInputFile(const std::string& fileName);

    // The Save button. The caller has paused its player. Runs the whole save, inside the event
    // wait while conversions run.
    TSaveResult Save();
    // The Stop button (while a save runs, from inside the event wait): stops the running
    // conversion; the save then ends without writing its output.
    void Stop();
    bool Busy() const { return FBusy; }
    // The text of the last message the workflow showed (empty when none since Save started).
    const std::string& LastMessage() const { return FLastMessage; }
    // The output file of the last save (the chosen name with the input's extension).
    const std::string& OutputFile() const { return FOutputFile; }

    // One time segment (ms) of input into output, encoded as the input; waits for its end. With
    // endMs <= startMs the segment runs to the real end of the input. False only when the task
    // or its output could not be set up (a stopped or failed run also returns true).
    bool ConvertSegment(const std::string& input, const std::string& output, int64_t startMs, int64_t endMs);
    // The files one after the other into output, without a gap; waits for the end. False when
    // any file or the output could not be set up.
    bool JoinFiles(const std::vector<std::string>& files, const std::string& output);

    // The component's events (also callable by tests).
    void FFConverterProgress(int32_t index, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                             float quality, float bitRate, int64_t currentSize, int32_t totalOutputDuration);
    void FFConverterTerminate(int32_t index, bool finished, bool exception, const std::string& message);

private:
    // How the conversion that ran last ended.
    struct TOutcome {
        bool SetupFailed = false;
        bool Succeeded = false; // finished, no stop, no error
        std::string Message;    // the error text when it failed
        int64_t WrittenMs = 0;  // audio written (ms), as the final progress report gave it
        bool NoAudio = false;   // it finished without writing any audio
    };

    TSaveResult SaveSelect(const std::string& outName);
    TSaveResult SaveDelete(const std::string& outName);
    // The lossless mode: a copy of the frames, or the re-encoding save after a notice or a question.
    TSaveResult SaveLossless(const std::string& outName);
    TSaveResult SaveReencoded(const std::string& outName);
    TSaveResult RunDeleteParts(const std::string& outName, const std::string& temp, const TDeletePlan& plan,
                               int64_t keptMs);
    TSaveResult JudgeWritten(int64_t startMs, int64_t endMs, const char* nothingText);
    // Writes the final output through a hidden name beside target; convert() writes that name.
    TSaveResult WriteOutput(const std::string& target,
                            const std::function<TSaveResult(const std::string&)>& convert);
    TSaveResult PlaceOutput(const std::string& hidden, const std::string& target);
    TSaveResult FinishSave(TSaveResult result);
    std::string FailureText(const std::string& written, const std::string& shownName = std::string()) const;
    bool ConvertPart(const std::string& input, const std::string& output, int64_t startMs, int64_t endMs);
    bool SetUpSegment(const std::string& input, const std::string& output, int64_t startMs, int64_t endMs,
                      bool part, TStepKind kind);
    bool RunAndWait(const std::string& output, TConversionStep step);
    void BeginConversion(int64_t expectedMs);
    void WaitForTermination();
    bool CheckStreams();
    std::string CheckAudioStream(const std::string& fileName);
    TSaveResult Refuse(const std::string& text);
    TSaveResult RefuseLate(const std::string& text);
    TSaveResult Fail(const std::string& text);
    void ShowMessage(TPromptKind kind, const std::string& caption, const std::string& text);
    bool Ask(TPromptKind kind, const std::string& caption, const std::string& text);
    void SetBusy(int mode);
    void OpenFolderPrompt();
    void WakeWaiter();

    bool FBusy = false;
    bool FSaveStopped = false; // Stop() was called during this save
    std::string FLastMessage;
    std::string FPendingFailure; // shown when the failed save has restored the controls
    std::string FOutputFile;
    bool FReplaceAgreed = false; // the user agreed to replace the existing output file
    std::string FNotice;         // shown after a save that was written but came out short
    TOutcome FOutcome;
    // The output time (ms) of the last progress report: written by the conversion thread.
    std::atomic<int64_t> FReportedMs{0};
    // Length of the running conversion's output (ms), for a missing total: written before the
    // conversion starts, read by its progress events.
    int64_t FExpectedMs = 0;

    // Filled by the termination events (their threads), read after the wait on the main thread.
    std::mutex FTaskLock;                   // guards FTaskFinished, FTaskException, FTaskMessage
    std::atomic<bool> FTaskReported{false}; // the per-task event has arrived
    bool FTaskFinished = false;
    bool FTaskException = false;
    std::string FTaskMessage;
};
