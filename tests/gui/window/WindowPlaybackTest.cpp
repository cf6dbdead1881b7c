// Adding files and playing them in the real window with the real player (SDL's dummy driver):
// the file-open event, positions, the go-to actions, the position bar's mouse handling, playing
// again after the end, and the waveform on the play screen.
#include "WindowFixture.h"

#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <QImage>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

constexpr int64_t kSecond = 1000000;

// Runs the UI thread (and the calls workers hand to it) until `done` or the timeout.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    return QTest::qWaitFor(done, timeoutMs);
}

} // namespace

class WindowPlaybackTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        WindowTest::SetUp();
        Show();
        ASSERT_TRUE(dialogs->Shown.empty());
    }
    // Adds `file` through the open dialog.
    void Add(const std::string& file) {
        dialogs->OpenNames.push_back(file);
        frm->actAddRemoveFile->trigger();
    }
    bool Playing() const { return frm->Control().PlayState == 0 || frm->Control().PlayState == 4; }
    // Waits for a position report at or after `t` µs.
    bool WaitForPosition(int64_t t, int timeoutMs = 5000) {
        return WaitFor([&] { return frm->TimeInfo().PlayTime >= t; }, timeoutMs);
    }
    // A 65.9 s mono WAV (small and quick to generate).
    static std::string LongWav() { return TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 65.9, 22050, 1, 0}); }
};

TEST_F(WindowPlaybackTest, AddedFileOpensPlaysAndFillsTheBar) {
    std::string file = LongWav();
    Add(file);
    ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
    EXPECT_EQ(dialogs->OpenFilters.at(0), "Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.OGA;*.OPUS;*.FLAC;*.M4A;|All Files|*.*");
    EXPECT_EQ(frm->FFPlayer->FileName(), file);
    EXPECT_EQ(TfrmMain::Tag(frm->bbAddRemoveFile), 1);
    EXPECT_EQ(frm->TimeInfo().TotalTime, 65900000);
    EXPECT_EQ(frm->stbPosition->Max(), 65900); // milliseconds
    EXPECT_EQ(Text(frm->labTotalTime), "00:01:05.900");
    EXPECT_TRUE(frm->bbPlay->isEnabled());
    EXPECT_TRUE(frm->stbPosition->isEnabled());
    EXPECT_FALSE(frm->panInformation->isVisible());
    EXPECT_FALSE(frm->Control().SeekLock);

    // Positions arrive and move the label; the bar follows.
    ASSERT_TRUE(WaitForPosition(1100000)) << frm->TimeInfo().PlayTime;
    EXPECT_EQ(Text(frm->labRunTime).substr(0, 7), "00:00:0");
    EXPECT_TRUE(WaitFor([&] { return frm->stbPosition->Position() >= 1000; }));

    // The play screen shows the waveform: a black frame with white bars.
    ASSERT_TRUE(WaitFor([&] { return frm->memPlayScreen->FrameCount() > 3; }));
    QImage frame = frm->memPlayScreen->Frame();
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame.width(), frm->memPlayScreen->contentsRect().width());
    EXPECT_EQ(frame.height(), frm->memPlayScreen->contentsRect().height());
    int white = 0, black = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            QRgb c = frame.pixel(x, y) & 0xFFFFFF;
            white += c == 0xFFFFFF;
            black += c == 0;
        }
    EXPECT_GT(white, frame.width());      // the bars (a ramp is never silent)
    EXPECT_GT(black, frame.width() * 10); // the background

    // Stop pauses, Play continues from the same place.
    frm->bbStop->click();
    EXPECT_EQ(frm->Control().PlayState, 1);
    int64_t paused = frm->TimeInfo().PlayTime;
    QTest::qWait(300);
    // A report may still count the two device buffers under way (2 × 1024 samples, 93 ms here).
    EXPECT_LE(frm->TimeInfo().PlayTime, paused + 120000);
    frm->bbPlay->click();
    EXPECT_EQ(frm->Control().PlayState, 4);
    ASSERT_TRUE(WaitForPosition(paused + 100000));
    EXPECT_LT(frm->TimeInfo().PlayTime, paused + 2 * kSecond);
}

