// launcher.log (one plain line per event) and the optional UI trace.
//
// logLine opens, appends and closes for every line, so any thread may log
// without a shared handle; a line that cannot be written is lost silently.
// The UI trace (ui-trace.log, only when EMBERLANE_UI_TRACE is on) keeps one
// handle open for the life of the process and flushes every line.
#pragma once

#include <cstdint>
#include <string>

namespace ember::launcher {

// Appends `text` and a line feed to launcher.log in the configuration folder.
void logLine(const std::string& text);
// EMBERLANE_UI_TRACE, read once per process: on when set, not empty and not
// starting with '0'.
bool traceEnabled();
// Writes one trace line when tracing is on (UI thread).
void trace(const std::string& text);

// The pure parts, exposed for tests.
// Whether a value of EMBERLANE_UI_TRACE (nullptr: not set) turns tracing on.
bool traceSwitchOn(const char* value);
// "%10llu %s\n": the tick right-aligned in ten columns, a space, the text.
std::string formatTraceLine(uint64_t tickMs, const std::string& text);

// Milliseconds since system start (GetTickCount64; natively a monotonic
// clock): the trace's time base.
uint64_t tickCount();
// The wall clock in Unix seconds (what config.json and the account service
// keep times in).
int64_t unixSeconds();

}  // namespace ember::launcher
