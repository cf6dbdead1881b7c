// Clipwell: the desktop audio cutter's window. `clipwell FILE` opens FILE at start.
#include "QtMainThread.h"
#include "UnitMain.h"

#include <QApplication>
#include <QFileInfo>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv); // takes out Qt's own arguments
    // Qt adopts the user's locale; numbers in option texts and the media libraries' own parsing
    // must keep reading "0.5" as a half whatever the user's decimal separator.
    std::setlocale(LC_NUMERIC, "C");
    InstallQtMainThread();
    TfrmMain frmMain;
    // The first argument is the file to open (a desktop entry passes one); the same checks as
    // Add File apply. An absolute name, so that the output folder is found as for a chosen file.
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1) frmMain.OpenAtStart(QFileInfo(arguments[1]).absoluteFilePath().toStdString());
    frmMain.show();
    return app.exec();
}
