// The Save and Stop button: the checks before a save, the output name, and the select and delete
// sequences with their progress shares, the temporary folder and the open-folder prompt.
#include "SaveWorkflow.h"

#include "FileOps.h"
#include "MyUtils.h"

#include <cerrno>
#include <climits>
#include <cstring>

using namespace WorkflowText;

namespace {
// Less free space than this after a failed conversion means the write failed for want of room.
constexpr int64_t kNearlyFull = 256 * 1024;
// A segment whose output falls short of its marks by more than this ran out of input: encoders
// may end up to a frame off the mark (WMA: 2048 samples).
constexpr int64_t kShortfallMs = 100;
// The engine's texts for a failed write, each followed by ": " and the system's reason.
constexpr const char* kWriteCalls[] = {"av_interleaved_write_frame(): ", "av_write_trailer(): "};

// The system's reason of a failed write, or "" when `message` reports something else.
std::string WriteFailureReason(const std::string& message) {
    for (const char* call : kWriteCalls)
        if (message.rfind(call, 0) == 0) return message.substr(std::strlen(call));
    return std::string();
}

std::string Seconds(int64_t ms) {
    return Format("%.3f s", static_cast<double>(ms) / 1000.0);
}
} // namespace

// ---- Save -------------------------------------------------------------------------------------

TSaveResult TSaveWorkflow::Save() {
    if (FBusy) return TSaveResult::Refused; // Save is Stop while a save runs
    FLastMessage.clear();
    FPendingFailure.clear();
    FSaveStopped = false;
    FOutputFile.clear();
    FNotice.clear();
    FReplaceAgreed = false;

    if (SelStart == 0 && SelEnd == 0) return Refuse(kNoMarks);
    if (FControl.TrimMode < 1) return Refuse(kNoTrimMode);
    if (FControl.TrimMode > 2) return TSaveResult::Cancelled;
    // An empty or reversed selection would otherwise mean "to the end of the file", or make
    // the two kept parts of a delete overlap.
    if (FTimeInfo.EndMark <= FTimeInfo.StartMark) return Refuse(kEndBeforeStart);
    // Judged before the save only where the duration is the stream's own; an estimate (from the
    // bit rate) is judged by what the conversion decodes.
    bool exact = !FInputInfo.DurationEstimated && FTimeInfo.TotalTime > 0;
    // Marks travel to the conversion as 32-bit milliseconds; no file reaches that far.
    if (FTimeInfo.StartMark > INT32_MAX || (exact && FTimeInfo.StartMark * 1000 >= FTimeInfo.TotalTime))
        return Refuse(kStartBeyondEnd);
    if (FControl.TrimMode == 2 && exact) {
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
    if (FileExists(outName)) {
        if (!Ask(TPromptKind::Warning, kWarningCaption, kReplaceQuestion)) return TSaveResult::Cancelled;
        FReplaceAgreed = true;
    }
    FControl.OutputPath = ExtractFilePath(chosen);
    // What saves killed in this folder left behind (their partial output, their temporary folder).
    FileOps::RemoveLeftovers(FControl.OutputPath, kTempFolderName);

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
        if (!ConvertSegment(InputFile, name, FTimeInfo.StartMark, FTimeInfo.EndMark))
            return TSaveResult::Failed;
        // No audio from a start inside the file: the decoded stream ends before the start mark.
        return JudgeWritten(FTimeInfo.StartMark, FTimeInfo.EndMark,
                            FTimeInfo.StartMark > 0 ? kStartBeyondEnd : nullptr);
    });
    return FinishSave(result);
}

// Judges the segment that ran last, from startMs to endMs (endMs <= startMs: to the end), by the
// audio it wrote: none is the refusal `nothingText` (an error without one); less than the marks
// asked for is kept with a notice that the input ended early.
TSaveResult TSaveWorkflow::JudgeWritten(int64_t startMs, int64_t endMs, const char* nothingText) {
    if (!FOutcome.Succeeded) {
        if (!FOutcome.NoAudio || !nothingText) return TSaveResult::Failed;
        FOutcome.Message = nothingText;
        return TSaveResult::Refused;
    }
    int64_t wanted = endMs - startMs;
    if (endMs > startMs && FOutcome.WrittenMs + kShortfallMs < wanted)
        FNotice = Format(kInputEndedEarly, FOutputFile.c_str(), Seconds(FOutcome.WrittenMs).c_str(),
                         Seconds(wanted).c_str());
    return TSaveResult::Done;
}

