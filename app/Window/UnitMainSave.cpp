// TfrmMain: saving. The workflow library runs the save; the window supplies its dialogs, the busy
// state, the progress display and the event wait, and hands it the bar's marks.
#include "UnitMain.h"

#include "MyUtils.h"
#include "QtMainThread.h"
#include "TrackBar.h"
#include "UnitConst.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

namespace {
TMsgKind MsgKindOf(TPromptKind kind) {
    switch (kind) {
    case TPromptKind::Warning:
        return TMsgKind::Warning;
    case TPromptKind::Information:
        return TMsgKind::Information;
    case TPromptKind::Plain:
        break;
    }
    return TMsgKind::Plain;
}
} // namespace

void TfrmMain::ConnectWorkflow() {
    TWorkflowCallbacks& cb = FWorkflow->Callbacks;
    cb.ShowMessage = [this](TPromptKind kind, const std::string& caption, const std::string& text) {
        std::string shown =
            caption.empty() ? QGuiApplication::applicationDisplayName().toStdString() : caption;
        FDialogs->ShowMessage(this, MsgKindOf(kind), shown, text);
    };
    cb.AskYesNo = [this](TPromptKind kind, const std::string& caption, const std::string& text) {
        std::string shown =
            caption.empty() ? QGuiApplication::applicationDisplayName().toStdString() : caption;
        return FDialogs->AskYesNo(this, MsgKindOf(kind), shown, text);
    };
    cb.ChooseSaveFile = [this](const std::string& filter, std::string& fileName) {
        sdOutputFile.Filter = filter;
        if (!FDialogs->ExecuteSave(this, sdOutputFile)) return false;
        fileName = sdOutputFile.FileName;
        return true;
    };
    cb.SetBusy = [this](int mode) { SetBusy(mode); };
    cb.Progress = [this](int32_t position, const std::string& text) { FFConverterProgress(position, text); };
    cb.OpenFolder = [this](const std::string& folder) { OpenFolderOnDesktop(folder); };
    // Sleeps in Qt's event wait; the component's final event wakes it through Wake.
    cb.WaitForEvents = [](const std::function<bool()>& done) {
        while (!done())
            WaitForEvents();
    };
    cb.Wake = [] { WakeUiThread(); };
}

// Linux names are case-sensitive: the folder is opened as it is written. A desktop without a file
// manager takes nothing; the user answered Yes and is told, with the folder's name.
void TfrmMain::OpenFolderOnDesktop(const std::string& folder) {
    if (!FDialogs->OpenUrl(QUrl::fromLocalFile(QString::fromStdString(folder))))
        ShowWarning(Format(UnitConst::kCannotOpenFolder, folder.c_str()));
}

void TfrmMain::FFConverterProgress(int32_t position, const std::string& text) {
    QString label = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this,
        [this, position, label] {
            pbProgress->setValue(position);
            labProgress->setText(label);
        },
        Qt::QueuedConnection);
}

void TfrmMain::bbSaveFileClick() {
    if (Tag(bbSaveFile) == 0) {
        StopPrelisten();
        FFPlayer->Pause();
        FWorkflow->SelStart = stbPosition->SelStart();
        FWorkflow->SelEnd = stbPosition->SelEnd();
        FWorkflow->Save();
    } else {
        // Runs inside the waiting loop of the conversion in progress.
        FWorkflow->Stop();
    }
}

// Closing during a save stops it like the Stop button; the save then ends and the program with it.
void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FWorkflow->Busy()) FWorkflow->Stop();
    QWidget::closeEvent(event);
}
