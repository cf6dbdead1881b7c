// The window as laid out at start-up: places, captions, hints and fonts; the time text; start-up
// with missing libraries; the contact menu.
#include "WindowFixture.h"

#include "FFmpegLoader.h"
#include "OverviewView.h"
#include "MyUtils.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrlQuery>

using namespace UnitConst;

TEST(FormatMediaTime, WritesHoursMinutesSecondsAndMilliseconds) {
    EXPECT_EQ(FormatMediaTime(3723456789), "01:02:03.456");
    EXPECT_EQ(FormatMediaTime(0), "00:00:00.000");
    EXPECT_EQ(FormatMediaTime(999), "00:00:00.000");
    EXPECT_EQ(FormatMediaTime(1000), "00:00:00.001");
    EXPECT_EQ(FormatMediaTime(59999999), "00:00:59.999");
    EXPECT_EQ(FormatMediaTime(60000000), "00:01:00.000");
    EXPECT_EQ(FormatMediaTime(360000000000), "100:00:00.000");
    EXPECT_EQ(FormatMediaTime(65900000), "00:01:05.900");
}

TEST(FormatMediaTime, ShowsTimesBeforeTheStartAsZero) {
    EXPECT_EQ(FormatMediaTime(-1), "00:00:00.000");
    EXPECT_EQ(FormatMediaTime(INT64_MIN), "00:00:00.000"); // the libraries' no-value marker
}

TEST(GetAppPath, IsTheExecutablesFolderWithTrailingSlash) {
    std::string path = GetAppPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), '/');
    EXPECT_TRUE(FileExists(path + "window_gui_tests"));
}

TEST_F(WindowTest, WindowWithItsCaptionAtItsBaseSize) {
    EXPECT_EQ(frm->size(), QSize(704, 246));
    EXPECT_EQ(frm->minimumSize(), QSize(704, 246)); // it may grow, not shrink
    EXPECT_EQ(frm->windowTitle().toStdString(), "Tamsel Free Clipwell 1.0");
    EXPECT_TRUE(frm->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frm->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frm->font().pixelSize(), 11);
    EXPECT_EQ(frm->odInputFile.Filter, "Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.OGA;*.OPUS;*.FLAC;*.M4A;|All Files|*.*");
}

