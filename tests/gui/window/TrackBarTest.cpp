// The position bar: range and position rules, the selection, and the mouse (press, drag, release).
#include "TrackBar.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

class TrackBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar.resize(690, 30);
        bar.SetMax(65);
        bar.show();
    }
    QPoint At(int value) const { return {bar.ValueToX(value), bar.height() / 2}; }
    TTrackBar bar;
};

TEST_F(TrackBarTest, PositionStaysInsideTheRange) {
    bar.SetPosition(80);
    EXPECT_EQ(bar.Position(), 65);
    bar.SetPosition(-3);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(40);
    bar.SetMax(30); // a shorter file
    EXPECT_EQ(bar.Position(), 30);
    bar.SetMax(0);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(bar.XToValue(bar.width() / 2), 0); // an empty range maps everything to 0
}

TEST_F(TrackBarTest, ValuesAndPixelsMapBothWays) {
    for (int v : {0, 1, 10, 33, 64, 65})
        EXPECT_EQ(bar.XToValue(bar.ValueToX(v)), v) << v;
    EXPECT_EQ(bar.XToValue(-50), 0);
    EXPECT_EQ(bar.XToValue(bar.width() + 50), 65);
    EXPECT_LT(bar.ValueToX(0), bar.ValueToX(65));
}

TEST_F(TrackBarTest, SelectionIsKeptAsGiven) {
    bar.SetSelStart(20);
    bar.SetSelEnd(10);
    EXPECT_EQ(bar.SelStart(), 20);
    EXPECT_EQ(bar.SelEnd(), 10);
    bar.SetMax(5); // drawn clipped, stored unchanged
    EXPECT_EQ(bar.SelStart(), 20);
    QImage image = bar.grab().toImage(); // paints without trouble
    EXPECT_FALSE(image.isNull());
}

TEST_F(TrackBarTest, PressMovesTheThumbDragFollowsReleaseReports) {
    QSignalSpy downs(&bar, &TTrackBar::MouseDown);
    QSignalSpy ups(&bar, &TTrackBar::MouseUp);
    QSignalSpy changes(&bar, &TTrackBar::Change);

    QTest::mousePress(&bar, Qt::LeftButton, {}, At(20));
    EXPECT_EQ(downs.count(), 1);
    EXPECT_EQ(bar.Position(), 20);
    QTest::mouseMove(&bar, At(45));
    EXPECT_EQ(bar.Position(), 45);
    EXPECT_EQ(ups.count(), 0);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, At(45));
    EXPECT_EQ(ups.count(), 1);
    EXPECT_EQ(bar.Position(), 45);
    EXPECT_GE(changes.count(), 2);

    // Grabbing the thumb off its centre does not make it jump.
    QPoint thumb = bar.ThumbRect().center() + QPoint(3, 0);
    QTest::mousePress(&bar, Qt::LeftButton, {}, thumb);
    EXPECT_EQ(bar.Position(), 45);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, thumb);

    // Other buttons are reported but do not move the thumb; moves without a press do nothing.
    QTest::mousePress(&bar, Qt::RightButton, {}, At(5));
    QTest::mouseRelease(&bar, Qt::RightButton, {}, At(5));
    QTest::mouseMove(&bar, At(10));
    EXPECT_EQ(bar.Position(), 45);
    EXPECT_EQ(downs.count(), 3);
    EXPECT_EQ(ups.count(), 3);
}

TEST_F(TrackBarTest, DisabledBarIgnoresTheMouse) {
    QSignalSpy downs(&bar, &TTrackBar::MouseDown);
    bar.setEnabled(false);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, At(30));
    EXPECT_EQ(downs.count(), 0);
    EXPECT_EQ(bar.Position(), 0);
}
