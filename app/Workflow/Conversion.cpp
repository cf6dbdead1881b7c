// One conversion of the save: setting up the component's task for a segment, a part or a join,
// starting it, waiting in the caller's event wait for its end, and the component's two events.
#include "SaveWorkflow.h"

#include "FileOps.h"
#include "MyUtils.h"

#include <algorithm>
#include <climits>

using namespace WorkflowText;

namespace {

int32_t ToInt32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

TInputOptions InputRecord(const std::string& fileName) {
    TInputOptions options;
    ResetInputOptions(options);
    options.FileName = fileName;
    if (InputNeedsVideoOff(fileName)) options.ExtOptions = kVideoOffOption;
    return options;
}

} // namespace

TSaveWorkflow::TSaveWorkflow(ZEVuzuzAVE& converter) : FFConverter(converter) {
    FFConverter.OnProgress = [this](int32_t index, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                                    float quality, float bitRate, int64_t currentSize,
                                    int32_t totalOutputDuration) {
        FFConverterProgress(index, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                            totalOutputDuration);
    };
    FFConverter.OnTerminate = [this](int32_t index, bool finished, bool exception,
                                     const std::string& message) {
        FFConverterTerminate(index, finished, exception, message);
    };
}

TSaveWorkflow::~TSaveWorkflow() {
    // Save() returns only after both events of its last run were handled, so no conversion of
    // ours is left that could still call in.
    FFConverter.OnProgress = nullptr;
    FFConverter.OnTerminate = nullptr;
}

// ---- Setting up and running one conversion ----------------------------------------------------

bool TSaveWorkflow::ConvertSegment(const std::string& input, const std::string& output, int64_t startMs,
                                   int64_t endMs) {
    return SetUpSegment(input, output, startMs, endMs, false, TStepKind::Segment);
}

bool TSaveWorkflow::ConvertPart(const std::string& input, const std::string& output, int64_t startMs,
                                int64_t endMs) {
    return SetUpSegment(input, output, startMs, endMs, true, TStepKind::Part);
}

bool TSaveWorkflow::SetUpSegment(const std::string& input, const std::string& output, int64_t startMs,
                                 int64_t endMs, bool part, TStepKind kind) {
    // endMs <= startMs: to the real end of the input (a container's duration may be an estimate).
    bool limited = endMs > startMs;
    BeginConversion(limited ? endMs - startMs : std::max<int64_t>(0, FTimeInfo.TotalTime / 1000 - startMs));
    FFConverter.ClearTasks();

    TInputOptions inputOptions = InputRecord(input);
    inputOptions.StartTimeMs = ToInt32(startMs);
    int32_t index = FFConverter.AddTask(input, &inputOptions);
    if (index == -1) {
        FOutcome.SetupFailed = true;
        FOutcome.Message = FFConverter.LastErrMsg;
        return false;
    }

    TOutputOptions outputOptions;
    ResetOutputOptions(outputOptions);
    outputOptions.DisableVideo = true;
    if (limited) outputOptions.DurationMs = ToInt32(endMs - startMs);
    outputOptions.FileExt = ExtractFileExt(output);
    outputOptions.AudioChannels = ToInt32(FStreamInfo.Channels);
    outputOptions.AudioSampleRate = ToInt32(FStreamInfo.SampleRate);
    if (part) {
        // Lossless parts: the kept audio is encoded once, in the join.
        outputOptions.AudioCodec = kPartEncoder;
        outputOptions.ExtOptions = kPartMuxerOption;
    } else {
        outputOptions.AudioCodec = FStreamInfo.CodecName;
        outputOptions.AudioBitrate = EncoderBitRate(FStreamInfo.BitRate);
        ChooseAudioEncoder(outputOptions.FileExt, outputOptions);
        ApplyVariableBitRate(FStreamInfo, outputOptions);
        ApplyExactLength(outputOptions.FileExt, outputOptions);
        outputOptions.TagsFrom = input;
    }
    FFConverter.ThreadPriority = tpNormal;
    if (!FFConverter.SetOutput(index, output, &outputOptions)) {
        FOutcome.SetupFailed = true;
        FOutcome.Message = FFConverter.LastErrMsg;
        return false;
    }
    TConversionStep step;
    step.Kind = kind;
    step.Inputs = {input};
    step.Output = output;
    step.StartMs = startMs;
    step.DurationMs = limited ? endMs - startMs : 0;
    return RunAndWait(output, step);
}