TEST_F(WindowTest, EveryControlAtItsPlace) {
    struct TPlace {
        QWidget* Control;
        QRect Rect;
    };
    const TPlace sized[] = {
        {frm->memPlayScreen, {11, 30, 682, 60}},  {frm->panInformation, {12, 31, 680, 58}},
        {frm->stbPosition, {5, 121, 690, 30}},    {frm->bbPlay, {9, 161, 30, 25}},
        {frm->bbStop, {41, 161, 30, 25}},         {frm->bbGotoFirst, {75, 161, 30, 25}},
        {frm->bbGotoEnd, {108, 161, 30, 25}},     {frm->bbCutStartTime, {249, 156, 60, 30}},
        {frm->bbCutEndTime, {310, 156, 60, 30}},  {frm->bbSelectAudio, {372, 156, 60, 30}},
        {frm->bbDeleteAudio, {433, 156, 60, 30}}, {frm->bbAddRemoveFile, {573, 161, 120, 25}},
        {frm->Bevel1, {0, 198, 705, 50}},         {frm->pbProgress, {10, 212, 550, 10}},
        {frm->bbSaveFile, {573, 210, 120, 25}},   {frm->tbMenu, {655, 3, 35, 25}},
    };
    for (const TPlace& p : sized)
        EXPECT_EQ(p.Control->geometry(), p.Rect) << p.Control->objectName().toStdString();

    struct TLabelPlace {
        QLabel* Label;
        QPoint Pos;
        const char* Text;
        int Pixels;
        bool Bold;
    };
    const TLabelPlace labels[] = {
        {frm->labOne, {160, 23}, "Supported audio files: MP3, AAC, WAV, WMA and OGG", 13, false},
        {frm->labStartTime, {13, 99}, "[", 13, true},
        {frm->labTimeS, {18, 101}, "00:00:00.000", 11, true},
        {frm->labS, {92, 99}, "- -", 11, false},
        {frm->labTimeE, {104, 101}, "00:00:00.000", 11, true},
        {frm->labEndTime, {174, 99}, "]", 13, true},
        {frm->labRunTime, {550, 103}, "00:00:00.000", 11, false},
        {frm->labSS, {617, 100}, "/", 13, false},
        {frm->labTotalTime, {623, 103}, "00:00:00.000", 11, false},
        {frm->labProgress, {10, 224}, "labProgress", 11, false},
    };
    for (const TLabelPlace& l : labels) {
        SCOPED_TRACE(l.Label->objectName().toStdString());
        EXPECT_EQ(l.Label->pos(), l.Pos);
        EXPECT_EQ(Text(l.Label), l.Text);
        EXPECT_EQ(l.Label->font().pixelSize(), l.Pixels);
        EXPECT_EQ(l.Label->font().bold(), l.Bold);
    }
    EXPECT_EQ(frm->labOne->parentWidget(), frm->panInformation);
    EXPECT_EQ(frm->labProgress->width(), 100);
    EXPECT_EQ(frm->memPlayScreen->font().pixelSize(), 24);
    EXPECT_TRUE(frm->memPlayScreen->font().bold());
    EXPECT_FALSE(frm->memPlayScreen->isEnabled());
    EXPECT_EQ(frm->stbPosition->ThumbLength(), 20);
    EXPECT_EQ(frm->pbProgress->minimum(), 0);
    EXPECT_EQ(frm->pbProgress->maximum(), 100);
}

// Enlarged, the play screen takes the room; everything below it keeps its distance to the bottom
// edge, and what stands on the right its distance to the right edge. Back at the base size every
// control is at its place again.
TEST_F(WindowTest, EnlargedWindowGrowsThePlayScreenAndKeepsTheControlsAtTheEdges) {
    Show();
    std::vector<std::pair<QWidget*, QRect>> base;
    for (QWidget* w : frm->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!w->isWindow()) base.emplace_back(w, w->geometry());
    const int dx = 300, dy = 200;
    frm->resize(704 + dx, 246 + dy);
    EXPECT_EQ(frm->memPlayScreen->geometry(), QRect(11, 30, 682 + dx, 60 + dy));
    EXPECT_EQ(frm->memOverview->geometry(), frm->memPlayScreen->geometry()); // in its place
    EXPECT_EQ(frm->panInformation->geometry(), QRect(12, 31, 680 + dx, 58 + dy));
    EXPECT_EQ(frm->labOne->x(), 160 + dx / 2); // in the middle of the panel, as at the base size
    for (auto [w, r] : base) {
        SCOPED_TRACE(w->objectName().toStdString());
        if (w == frm->memPlayScreen || w == frm->panInformation || w == frm->memOverview) continue;
        QRect now = w->geometry();
        bool below = r.top() >= 90, right = r.left() >= 540, wide = r.width() >= 550;
        EXPECT_EQ(now.top(), r.top() + (below ? dy : 0));
        EXPECT_EQ(now.height(), r.height());
        EXPECT_EQ(now.left(), r.left() + (right ? dx : 0));
        EXPECT_EQ(now.width(), r.width() + (wide ? dx : 0)); // the bars and the bevel stretch
    }
    frm->resize(704, 246);
    for (auto [w, r] : base)
        EXPECT_EQ(w->geometry(), r) << w->objectName().toStdString();
}

