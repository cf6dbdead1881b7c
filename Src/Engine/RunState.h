// State that one run of the engine builds and releases.
#pragma once

#include "FFmpeg.h"

struct TRunState {};
