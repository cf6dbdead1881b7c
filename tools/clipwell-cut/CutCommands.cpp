// The commands of clipwell-cut. The tool plays the window's part for the workflow: the save
// dialog answers OUTPUT, the replace question answers --overwrite, the open-folder question No,
// messages go to stderr, and the event wait is WaitUntil, which also notices Ctrl+C.
#include "CutCommands.h"

#include "CutCommandLine.h"
#include "CutLossless.h"
#include "InfoOutput.h"
#include "Interrupt.h"
#include "MyUtils.h"
#include "ProgressLine.h"
#include "SaveWorkflow.h"
#include "WaveformCommand.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* kToolName = "clipwell-cut";
constexpr const char* kOutputExists = "%s exists; use --overwrite to replace it.";

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kToolName, text.c_str());
}

int PrintInfo(const TSaveWorkflow& workflow, bool json) {
    const rInputStreamInfo& stream = workflow.FStreamInfo;
    const rInputDescription& input = workflow.FInputInfo;
    TInfoFields fields{
        {"codec", stream.CodecName},
        {"channels", static_cast<int64_t>(stream.Channels)},
        {"sample_rate", static_cast<int64_t>(stream.SampleRate)},
        {"bit_rate", static_cast<int64_t>(stream.BitRate)},
        {"duration_us", static_cast<int64_t>(input.DurationUS)},
        {"streams", static_cast<int64_t>(input.StreamCount)},
        {"audio_streams", static_cast<int64_t>(input.AudioStreamCount)},
    };
    std::fputs((json ? FormatInfoJson(fields) : FormatInfoLines(fields)).c_str(), stdout);
    return kExitDone;
}

int RunSave(TSaveWorkflow& workflow, const TCutOptions& options) {
    workflow.InputFile = ExpandFileName(options.Input);
    // The marks are judged by the workflow against the decoded stream. Without a known duration
    // the second part of a delete simply runs to the end of the file.
    int64_t duration = workflow.FInputInfo.DurationUS;
    if (duration <= 0) workflow.FInputInfo.DurationEstimated = true;
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
    TProgressDisplay progress(STDERR_FILENO);
    bool replaceRefused = false;
    callbacks.AskYesNo = [&](TPromptKind, const std::string&, const std::string& text) {
        if (text != WorkflowText::kReplaceQuestion) { // never open the output folder
            if (text != WorkflowText::kOpenFolderQuestion) {
                progress.BreakLine();
                PrintError(LosslessRefusalText(text));
            }
            return false;
        }
        replaceRefused = !options.Overwrite;
        return options.Overwrite;
    };
    bool showProgress = options.Progress && !options.Quiet;
    if (showProgress) {
        callbacks.Progress = [&](int32_t position, const std::string& text) {
            progress.Show(position, text);
        };
        // A message during the save starts below the progress line.
        callbacks.ShowMessage = [&progress, show = callbacks.ShowMessage](
                                    TPromptKind kind, const std::string& caption, const std::string& text) {
            progress.BreakLine();
            if (show) show(kind, caption, text);
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
    TSaveResult result = workflow.Save();
    if (showProgress) progress.Finish(result == TSaveResult::Done);
    // A signal makes reads give up, so a save it ended may look failed: it was interrupted.
    if (result != TSaveResult::Done && InterruptSignal() != 0) return 128 + InterruptSignal();
    switch (result) {
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
    if (IsWaveformCommand(args)) return RunWaveformCommand(args);
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
    if (options.Command == TCutCommand::Version) {
        std::printf("%s %s\n", kToolName, CLIPWELL_VERSION);
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
        if (InterruptSignal() == 0) PrintError(text); // a read that gave up on Ctrl+C says nothing
    };
    if (!workflow.CheckInputFile(options.Input))
        return InterruptSignal() != 0 ? 128 + InterruptSignal() : kExitRefused;
    if (options.Command == TCutCommand::Info) return PrintInfo(workflow, options.Json);
    return RunSave(workflow, options);
}