bool TSaveWorkflow::JoinFiles(const std::vector<std::string>& files, const std::string& output) {
    // The caller may have set FExpectedMs to the joined length; BeginConversion keeps it.
    int64_t expected = FExpectedMs;
    BeginConversion(expected);
    FFConverter.ClearTasks();
    for (const std::string& name : files) {
        TInputOptions inputOptions = InputRecord(name);
        bool added = FFConverter.TaskCount() == 0 ? FFConverter.AddTask(name, &inputOptions) != -1
                                                  : FFConverter.AddInput(0, name, &inputOptions);
        // A file that cannot be added would silently be missing from the result.
        if (!added) {
            FOutcome.SetupFailed = true;
            FOutcome.Message = FFConverter.LastErrMsg;
            FFConverter.ClearTasks();
            return false;
        }
    }
    if (FFConverter.TaskCount() == 0) {
        FOutcome.SetupFailed = true;
        return false;
    }
    TOutputOptions outputOptions;
    ResetOutputOptions(outputOptions);
    outputOptions.DisableVideo = true;
    outputOptions.FileExt = ExtractFileExt(output);
    outputOptions.AudioCodec = FStreamInfo.CodecName;
    outputOptions.Join = true;
    outputOptions.AudioChannels = ToInt32(FStreamInfo.Channels);
    outputOptions.AudioSampleRate = ToInt32(FStreamInfo.SampleRate);
    outputOptions.AudioBitrate = EncoderBitRate(FStreamInfo.BitRate);
    ChooseAudioEncoder(outputOptions.FileExt, outputOptions);
    ApplyVariableBitRate(FStreamInfo, outputOptions);
    ApplyExactLength(outputOptions.FileExt, outputOptions);
    // The parts carry no tags: the output takes them from the added file.
    outputOptions.TagsFrom = InputFile;
    FFConverter.ThreadPriority = tpNormal;
    if (!FFConverter.SetOutput(0, output, &outputOptions)) {
        FOutcome.SetupFailed = true;
        FOutcome.Message = FFConverter.LastErrMsg;
        return false;
    }
    TConversionStep step;
    step.Kind = TStepKind::Join;
    step.Inputs = files;
    step.Output = output;
    return RunAndWait(output, step);
}

void TSaveWorkflow::BeginConversion(int64_t expectedMs) {
    FControl.Terminated = false;
    FControl.Stopped = false;
    FTaskReported = false;
    {
        std::lock_guard<std::mutex> guard(FTaskLock);
        FTaskFinished = false;
        FTaskException = false;
        FTaskMessage.clear();
    }
    FOutcome = TOutcome();
    FExpectedMs = expectedMs;
    FReportedMs = 0;
}

bool TSaveWorkflow::RunAndWait(const std::string& output, TConversionStep step) {
    step.ProgressBase = FControl.ProgressBase;
    step.ProgressWeight = FControl.ProgressWeight;
    if (Callbacks.ConversionStarting) Callbacks.ConversionStarting(step);
    if (FBusy && FSaveStopped) {
        FControl.Stopped = true; // stopped before it could start
    } else {
        FFConverter.StartConvert(1);
        WaitForTermination();
    }

    bool stopped = FControl.Stopped;
    if (stopped && FileExists(output)) FileOps::RemoveFile(output);
    std::lock_guard<std::mutex> guard(FTaskLock);
    FOutcome.Succeeded = !stopped && FTaskFinished && !FTaskException;
    FOutcome.WrittenMs = FReportedMs;
    if (!stopped && !FOutcome.Succeeded) {
        FOutcome.Message =
            !FTaskMessage.empty() ? FTaskMessage : Format(kConversionUnfinished, step.Inputs[0].c_str());
    } else if (FOutcome.Succeeded && (!FileExists(output) || FOutcome.WrittenMs <= 0)) {
        // Nothing decoded reached the output (the engine may still have written a header).
        FOutcome.Succeeded = false;
        FOutcome.NoAudio = true;
        FOutcome.Message = Format(kNoAudioWritten, step.Inputs[0].c_str());
    }
    return true;
}

void TSaveWorkflow::WaitForTermination() {
    // The final event and the task's own event come on separate threads in either order; the
    // task's result is needed, so both are waited for (each task reports exactly once).
    auto done = [this] { return FControl.Terminated.load() && FTaskReported.load(); };
    while (!done()) {
        if (Callbacks.WaitForEvents)
            Callbacks.WaitForEvents(done);
        else
            WaitUntil(done);
    }
}

// ---- The component's events -------------------------------------------------------------------

void TSaveWorkflow::FFConverterProgress(int32_t index, int32_t frameNumber, int32_t fps,
                                        int32_t currentDuration, float quality, float bitRate,
                                        int64_t currentSize, int32_t totalOutputDuration) {
    // Conversion thread. A part that runs to the end of its input has no total of its own.
    FReportedMs = currentDuration;
    int64_t total = totalOutputDuration > 0 ? totalOutputDuration : FExpectedMs;
    TProgressView view = ProgressView(FControl.TrimMode, FControl.ProgressBase, FControl.ProgressWeight,
                                      currentDuration, total);
    if (view.Valid && Callbacks.Progress) Callbacks.Progress(view.Position, view.Text);
}

void TSaveWorkflow::FFConverterTerminate(int32_t index, bool finished, bool exception,
                                         const std::string& message) {
    // An event thread of the component. Once a flag is set the main thread may return from the
    // save and free this object: the wake-up is copied first and nothing else is touched after.
    std::function<void()> wake = Callbacks.Wake ? Callbacks.Wake : std::function<void()>(WakeMainThread);
    if (index == -1) {
        FControl.Terminated = true;
    } else {
        {
            std::lock_guard<std::mutex> guard(FTaskLock);
            FTaskFinished = finished;
            FTaskException = exception;
            FTaskMessage = message;
        }
        FTaskReported = true;
    }
    wake();
}
