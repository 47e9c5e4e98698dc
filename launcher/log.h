// launcher.log (one plain line per event) and the optional UI trace.
#pragma once

#include <string>

namespace ember::launcher {

void logLine(const std::string& text);
bool traceEnabled();
void trace(const std::string& text);

}  // namespace ember::launcher
