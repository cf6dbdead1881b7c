// window_screenshot OUTPUT.png: opens a generated MP3 in the real window, plays it, sets both
// marks and picks a mode, then saves a picture of the window with its waveform. Run it under Xvfb
// (xvfb-run -a build/bin/window_screenshot docs/screenshot.png); not part of the test run.
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "QtMainThread.h"
#include "ScriptedDialogs.h"
#include "TestMedia.h"
#include "TrackBar.h"
#include "UnitMain.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InstallQtMainThread();
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screenshot OUTPUT.png\n");
        return 2;
    }
    FFLoader().SetLibPath(GetExecutableFolder() + "Dll/");
    if (!FFLoader().LoadLibs(ConverterLibs)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
        return 1;
    }
    std::string file = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 42.5, 44100, 2, 128000});

    auto scripted = std::make_unique<TScriptedDialogs>();
    scripted->OpenNames.push_back(file);
    TfrmMain frm(std::move(scripted));
    frm.show();
    QTest::qWait(100);
    frm.actAddRemoveFile->trigger();

    auto waitPosition = [&](int64_t t) {
        return QTest::qWaitFor([&] { return frm.TimeInfo().PlayTime >= t; }, 20000);
    };
    // Marks at about 0:03 and 0:09, from the play position as a user would set them.
    frm.FFPlayer->Seek(3000000);
    if (!waitPosition(3000000)) return 1;
    frm.actCutStartTime->trigger();
    frm.FFPlayer->Seek(9000000);
    if (!waitPosition(9000000)) return 1;
    frm.actCutEndTime->trigger();
    frm.actDeleteAudio->trigger();
    waitPosition(11400000);
    QTest::qWait(200); // a few more frames of the waveform
    bool saved = frm.grab().save(QString::fromLocal8Bit(argv[1]));
    frm.FFPlayer->Stop(true);
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