// Go To End lands at the duration and Go To Begin at 0, so that marks taken there are the file's
// ends; both stay paused there, and one press of Play after Go To End plays from the beginning.
TEST_F(WindowPlaybackTest, GoToEndAndBeginLandExactlyAndOnePlayPlaysFromTheStart) {
    for (double seconds : {27.036, 4.5}) {
        SCOPED_TRACE(seconds);
        Add(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, seconds, 22050, 1, 0}));
        ASSERT_TRUE(WaitForPosition(200000));
        int64_t total = frm->TimeInfo().TotalTime;
        ASSERT_GT(total, 4 * kSecond);

        frm->actGotoEnd->trigger();
        EXPECT_FALSE(frm->Control().Following);
        EXPECT_EQ(frm->Control().PlayState, 1);
        QTest::qWait(300); // reports under way before the go-to do not move it
        EXPECT_EQ(frm->TimeInfo().PlayTime, total);
        EXPECT_EQ(Text(frm->labRunTime), Text(frm->labTotalTime));
        EXPECT_EQ(frm->stbPosition->Position(), frm->stbPosition->Max());
        frm->actCutEndTime->trigger();
        EXPECT_EQ(frm->TimeInfo().EndMark, total / 1000);

        frm->actGotoFirst->trigger();
        QTest::qWait(300);
        EXPECT_EQ(frm->TimeInfo().PlayTime, 0);
        EXPECT_EQ(Text(frm->labRunTime), "00:00:00.000");
        EXPECT_EQ(frm->stbPosition->Position(), 0);
        frm->actCutStartTime->trigger();
        EXPECT_EQ(frm->TimeInfo().StartMark, 0);
        EXPECT_TRUE(dialogs->Shown.empty());

        frm->actGotoEnd->trigger();
        frm->bbPlay->click();
        EXPECT_TRUE(frm->Control().Following);
        ASSERT_TRUE(WaitFor([&] {
            return Playing() && frm->TimeInfo().PlayTime > 100000 && frm->TimeInfo().PlayTime < 2 * kSecond;
        })) << frm->TimeInfo().PlayTime;
        EXPECT_EQ(frm->TimeInfo().StartMark, 0); // playing again keeps the marks
        EXPECT_EQ(frm->TimeInfo().EndMark, total / 1000);
    }
}

// Space pauses and plays. P plays what a save would write: in select mode from the start mark,
// pausing at the end mark; in delete mode the 2 s before the start mark, then straight on from
// the end mark for 2 s, never the segment in between.
TEST_F(WindowPlaybackTest, SpacePlaysAndPausesAndPrelistenPlaysWhatWillBeSaved) {
    Add(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 10.0, 22050, 1, 0}));
    ASSERT_TRUE(WaitForPosition(200000));
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    QTest::keyClick(frm.get(), Qt::Key_Space);
    EXPECT_EQ(frm->Control().PlayState, 1);
    QTest::keyClick(frm.get(), Qt::Key_Space);
    EXPECT_TRUE(Playing());

    ASSERT_TRUE(frm->ApplyTypedMark(true, "3.000"));
    ASSERT_TRUE(frm->ApplyTypedMark(false, "6.000"));
    std::vector<int64_t> heard;
    auto* timer = new QTimer(frm.get());
    QObject::connect(timer, &QTimer::timeout, [&] {
        if (heard.empty() || heard.back() != frm->TimeInfo().PlayTime) heard.push_back(frm->TimeInfo().PlayTime);
    });
    timer->start(2);
    auto run = [&](auto start) {
        heard.clear();
        start();
        EXPECT_NE(frm->Prelisten(), TPrelisten::Off);
        return WaitFor([&] { return frm->Prelisten() == TPrelisten::Off; }, 10000);
    };
    auto count = [&](int64_t from, int64_t to) {
        return std::count_if(heard.begin(), heard.end(), [&](int64_t t) { return t >= from && t < to; });
    };

    ASSERT_TRUE(run([&] { QTest::keyClick(frm.get(), Qt::Key_P); }));
    EXPECT_EQ(frm->Control().PlayState, 1);
    EXPECT_EQ(frm->TimeInfo().PlayTime, 6 * kSecond); // paused at the end mark
    EXPECT_GT(count(3 * kSecond, 4 * kSecond), 3);
    EXPECT_GT(count(5 * kSecond, 6 * kSecond), 3);
    EXPECT_EQ(count(6 * kSecond + 1, 7 * kSecond), 0);

    frm->actDeleteAudio->trigger();
    ASSERT_TRUE(run([&] { frm->bbPrelisten->click(); }));
    EXPECT_EQ(frm->Control().PlayState, 1);
    EXPECT_GT(count(1 * kSecond, 3 * kSecond), 10);
    // Between the marks: at most the moment the jump takes (a report interval and the device).
    EXPECT_EQ(count(3 * kSecond + 200000, 6 * kSecond), 0);
    EXPECT_GT(count(6 * kSecond, 8 * kSecond), 10);
    EXPECT_GE(frm->TimeInfo().PlayTime, 8 * kSecond);
    EXPECT_LT(frm->TimeInfo().PlayTime, 8 * kSecond + 300000);
}

