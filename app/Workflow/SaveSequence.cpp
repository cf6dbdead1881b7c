// The Save and Stop button: the checks before a save, the output name, and the select and delete
// sequences with their progress shares, the temporary folder and the open-folder prompt.
#include "SaveWorkflow.h"

#include "FileOps.h"
#include "MyUtils.h"

using namespace WorkflowText;

namespace {
// Less free space than this after a failed conversion means the write failed for want of room.
constexpr int64_t kNearlyFull = 256 * 1024;
} // namespace

// ---- Save -------------------------------------------------------------------------------------

TSaveResult TSaveWorkflow::Save() {
    if (FBusy) return TSaveResult::Refused; // Save is Stop while a save runs
    FLastMessage.clear();
    FPendingFailure.clear();
    FSaveStopped = false;
    FOutputFile.clear();

    if (SelStart == 0 && SelEnd == 0) return Refuse(kNoMarks);
    if (FControl.TrimMode < 1) return Refuse(kNoTrimMode);
    if (FControl.TrimMode > 2) return TSaveResult::Cancelled;
    // An empty or reversed selection would otherwise mean "to the end of the file", or make
    // the two kept parts of a delete overlap.
    if (FTimeInfo.EndMark <= FTimeInfo.StartMark) return Refuse(kEndBeforeStart);
    if (FControl.TrimMode == 2) {
        TDeletePlan plan = PlanDelete(FTimeInfo.TotalTime, FTimeInfo.StartMark, FTimeInfo.EndMark);
        if (!plan.FirstPart && !plan.SecondPart) return Refuse(kNothingLeft);
    }

    std::string ext = LowerCase(ExtractFileExt(InputFile));
    std::string chosen;
    if (!Callbacks.ChooseSaveFile || !Callbacks.ChooseSaveFile(SaveDialogFilter(ext), chosen) ||
        chosen.empty())
        return TSaveResult::Cancelled;
    std::string outName = ChangeFileExt(chosen, ext);
    FOutputFile = outName;
    if (FileOps::SameFile(InputFile, outName)) return Refuse(kSameAsInput);
    if (DirectoryExists(outName))
        return Refuse(Format(kCannotCreateOutput, outName.c_str(), "Is a directory"));
    if (FileExists(outName) && !Ask(TPromptKind::Warning, kWarningCaption, kReplaceQuestion))
        return TSaveResult::Cancelled;
    FControl.OutputPath = ExtractFilePath(chosen);

    return FControl.Lossless ? SaveLossless(outName) : SaveReencoded(outName);
}

TSaveResult TSaveWorkflow::SaveReencoded(const std::string& outName) {
    return FControl.TrimMode == 1 ? SaveSelect(outName) : SaveDelete(outName);
}

TSaveResult TSaveWorkflow::SaveSelect(const std::string& outName) {
    SetBusy(0);
    FControl.ProgressBase = 0;
    FControl.ProgressWeight = 100;
    TSaveResult result = WriteOutput(outName, [&](const std::string& name) {
        return ConvertSegment(InputFile, name, FTimeInfo.StartMark, FTimeInfo.EndMark);
    });
    // The file's duration was an estimate and the start lies past its decoded end.
    if (result == TSaveResult::Failed && FOutcome.NoAudio) {
        SetBusy(1);
        return Refuse(kStartBeyondEnd);
    }
    return FinishSave(result);
}

TSaveResult TSaveWorkflow::SaveDelete(const std::string& outName) {
    TDeletePlan plan = PlanDelete(FTimeInfo.TotalTime, FTimeInfo.StartMark, FTimeInfo.EndMark);
    if (!plan.FirstPart || !plan.SecondPart) {
        // One part holds audio: it alone is encoded into the output, no join needed.
        SetBusy(0);
        FControl.ProgressBase = 0;
        FControl.ProgressWeight = 100;
        TSaveResult result = WriteOutput(outName, [&](const std::string& name) {
            return plan.FirstPart ? ConvertSegment(InputFile, name, 0, FTimeInfo.StartMark)
                                  : ConvertSegment(InputFile, name, FTimeInfo.EndMark, -1);
        });
        return FinishSave(result);
    }

    // The parts are uncompressed float: make sure they fit before writing them.
    int64_t keptMs =
        FTimeInfo.StartMark + std::max<int64_t>(0, FTimeInfo.TotalTime / 1000 - FTimeInfo.EndMark);
    int64_t bytesPerSecond = std::max<int64_t>(1, FStreamInfo.SampleRate) *
                             std::max<int64_t>(1, FStreamInfo.Channels) * kPartBytesPerSample;
    int64_t needed = keptMs * bytesPerSecond / 1000 + 2 * 65536; // headers and rounding
    int64_t available = FileOps::FreeSpace(FControl.OutputPath);
    if (available >= 0 && available < needed) return Refuse(kNoDiskSpace);

    std::string error;
    std::string temp = FileOps::CreateOwnFolder(FControl.OutputPath, kTempFolderName, error);
    if (temp.empty()) {
        std::string folder = FControl.OutputPath + kTempFolderName;
        return Refuse(Format(kCannotCreateTempFolder, folder.c_str(), error.c_str()));
    }
    SetBusy(0);
    TSaveResult result = RunDeleteParts(outName, temp, plan, keptMs);
    result = FinishSave(result);
    // Nothing in the folder may stay open while it is deleted.
    FFConverter.AVProbe().Close();
    DeleteFolder(temp, true);
    return result;
}

