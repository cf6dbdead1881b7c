// Saving from the real window: both modes write correct files while the progress bar runs to 100,
// Stop during a save leaves nothing behind, No to the replace question changes nothing, and the
// UI thread sleeps while it waits for a conversion.
#include "WindowFixture.h"
#include "TestFiles.h"

#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}


} // namespace

class WindowSaveTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        WindowTest::SetUp();
        Show();
        ASSERT_TRUE(dialogs->Shown.empty());
        folder =
            fs::temp_directory_path() / ("clipwell-window-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        WindowTest::TearDown();
        fs::remove_all(folder);
    }
    std::string Out(const std::string& name) const { return (folder / name).string(); }

    // Adds the file, pauses it and sets the marks (µs) from reported play positions.
    void OpenAndMark(const std::string& file, int64_t startUs, int64_t endUs) {
        dialogs->OpenNames.push_back(file);
        frm->actAddRemoveFile->trigger();
        ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
        frm->bbStop->click();
        frm->FFPlayerPosition(startUs);
        frm->actCutStartTime->trigger();
        frm->FFPlayerPosition(endUs);
        frm->actCutEndTime->trigger();
        ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
    }
    // Saves as `name` in the test's folder; answers Yes to every question unless scripted.
    void Save(const std::string& name) {
        dialogs->SaveNames.push_back(Out(name));
        frm->bbSaveFile->click();
        QCoreApplication::processEvents(); // the last queued progress update
    }
    // The first progress update seen while saving (position, text).
    void WatchProgress() {
        auto* timer = new QTimer(frm.get());
        QObject::connect(timer, &QTimer::timeout, [this] {
            if (frm->pbProgress->isVisible()) maxSeen = std::max(maxSeen, frm->pbProgress->value());
        });
        timer->start(5);
    }

    fs::path folder;
    int maxSeen = 0;
};

TEST_F(WindowSaveTest, SelectModeWritesTheSegmentAndTheProgressReaches100) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, kRate, 1});
    OpenAndMark(input, 2500000, 5000000);
    EXPECT_EQ(frm->stbPosition->SelStart(), 2500);
    EXPECT_EQ(frm->stbPosition->SelEnd(), 5000);
    frm->actSelectAudio->trigger();
    dialogs->Answers = {false}; // do not open the folder
    WatchProgress();
    Save("cut.dat"); // the input's extension replaces the one chosen

    EXPECT_EQ(dialogs->SaveFilters.at(0), "wav Files|*.wav");
    ASSERT_TRUE(FileExists(Out("cut.wav"))) << (dialogs->Shown.empty() ? "" : dialogs->Shown.back().Text);
    EXPECT_FALSE(FileExists(Out("cut.dat")));
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_EQ(dialogs->Shown[0].Text, "Would you like to open the output folder?");
    EXPECT_TRUE(dialogs->Shown[0].Question);
    EXPECT_TRUE(dialogs->Urls.empty());
    EXPECT_EQ(frm->pbProgress->value(), 100);
    EXPECT_EQ(frm->labProgress->text().toStdString(), "Progress: 100.00%");

    TDecodedAudio cut = DecodeAudioFile(Out("cut.wav"));
    ASSERT_EQ(cut.Frames(), 110250);
    EXPECT_EQ(RampIndexOf(cut.At(0, 0), 110250), 110250);
    EXPECT_EQ(RampIndexOf(cut.At(cut.Frames() - 1, 0), 220499), 220499);

    // Back to the file-open state, both mode buttons enabled.
    EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Save File...");
    EXPECT_TRUE(frm->bbAddRemoveFile->isEnabled());
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled());
    EXPECT_TRUE(frm->bbDeleteAudio->isEnabled());
    EXPECT_FALSE(frm->pbProgress->isVisible());
}

