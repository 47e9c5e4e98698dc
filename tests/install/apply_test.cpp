// The download loop's rules over a fake transfer: how many run at once, in
// which order they start, what a cancel or a failure stops, which failure is
// reported and which files stay recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "launcher/install/apply.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

// What one fake file does once started.
enum class Act { Land, Fail, Hang };

struct Fake {
    std::vector<Act> acts;
    std::vector<int> delayMs;  // before it lands or fails
    std::mutex lock;
    std::vector<size_t> started;
    std::set<std::string> landed;
    std::atomic<int> running{0};
    std::atomic<int> most{0};

    FetchFile fetch(const Plan& plan) {
        return [this, &plan](const ManifestFile& entry, const std::string& target, const std::string&,
                             const std::function<void(uint64_t)>& progress, const std::function<bool()>& cancelled) {
            const size_t index = static_cast<size_t>(std::find_if(plan.download.begin(), plan.download.end(),
                                                                  [&](const ManifestFile& f) {
                                                                      return f.path == entry.path;
                                                                  }) -
                                                     plan.download.begin());
            {
                std::lock_guard<std::mutex> guard(lock);
                started.push_back(index);
            }
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            progress(1);
            std::string result;
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs[index]);
            while (result.empty()) {
                if (cancelled()) {
                    result = "cancelled";
                } else if (acts[index] != Act::Hang && std::chrono::steady_clock::now() >= until) {
                    if (acts[index] == Act::Fail) {
                        result = "HTTP 50" + std::to_string(index % 10);
                    } else {
                        createDirectories(parentDir(target));
                        writeFileAtomic(target, entry.path);
                        std::lock_guard<std::mutex> guard(lock);
                        landed.insert(entry.path);
                        break;
                    }
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
            --running;
            // A failure carries its kind with it to the loop's answer.
            if (result.empty()) return ApplyError();
            return ApplyError{result == "cancelled" ? ApplyFault::interrupted : ApplyFault::fileLocked, result};
        };
    }
};

Plan planOf(size_t count) {
    Plan plan;
    for (size_t i = 0; i < count; ++i) {
        const std::string path = "Emberlane/f" + std::to_string(i) + ".bin";
        plan.download.push_back(ManifestFile{path, std::string(64, 'a'), static_cast<int64_t>(path.size())});
        plan.downloadBytes += path.size();
    }
    return plan;
}

TEST(DownloadPlanned, InFlightOrderFailuresAndCancel) {
    struct Case {
        const char* name;
        int inFlight;
        std::vector<Act> acts;
        std::vector<int> delayMs;
        bool cancelAtSix;
        std::string error;
        int mostAtOnce;
    };
    const Act L = Act::Land, F = Act::Fail, H = Act::Hang;
    const Case cases[] = {
        {"one at a time", 1, {L, L, L, L, L}, {5, 0, 5, 0, 5}, false, "", 1},
        {"six at once", 6, std::vector<Act>(20, L), std::vector<int>(20, 20), false, "", 6},
        // File 1 fails first; file 3 fails later; file 4 would hang for ever.
        {"first failure", 6, {L, F, L, F, H, L, L, L}, {0, 40, 10, 200, 0, 5, 5, 5}, false,
         "Emberlane/f1.bin: HTTP 501", 0},
        {"cancel with six in flight", 6, std::vector<Act>(10, H), std::vector<int>(10, 0), true, "", 6},
        {"a failure while one at a time", 1, {L, F, L}, {0, 0, 0}, false, "Emberlane/f1.bin: HTTP 501", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir game, configDir;
        ScopedEnv env("EMBERLANE_CONFIG_DIR", configDir.path());
        Config config;
        Plan plan = planOf(c.acts.size());
        Fake fake;
        fake.acts = c.acts;
        fake.delayMs = c.delayMs;
        Reporter reporter;
        uint64_t lastBytes = 0;
        reporter.progress = [&](int, int steps, uint64_t bytes, uint64_t) {
            EXPECT_EQ(steps, static_cast<int>(c.acts.size()));
            lastBytes = bytes;
        };
        reporter.cancelled = [&] {
            std::lock_guard<std::mutex> guard(fake.lock);
            return c.cancelAtSix && fake.started.size() >= 6;
        };
        ApplyError error;
        const int done = downloadPlanned(game.path(), config, plan, reporter, fake.fetch(plan), c.inFlight, error);

        // A cancel is reported as itself, not as the transfers it ended; a
        // failure keeps the kind its transfer gave it.
        EXPECT_EQ(error.text, c.cancelAtSix ? "cancelled" : c.error);
        const ApplyFault kind = c.cancelAtSix         ? ApplyFault::cancelled
                                : c.error.empty() ? ApplyFault::none
                                                  : ApplyFault::fileLocked;
        EXPECT_EQ(static_cast<int>(error.kind), static_cast<int>(kind));
        EXPECT_EQ(fake.running, 0) << "a transfer outlived the loop";
        // 0: no more than the loop allows (a transfer that ends at once
        // may be gone before the sixth starts on a busy machine).
        if (c.mostAtOnce > 0) {
            EXPECT_EQ(fake.most, c.mostAtOnce);
        } else {
            EXPECT_LE(fake.most, c.inFlight);
        }
        // Started in plan order (the files started are the plan's first
        // ones), and none after a cancel or a failure.
        std::vector<size_t> order = fake.started;
        std::sort(order.begin(), order.end());
        for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
        if (c.cancelAtSix) {
            EXPECT_EQ(order.size(), 6u) << "a seventh transfer started";
        }
        if (c.name == std::string("a failure while one at a time")) {
            EXPECT_EQ(order.size(), 2u);
        }
        // Every file that landed is recorded, in memory and on disk, and
        // nothing else is.
        EXPECT_EQ(done, static_cast<int>(fake.landed.size()));
        const Config saved = loadConfig();
        std::set<std::string> recorded;
        for (const auto& entry : saved.installed) recorded.insert(entry.first);
        EXPECT_EQ(recorded, fake.landed);
        EXPECT_EQ(config.installed.size(), fake.landed.size());
        for (const std::string& path : fake.landed) {
            EXPECT_EQ(saved.installed.at(path).size, static_cast<int64_t>(path.size())) << path;
        }
        if (c.error.empty() && !c.cancelAtSix) {
            EXPECT_EQ(done, static_cast<int>(c.acts.size()));
            EXPECT_EQ(lastBytes, plan.downloadBytes);
        }
    }
}

}  // namespace
}  // namespace ember::launcher
