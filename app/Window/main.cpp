// Clipwell: the desktop audio cutter's window. `clipwell FILE` opens FILE at start.
#include "QtMainThread.h"
#include "UnitMain.h"

#include <QApplication>
#include <QFileInfo>

#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsageText =
    "Usage: clipwell [FILE]\n"
    "       clipwell --help | --version\n"
    "\n"
    "Clipwell, a desktop audio cutter: opens FILE (MP3, AAC, WAV, WMA or OGG) when one is given;\n"
    "set a start and an end mark, then save the marked segment, or the file without it.\n"
    "\n"
    "Options:\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "The options of the Qt toolkit (-platform NAME, -display DISPLAY, ...) are taken as well.\n";

// --help and --version are answered on stdout before Qt starts, so they need no display.
bool AnswerInfoOption(int argc, char** argv) {
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        std::fputs(kUsageText, stdout);
    else if (std::strcmp(argv[1], "--version") == 0)
        std::printf("clipwell %s\n", CLIPWELL_VERSION);
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOption(argc, argv)) return 0;
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