TEST_F(WindowPlaybackTest, ReleasingTheBarSeeksUnlessTheButtonIsStillDown) {
    Add(LongWav());
    ASSERT_TRUE(WaitForPosition(100000));
    TTrackBar* bar = frm->stbPosition;
    QPoint at30(bar->ValueToX(30000), bar->height() / 2);

    // Press: the player pauses and the thumb jumps; release: seek to 30 s and play on.
    QTest::mousePress(bar, Qt::LeftButton, {}, at30);
    EXPECT_EQ(frm->Control().PlayState, 1);
    EXPECT_NEAR(bar->Position(), 30000, 100); // a pixel is about 97 ms of this file
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at30);
    EXPECT_EQ(frm->Control().PlayState, 4);
    ASSERT_TRUE(WaitForPosition(30 * kSecond - 100000)) << frm->TimeInfo().PlayTime;
    EXPECT_LT(frm->TimeInfo().PlayTime, 32 * kSecond);

    // A release handled while the primary button is still reported down resumes without seeking.
    QPoint at50(bar->ValueToX(50000), bar->height() / 2);
    QTest::mousePress(bar, Qt::LeftButton, {}, at50);
    ASSERT_TRUE(TfrmMain::IsMouseButtonDown());
    frm->stbPositionMouseUp();
    EXPECT_EQ(frm->Control().PlayState, 4);
    QTest::qWait(400);
    EXPECT_LT(frm->TimeInfo().PlayTime, 40 * kSecond);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at50); // ends the press (and seeks now)
}

TEST_F(WindowPlaybackTest, PlayAfterTheEndPlaysFromTheBeginningWithTheMarksKept) {
    Add(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0, 22050, 1, 0}));
    ASSERT_TRUE(WaitForPosition(1100000));
    frm->actCutStartTime->trigger();
    ASSERT_TRUE(WaitForPosition(2100000));
    frm->actCutEndTime->trigger();
    int selStart = frm->stbPosition->SelStart(), selEnd = frm->stbPosition->SelEnd();
    int64_t startMark = frm->TimeInfo().StartMark, endMark = frm->TimeInfo().EndMark;
    ASSERT_EQ(selStart, startMark); // the bar counts milliseconds
    ASSERT_EQ(selEnd, endMark);

    ASSERT_TRUE(WaitFor([&] { return frm->Control().PlayState == 3; }, 6000));
    frm->bbPlay->click();
    EXPECT_NE(frm->Control().PlayState, 3);
    // Positions start again from the beginning; the marks stay, on the bar too.
    ASSERT_TRUE(WaitFor([&] { return frm->TimeInfo().PlayTime < 500000; }));
    EXPECT_EQ(frm->stbPosition->SelStart(), selStart);
    EXPECT_EQ(frm->stbPosition->SelEnd(), selEnd);
    EXPECT_EQ(frm->TimeInfo().StartMark, startMark);
    EXPECT_EQ(frm->TimeInfo().EndMark, endMark);
    ASSERT_TRUE(WaitFor([&] { return frm->Control().PlayState == 3; }, 6000));
}

