// The save workflow with the real libraries and a scripted "window": answers to the dialogs,
// a record of every message, question, busy switch, progress event and conversion step, and a
// scratch folder per test.
#pragma once

#include "SaveWorkflow.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A conversion step as the workflow set it up, with the component's copies of its records.
struct TRecordedStep {
    TConversionStep Step;
    std::vector<TInputOptions> Inputs; // the input record added last (one per task)
    TOutputOptions Output;
};

struct TRecordedProgress {
    int StepIndex; // index into Steps of the conversion that reported it
    int32_t Position;
    std::string Text;
};

class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds `file` as the window does (intake check, duration from the probe) and sets the marks
    // and the mode. Fails the test when the intake refuses the file.
    void Open(const std::string& file, int32_t trimMode, int64_t startMs, int64_t endMs);
    // Save with the dialog answering `dialogName` (relative to the scratch folder).
    TSaveResult SaveAs(const std::string& dialogName);

    std::string Scratch(const std::string& name = "") const { return FRoot + name; }
    // Names in the scratch folder (not recursive), sorted.
    std::vector<std::string> ScratchEntries() const;
    // A copy of `file` in the scratch folder under `name`.
    std::string CopyIn(const std::string& file, const std::string& name);

    ZEVuzuzAVE FConverter;
    std::unique_ptr<TSaveWorkflow> FWorkflow;

    // Script.
    bool FReplaceAnswer = true;
    bool FOpenFolderAnswer = true;
    // Called inside the event wait of conversion number `index` (0-based), once.
    std::function<void(int index)> FOnWait;

    // Record.
    std::vector<std::string> FMessages;
    std::vector<std::string> FQuestions;
    std::vector<int> FBusy;
    std::vector<std::string> FOpenedFolders;
    std::vector<TRecordedStep> FSteps;
    std::vector<TRecordedProgress> Progress();

private:
    std::string FRoot;
    std::string FDialogName;
    bool FNewStep = false;    // a conversion started and its wait has not begun yet
    std::mutex FProgressLock; // guards FProgress
    std::vector<TRecordedProgress> FProgress;
    std::atomic<int> FCurrentStep{-1};
};

// True when whole conversions run (the engine's run path is present); the reason otherwise.
bool ConversionsAvailable(std::string& reason);

#define SKIP_WITHOUT_CONVERSIONS()                                                                           \
    do {                                                                                                     \
        std::string reason;                                                                                  \
        if (!ConversionsAvailable(reason)) GTEST_SKIP() << "conversions do not run yet: " << reason;         \
    } while (0)

// Checks a decoded 16-bit ramp frame by frame: frame i of `channel` must carry source sample
// expected(i). Returns the first frame that does not, or -1 when all do.
int64_t FirstRampMismatch(const TDecodedAudio& audio, int channel,
                          const std::function<int64_t(int64_t)>& expected);
