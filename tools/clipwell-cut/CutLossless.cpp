#include "CutLossless.h"

std::string LosslessRefusalText(const std::string& question) {
    // The question is the reason, a blank line, then the offer to re-encode.
    std::string reason = question.substr(0, question.find("\n\n"));
    return reason + " Run without --lossless to save it by re-encoding.";
}
