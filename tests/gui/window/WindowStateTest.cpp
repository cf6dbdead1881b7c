// The window's states (no file, file open, busy, after a save) and the marks and modes, driven
// through the handlers with player events given by the test.
#include "WindowFixture.h"

#include "UnitConst.h"

#include <QCheckBox>
#include <QTest>

using namespace UnitConst;

namespace {

struct TExpected {
    bool AddFile, Play, GoTo, Trim, Modes, Save, Bar;
};

void ExpectControls(TfrmMain& frm, const TExpected& e) {
    EXPECT_EQ(frm.bbAddRemoveFile->isEnabled(), e.AddFile);
    EXPECT_EQ(frm.bbPlay->isEnabled(), e.Play);
    EXPECT_EQ(frm.bbStop->isEnabled(), e.Play);
    EXPECT_EQ(frm.bbGotoFirst->isEnabled(), e.GoTo);
    EXPECT_EQ(frm.bbGotoEnd->isEnabled(), e.GoTo);
    EXPECT_EQ(frm.actGotoFirst->isEnabled(), e.GoTo);
    EXPECT_EQ(frm.bbCutStartTime->isEnabled(), e.Trim);
    EXPECT_EQ(frm.bbCutEndTime->isEnabled(), e.Trim);
    EXPECT_EQ(frm.bbSelectAudio->isEnabled(), e.Modes);
    EXPECT_EQ(frm.bbDeleteAudio->isEnabled(), e.Modes);
    EXPECT_EQ(frm.bbSaveFile->isEnabled(), e.Save);
    EXPECT_EQ(frm.stbPosition->isEnabled(), e.Bar);
}

constexpr int64_t kSecond = 1000000;

} // namespace

class WindowStateTest : public WindowTest {
protected:
    // What the window does when a file of `duration` µs has been accepted and opened.
    void OpenFile(int64_t duration) {
        int w = -1, h = -1;
        frm->FFPlayerFileOpen(duration, -1, -1, w, h);
        frm->ResetControls(1);
    }
    // The player reports `t` µs.
    void At(int64_t t) { frm->FFPlayerPosition(t); }
};

TEST_F(WindowStateTest, NoFileFileOpenBusyAndAfterSave) {
    Show();
    SCOPED_TRACE("no file");
    ExpectControls(*frm, {true, false, false, false, false, false, false});
    EXPECT_TRUE(frm->panInformation->isVisible());
    EXPECT_FALSE(frm->pbProgress->isVisible());
    EXPECT_FALSE(frm->labProgress->isVisible());

    OpenFile(65900000);
    {
        SCOPED_TRACE("file open");
        ExpectControls(*frm, {true, true, true, true, false, false, true});
        EXPECT_FALSE(frm->panInformation->isVisible());
        EXPECT_EQ(frm->stbPosition->Max(), 65900); // milliseconds
        EXPECT_EQ(frm->TimeInfo().TotalTime, 65900000);
        EXPECT_EQ(Text(frm->labTotalTime), "00:01:05.900");
    }

    At(2500000);
    frm->actCutStartTime->trigger();
    At(5000000);
    frm->actCutEndTime->trigger();
    {
        SCOPED_TRACE("valid end mark");
        ExpectControls(*frm, {true, true, true, true, true, false, true});
    }
    frm->actDeleteAudio->trigger();
    {
        SCOPED_TRACE("delete mode chosen");
        EXPECT_EQ(frm->SaveControl().TrimMode, 2);
        EXPECT_TRUE(frm->bbSelectAudio->isEnabled());
        EXPECT_FALSE(frm->bbDeleteAudio->isEnabled());
        EXPECT_TRUE(frm->bbSaveFile->isEnabled());
    }
    frm->actSelectAudio->trigger();
    EXPECT_EQ(frm->SaveControl().TrimMode, 1);
    EXPECT_FALSE(frm->bbSelectAudio->isEnabled());
    EXPECT_TRUE(frm->bbDeleteAudio->isEnabled());

    frm->SetBusy(0);
    {
        SCOPED_TRACE("busy");
        ExpectControls(*frm, {false, false, false, false, false, true, false});
        EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Stop");
        EXPECT_EQ(TfrmMain::Tag(frm->bbSaveFile), 1);
        EXPECT_TRUE(frm->pbProgress->isVisible());
        EXPECT_TRUE(frm->labProgress->isVisible());
    }
    frm->SetBusy(1);
    {
        SCOPED_TRACE("after save");
        ExpectControls(*frm, {true, true, true, true, true, true, true});
        EXPECT_EQ(frm->SaveControl().TrimMode, 1); // the mode stays chosen
        EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Save File...");
        EXPECT_EQ(TfrmMain::Tag(frm->bbSaveFile), 0);
        EXPECT_FALSE(frm->pbProgress->isVisible());
        EXPECT_FALSE(frm->labProgress->isVisible());
    }
}

