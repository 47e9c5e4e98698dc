// The settings the player changes: each is saved to config.json (on the
// install worker, a failed write shown as a notice) and, where it changes
// what the launcher installs, followed by a preflight.
#include "launcher/app/pipeline.h"

#include "launcher/app/controller.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace ember::launcher::app {

void saveSettings() {
    AppState& s = state();
    if (s.demo) return;
    writeSettings(s.config, [] {
        logLine("settings: could not write " + configPath());
        // One notice says it while it is shown, however often it happens again.
        for (const Notice& n : state().notices) {
            if (n.title == text::kLauncherSettingsNotSaved) return;
        }
        pushError(text::kLauncherSettingsNotSaved, configPath());
    });
}


void setIgnoreVersion(bool on) {
    AppState& s = state();
    s.config.ignoreVersion = on;
    saveSettings();
    logLine(on ? "the game version check is off" : "the game version check is on");
}


std::string speedLimitProblem(std::string_view input, uint32_t& tenths) {
    tenths = 0;
    const std::string_view text = trim(input);
    if (text.empty()) return std::string();  // no limit
    // Digits, then at most one decimal after a point (or a comma).
    size_t digits = 0;
    uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (value <= kHighestLimitTenths) value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    value *= 10;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        if (i + 1 != text.size() || text[i] < '0' || text[i] > '9') return text::kSpeedLimitNotANumber;
        value += static_cast<uint64_t>(text[i] - '0');
        ++i;
    }
    if (digits == 0 || i != text.size()) return text::kSpeedLimitNotANumber;
    if (value < kLowestLimitTenths) return text::kSpeedLimitTooLow;
    if (value > kHighestLimitTenths) return text::kSpeedLimitTooHigh;
    tenths = static_cast<uint32_t>(value);
    return std::string();
}

void setSpeedLimit(const std::string& input) {
    AppState& s = state();
    uint32_t tenths = 0;
    const std::string problem = speedLimitProblem(input, tenths);
    if (!problem.empty()) {
        pushError(problem, "");
        return;
    }
    if (tenths == s.config.downloadLimitTenths) return;
    s.config.downloadLimitTenths = tenths;
    // The transfers running now go by it from their next read.
    http::setSpeedLimit(downloadLimitBytes(tenths));
    saveSettings();
    logLine(tenths == 0 ? std::string("download speed limit: off")
                        : "download speed limit: " + formatSpeedLimit(tenths) + " MB/s");
}

std::string formatSpeedLimit(uint32_t tenths) {
    if (tenths == 0) return std::string();
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
    return text;
}

void setChannel(const std::string& channel) {
    AppState& s = state();
    std::string wanted = channel == "dev" ? "dev" : "";
    if (wanted == s.config.channel) return;
    s.config.channel = wanted;
    saveSettings();
    logLine("channel: " + (wanted.empty() ? std::string("stable") : wanted));
    preflight();
}

std::string manifestUrlProblem(std::string_view input) {
    const std::string_view url = trim(input);
    return url.empty() || isWebAddress(url) ? std::string() : std::string(text::kNotAWebAddress);
}

void setManifestUrl(const std::string& input) {
    AppState& s = state();
    const std::string problem = manifestUrlProblem(input);
    if (!problem.empty()) {
        pushError(problem, "");
        return;
    }
    const std::string url(trim(input));
    s.config.manifestUrl = url;
    saveSettings();
    preflight();
}

void resetLauncher() {
    AppState& s = state();
    // The old file goes first, on the worker that writes the new one.
    if (!s.demo) runInstallTask([] { removeFile(configPath()); });
    // What was accepted is not a setting: a reset must not let an older
    // manifest back in.
    std::map<std::string, AcceptedManifest> accepted = s.config.acceptedManifests;
    s.config = Config();
    s.config.acceptedManifests = accepted;
    http::setSpeedLimit(0);
    s.fault = Fault();
    s.blocker = Blocker();
    s.notices.clear();
    saveSettings();
    logLine("the launcher was reset");
    preflight();
}

void restartAsAdministrator() {
    if (pipelineSteps().restartElevated && pipelineSteps().restartElevated()) {
        logLine("restarting as administrator");
        quit();
        return;
    }
    pushError(text::kRestartRefused, "");
}


}  // namespace ember::launcher::app
