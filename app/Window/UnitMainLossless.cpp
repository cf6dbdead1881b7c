// The lossless toggle beside the mode buttons. Its state is the save control's Lossless flag and
// stays as it is for as long as the window lives, across files and saves.
#include "UnitConst.h"
#include "UnitMain.h"

#include "SaveWorkflow.h"

#include <QCheckBox>

using namespace UnitConst;

void TfrmMain::CreateLosslessToggle() {
    cbLossless = new QCheckBox(QString::fromUtf8(kLossless), this);
    cbLossless->setObjectName("cbLossless");
    cbLossless->setGeometry(160, 161, 84, 25); // left of the trim and mode buttons
    cbLossless->setToolTip(QString::fromUtf8(kHintLossless));
    cbLossless->setChecked(FSaveControl.Lossless);
    connect(cbLossless, &QCheckBox::toggled, this, [this](bool on) { FSaveControl.Lossless = on; });
}
