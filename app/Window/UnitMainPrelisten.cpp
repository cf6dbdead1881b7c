// TfrmMain: prelisten. Plays what a save would write, with the player's own positions as the
// clock: in select mode the selection, pausing at the end mark; in delete mode the seconds before
// the start mark and then, straight on, the seconds after the end mark, so that the seam sounds
// as it will be written.
#include "UnitMain.h"

#include "UnitConst.h"

#include <QAction>
#include <algorithm>

using namespace UnitConst;

namespace {
// A report this close to where a phase started playing comes from the new place; reports before
// it may still come from where the player was (its clock moves only once new audio plays).
constexpr int64_t kArmBefore = 1500000; // µs; seeks land up to about a second early
constexpr int64_t kArmAfter = 500000; // the first report after a jump while playing may be late
} // namespace

void TfrmMain::actPrelistenExecute() {
    if (!actPrelisten->isEnabled() || FTimeInfo.EndMark <= FTimeInfo.StartMark) return;
    int64_t start = FTimeInfo.StartMark * 1000, end = FTimeInfo.EndMark * 1000;
    FControl.Following = true;
    if (FSaveControl.TrimMode != 2)
        StartPrelistenPhase(TPrelisten::Selection, start);
    else if (start > 0)
        StartPrelistenPhase(TPrelisten::BeforeSeam, std::max<int64_t>(0, start - kPrelistenSpan));
    else
        StartPrelistenPhase(TPrelisten::AfterSeam, end);
}

void TfrmMain::StartPrelistenPhase(TPrelisten phase, int64_t from) {
    FPrelisten = phase;
    FPrelistenFrom = from;
    FPrelistenArmed = false;
    FControl.HoldPosition = false;
    ShowPosition(from);
    // Plays once the player has the request: not a moment of the place it was at.
    SeekPlayer(from, [this] {
        if (FPrelisten != TPrelisten::Off) FFPlayer->Resume();
    });
}

void TfrmMain::StopPrelisten() {
    FPrelisten = TPrelisten::Off;
}

void TfrmMain::PrelistenPosition(int64_t APTS) {
    if (!FPrelistenArmed) {
        FPrelistenArmed = APTS >= FPrelistenFrom - kArmBefore && APTS <= FPrelistenFrom + kArmAfter;
        if (!FPrelistenArmed) return;
    }
    int64_t start = FTimeInfo.StartMark * 1000, end = FTimeInfo.EndMark * 1000;
    switch (FPrelisten) {
    case TPrelisten::Selection:
        if (APTS < end) return;
        // Paused at the end mark, shown exactly there.
        StopPrelisten();
        FFPlayer->Pause();
        MoveTo(end);
        return;
    case TPrelisten::BeforeSeam:
        if (APTS < start) return;
        if (FTimeInfo.TotalTime > 0 && end >= FTimeInfo.TotalTime) {
            StopPrelisten(); // nothing follows the end mark
            FFPlayer->Pause();
            MoveTo(start);
        } else {
            StartPrelistenPhase(TPrelisten::AfterSeam, end);
        }
        return;
    case TPrelisten::AfterSeam: {
        int64_t stop = FPrelistenFrom + kPrelistenSpan;
        if (FTimeInfo.TotalTime > 0) stop = std::min(stop, FTimeInfo.TotalTime);
        if (APTS < stop) return;
        StopPrelisten();
        FFPlayer->Pause();
        return;
    }
    case TPrelisten::Off:
        return;
    }
}