TEST_F(WindowPlaybackTest, CancellingTheDialogResumesAndARefusedFileKeepsTheOpenOne) {
    std::string file = LongWav();
    Add(file);
    ASSERT_TRUE(WaitForPosition(100000));

    dialogs->OpenNames.push_back(std::nullopt); // Cancel
    frm->actAddRemoveFile->trigger();
    EXPECT_EQ(frm->Control().PlayState, 4);

    for (const char* name : {"/tmp/notes.txt", "/tmp/noextension"}) {
        dialogs->Shown.clear();
        Add(name);
        ASSERT_EQ(dialogs->Shown.size(), 1u) << name;
        EXPECT_EQ(dialogs->Shown[0].Text, "The file format is not supported. Please re-add files.");
        EXPECT_EQ(frm->FFPlayer->FileName(), file);
        EXPECT_EQ(frm->Control().PlayState, 1); // left paused
        EXPECT_TRUE(frm->bbPlay->isEnabled());
    }
}

TEST_F(WindowPlaybackTest, IntakeRefusesTwoStreamsAndAcceptsCoverArt) {
    // Two audio streams, under an accepted extension (the probe reads the content).
    std::string twoStreams = TestMediaFolder() + "window-two-streams.ogg";
    std::filesystem::copy_file(TwoAudioStreamFile(), twoStreams,
                               std::filesystem::copy_options::overwrite_existing);
    Add(twoStreams);
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_EQ(dialogs->Shown[0].Text, "The selected file can't be added because it is not audio format.");
    EXPECT_EQ(dialogs->Shown[0].Caption, "Tamsel Free Clipwell");
    EXPECT_FALSE(frm->bbPlay->isEnabled()); // still no file
    EXPECT_EQ(TfrmMain::Tag(frm->bbAddRemoveFile), 0);

    // An MP3 with an attached picture is an audio file.
    dialogs->Shown.clear();
    Add(CoverArtMp3());
    ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
    EXPECT_TRUE(frm->bbPlay->isEnabled());
    EXPECT_EQ(frm->StreamInfo().Channels, 2);
    EXPECT_EQ(frm->StreamInfo().SampleRate, 44100);
    EXPECT_FALSE(frm->StreamInfo().CodecName.empty());
    EXPECT_EQ(frm->Workflow().InputFile, CoverArtMp3());
    EXPECT_TRUE(WaitForPosition(100000));
}

// Every broken file is refused with a message or plays what can be decoded; the window keeps
// working either way and a good file opens afterwards.
TEST_F(WindowPlaybackTest, BrokenFilesAreRefusedOrPlayedNeverAHang) {
    const std::string broken[] = {TruncatedMp3(),       CorruptMiddleMp3(),      ZeroByteFile(".mp3"),
                                  ZeroByteFile(".wav"), RandomBytesFile(".mp3"), RandomBytesFile(".ogg"),
                                  TextAsMp3()};
    for (const std::string& file : broken) {
        SCOPED_TRACE(file);
        dialogs->Shown.clear();
        auto t0 = std::chrono::steady_clock::now();
        Add(file);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
        std::printf("[ intake   ] %s: %s\n", ExtractFileName(file).c_str(),
                    dialogs->Shown.empty() ? "plays" : dialogs->Shown[0].Text.c_str());
        if (!dialogs->Shown.empty()) {
            EXPECT_FALSE(dialogs->Shown[0].Text.empty());
            EXPECT_NE(frm->Workflow().InputFile, file);
        } else {
            // Opened: it plays to its end (or at least keeps reporting) without hanging the UI.
            EXPECT_EQ(frm->Workflow().InputFile, file);
            WaitFor([&] { return frm->Control().PlayState == 3; }, 6000);
            frm->bbPlay->click();
            frm->bbStop->click();
        }
    }
    dialogs->Shown.clear();
    Add(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0, 22050, 1, 0}));
    EXPECT_TRUE(dialogs->Shown.empty());
    EXPECT_TRUE(WaitForPosition(100000));
}