TSaveResult TSaveWorkflow::SaveDelete(const std::string& outName) {
    TDeletePlan plan = PlanDelete(FTimeInfo.TotalTime, FTimeInfo.StartMark, FTimeInfo.EndMark);
    bool exact = !FInputInfo.DurationEstimated && FTimeInfo.TotalTime > 0;
    // With an estimated duration the end mark may lie before the real end even when it lies
    // beyond the estimate: the second part is then tried, and dropped when it holds no audio.
    if (!plan.FirstPart || (exact && !plan.SecondPart)) {
        // One part can hold audio: it alone is encoded into the output, no join needed.
        SetBusy(0);
        FControl.ProgressBase = 0;
        FControl.ProgressWeight = 100;
        TSaveResult result = WriteOutput(outName, [&](const std::string& name) {
            if (!plan.FirstPart) {
                if (!ConvertSegment(InputFile, name, FTimeInfo.EndMark, -1)) return TSaveResult::Failed;
                return JudgeWritten(FTimeInfo.EndMark, -1, kNothingLeft);
            }
            if (!ConvertSegment(InputFile, name, 0, FTimeInfo.StartMark)) return TSaveResult::Failed;
            TSaveResult judged = JudgeWritten(0, FTimeInfo.StartMark, nullptr);
            if (judged == TSaveResult::Done && !FNotice.empty()) {
                // The input ends before the segment to delete: there is nothing to delete.
                FNotice.clear();
                FOutcome.Message = kStartBeyondEnd;
                return TSaveResult::Refused;
            }
            return judged;
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
    FileOps::TRunLock folderLock; // marks the folder as this save's until it is deleted
    std::string temp = FileOps::CreateOwnFolder(FControl.OutputPath, kTempFolderName, error, &folderLock);
    if (temp.empty()) {
        std::string folder = FControl.OutputPath + kTempFolderName;
        ShowMessage(TPromptKind::Warning, kWarningCaption,
                    Format(kCannotCreateTempFolder, folder.c_str(), error.c_str()));
        return TSaveResult::Failed;
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
    // The input ends before the segment to delete: there is nothing to delete.
    if (FOutcome.WrittenMs + kShortfallMs < FTimeInfo.StartMark) return RefuseLate(kStartBeyondEnd);
    int64_t firstMs = FOutcome.WrittenMs;

    FControl.ProgressBase = plan.SecondBase;
    FControl.ProgressWeight = plan.SecondWeight;
    std::vector<std::string> parts = {first};
    bool ran = ConvertPart(InputFile, second, FTimeInfo.EndMark, -1);
    if (FSaveStopped) return TSaveResult::Stopped;
    // A second part without audio (the end mark at or beyond the real end) is left out.
    if (!ran || (!FOutcome.Succeeded && !FOutcome.NoAudio)) return Fail(FailureText(second));
    if (FOutcome.Succeeded) parts.push_back(second);
    int64_t secondMs = FOutcome.Succeeded ? FOutcome.WrittenMs : 0;

    FControl.ProgressBase = plan.JoinBase;
    FControl.ProgressWeight = plan.JoinWeight;
    FExpectedMs = firstMs + secondMs > 0 ? firstMs + secondMs : keptMs;
    return WriteOutput(outName, [&](const std::string& name) {
        if (!JoinFiles(parts, name)) return TSaveResult::Failed;
        return JudgeWritten(0, -1, nullptr);
    });
}

// Writes the output under a hidden name beside the target and moves it into place only when the
// conversion finished: a stopped or failed save leaves the target as it was.
TSaveResult TSaveWorkflow::WriteOutput(const std::string& target,
                                       const std::function<TSaveResult(const std::string&)>& convert) {
    std::string error;
    FileOps::TRunLock lock; // marks the hidden file as this save's while it is written
    std::string hidden = FileOps::CreateHiddenSibling(target, error, &lock);
    if (hidden.empty()) return Fail(Format(kCannotCreateOutput, target.c_str(), error.c_str()));
    TSaveResult result = convert(hidden);
    if (FSaveStopped)
        result = TSaveResult::Stopped;
    else if (result == TSaveResult::Failed)
        result = Fail(FailureText(hidden, target));
    else if (result == TSaveResult::Refused)
        result = RefuseLate(FOutcome.Message);
    else if ((result = PlaceOutput(hidden, target)) == TSaveResult::Done)
        return result;
    FileOps::RemoveFile(hidden);
    return result;
}

// The final step: the finished hidden file becomes the target. It replaces an existing target
// only when the user agreed to that (keeping the target's mode); a file that appeared under the
// target's name while the save ran is never replaced.
TSaveResult TSaveWorkflow::PlaceOutput(const std::string& hidden, const std::string& target) {
    FileOps::SyncFile(hidden); // on disk before its name replaces anything
    std::string error;
    if (FReplaceAgreed) {
        FileOps::CopyPermissions(target, hidden);
        if (FileOps::ReplaceFile(hidden, target, error)) return TSaveResult::Done;
        return Fail(Format(kCannotReplaceOutput, target.c_str(), error.c_str()));
    }
    int rc = FileOps::MoveWithoutReplace(hidden, target);
    if (rc == 0) return TSaveResult::Done;
    if (rc == EEXIST) return RefuseLate(Format(kOutputAppeared, target.c_str()));
    return Fail(Format(kCannotCreateOutput, target.c_str(), FileOps::ErrorText(rc).c_str()));
}

// The failed conversion's message. A failed write names the output and the system's reason (a
// full file system also when the libraries only report it in general terms, asked while the
// partial file still takes its space).
std::string TSaveWorkflow::FailureText(const std::string& written, const std::string& shownName) const {
    std::string name = shownName.empty() ? written : shownName;
    std::string reason = WriteFailureReason(FOutcome.Message);
    int64_t available = FileOps::FreeSpace(ExtractFilePath(written));
    bool full = reason == FileOps::ErrorText(ENOSPC) || (available >= 0 && available < kNearlyFull);
    if (!FOutcome.SetupFailed && full)
        return Format(kDiskFull, name.c_str(), FileOps::ErrorText(ENOSPC).c_str());
    if (!reason.empty()) return Format(kCannotWriteOutput, name.c_str(), reason.c_str());
    return FOutcome.Message;
}

TSaveResult TSaveWorkflow::FinishSave(TSaveResult result) {
    SetBusy(1);
    if (result == TSaveResult::Done) {
        if (!FNotice.empty()) ShowMessage(TPromptKind::Warning, kWarningCaption, FNotice);
        OpenFolderPrompt();
    } else if (result == TSaveResult::Failed ||
               (result == TSaveResult::Refused && !FPendingFailure.empty())) {
        ShowMessage(TPromptKind::Warning, kWarningCaption, FPendingFailure);
    }
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

// A refusal found while the save runs: shown once the controls are restored.
TSaveResult TSaveWorkflow::RefuseLate(const std::string& text) {
    FPendingFailure = text;
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
