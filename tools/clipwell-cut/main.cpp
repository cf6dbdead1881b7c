// clipwell-cut: cuts audio files from the command line with the window's save workflow.
#include "CutCommands.h"

int main(int argc, char** argv) {
    return RunClipwellCut(std::vector<std::string>(argv + 1, argv + argc));
}
