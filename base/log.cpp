// launcher.log and the UI trace, on top of the file layer.
#include "base/log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>

#include "base/paths.h"

namespace ember::launcher {

namespace {

// The trace's file, opened once on first use and kept open until the
// process ends; null when it could not be opened.
std::FILE* traceFile() {
    static std::FILE* file = openFile(joinPath(configDir(), "ui-trace.log"), "ab");
    return file;
}

}  // namespace

void logLine(const std::string& text) {
    // One write of the whole line, so lines never mix. The lock keeps this
    // process's threads from appending at the same moment: Wine (unlike
    // Windows) finds the end of the file and writes in two steps, so two
    // handles appending together could overwrite each other's line.
    static std::mutex appending;
    std::string line = text + "\n";
    std::string path = joinPath(configDir(), "launcher.log");
    std::lock_guard<std::mutex> hold(appending);
    appendToFile(path, line);
}

bool traceSwitchOn(const char* value) {
    return value && value[0] != '\0' && value[0] != '0';
}

bool traceEnabled() {
    static const bool enabled = [] {
        std::optional<std::string> value = environmentVariable("EMBERLANE_UI_TRACE");
        return traceSwitchOn(value ? value->c_str() : nullptr);
    }();
    return enabled;
}

std::string formatTraceLine(uint64_t tickMs, const std::string& text) {
    char tick[32];
    std::snprintf(tick, sizeof tick, "%10llu ", static_cast<unsigned long long>(tickMs));
    return tick + text + "\n";
}

void trace(const std::string& text) {
    if (!traceEnabled()) return;
    std::FILE* file = traceFile();
    if (!file) return;
    std::string line = formatTraceLine(tickCount(), text);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}

int64_t unixSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace ember::launcher
