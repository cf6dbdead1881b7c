// The window's keys (shortcuts of the window, whatever control has the focus), the typed marks,
// and files that come from outside the open dialog (dropped, or named at start).
#include "WindowFixture.h"

#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"
#include "UnitFunction.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <filesystem>

namespace {
constexpr int64_t kSecond = 1000000;
} // namespace

TEST(ParseMediaTime, ReadsDisplayTimesShortFormsAndMilliseconds) {
    const std::pair<const char*, int64_t> good[] = {
        {"00:01:02.345", 62345}, {"1:02.345", 62345}, {"62345", 62345}, {" 2.5 ", 2500},
        {"01:00:00.000", 3600000}, {"100:00:00", 360000000}, {"0", 0}, {"59.999", 59999}, {"90.5", 90500},
    };
    for (auto [text, ms] : good) {
        int64_t parsed = -1;
        EXPECT_TRUE(ParseMediaTime(text, parsed)) << text;
        EXPECT_EQ(parsed, ms) << text;
    }
    for (const char* bad : {"", "abc", "1:60", "1:60:00", "1::2", ":5", "5:", "1.2345", "-5", "1:2:3:4", "1e3",
                            "9999999999"}) {
        int64_t parsed = 0;
        EXPECT_FALSE(ParseMediaTime(bad, parsed)) << bad;
    }
}

class WindowKeysTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Show();
        frm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    }
    // A file of `duration` µs as the window sees it once opened (no player needed).
    void OpenFile(int64_t duration) {
        int w = -1, h = -1;
        frm->FFPlayerFileOpen(duration, -1, -1, w, h);
        frm->ResetControls(1);
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : frm.get();
        QTest::keyClick(target, Qt::Key(key), modifiers);
    }
    int64_t Pos() const { return frm->TimeInfo().PlayTime; }
};

// Every key runs its handler while a button has the focus, and the arrows move the place shown
// (and the player's) by their steps within the file, paused or not.
TEST_F(WindowKeysTest, KeysRunTheirActionsFromAnyControl) {
    OpenFile(27036000);
    frm->bbCutEndTime->setFocus();
    Key(Qt::Key_End);
    EXPECT_EQ(Pos(), 27036000);
    EXPECT_EQ(frm->stbPosition->Position(), 27036);
    Key(Qt::Key_O);
    EXPECT_EQ(frm->TimeInfo().EndMark, 27036);
    Key(Qt::Key_Home);
    EXPECT_EQ(Pos(), 0);
    Key(Qt::Key_I);
    EXPECT_EQ(frm->TimeInfo().StartMark, 0);

    const std::tuple<int, Qt::KeyboardModifiers, int64_t> steps[] = {
        {Qt::Key_Left, Qt::NoModifier, 0},             // stays at the start
        {Qt::Key_Right, Qt::NoModifier, kSecond},      // 1 s
        {Qt::Key_Right, Qt::ShiftModifier, 11 * kSecond}, // 10 s
        {Qt::Key_Right, Qt::ControlModifier, 11010000},   // 10 ms
        {Qt::Key_Left, Qt::ControlModifier, 11 * kSecond},
        {Qt::Key_Left, Qt::NoModifier, 10 * kSecond},
        {Qt::Key_Left, Qt::ShiftModifier, 0},
    };
    for (auto [key, modifiers, expected] : steps) {
        Key(key, modifiers);
        EXPECT_EQ(Pos(), expected) << key << " " << modifiers;
    }
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_BracketLeft); // [ marks the start at 10 s
    EXPECT_EQ(frm->TimeInfo().StartMark, 10000);
    EXPECT_EQ(Text(frm->labTimeS), "00:00:10.000");
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier); // clamped to the end
    EXPECT_EQ(Pos(), 27036000);
    Key(Qt::Key_Left, Qt::ControlModifier);
    Key(Qt::Key_BracketRight);
    EXPECT_EQ(frm->TimeInfo().EndMark, 27026);
    EXPECT_EQ(frm->stbPosition->SelEnd(), 27026);

    Key(Qt::Key_S);
    EXPECT_EQ(frm->SaveControl().TrimMode, 1);
    EXPECT_TRUE(frm->bbSelectAudio->isChecked()); // the chosen mode shows pressed
    Key(Qt::Key_D);
    EXPECT_EQ(frm->SaveControl().TrimMode, 2);
    EXPECT_TRUE(frm->bbDeleteAudio->isChecked());
    EXPECT_FALSE(frm->bbSelectAudio->isChecked());
    frm->SetBusy(0);
    frm->SetBusy(1);
    EXPECT_TRUE(frm->bbDeleteAudio->isChecked()); // and still after a save
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled());

    Key(Qt::Key_O, Qt::ControlModifier); // Add File: the open dialog (cancelled)
    EXPECT_EQ(dialogs->OpenFilters.size(), 1u);
    Key(Qt::Key_S, Qt::ControlModifier); // Save File: the save dialog (cancelled)
    EXPECT_EQ(dialogs->SaveFilters.size(), 1u);
    Key(Qt::Key_Escape); // Stop only while saving
    EXPECT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
}