TEST_F(WindowStateTest, ASecondFileClearsMarksAndTheirTexts) {
    Show();
    OpenFile(65900000);
    At(2500000);
    frm->actCutStartTime->trigger();
    At(5250000);
    frm->actCutEndTime->trigger();
    frm->actSelectAudio->trigger();
    EXPECT_EQ(frm->TimeInfo().StartMark, 2500);
    EXPECT_EQ(frm->TimeInfo().EndMark, 5250);
    EXPECT_EQ(Text(frm->labTimeS), "00:00:02.500");
    EXPECT_EQ(Text(frm->labTimeE), "00:00:05.250");

    OpenFile(30 * kSecond);
    EXPECT_EQ(frm->TimeInfo().StartMark, 0);
    EXPECT_EQ(frm->TimeInfo().EndMark, 0);
    EXPECT_EQ(frm->SaveControl().TrimMode, 0);
    EXPECT_EQ(frm->stbPosition->SelStart(), 0);
    EXPECT_EQ(frm->stbPosition->SelEnd(), 0);
    EXPECT_EQ(frm->stbPosition->Max(), 30000);
    // The texts go with the marks (they would otherwise show marks that are no longer set).
    EXPECT_EQ(Text(frm->labTimeS), "00:00:00.000");
    EXPECT_EQ(Text(frm->labTimeE), "00:00:00.000");
    EXPECT_FALSE(frm->bbSelectAudio->isEnabled());
    EXPECT_FALSE(frm->bbSelectAudio->isChecked());
    EXPECT_FALSE(frm->bbSaveFile->isEnabled());
}

TEST_F(WindowStateTest, PositionsMoveTheBarOnlyWhileFollowing) {
    Show();
    OpenFile(65900000);
    frm->FFPlayerPosition(32950000);
    EXPECT_EQ(Text(frm->labRunTime), "00:00:32.950");
    EXPECT_EQ(frm->TimeInfo().PlayTime, 32950000);
    EXPECT_EQ(frm->stbPosition->Position(), 0); // not following: the test opened the file itself
}

// The marks are compared in milliseconds: an end before the start within one second, or at the
// start, is refused like any other; so is a start at or after the end mark.
TEST_F(WindowStateTest, MarksThatLeaveNothingBetweenThemAreRefusedToTheMillisecond) {
    struct TCase {
        int64_t First, Second; // µs
        bool EndFirst;         // Trim Right first, then Trim Left
    };
    for (TCase c : {TCase{10800000, 10200000, false}, TCase{10800000, 10800000, false},
                    TCase{10200000, 10800000, true}, TCase{10200000, 10200999, true}}) {
        SCOPED_TRACE(testing::Message() << c.First << " " << c.Second << " " << c.EndFirst);
        dialogs->Shown.clear();
        Show();
        OpenFile(65900000);
        At(c.First);
        (c.EndFirst ? frm->actCutEndTime : frm->actCutStartTime)->trigger();
        At(c.Second);
        (c.EndFirst ? frm->actCutStartTime : frm->actCutEndTime)->trigger();
        ASSERT_EQ(dialogs->Shown.size(), 1u);
        EXPECT_EQ(dialogs->Shown[0].Text, "The ending point shall be after the starting point. Please reset.");
        EXPECT_EQ(dialogs->Shown[0].Caption, "Warning");
        // The mark just taken is cleared; the other stays.
        EXPECT_EQ(c.EndFirst ? frm->TimeInfo().StartMark : frm->TimeInfo().EndMark, 0);
        EXPECT_EQ(c.EndFirst ? frm->TimeInfo().EndMark : frm->TimeInfo().StartMark, c.First / 1000);
        EXPECT_EQ(Text(c.EndFirst ? frm->labTimeS : frm->labTimeE), "00:00:00.000");
        EXPECT_EQ(c.EndFirst ? frm->stbPosition->SelStart() : frm->stbPosition->SelEnd(), 0);
    }
    // One millisecond apart is a selection.
    dialogs->Shown.clear();
    OpenFile(65900000);
    At(10200000);
    frm->actCutStartTime->trigger();
    At(10201000);
    frm->actCutEndTime->trigger();
    EXPECT_TRUE(dialogs->Shown.empty());
    EXPECT_EQ(frm->stbPosition->SelStart(), 10200);
    EXPECT_EQ(frm->stbPosition->SelEnd(), 10201);
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled());
}

