// The transfer pool's rules: every job runs once and in order, never more
// than N at once; a failure or a cancel stops every later start and ends the
// jobs in flight, and only the first failure is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/install/transfer_pool.h"

namespace ember::launcher {
namespace {

// What a job does once started: land when the pool is as full as it may
// get, fail at once, or hang until the pool stops it.
enum class Act { Land, Fail, Hang };

TEST(TransferPool, RunsEachJobOnceAndStopsOnAFailureOrACancel) {
    struct Case {
        const char* name;
        int workers;
        std::vector<Act> acts;
        size_t cancelAtStarted;  // cancel once this many started (0: never)
        size_t cancelAtLanded;   // cancel once this many landed (0: never)
        size_t ran;              // jobs started; with a failure at most this many
        size_t landed;
        int failed;  // the job whose failure is reported, -1: none
        bool cancelled;
        int peak;  // most jobs at once, -1: not checked
    };
    const Act L = Act::Land, F = Act::Fail, H = Act::Hang;
    const Case cases[] = {
        {"every job once, three at once", 3, std::vector<Act>(12, L), 0, 0, 12, 12, -1, false, 3},
        {"one worker: one after another", 1, {L, L, L, L}, 0, 0, 4, 4, -1, false, 1},
        {"more workers than jobs", 6, {L, L}, 0, 0, 2, 2, -1, false, 2},
        // Job 1 fails while the others hang: nothing past the first three
        // starts, and the hung ones' endings are not the failure reported.
        {"a failure stops later starts", 3, {H, F, H, H, H, H, H, H}, 0, 0, 3, 0, 1, false, -1},
        {"one at a time: nothing after a failure", 1, {L, F, L, L, L}, 0, 0, 2, 1, 1, false, 1},
        {"a cancel stops new starts", 1, {L, L, L, L, L, L}, 0, 3, 3, 3, -1, true, 1},
        {"a cancel ends the jobs in flight, which are no failures", 3, std::vector<Act>(9, H), 3, 0, 3, 0, -1, true,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t count = c.acts.size();
        std::mutex lock;
        std::condition_variable change;
        std::vector<int> calls(count, 0);
        size_t started = 0;
        int inFlight = 0, peak = 0;
        std::vector<size_t> landed;

        TransferPool pool(c.workers);
        for (size_t i = 0; i < count; ++i) {
            pool.add([&, i](const TransferPool::Progress& progress, const TransferPool::Stopped& stopped) {
                std::unique_lock<std::mutex> guard(lock);
                ++calls[i];
                ++started;
                peak = std::max(peak, ++inFlight);
                change.notify_all();
                guard.unlock();
                progress(1);
                std::string failure;
                guard.lock();
                if (c.acts[i] == Act::Land) {
                    // Bounded (as the hang below), so that a broken pool
                    // fails the test instead of hanging it.
                    change.wait_for(guard, std::chrono::seconds(10),
                                    [&] { return inFlight >= c.workers || started == count; });
                } else if (c.acts[i] == Act::Fail) {
                    failure = "job " + std::to_string(i) + " failed";
                } else {
                    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                    while (!stopped() && std::chrono::steady_clock::now() < giveUp) {
                        change.wait_for(guard, std::chrono::milliseconds(1));
                    }
                    EXPECT_TRUE(stopped()) << "job " << i << " was never stopped";
                    failure = "stopped";
                }
                --inFlight;
                change.notify_all();
                return failure;
            });
        }
        TransferPool::Watch watch;
        watch.landed = [&](size_t job) { landed.push_back(job); };
        watch.cancelled = [&] {
            std::lock_guard<std::mutex> guard(lock);
            return (c.cancelAtStarted > 0 && started >= c.cancelAtStarted) ||
                   (c.cancelAtLanded > 0 && landed.size() >= c.cancelAtLanded);
        };
        const TransferPool::Result result = pool.run(watch);

        // Started in order, each at most once, and every one ended.
        EXPECT_EQ(inFlight, 0) << "a job outlived the pool";
        for (size_t i = 0; i < result.ran.size(); ++i) EXPECT_EQ(result.ran[i], i);
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(calls[i], i < result.ran.size() ? 1 : 0) << "job " << i;
        if (c.failed >= 0) {
            EXPECT_LE(result.ran.size(), c.ran) << "a job started after the failure";
            EXPECT_GT(result.ran.size(), static_cast<size_t>(c.failed));
        } else {
            EXPECT_EQ(result.ran.size(), c.ran);
        }
        EXPECT_EQ(landed.size(), c.landed);
        EXPECT_EQ(result.cancelled, c.cancelled);
        EXPECT_EQ(result.failure, c.failed >= 0 ? "job " + std::to_string(c.failed) + " failed" : "");
        if (c.failed >= 0) {
            EXPECT_EQ(result.failed, static_cast<size_t>(c.failed));
        }
        if (c.peak >= 0) {
            EXPECT_EQ(peak, c.peak) << "jobs at once";
        }
    }
}

}  // namespace
}  // namespace ember::launcher
