// The platform's part of the default pipeline steps (steps_win32.cpp and
// its POSIX twin).
#pragma once

#include "launcher/app/pipeline.h"

namespace ember::launcher::app {

void addPlatformSteps(PipelineSteps& steps);

}  // namespace ember::launcher::app