TEST_F(WindowStateTest, EndMarkBeforeTheStartIsRefusedWithAWarning) {
    Show();
    OpenFile(65900000);
    At(20000000);
    frm->actCutStartTime->trigger();
    At(30000000);
    frm->actCutEndTime->trigger();
    frm->actDeleteAudio->trigger();

    At(12000000);
    frm->actCutEndTime->trigger();
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_EQ(dialogs->Shown[0].Caption, "Warning");
    EXPECT_EQ(dialogs->Shown[0].Text, "The ending point shall be after the starting point. Please reset.");
    EXPECT_EQ(dialogs->Shown[0].Kind, TMsgKind::Warning);
    EXPECT_EQ(Text(frm->labTimeE), "00:00:00.000");
    EXPECT_EQ(frm->stbPosition->SelEnd(), 0);
    EXPECT_EQ(frm->TimeInfo().EndMark, 0);
    // The mode chosen before stays, with its buttons.
    EXPECT_EQ(frm->SaveControl().TrimMode, 2);
    EXPECT_TRUE(frm->bbSelectAudio->isEnabled());
    EXPECT_FALSE(frm->bbDeleteAudio->isEnabled());
    EXPECT_TRUE(frm->bbSaveFile->isEnabled());
}

TEST_F(WindowStateTest, EndMarkWithoutStartNeedsNoMessage) {
    Show();
    OpenFile(65900000);
    At(3000000);
    frm->actCutEndTime->trigger(); // selection start 0
    EXPECT_TRUE(dialogs->Shown.empty());
    EXPECT_EQ(frm->stbPosition->SelStart(), 0);
    EXPECT_EQ(frm->stbPosition->SelEnd(), 3000);
    EXPECT_EQ(frm->TimeInfo().EndMark, 3000);
}

TEST_F(WindowStateTest, DisabledActionsDoNothing) {
    Show();
    QTest::mouseClick(frm->bbSelectAudio, Qt::LeftButton);
    frm->actDeleteAudio->trigger();
    EXPECT_EQ(frm->SaveControl().TrimMode, 0);
}

TEST_F(WindowStateTest, LosslessToggleIsKeptAcrossFilesAndOffWhileBusy) {
    Show();
    EXPECT_FALSE(frm->SaveControl().Lossless);
    EXPECT_EQ(frm->cbLossless->toolTip().toStdString(), kHintLossless);
    EXPECT_TRUE(frm->cbLossless->geometry().intersected(frm->bbAddRemoveFile->geometry()).isEmpty());
    for (QWidget* neighbour : {static_cast<QWidget*>(frm->bbGotoEnd), static_cast<QWidget*>(frm->bbCutStartTime)})
        EXPECT_TRUE(frm->cbLossless->geometry().intersected(neighbour->geometry()).isEmpty());
    OpenFile(30 * kSecond);
    QTest::mouseClick(frm->cbLossless, Qt::LeftButton, {}, QPoint(8, frm->cbLossless->height() / 2));
    EXPECT_TRUE(frm->SaveControl().Lossless);
    OpenFile(20 * kSecond);
    EXPECT_TRUE(frm->cbLossless->isChecked());
    EXPECT_TRUE(frm->SaveControl().Lossless);
    frm->SetBusy(0);
    EXPECT_FALSE(frm->cbLossless->isEnabled());
    frm->SetBusy(1);
    EXPECT_TRUE(frm->cbLossless->isEnabled());
}
