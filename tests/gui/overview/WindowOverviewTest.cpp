// The overview inside the window: a click moves the play position, a dragged handle moves its
// mark (labels and bar follow) but never past the other mark or the file's end and without a
// question, W switches between the overview and the live waveform, and the zoom keys work around
// the play position.
#include "MyUtils.h"
#include "OverviewView.h"
#include "TestLibs.h"
#include "TestMedia.h"
#include "UnitFunction.h"
#include "WindowFixture.h"

#include <QTest>

namespace {

class WindowOverviewTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        WindowTest::SetUp();
        Show();
        dialogs->OpenNames.push_back(TestMediaFile({TMediaFormat::Wav16, 30.0, 44100, 2, 0}));
        frm->actAddRemoveFile->trigger();
        ASSERT_TRUE(dialogs->Shown.empty());
        view = frm->memOverview;
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->Builder().State() == TPeakState::Done; }, 10000));
        frm->bbStopClick();
    }
    QPoint At(double us) const { return QPoint(int(std::lround(view->XOf(us))), view->height() / 2); }
    void Drag(QPoint from, QPoint to) {
        QTest::mousePress(view, Qt::LeftButton, {}, from);
        QTest::mouseMove(view, to);
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    }
    TOverviewView* view = nullptr;
};

TEST_F(WindowOverviewTest, ClicksSeekHandlesMoveTheMarksWithinTheRulesAndWSwitchesScreens) {
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(frm->memPlayScreen->isVisible());
    QTest::mouseClick(view, Qt::LeftButton, {}, At(10e6));
    EXPECT_NEAR(frm->TimeInfo().PlayTime, view->UsAt(At(10e6).x()), 1000);

    ASSERT_TRUE(frm->ApplyTypedMark(true, "00:00:05.000"));
    ASSERT_TRUE(frm->ApplyTypedMark(false, "00:00:20.000"));
    Drag(At(5e6), At(8e6));
    int64_t ms = std::llround(view->UsAt(At(8e6).x()) / 1000);
    EXPECT_EQ(frm->TimeInfo().StartMark, ms);
    EXPECT_EQ(Text(frm->labTimeS), FormatMediaTime(ms * 1000));
    // Past the end mark the start stops just before it, and the end never crosses the start.
    Drag(At(ms * 1000.0), At(25e6));
    EXPECT_EQ(frm->TimeInfo().StartMark, 19999);
    Drag(At(20e6), At(2e6));
    EXPECT_EQ(frm->TimeInfo().EndMark, 20000);
    Drag(At(20e6), At(40e6));
    EXPECT_EQ(frm->TimeInfo().EndMark, 30000) << "the end of the file at most";
    EXPECT_EQ(Text(frm->labTimeE), "00:00:30.000");
    EXPECT_TRUE(dialogs->Shown.empty());

    frm->activateWindow();
    QTest::keyClick(frm.get(), Qt::Key_W);
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(frm->memPlayScreen->isVisible());
    QTest::keyClick(frm.get(), Qt::Key_W);
    EXPECT_TRUE(view->isVisible());
}

// + (or =) and - zoom around the play position, 0 shows the whole file again; a position that
// walks out of a zoomed view turns the page, one the user scrolled away from stays away.
TEST_F(WindowOverviewTest, ZoomKeysKeepThePlayPositionInSight) {
    frm->activateWindow();
    auto inSight = [&] {
        double x = view->XOf(double(frm->TimeInfo().PlayTime));
        return x >= 0 && x <= view->width();
    };
    QTest::mouseClick(view, Qt::LeftButton, {}, At(10e6));
    double x = view->XOf(double(frm->TimeInfo().PlayTime));
    double whole = view->UsPerPixel();
    QTest::keyClick(frm.get(), Qt::Key_Plus);
    EXPECT_NEAR(view->UsPerPixel(), whole / 2, whole * 1e-9);
    EXPECT_NEAR(view->XOf(double(frm->TimeInfo().PlayTime)), x, 1.0) << "the position keeps its place";
    QTest::keyClick(frm.get(), Qt::Key_Equal);
    QTest::keyClick(frm.get(), Qt::Key_Equal); // 3.75 s in sight
    ASSERT_NEAR(view->UsPerPixel(), whole / 8, whole * 1e-9);

    QTest::keyClick(frm.get(), Qt::Key_Right, Qt::ShiftModifier); // to 20 s
    EXPECT_TRUE(inSight()) << "the page turned with the position";
    view->ScrollBy(-2.0 * view->width());
    EXPECT_FALSE(inSight());
    QTest::keyClick(frm.get(), Qt::Key_Right); // out of sight before: the view stays
    EXPECT_FALSE(inSight());
    QTest::keyClick(frm.get(), Qt::Key_Minus); // zooming brings it back, centred
    EXPECT_NEAR(view->UsPerPixel(), whole / 4, whole * 1e-9);
    EXPECT_NEAR(view->XOf(double(frm->TimeInfo().PlayTime)), view->width() / 2.0, 1.0);

    QTest::keyClick(frm.get(), Qt::Key_0);
    EXPECT_DOUBLE_EQ(view->UsPerPixel(), whole);
    EXPECT_EQ(view->FirstUs(), 0);
}

} // namespace
