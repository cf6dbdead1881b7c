// TfrmMain: creation, start-up, the two routines that switch groups of controls, and the contact
// menu. Playback and marks are in UnitMainPlayback.cpp, saving in UnitMainSave.cpp.
#include "UnitMain.h"

#include "AnchorLayout.h"
#include "MyUtils.h"
#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>

using namespace UnitConst;

TfrmMain::TfrmMain(std::unique_ptr<TDialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      FFConverter(std::make_unique<ZEVuzuzAVE>()), FFPlayer(std::make_unique<TFFPlayer>()),
      FDialogs(dialogs ? std::move(dialogs) : std::make_unique<TQtDialogs>()),
      FWorkflow(std::make_unique<TSaveWorkflow>(*FFConverter)), FTimeInfo(FWorkflow->FTimeInfo),
      FStreamInfo(FWorkflow->FStreamInfo), FSaveControl(FWorkflow->FControl) {
    setObjectName("frmMain");
    setMinimumSize(kBaseWidth, kBaseHeight);
    resize(kBaseWidth, kBaseHeight);
    setAcceptDrops(true);
    CreateActions();
    CreateControls();
    CreateKeys();
    CreateComponents();
    FSeekTimer = new QTimer(this);
    FSeekTimer->setSingleShot(true);
    FSeekTimer->setInterval(kSeekSpacing);
    connect(FSeekTimer, &QTimer::timeout, this, [this] {
        if (FSeekDeferred) IssueSeek();
    });
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

void TfrmMain::SetLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

void TfrmMain::ShowMessage(const std::string& text) {
    FDialogs->ShowMessage(this, TMsgKind::Plain, QGuiApplication::applicationDisplayName().toStdString(),
                          text);
}

void TfrmMain::ShowWarning(const std::string& text) {
    FDialogs->ShowMessage(this, TMsgKind::Warning, kWarningCaption, text);
}

namespace {
std::string Caption() {
    return Format(kCaptionFormat, kAppVersion);
}
} // namespace

void TfrmMain::FormCreate() {
    // The application's name, which message boxes take as their caption. Not its display name:
    // the platform would append that to every window title ("name.mp3 — … 1.0 — …").
    QCoreApplication::setApplicationName(QString::fromUtf8(kAppTitle));
    setWindowTitle(QString::fromStdString(Caption()));
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
    if (!FStartupFile.empty() && FLibsLoaded)
        QMetaObject::invokeMethod(
            this, [this] { OpenInputFile(FStartupFile); }, Qt::QueuedConnection);
}

// The file's name in the title, or the bare caption when none is open.
void TfrmMain::UpdateTitle() {
    std::string caption = Caption();
    if (!FWorkflow->InputFile.empty())
        caption = Format(kFileTitleFormat, ExtractFileName(FWorkflow->InputFile).c_str(), caption.c_str());
    setWindowTitle(QString::fromStdString(caption));
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
    FLibsLoaded = !failed;
    if (failed) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    ResetControls(0);
}

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
        stbPosition->SetSelStart(0);
        stbPosition->SetSelEnd(0);
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
        // The mark times go with the marks: texts of the previous file would be taken for marks.
        SetLabel(labTimeS, kZeroTime);
        SetLabel(labTimeE, kZeroTime);
    }
    bool on = bbPlay->isEnabled();
    for (QWidget* control : std::initializer_list<QWidget*>{bbStop, bbGotoFirst, bbGotoEnd, bbCutStartTime,
                                                            bbCutEndTime, stbPosition})
        SetControlEnabled(control, on);
    StopPrelisten();
    FControl.HoldPosition = false;
    FSeekDeferred = false; // a seek still waiting was meant for the file before
    FAfterSeek = nullptr;
    MarkEditDone(true, false);
    MarkEditDone(false, false);
    UpdateModeButtons();
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
                                         bbSelectAudio, bbDeleteAudio, cbLossless, stbPosition})
        SetControlEnabled(control, on);
    pbProgress->setVisible(!on);
    labProgress->setVisible(!on);
    actStopSave->setEnabled(!on);
    if (!on) {
        MarkEditDone(true, false);
        MarkEditDone(false, false);
    }
    UpdateModeButtons();
}

// ---- Files from outside: dropped on the window ---------------------------------------------------

namespace {
// The first local file of a drag, empty when it brings none.
QString DraggedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}
} // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    // Not while saving: Add File is disabled then.
    if (actAddRemoveFile->isEnabled() && !DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    QString file = DraggedFile(event->mimeData());
    if (!actAddRemoveFile->isEnabled() || file.isEmpty()) return;
    event->acceptProposedAction();
    // Opened after the drop has ended, so that the source is not held while messages show.
    std::string name = file.toStdString();
    QMetaObject::invokeMethod(
        this, [this, name] { OpenInputFile(name); }, Qt::QueuedConnection);
}

// ---- Contact menu ---------------------------------------------------------------------------

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tbContact && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        tbContactMouseDown(mouse->button(), mouse->position().toPoint());
        return true; // the menu takes the mouse; the button must not stay pressed
    }
    if ((watched == labTimeS || watched == labTimeE) && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        EditMark(watched == labTimeS);
        return true;
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
    query.addQueryItem("subject", QString::fromStdString(Caption()));
    query.addQueryItem("Body", QString::fromUtf8(kMailBody));
    url.setQuery(query);
    FDialogs->OpenUrl(url);
}
