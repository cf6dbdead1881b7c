// TfrmMain: saving through the workflow library.
#include "UnitMain.h"

void TfrmMain::bbSaveFileClick() {}