TEST_F(WindowSaveTest, DeleteModeJoinsWhatIsOutsideTheMarksAndOpensTheFolder) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, kRate, 1});
    OpenAndMark(input, 2500000, 5000000);
    frm->actDeleteAudio->trigger();
    dialogs->Answers = {true}; // open the folder
    WatchProgress();
    Save("rest.wav");

    ASSERT_TRUE(FileExists(Out("rest.wav"))) << (dialogs->Shown.empty() ? "" : dialogs->Shown.back().Text);
    ASSERT_EQ(dialogs->Urls.size(), 1u);
    EXPECT_EQ(dialogs->Urls[0], QUrl::fromLocalFile(QString::fromStdString(folder.string() + "/")));
    EXPECT_EQ(frm->pbProgress->value(), 100);
    EXPECT_EQ(frm->labProgress->text().toStdString(), "Progress: 100.00%");
    EXPECT_GT(maxSeen, 0);
    // Only the output is left: the temporary folder is gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    TDecodedAudio rest = DecodeAudioFile(Out("rest.wav"));
    ASSERT_EQ(rest.Frames(), 10 * kRate - 110250);
    EXPECT_EQ(RampIndexOf(rest.At(0, 0), 0), 0);
    EXPECT_EQ(RampIndexOf(rest.At(110249, 0), 110249), 110249);
    EXPECT_EQ(RampIndexOf(rest.At(110250, 0), 220500), 220500); // the seam
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled());
    EXPECT_TRUE(frm->bbDeleteAudio->isEnabled());
    EXPECT_EQ(frm->SaveControl().TrimMode, 2);
}

TEST_F(WindowSaveTest, SaveWithoutMarksOrModeOnlyWarns) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, kRate, 1});
    dialogs->OpenNames.push_back(input);
    frm->actAddRemoveFile->trigger();
    frm->bbStop->click();
    frm->actSelectAudio->setEnabled(true);
    frm->actSelectAudio->trigger();
    Save("none.wav");
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_EQ(dialogs->Shown[0].Caption, "Warning");
    EXPECT_EQ(dialogs->Shown[0].Text, "Please set the starting point and ending point of the desired video "
                                      "segment before saving the file.");
    EXPECT_TRUE(dialogs->SaveFilters.empty()); // no save dialog
    EXPECT_EQ(TfrmMain::Tag(frm->bbSaveFile), 0);
}

TEST_F(WindowSaveTest, NoToTheReplaceQuestionChangesNothing) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, kRate, 1});
    OpenAndMark(input, 2500000, 5000000);
    frm->actSelectAudio->trigger();
    { std::ofstream(Out("taken.wav")) << "keep me"; }
    dialogs->Answers = {false};
    Save("taken.wav");
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_EQ(dialogs->Shown[0].Text, "Would you like to replace the existing file?");
    EXPECT_EQ(dialogs->Shown[0].Kind, TMsgKind::Warning);
    EXPECT_EQ(ReadAll(Out("taken.wav")), "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_FALSE(frm->pbProgress->isVisible());
    EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Save File...");
    EXPECT_TRUE(frm->bbAddRemoveFile->isEnabled());
}

// Marks inside one second are a selection (the check is in milliseconds). Yes to opening the
// folder on a desktop that takes no folder says so, naming it.
TEST_F(WindowSaveTest, MarksInsideOneSecondSaveAndAFolderTheDesktopCannotOpenIsNamed) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, kRate, 1});
    OpenAndMark(input, 200000, 800000);
    frm->actSelectAudio->trigger();
    dialogs->Answers = {true};
    dialogs->OpenUrlResult = false;
    Save("short.wav");
    ASSERT_TRUE(FileExists(Out("short.wav"))) << (dialogs->Shown.empty() ? "" : dialogs->Shown[0].Text);
    EXPECT_EQ(DecodeAudioFile(Out("short.wav")).Frames(), kRate * 6 / 10);
    ASSERT_EQ(dialogs->Shown.size(), 2u);
    EXPECT_EQ(dialogs->Shown[0].Text, "Would you like to open the output folder?");
    EXPECT_EQ(dialogs->Shown[1].Caption, "Warning");
    EXPECT_EQ(dialogs->Shown[1].Text, folder.string() + "/: the desktop cannot open this folder.");
}

// 1 select, 2 delete (stopped in the second part), 3 select stopped with Esc.
class WindowStopTest : public WindowSaveTest, public ::testing::WithParamInterface<int> {};

