#include "Dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QMessageBox::Icon IconOf(TMsgKind kind) {
    switch (kind) {
    case TMsgKind::Warning:
        return QMessageBox::Warning;
    case TMsgKind::Information:
        return QMessageBox::Information;
    case TMsgKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

// The folder to start a dialog in: that of the last name chosen.
QString StartPath(const TFileDialog& dialog) {
    return Q(dialog.FileName);
}

} // namespace

QString QtFileFilter(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& raw : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            QString pattern = raw.trimmed();
            if (pattern == "*.*" || pattern == "*") {
                patterns << "*";
                continue;
            }
            for (const QString& variant : {pattern.toLower(), pattern.toUpper()})
                if (!patterns.contains(variant)) patterns << variant;
        }
        result << QString("%1 (%2)").arg(parts[i].trimmed(), patterns.join(' '));
    }
    return result.join(";;");
}

void TQtDialogs::ShowMessage(QWidget* owner, TMsgKind kind, const std::string& caption,
                             const std::string& text) {
    QMessageBox box(IconOf(kind), Q(caption), Q(text), QMessageBox::Ok, owner);
    box.exec();
}

bool TQtDialogs::AskYesNo(QWidget* owner, TMsgKind kind, const std::string& caption,
                          const std::string& text) {
    QMessageBox box(IconOf(kind), Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool TQtDialogs::ExecuteOpen(QWidget* owner, TFileDialog& dialog) {
    QString name =
        QFileDialog::getOpenFileName(owner, QString(), StartPath(dialog), QtFileFilter(dialog.Filter));
    if (name.isEmpty()) return false;
    dialog.FileName = name.toStdString();
    return true;
}

bool TQtDialogs::ExecuteSave(QWidget* owner, TFileDialog& dialog) {
    // The window asks before replacing a file itself.
    QString name =
        QFileDialog::getSaveFileName(owner, QString(), StartPath(dialog), QtFileFilter(dialog.Filter),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return false;
    dialog.FileName = name.toStdString();
    return true;
}

bool TQtDialogs::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