// Without a file the keys do nothing; in a mark's editor they are typing.
TEST_F(WindowKeysTest, KeysWaitForAFileAndLeaveTheMarkEditorAlone) {
    for (int key : {Qt::Key_End, Qt::Key_Right, Qt::Key_O, Qt::Key_S, Qt::Key_P, Qt::Key_Space})
        Key(key);
    EXPECT_EQ(Pos(), 0);
    EXPECT_EQ(frm->TimeInfo().EndMark, 0);
    EXPECT_EQ(frm->SaveControl().TrimMode, 0);
    QTest::mouseClick(frm->labTimeS, Qt::LeftButton);
    EXPECT_FALSE(frm->edtTimeS->isVisible()); // no marks without a file

    OpenFile(65900000);
    QTest::mouseClick(frm->labTimeE, Qt::LeftButton);
    ASSERT_TRUE(frm->edtTimeE->isVisible());
    ASSERT_TRUE(frm->edtTimeE->hasFocus());
    QTest::keyClicks(frm->edtTimeE, "1:02.345");
    QTest::keyClick(frm->edtTimeE, Qt::Key_Home);
    QTest::keyClick(frm->edtTimeE, Qt::Key_Space);
    EXPECT_EQ(Pos(), 0); // Home and Space were the editor's
    EXPECT_EQ(frm->edtTimeE->text().toStdString(), " 1:02.345");
    QTest::keyClick(frm->edtTimeE, Qt::Key_Return);
    EXPECT_FALSE(frm->edtTimeE->isVisible());
    EXPECT_EQ(frm->TimeInfo().EndMark, 62345);
    EXPECT_EQ(Text(frm->labTimeE), "00:01:02.345");
    EXPECT_EQ(frm->stbPosition->SelEnd(), 62345);
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled()); // as after Trim Right
    EXPECT_TRUE(frm->actPrelisten->isEnabled());
}

// Typed marks follow the rules of Trim Left and Trim Right; a refusal says why and keeps the
// editor open, Esc leaves the mark as it was.
TEST_F(WindowKeysTest, TypedMarksAreCheckedLikeTakenOnes) {
    OpenFile(65900000);
    ASSERT_TRUE(frm->ApplyTypedMark(false, "00:00:10.000"));
    struct TCase {
        bool Start;
        const char* Text;
        const char* Message; // null: accepted
    };
    const TCase cases[] = {
        {true, "10000", "The ending point shall be after the starting point. Please reset."},
        {true, "abc", "Please type a time such as 00:01:02.345, 1:02.345 or a number of milliseconds."},
        {false, "2:00", "00:02:00.000 is after the end of the file (00:01:05.900)."},
        {true, "9.999", nullptr},
        {false, "9999", "The ending point shall be after the starting point. Please reset."},
        {false, "1:05.900", nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        dialogs->Shown.clear();
        frm->EditMark(c.Start);
        QLineEdit* edit = c.Start ? frm->edtTimeS : frm->edtTimeE;
        edit->setText(c.Text);
        QTest::keyClick(edit, Qt::Key_Return);
        if (c.Message) {
            ASSERT_EQ(dialogs->Shown.size(), 1u);
            EXPECT_EQ(dialogs->Shown[0].Text, c.Message);
            EXPECT_EQ(dialogs->Shown[0].Caption, "Warning");
            EXPECT_TRUE(edit->isVisible());
            QTest::keyClick(edit, Qt::Key_Escape);
        } else {
            EXPECT_TRUE(dialogs->Shown.empty());
        }
        EXPECT_FALSE(edit->isVisible());
    }
    EXPECT_EQ(frm->TimeInfo().StartMark, 9999);
    EXPECT_EQ(frm->TimeInfo().EndMark, 65900);
    EXPECT_EQ(Text(frm->labTimeS), "00:00:09.999");
}

class WindowFilesInTest : public WindowKeysTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        WindowKeysTest::SetUp();
    }
    // Drops `file` on the window as a file manager would.
    bool Drop(const std::string& file) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
        QPoint at(350, 60);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frm.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frm.get(), &drop);
        QCoreApplication::processEvents(); // the drop opens the file once it has ended
        return drop.isAccepted();
    }
    std::string Title() const { return frm->windowTitle().toStdString(); }
};

