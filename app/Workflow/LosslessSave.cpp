// The save's lossless mode: the marked segment (or everything outside it) copied from the
// input's compressed frames through the same hidden file and final step as the re-encoding save.
// Where the format or the file has no copy path the user is told and the file is re-encoded.
#include "SaveWorkflow.h"

#include "LosslessCut.h"
#include "MyUtils.h"

using namespace WorkflowText;

TSaveResult TSaveWorkflow::SaveLossless(const std::string& outName) {
    TLosslessCutter cutter;
    TLosslessMode mode = FControl.TrimMode == 1 ? TLosslessMode::Select : TLosslessMode::Delete;
    TLosslessCheck check = cutter.Plan(InputFile, mode, FTimeInfo.StartMark, FTimeInfo.EndMark);
    switch (check.Verdict) {
    case TLosslessVerdict::NotAvailable:
        ShowMessage(TPromptKind::Information, kInformationCaption, Format(kLosslessFallback, check.Reason.c_str()));
        return SaveReencoded(outName);
    case TLosslessVerdict::Refused:
        if (!Ask(TPromptKind::Warning, kWarningCaption, Format(kLosslessRefusedQuestion, check.Reason.c_str())))
            return TSaveResult::Cancelled;
        return SaveReencoded(outName);
    case TLosslessVerdict::Possible:
        break;
    }

    SetBusy(0);
    TSaveResult result = WriteOutput(outName, [&](const std::string& name) {
        FOutcome = TOutcome();
        FOutcome.Succeeded = cutter.Write(name);
        if (!FOutcome.Succeeded) FOutcome.Message = Format(kLosslessWriteFailed, name.c_str(), cutter.LastError.c_str());
        return FOutcome.Succeeded ? TSaveResult::Done : TSaveResult::Failed; // the reason is in FOutcome
    });
    if (result == TSaveResult::Done && Callbacks.Progress) Callbacks.Progress(100, Format(kProgressFormat, 100.0));
    if (result == TSaveResult::Done && !check.SampleExact)
        ShowMessage(TPromptKind::Information, kInformationCaption,
                    Format(mode == TLosslessMode::Select ? kLosslessFrameDistance : kLosslessDeleteDistance,
                           check.StartOffsetMs, check.EndOffsetMs));
    return FinishSave(result);
}