TEST_F(WindowTest, CaptionsHintsAndActions) {
    EXPECT_EQ(frm->bbAddRemoveFile->text().toStdString(), "Add File...");
    EXPECT_EQ(frm->bbSaveFile->text().toStdString(), "Save File...");
    EXPECT_EQ(frm->tbContact->text().toStdString(), "Contact Us");
    EXPECT_EQ(frm->tbContact->cursor().shape(), Qt::PointingHandCursor);
    // Each hint names the button's keys.
    const std::tuple<QWidget*, const char*, const char*> hints[] = {
        {frm->bbPlay, "Play", "Space"},
        {frm->bbStop, "Stop", "Space"},
        {frm->bbGotoFirst, "Go To Begin", "Home"},
        {frm->bbGotoEnd, "Go To End", "End"},
        {frm->bbCutStartTime, "Trim Left", "I or ["},
        {frm->bbCutEndTime, "Trim Right", "O or ]"},
        {frm->bbSelectAudio, "Cut the selected audio segment and save it.", "S"},
        {frm->bbDeleteAudio, "Delete the selected audio segment and save the unselected ones as a whole file.",
         "D"},
        {frm->bbPrelisten, "Listen to what will be saved", "P"},
        {frm->bbAddRemoveFile, "Add File...", "Ctrl+O"},
    };
    for (auto [control, hint, keys] : hints)
        EXPECT_EQ(control->toolTip().toStdString(), std::string(hint) + " (" + keys + ")");
    EXPECT_EQ(frm->bbSaveFile->toolTip().toStdString(), "Save File... (Ctrl+S), Stop (Esc while saving)");

    // Every action has its name, and each button of an action runs it.
    const std::pair<QAction*, const char*> actions[] = {
        {frm->actAddRemoveFile, "actAddRemoveFile"},
        {frm->actCutStartTime, "actCutStartTime"},
        {frm->actCutEndTime, "actCutEndTime"},
        {frm->actSelectAudio, "actSelectAudio"},
        {frm->actDeleteAudio, "actDeleteAudio"},
        {frm->actGotoFirst, "actGotoFirst"},
        {frm->actGotoEnd, "actGotoEnd"},
    };
    for (auto [action, name] : actions)
        EXPECT_EQ(action->objectName().toStdString(), name);
    EXPECT_EQ(frm->actAddRemoveFile->text().toStdString(), "Add File...");
    int triggered = 0;
    QObject::connect(frm->actSelectAudio, &QAction::triggered, [&] { ++triggered; });
    frm->actSelectAudio->setEnabled(true);
    QTest::mouseClick(frm->bbSelectAudio, Qt::LeftButton);
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(frm->SaveControl().TrimMode, 1);

    ASSERT_EQ(frm->pmContact->actions().size(), 3);
    EXPECT_EQ(frm->pmOurSite->text().toStdString(), "Our Site");
    EXPECT_EQ(frm->pmEmail->text().toStdString(), "Email");
    EXPECT_EQ(frm->pmNews->text().toStdString(), "News");
}

TEST_F(WindowTest, StartsWithNoFileAndTheAddButtonActive) {
    Show();
    ASSERT_TRUE(dialogs->Shown.empty()) << dialogs->Shown[0].Text;
    EXPECT_TRUE(frm->isVisible());
    EXPECT_TRUE(FFLoader().AllLoaded(ConverterLibs));
    EXPECT_TRUE(FFLoader().AllLoaded(PlayerLibs));
    EXPECT_EQ(QApplication::focusWidget(), frm->bbAddRemoveFile);
    // The window is centred on its screen.
    QRect screen = frm->screen()->availableGeometry();
    EXPECT_LE(std::abs(frm->geometry().center().x() - screen.center().x()), 3);
    EXPECT_LE(std::abs(frm->geometry().center().y() - screen.center().y()), 3);
}

