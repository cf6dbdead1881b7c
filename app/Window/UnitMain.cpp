// TfrmMain: creation, start-up, the two routines that switch groups of controls, and the contact
// menu. Playback and marks are in UnitMainPlayback.cpp, saving in UnitMainSave.cpp.
#include "UnitMain.h"

#include "MyUtils.h"
#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>

using namespace UnitConst;

TfrmMain::TfrmMain(std::unique_ptr<TDialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      FFConverter(std::make_unique<ZEVuzuzAVE>()), FFPlayer(std::make_unique<TFFPlayer>()),
      FDialogs(dialogs ? std::move(dialogs) : std::make_unique<TQtDialogs>()),
      FWorkflow(std::make_unique<TSaveWorkflow>(*FFConverter)), FTimeInfo(FWorkflow->FTimeInfo),
      FStreamInfo(FWorkflow->FStreamInfo), FSaveControl(FWorkflow->FControl) {
    setObjectName("frmMain");
    setFixedSize(704, 246);
    CreateActions();
    CreateControls();
    CreateComponents();
    FormCreate();
}

// The components go before the controls and the state records. The player first: until it has
// stopped it reports positions into the records and draws into the play screen. Then the
// workflow, which releases the component's events, and the component, which stops its tasks.
TfrmMain::~TfrmMain() {
    FFPlayer.reset();
    FWorkflow.reset();
    FFConverter.reset();
}

void TfrmMain::CreateComponents() {
    FFPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t duration, int frameWidth, int frameHeight,
                                  int& screenWidth, int& screenHeight) {
        FFPlayerFileOpen(duration, frameWidth, frameHeight, screenWidth, screenHeight);
    };
    FFPlayer->OnPosition = [this](TCustomPlayer*, int64_t pts) { FFPlayerPosition(pts); };
    FFPlayer->OnState = [this](TCustomPlayer*, TPlayState state) { FFPlayerState(PlayStateNumber(state)); };
    ConnectWorkflow();
}

int TfrmMain::Tag(const QObject* control) {
    return control->property("Tag").toInt();
}

void TfrmMain::SetControlEnabled(QWidget* control, bool enabled) {
    if (auto* action = qobject_cast<QAction*>(control->property("action").value<QObject*>()))
        action->setEnabled(enabled);
    else
        control->setEnabled(enabled);
}

void TfrmMain::ShowMessage(const std::string& text) {
    FDialogs->ShowMessage(this, TMsgKind::Plain, QGuiApplication::applicationDisplayName().toStdString(),
                          text);
}

void TfrmMain::ShowWarning(const std::string& text) {
    FDialogs->ShowMessage(this, TMsgKind::Warning, kWarningCaption, text);
}

void TfrmMain::FormCreate() {
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kAppTitle));
    setWindowTitle(QString::fromStdString(Format(kCaptionFormat, kAppVersion)));
    bbAddRemoveFile->setFocus();
    odInputFile.Filter = kInputFilter;
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (FShown) return;
    FShown = true;
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    bbAddRemoveFile->setFocus();
    FormShow();
}

void TfrmMain::FormShow() {
    std::string folder = GetAppPath() + kLibraryFolder;
    bool failed = false;
    // Both sets are tried, so that each failure shows its own message.
    if (!FFConverter->LoadAVLib(folder)) {
        ShowMessage(FFConverter->LastErrMsg);
        failed = true;
    }
    if (!FFPlayer->LoadAVLib(folder)) {
        ShowMessage(FFPlayer->LastErrMsg);
        failed = true;
    }
    if (failed) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    ResetControls(0);
}

namespace {
void SetLabel(QLabel* label, const std::string& text) {
    label->setText(QString::fromStdString(text));
    label->adjustSize();
}
} // namespace

void TfrmMain::ResetControls(int Mode) {
    if (Mode == 0) {
        bbPlay->setEnabled(false);
        SetControlEnabled(bbSelectAudio, bbPlay->isEnabled());
        SetControlEnabled(bbDeleteAudio, bbPlay->isEnabled());
        SetControlEnabled(bbSaveFile, bbPlay->isEnabled());
        pbProgress->hide();
        FTimeInfo = rTimeInfo{};
        FSaveControl.TrimMode = 0;
        stbPosition->SetPosition(0);
        for (QLabel* label : {labTimeS, labTimeE, labRunTime, labTotalTime})
            SetLabel(label, kZeroTime);
    } else if (Mode == 1) {
        bbPlay->setEnabled(true);
        panInformation->hide();
        SetControlEnabled(bbSelectAudio, !bbPlay->isEnabled());
        SetControlEnabled(bbDeleteAudio, !bbPlay->isEnabled());
        SetControlEnabled(bbSaveFile, !bbPlay->isEnabled());
        pbProgress->hide();
        FTimeInfo.StartMark = 0;
        FTimeInfo.EndMark = 0;
        FSaveControl.TrimMode = 0;
        stbPosition->SetPosition(0);
    }
    bool on = bbPlay->isEnabled();
    for (QWidget* control : std::initializer_list<QWidget*>{bbStop, bbGotoFirst, bbGotoEnd, bbCutStartTime,
                                                            bbCutEndTime, stbPosition})
        SetControlEnabled(control, on);
}

void TfrmMain::SetBusy(int Mode) {
    if (Mode == 0) {
        bbSaveFile->setProperty("Tag", 1);
        bbSaveFile->setText(QString::fromUtf8(kStop));
        SetControlEnabled(bbAddRemoveFile, false);
        // A new run starts from nothing rather than from the last run's 100 %.
        pbProgress->setValue(0);
        SetLabel(labProgress, "Progress: 0.00%");
        labProgress->setFixedWidth(100);
    } else if (Mode == 1) {
        bbSaveFile->setProperty("Tag", 0);
        bbSaveFile->setText(QString::fromUtf8(kSaveFile));
        SetControlEnabled(bbAddRemoveFile, true);
    }
    bool on = bbAddRemoveFile->isEnabled();
    for (QWidget* control :
         std::initializer_list<QWidget*>{bbPlay, bbStop, bbGotoFirst, bbGotoEnd, bbCutStartTime, bbCutEndTime,
                                         bbSelectAudio, bbDeleteAudio, stbPosition})
        SetControlEnabled(control, on);
    pbProgress->setVisible(!on);
    labProgress->setVisible(!on);
}

// ---- Contact menu ---------------------------------------------------------------------------

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tbContact && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        tbContactMouseDown(mouse->button(), mouse->position().toPoint());
        return true; // the menu takes the mouse; the button must not stay pressed
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::tbContactMouseDown(Qt::MouseButton Button, QPoint) {
    if (Button != Qt::LeftButton) return;
    QPoint point(tbMenu->x() + tbContact->x(), tbContact->y() + tbContact->height());
    pmContact->popup(mapToGlobal(point));
}

void TfrmMain::pmOurSiteClick() {
    FDialogs->OpenUrl(QUrl(QString::fromUtf8(kSiteUrl).toLower()));
}

void TfrmMain::pmNewsClick() {
    FDialogs->OpenUrl(QUrl(QString::fromUtf8(kNewsUrl).toLower()));
}

void TfrmMain::pmEmailClick() {
    QUrl url;
    url.setScheme("mailto");
    url.setPath(QString::fromUtf8(kSupportAddress));
    QUrlQuery query;
    query.addQueryItem("subject", windowTitle());
    query.addQueryItem("Body", QString::fromUtf8(kMailBody));
    url.setQuery(query);
    FDialogs->OpenUrl(url);
}
