// What the preflight and the pipeline share inside the controller library
// (the screens use pipeline.h).
#pragma once

#include <string>

#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"

namespace ember::launcher::app {

// The launcher block alone: what self-update needs from a manifest.
Manifest launcherBlockOf(const Manifest& m);
// Whether the launcher build `build` is offered as an update.
bool offerFor(const Manifest& build, const Config& config, const std::string& digest);

}  // namespace ember::launcher::app