// Start-up with a library that cannot be loaded: each library set shows its own message, then
// the window closes.
class StartupFailureTest : public WindowTest {
protected:
    void TearDown() override {
        WindowTest::TearDown();
        for (TLibraryID id : {libAVCodec, libSDL})
            FFLoader().SetCustomFileName(id, "");
    }
    void Fail(TLibraryID id) {
        FFLoader().UnloadLibs(TLibraries{libAVCodec, libAVFilter, libAVFormat, libAVUtil, libSWScale,
                                         libSWResample, libMyUtil, libSDL});
        FFLoader().SetCustomFileName(id, "libclipwell-missing.so.1");
    }
};

TEST_F(StartupFailureTest, BothLibrarySetsShowTheirFailureAndTheWindowCloses) {
    Fail(libAVCodec); // in both sets
    Show();
    ASSERT_EQ(dialogs->Shown.size(), 2u);
    for (const TShownDialog& shown : dialogs->Shown) {
        EXPECT_EQ(shown.Caption, "Tamsel Free Clipwell");
        EXPECT_EQ(shown.Text.rfind("Load library ", 0), 0u) << shown.Text;
        EXPECT_NE(shown.Text.find("libclipwell-missing.so.1"), std::string::npos) << shown.Text;
    }
    EXPECT_FALSE(frm->isVisible());
}

TEST_F(StartupFailureTest, APlayerLibraryAloneFailsOnce) {
    Fail(libSDL); // only the player's set
    Show();
    ASSERT_EQ(dialogs->Shown.size(), 1u);
    EXPECT_NE(dialogs->Shown[0].Text.find("libclipwell-missing.so.1"), std::string::npos);
    EXPECT_FALSE(frm->isVisible());
}

TEST_F(WindowTest, ContactMenuOpensBelowTheButtonAndHandsAddressesToTheDesktop) {
    Show();
    QTest::mousePress(frm->tbContact, Qt::RightButton);
    EXPECT_FALSE(frm->pmContact->isVisible());
    QTest::mousePress(frm->tbContact, Qt::LeftButton);
    ASSERT_TRUE(frm->pmContact->isVisible());
    QPoint below = frm->mapToGlobal(
        QPoint(frm->tbMenu->x() + frm->tbContact->x(), frm->tbContact->y() + frm->tbContact->height()));
    // Just below the button; moved left only as far as the screen's edge requires.
    EXPECT_EQ(frm->pmContact->y(), below.y());
    EXPECT_LE(frm->pmContact->x(), below.x());
    EXPECT_TRUE(frm->pmContact->x() == below.x() ||
                frm->pmContact->geometry().right() == frm->screen()->availableGeometry().right());
    frm->pmContact->hide();

    frm->pmOurSite->trigger();
    frm->pmNews->trigger();
    frm->pmEmail->trigger();
    ASSERT_EQ(dialogs->Urls.size(), 3u);
    EXPECT_EQ(dialogs->Urls[0].toString().toStdString(), "https://example.org/clipwell");
    EXPECT_EQ(dialogs->Urls[1].toString().toStdString(), "https://example.org/clipwell/news");
    const QUrl& mail = dialogs->Urls[2];
    EXPECT_EQ(mail.scheme().toStdString(), "mailto");
    EXPECT_EQ(mail.path().toStdString(), "support@example.org");
    QUrlQuery query(mail);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded).toStdString(), "Tamsel Free Clipwell 1.0");
    EXPECT_EQ(query.queryItemValue("Body", QUrl::FullyDecoded).toStdString(),
              "Welcome you for using this software!");
    EXPECT_TRUE(dialogs->Shown.empty()); // nothing is shown for a shell request
}

TEST(QtFileFilter, MatchesBothLetterCases) {
    EXPECT_EQ(QtFileFilter("Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;|All Files|*.*").toStdString(),
              "Audio Files (*.mp3 *.MP3 *.aac *.AAC *.wav *.WAV *.wma *.WMA *.ogg *.OGG);;All Files (*)");
    EXPECT_EQ(QtFileFilter("mp3 Files|*.mp3").toStdString(), "mp3 Files (*.mp3 *.MP3)");
}
