// Message boxes, questions, file dialogs and shell requests of the window, behind one interface:
// TQtDialogs shows real dialogs; tests supply a scripted implementation.
#pragma once

#include <QString>
#include <memory>
#include <string>

class QWidget;
class QUrl;

enum class TMsgKind { Plain, Warning, Information };

// The state of an open or save dialog: its filter in the "Name|*.a;*.b|Name|*.*" form and the
// file name chosen last (UTF-8).
struct TFileDialog {
    std::string Filter;
    std::string FileName;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;

    // A message with an OK button. `owner` may be null.
    virtual void ShowMessage(QWidget* owner, TMsgKind kind, const std::string& caption,
                             const std::string& text) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(QWidget* owner, TMsgKind kind, const std::string& caption,
                          const std::string& text) = 0;
    // Open and save dialogs; true when a file was chosen (then in dialog.FileName).
    virtual bool ExecuteOpen(QWidget* owner, TFileDialog& dialog) = 0;
    virtual bool ExecuteSave(QWidget* owner, TFileDialog& dialog) = 0;
    // Hands a web page, a mail link or a folder to the desktop; false when nothing took it.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// QMessageBox, QFileDialog and QDesktopServices.
class TQtDialogs : public TDialogs {
public:
    void ShowMessage(QWidget* owner, TMsgKind kind, const std::string& caption,
                     const std::string& text) override;
    bool AskYesNo(QWidget* owner, TMsgKind kind, const std::string& caption,
                  const std::string& text) override;
    bool ExecuteOpen(QWidget* owner, TFileDialog& dialog) override;
    bool ExecuteSave(QWidget* owner, TFileDialog& dialog) override;
    bool OpenUrl(const QUrl& url) override;
};

// "Audio Files|*.MP3;*.AAC;|All Files|*.*" as a Qt name filter list that matches both letter
// cases: "Audio Files (*.mp3 *.MP3 *.aac *.AAC);;All Files (*)".
QString QtFileFilter(const std::string& filter);