// A dropped file goes through Add File's checks: bad ones show the same messages, open nothing
// and leave the open file; a good one opens and names itself in the title.
TEST_F(WindowFilesInTest, DroppedFilesAreCheckedLikeAddedOnes) {
    std::string good = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0, 22050, 1, 0});
    ASSERT_TRUE(Drop(good));
    ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
    EXPECT_EQ(frm->FFPlayer->FileName(), good);
    EXPECT_EQ(Title(), ExtractFileName(good) + " \u2014 Tamsel Free Clipwell 1.0");

    std::string folderMp3 = TestMediaFolder() + "window-folder.mp3";
    std::filesystem::create_directories(folderMp3);
    std::string videoMp3 = TestMediaFolder() + "window-video.mp3";
    std::filesystem::copy_file(VideoStreamFile(), videoMp3, std::filesystem::copy_options::overwrite_existing);
    const std::pair<std::string, std::string> bad[] = {
        {TestMediaFolder(), "The file format is not supported. Please re-add files."},
        {folderMp3, ""}, // the probe's message
        {TestMediaFolder() + "missing.wav", ""},
        {RandomBytesFile(".ogg"), ""},
        {VideoStreamFile(), "The file format is not supported. Please re-add files."},
        {videoMp3, "The selected file can't be added because it is not audio format."},
    };
    for (const auto& [file, message] : bad) {
        SCOPED_TRACE(file);
        dialogs->Shown.clear();
        Drop(file);
        ASSERT_EQ(dialogs->Shown.size(), 1u);
        if (!message.empty()) {
            EXPECT_EQ(dialogs->Shown[0].Text, message);
        }
        std::printf("[ drop     ] %s: %s\n", ExtractFileName(file).c_str(), dialogs->Shown[0].Text.c_str());
        EXPECT_EQ(frm->FFPlayer->FileName(), good);
        EXPECT_EQ(frm->Workflow().InputFile, good);
        EXPECT_EQ(Title(), ExtractFileName(good) + " \u2014 Tamsel Free Clipwell 1.0");
        EXPECT_TRUE(frm->bbPlay->isEnabled());
    }
    // Not while a save runs.
    frm->SetBusy(0);
    EXPECT_FALSE(Drop(good));
    frm->SetBusy(1);
}

// `clipwell FILE`: the file opens once the window has started, with the same checks: a folder,
// a missing file, random bytes and a video file are refused with their messages.
TEST_F(WindowFilesInTest, AFileNamedAtStartOpensWithTheSameChecks) {
    const std::string files[] = {TestMediaFolder(), TestMediaFolder() + "missing.mp3", RandomBytesFile(".mp3"),
                                 VideoStreamFile(), TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0, 22050, 1, 0})};
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        bool valid = file == files[4];
        Create(); // a new window, as at program start
        frm->OpenAtStart(file);
        Show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs->Shown.empty() || frm->bbPlay->isEnabled(); }));
        EXPECT_EQ(frm->bbPlay->isEnabled(), valid);
        EXPECT_EQ(dialogs->Shown.size(), valid ? 0u : 1u);
        EXPECT_EQ(Title(), valid ? ExtractFileName(file) + " \u2014 Tamsel Free Clipwell 1.0"
                                 : std::string("Tamsel Free Clipwell 1.0"));
    }
}