// Stop pressed once the running conversion has reported progress (in delete mode: during the
// second part): no output, no temporary folder, no prompt, and the controls are back.
TEST_P(WindowStopTest, StopDuringASaveLeavesNothing) {
    int mode = GetParam();
    bool escape = mode == 3;
    if (escape) mode = 1;
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, kRate, 2, 128000});
    OpenAndMark(input, 10000000, 20000000);
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    if (mode == 1) {
        frm->actSelectAudio->trigger();
        frm->FFPlayerPosition(115000000); // a long segment: 10 s .. 115 s
        frm->actCutEndTime->trigger();
    } else {
        frm->actDeleteAudio->trigger();
    }
    bool pressed = false;
    auto* timer = new QTimer(frm.get());
    QObject::connect(timer, &QTimer::timeout, [&] {
        bool running = TfrmMain::Tag(frm->bbSaveFile) == 1 && frm->pbProgress->value() > 0;
        bool secondPart = mode == 1 || frm->SaveControl().ProgressBase > 0;
        if (!pressed && running && secondPart) {
            pressed = true;
            // Stop, inside the save's waiting loop.
            if (escape)
                QTest::keyClick(frm.get(), Qt::Key_Escape);
            else
                frm->bbSaveFile->click();
        }
    });
    timer->start(5);
    Save("stopped.mp3");
    timer->stop();

    ASSERT_TRUE(pressed) << "the save ended before it could be stopped";
    EXPECT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text; // no open-folder prompt
    EXPECT_TRUE(fs::is_empty(folder)) << fs::directory_iterator(folder)->path();
    EXPECT_TRUE(frm->SaveControl().Stopped);
    EXPECT_EQ(TfrmMain::Tag(frm->bbSaveFile), 0);
    EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Save File...");
    EXPECT_TRUE(frm->bbAddRemoveFile->isEnabled());
    EXPECT_TRUE(frm->bbPlay->isEnabled());
    EXPECT_FALSE(frm->labProgress->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowStopTest, ::testing::Values(1, 2, 3), [](const auto& info) {
    return info.param == 1 ? "Select" : info.param == 2 ? "DeleteSecondPart" : "SelectEscKey";
});

// The waiting loop sleeps in the event wait: over a long save the UI thread uses a small share of
// one core, whatever the conversion thread does meanwhile.
TEST_F(WindowSaveTest, WaitingLoopUsesNoCpuOfItsOwn) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, kRate, 2, 128000});
    OpenAndMark(input, 1000000, 119000000);
    frm->actSelectAudio->trigger();
    dialogs->Answers = {false};
    double cpu0 = ThreadCpuSeconds();
    auto wall0 = std::chrono::steady_clock::now();
    Save("long.mp3");
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    double cpu = ThreadCpuSeconds() - cpu0;
    ASSERT_TRUE(FileExists(Out("long.mp3")));
    std::printf("[ measure  ] save of 118 s MP3: wall %.3f s, UI thread CPU %.3f s (%.2f%%)\n", wall, cpu,
                100.0 * cpu / wall);
    EXPECT_GT(wall, 0.3);
    EXPECT_LT(cpu, 0.05 * wall + 0.05);
}

// Closing the window while a save runs stops the save like the Stop button.
TEST_F(WindowSaveTest, ClosingDuringASaveStopsIt) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 120.0, kRate, 2, 128000});
    OpenAndMark(input, 1000000, 115000000);
    frm->actSelectAudio->trigger();
    bool closed = false;
    auto* timer = new QTimer(frm.get());
    QObject::connect(timer, &QTimer::timeout, [&] {
        if (!closed && TfrmMain::Tag(frm->bbSaveFile) == 1 && frm->pbProgress->value() > 0) {
            closed = true;
            frm->close();
        }
    });
    timer->start(5);
    Save("closed.mp3");
    ASSERT_TRUE(closed);
    EXPECT_FALSE(frm->isVisible());
    EXPECT_TRUE(frm->SaveControl().Stopped);
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(dialogs->Shown.empty());
}
