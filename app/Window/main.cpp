// Clipwell: the desktop audio cutter's window.
#include "QtMainThread.h"
#include "UnitMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InstallQtMainThread();
    TfrmMain frmMain;
    frmMain.show();
    return app.exec();
}
