// The real main window with scripted dialogs.
#pragma once

#include "PlayScreen.h"
#include "ScriptedDialogs.h"
#include "TrackBar.h"
#include "UnitMain.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { Create(); }
    void TearDown() override { frm.reset(); }

    void Create() {
        auto scripted = std::make_unique<TScriptedDialogs>();
        dialogs = scripted.get();
        frm = std::make_unique<TfrmMain>(std::move(scripted));
    }
    // Shows the window (start-up runs) and handles what start-up posted.
    void Show() {
        frm->show();
        QCoreApplication::processEvents();
    }
    std::string Text(const QLabel* label) const { return label->text().toStdString(); }

    std::unique_ptr<TfrmMain> frm;
    TScriptedDialogs* dialogs = nullptr;
};
