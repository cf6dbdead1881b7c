// What clipwell-cut prints for the lossless mode's questions, which it answers No.
#pragma once

#include <string>

// The reason of a refused lossless copy (the workflow's question), with the way to re-encode.
std::string LosslessRefusalText(const std::string& question);
