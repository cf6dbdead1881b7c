// Clipwell: the desktop audio cutter's window.
#include "QtMainThread.h"
#include "UnitMain.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt adopts the user's locale; numbers in option texts and the media libraries' own parsing
    // must keep reading "0.5" as a half whatever the user's decimal separator.
    std::setlocale(LC_NUMERIC, "C");
    InstallQtMainThread();
    TfrmMain frmMain;
    frmMain.show();
    return app.exec();
}
