// How long installation work reports back: a phase, detail lines, progress
// and a cancel query. The controller fills it with calls that post to the
// UI thread; tests fill it with recorders; quietReporter() says nothing and
// is never cancelled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ember::launcher {

// What installation work is doing: the progress block shows the title, the
// Play button and the pause controls go by the phase.
enum class Phase { manifest, game, verify, download, prune, client, account, settings, launch, selfUpdate };

struct Reporter {
    std::function<void(Phase phase, const std::string& title)> phase;
    std::function<void(const std::string& line)> log;
    std::function<void(int step, int steps, uint64_t bytesDone, uint64_t bytesTotal)> progress;
    std::function<bool()> cancelled;
    // Bytes a download took from a kept part instead of the network: they
    // count as done in the next progress, but not in the rate.
    std::function<void(uint64_t bytes)> kept;

    // Each call is safe with an empty member.
    void sayPhase(Phase which, const std::string& title) const {
        if (phase) phase(which, title);
    }
    void sayLog(const std::string& line) const {
        if (log) log(line);
    }
    void sayProgress(int step, int steps, uint64_t bytesDone, uint64_t bytesTotal) const {
        if (progress) progress(step, steps, bytesDone, bytesTotal);
    }
    void sayKept(uint64_t bytes) const {
        if (kept) kept(bytes);
    }
    bool isCancelled() const { return cancelled ? cancelled() : false; }
};

}  // namespace ember::launcher
