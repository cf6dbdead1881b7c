// The commands of clipwell-cut. The tool plays the window's part for the workflow: the save
// dialog answers OUTPUT, the replace question answers --overwrite, the open-folder question No,
// messages go to stderr, and the event wait is WaitUntil, which also notices Ctrl+C.
#include "CutCommands.h"

#include "CutCommandLine.h"
#include "CutLossless.h"
#include "Interrupt.h"
#include "MyUtils.h"
#include "SaveWorkflow.h"

#include <cstdio>
#include <mutex>

namespace {

constexpr const char* kToolName = "clipwell-cut";
constexpr const char* kOutputExists = "%s exists; use --overwrite to replace it.";
constexpr const char* kStartBeyondEnd = "The starting point lies beyond the end of the file.";

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kToolName, text.c_str());
}

int PrintInfo(const TSaveWorkflow& workflow) {
    const rInputStreamInfo& stream = workflow.FStreamInfo;
    const rInputDescription& input = workflow.FInputInfo;
    std::printf("codec=%s\n", stream.CodecName.c_str());
    std::printf("channels=%lld\n", static_cast<long long>(stream.Channels));
    std::printf("sample_rate=%lld\n", static_cast<long long>(stream.SampleRate));
    std::printf("bit_rate=%lld\n", static_cast<long long>(stream.BitRate));
    std::printf("duration_us=%lld\n", static_cast<long long>(input.DurationUS));
    std::printf("streams=%d\n", input.StreamCount);
    std::printf("audio_streams=%d\n", input.AudioStreamCount);
    return kExitDone;
}

int RunSave(TSaveWorkflow& workflow, const TCutOptions& options) {
    workflow.InputFile = ExpandFileName(options.Input);
    int64_t duration = workflow.FInputInfo.DurationUS;
    if (duration > 0 && options.StartMs * 1000 >= duration) {
        PrintError(kStartBeyondEnd);
        return kExitRefused;
    }
    // Without a known duration the second part of a delete simply runs to the end of the file.
    workflow.FTimeInfo.TotalTime = duration > 0 ? duration : (options.EndMs + 1) * 1000;
    workflow.FTimeInfo.StartMark = options.StartMs;
    workflow.FTimeInfo.EndMark = options.EndMs;
    workflow.FControl.TrimMode = options.Command == TCutCommand::Select ? 1 : 2;
    workflow.FControl.Lossless = options.Lossless;

    TWorkflowCallbacks& callbacks = workflow.Callbacks;
    callbacks.ChooseSaveFile = [&](const std::string&, std::string& fileName) {
        fileName = ExpandFileName(options.Output);
        return true;
    };
    bool replaceRefused = false;
    callbacks.AskYesNo = [&](TPromptKind, const std::string&, const std::string& text) {
        if (text != WorkflowText::kReplaceQuestion) { // never open the output folder
            if (text != WorkflowText::kOpenFolderQuestion) PrintError(LosslessRefusalText(text));
            return false;
        }
        replaceRefused = !options.Overwrite;
        return options.Overwrite;
    };
    std::mutex progressLock; // guards lastProgress (conversion threads, one at a time)
    std::string lastProgress;
    if (options.Progress && !options.Quiet) {
        callbacks.Progress = [&](int32_t, const std::string& text) {
            std::lock_guard<std::mutex> guard(progressLock);
            if (text == lastProgress) return;
            lastProgress = text;
            std::fprintf(stderr, "%s\n", text.c_str());
        };
    }
    bool stopRequested = false;
    callbacks.WaitForEvents = [&](const std::function<bool()>& done) {
        WaitUntil([&] { return done() || (InterruptSignal() != 0 && !stopRequested); });
        if (InterruptSignal() != 0 && !stopRequested) {
            stopRequested = true;
            workflow.Stop(); // like the Stop button, from inside the wait
        }
    };

    if (InterruptSignal() != 0) return 128 + InterruptSignal();
    switch (workflow.Save()) {
    case TSaveResult::Done:
        if (!options.Quiet) std::printf("%s\n", workflow.OutputFile().c_str());
        return kExitDone;
    case TSaveResult::Cancelled:
        if (replaceRefused) PrintError(Format(kOutputExists, workflow.OutputFile().c_str()));
        return kExitRefused;
    case TSaveResult::Refused:
        return kExitRefused;
    case TSaveResult::Failed:
        return kExitFailed;
    case TSaveResult::Stopped:
        return InterruptSignal() != 0 ? 128 + InterruptSignal() : kExitInterrupted;
    }
    return kExitFailed;
}

} // namespace

int RunClipwellCut(const std::vector<std::string>& args) {
    TCutOptions options;
    std::string error;
    if (!ParseCutCommandLine(args, options, error)) {
        PrintError(error);
        std::fprintf(stderr, "\n%s", CutUsageText().c_str());
        return kExitUsage;
    }
    if (options.Command == TCutCommand::Help) {
        std::fputs(CutUsageText().c_str(), stdout);
        return kExitDone;
    }
    InstallInterruptHandler();

    ZEVuzuzAVE converter;
    if (!converter.LoadAVLib(GetExecutableFolder() + "Dll/")) {
        PrintError(converter.LastErrMsg);
        return kExitFailed;
    }
    TSaveWorkflow workflow(converter);
    workflow.Callbacks.ShowMessage = [](TPromptKind, const std::string&, const std::string& text) {
        PrintError(text);
    };
    if (!workflow.CheckInputFile(options.Input)) return kExitRefused;
    if (options.Command == TCutCommand::Info) return PrintInfo(workflow);
    return RunSave(workflow, options);
}
