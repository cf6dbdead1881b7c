#include "WorkflowHarness.h"
#include "TestFiles.h"

#include "MyUtils.h"
#include "TestLibs.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

void WorkflowTest::SetUp() {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    char pattern[] = "/tmp/clipwell-workflow-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FRoot = std::string(pattern) + "/";
    FWorkflow = std::make_unique<TSaveWorkflow>(FConverter);

    TWorkflowCallbacks& c = FWorkflow->Callbacks;
    c.ShowMessage = [this](TPromptKind kind, const std::string& caption, const std::string& text) {
        FMessages.push_back(text);
    };
    c.AskYesNo = [this](TPromptKind kind, const std::string& caption, const std::string& text) {
        FQuestions.push_back(text);
        return text == WorkflowText::kReplaceQuestion ? FReplaceAnswer : FOpenFolderAnswer;
    };
    c.ChooseSaveFile = [this](const std::string& filter, std::string& fileName) {
        if (FDialogName.empty()) return false;
        fileName = FRoot + FDialogName;
        return true;
    };
    c.SetBusy = [this](int mode) { FBusy.push_back(mode); };
    c.OpenFolder = [this](const std::string& folder) { FOpenedFolders.push_back(folder); };
    c.Progress = [this](int32_t position, const std::string& text) {
        std::lock_guard<std::mutex> guard(FProgressLock);
        FProgress.push_back({FCurrentStep.load(), position, text});
    };
    c.ConversionStarting = [this](const TConversionStep& step) {
        TRecordedStep recorded;
        recorded.Step = step;
        for (int32_t i = 0; i < FConverter.TaskCount(); ++i)
            recorded.Inputs.push_back(FConverter.Task(i)->InputOptions);
        if (FConverter.TaskCount() > 0) recorded.Output = FConverter.Task(0)->OutputOptions;
        FSteps.push_back(recorded);
        FCurrentStep = int(FSteps.size()) - 1;
        FNewStep = true;
    };
    c.WaitForEvents = [this](const std::function<bool()>& done) {
        if (FOnWait && FNewStep) {
            FNewStep = false;
            FOnWait(FCurrentStep.load());
        }
        WaitUntil(done);
    };
}

void WorkflowTest::TearDown() {
    FWorkflow.reset();
    // CLIPWELL_KEEP_SCRATCH=1 keeps the files of a failing test for a look.
    if (!FRoot.empty() && GetEnvironmentVariable("CLIPWELL_KEEP_SCRATCH").empty()) {
        [[maybe_unused]] int rc =
            ::system(("chmod -R u+rwx '" + FRoot + "' && rm -rf '" + FRoot + "'").c_str());
    }
}

void WorkflowTest::Open(const std::string& file, int32_t trimMode, int64_t startMs, int64_t endMs) {
    ASSERT_TRUE(FWorkflow->CheckInputFile(file)) << (FMessages.empty() ? "" : FMessages.back());
    FWorkflow->InputFile = file;
    // The window learns the duration from its player, which reports the container's.
    FWorkflow->FTimeInfo.TotalTime = FWorkflow->FInputInfo.DurationUS;
    FWorkflow->FTimeInfo.StartMark = startMs;
    FWorkflow->FTimeInfo.EndMark = endMs;
    FWorkflow->SelStart = startMs / 1000;
    FWorkflow->SelEnd = endMs / 1000;
    FWorkflow->FControl.TrimMode = trimMode;
}

TSaveResult WorkflowTest::SaveAs(const std::string& dialogName) {
    FDialogName = dialogName;
    return FWorkflow->Save();
}

std::vector<std::string> WorkflowTest::ScratchEntries() const { return FolderEntries(FRoot); }

std::string WorkflowTest::CopyIn(const std::string& file, const std::string& name) {
    std::ifstream in(file, std::ios::binary);
    std::ofstream out(FRoot + name, std::ios::binary);
    out << in.rdbuf();
    return FRoot + name;
}

std::vector<TRecordedProgress> WorkflowTest::Progress() {
    std::lock_guard<std::mutex> guard(FProgressLock);
    return FProgress;
}

bool ConversionsAvailable(std::string& reason) {
    static int state = -1; // -1 unknown, 0 no, 1 yes
    static std::string why;
    if (state < 0) {
        state = 0;
        try {
            std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 0.5, 8000, 1});
            std::string output = "/tmp/clipwell-workflow-probe-" + std::to_string(::getpid()) + ".wav";
            ZEVuzuzAVE converter;
            TSaveWorkflow workflow(converter);
            workflow.FStreamInfo.CodecName = "pcm_s16le";
            workflow.FStreamInfo.Channels = 1;
            workflow.FStreamInfo.SampleRate = 8000;
            workflow.ConvertSegment(input, output, 100, 200);
            if (FileExists(output)) {
                state = 1;
                ::unlink(output.c_str());
            } else {
                why = converter.LastErrMsg.empty() ? "no output written" : converter.LastErrMsg;
            }
        } catch (const std::exception& e) {
            why = e.what();
        }
    }
    reason = why;
    return state == 1;
}

int64_t FirstRampMismatch(const TDecodedAudio& audio, int channel,
                          const std::function<int64_t(int64_t)>& expected) {
    for (int64_t i = 0; i < audio.Frames(); ++i) {
        int64_t want = expected(i);
        // The ramp repeats every kRampPeriod samples: the index nearest to the expected one.
        if (RampIndexOf(audio.At(i, channel), want, channel) != want) return i;
    }
    return -1;
}