TSaveResult TSaveWorkflow::RunDeleteParts(const std::string& outName, const std::string& temp,
                                          const TDeletePlan& plan, int64_t keptMs) {
    std::string first = temp + kFirstPartName + kPartExt;
    std::string second = temp + kSecondPartName + kPartExt;

    FControl.ProgressBase = 0;
    FControl.ProgressWeight = plan.FirstWeight;
    if (!ConvertPart(InputFile, first, 0, FTimeInfo.StartMark) || !FOutcome.Succeeded)
        return FSaveStopped ? TSaveResult::Stopped : Fail(FailureText(first));

    FControl.ProgressBase = plan.SecondBase;
    FControl.ProgressWeight = plan.SecondWeight;
    if (!ConvertPart(InputFile, second, FTimeInfo.EndMark, -1) || !FOutcome.Succeeded)
        return FSaveStopped ? TSaveResult::Stopped : Fail(FailureText(second));

    FControl.ProgressBase = plan.JoinBase;
    FControl.ProgressWeight = plan.JoinWeight;
    FExpectedMs = keptMs;
    return WriteOutput(outName, [&](const std::string& name) { return JoinFiles({first, second}, name); });
}

// Writes the output under a hidden name beside the target and moves it over the target only
// when the conversion finished: a stopped or failed save leaves the target as it was.
TSaveResult TSaveWorkflow::WriteOutput(const std::string& target,
                                       const std::function<bool(const std::string&)>& convert) {
    std::string error;
    std::string hidden = FileOps::CreateHiddenSibling(target, error);
    if (hidden.empty()) return Fail(Format(kCannotCreateOutput, target.c_str(), error.c_str()));
    TSaveResult result;
    bool ran = convert(hidden);
    if (FSaveStopped)
        result = TSaveResult::Stopped;
    else if (!ran || !FOutcome.Succeeded)
        result = Fail(FailureText(hidden, target));
    else if (!FileOps::ReplaceFile(hidden, target, error))
        result = Fail(Format(kCannotReplaceOutput, target.c_str(), error.c_str()));
    else
        return TSaveResult::Done;
    FileOps::RemoveFile(hidden);
    return result;
}

// The failed conversion's message; a full file system is named as the reason (the libraries
// report a failed write in general terms). Asked while the partial file still takes its space.
std::string TSaveWorkflow::FailureText(const std::string& written, const std::string& shownName) const {
    int64_t available = FileOps::FreeSpace(ExtractFilePath(written));
    if (!FOutcome.SetupFailed && available >= 0 && available < kNearlyFull) {
        std::string name = shownName.empty() ? written : shownName;
        return Format(kDiskFull, name.c_str(), FOutcome.Message.c_str());
    }
    return FOutcome.Message;
}

TSaveResult TSaveWorkflow::FinishSave(TSaveResult result) {
    SetBusy(1);
    if (result == TSaveResult::Done)
        OpenFolderPrompt();
    else if (result == TSaveResult::Failed)
        ShowMessage(TPromptKind::Warning, kWarningCaption, FPendingFailure);
    return result;
}

void TSaveWorkflow::OpenFolderPrompt() {
    if (!Ask(TPromptKind::Information, kInformationCaption, kOpenFolderQuestion)) return;
    std::string folder = FControl.OutputPath.empty() ? std::string("./") : FControl.OutputPath;
    if (DirectoryExists(folder) && Callbacks.OpenFolder) Callbacks.OpenFolder(folder);
}

// ---- Stop -------------------------------------------------------------------------------------

void TSaveWorkflow::Stop() {
    if (!FBusy) return;
    FSaveStopped = true;
    FControl.ProgressBase = 0;
    FControl.ProgressWeight = 0;
    FFConverter.StopConvert(true);
    FControl.Stopped = true;
}

// ---- Prompts and state ------------------------------------------------------------------------

TSaveResult TSaveWorkflow::Refuse(const std::string& text) {
    ShowMessage(TPromptKind::Warning, kWarningCaption, text);
    return TSaveResult::Refused;
}

TSaveResult TSaveWorkflow::Fail(const std::string& text) {
    // Shown once the controls are restored.
    FPendingFailure = text;
    return TSaveResult::Failed;
}

void TSaveWorkflow::ShowMessage(TPromptKind kind, const std::string& caption, const std::string& text) {
    FLastMessage = text;
    if (Callbacks.ShowMessage) Callbacks.ShowMessage(kind, caption, text);
}

bool TSaveWorkflow::Ask(TPromptKind kind, const std::string& caption, const std::string& text) {
    return Callbacks.AskYesNo && Callbacks.AskYesNo(kind, caption, text);
}

void TSaveWorkflow::SetBusy(int mode) {
    FBusy = mode == 0;
    if (Callbacks.SetBusy) Callbacks.SetBusy(mode);
}
