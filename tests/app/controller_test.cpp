// The controller's machinery: workers, hand-off, reporter throttle and rate,
// account generations, housekeeping and shutdown.
#include "launcher/app/controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "tests/app/ui_loop.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::Started;


// Waits (briefly polling) for a flag another thread sets; false on time-out
// so a broken worker fails the test instead of hanging it.
bool waitFor(const std::atomic<bool>& flag, int ms = 10000) {
    for (int i = 0; i < ms && !flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag.load();
}

TEST(Workers, RunInOrderEachAndInParallelWithEachOther) {
    Started c;
    // Order: results posted by the install worker arrive in submission order.
    std::vector<int> seen;
    for (int i = 0; i < 40; ++i) {
        app::runInstallTask([i] { app::postToUi([i] { app::state().plan.downloadCount = static_cast<size_t>(i) + 1; }); });
        app::runInstallTask([&seen, i] { app::postToUi([&seen, i] { seen.push_back(i); }); });
    }
    ASSERT_TRUE(c.ui.runUntil([&] { return seen.size() == 40; }));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(seen[i], i) << "install tasks ran out of order";
    EXPECT_EQ(app::state().plan.downloadCount, 40u);

    // Parallel: the install task waits for something only the account
    // worker does; run one after the other it would time out.
    std::atomic<bool> accountRan{false}, installSawIt{false};
    app::runInstallTask([&] { installSawIt = waitFor(accountRan); });
    app::runAccountTask([&] { accountRan = true; });
    EXPECT_TRUE(waitFor(installSawIt)) << "the two workers did not run side by side";
}

TEST(Workers, QueuedTasksAreDroppedAtShutdownAndAStuckWorkerIsLeftBehind) {
    auto c = std::make_unique<Started>();
    std::atomic<bool> release{false}, started{false}, laterRan{false}, checked{false};
    std::atomic<bool> sawCancel{false}, sawQuietCancel{false};
    app::runInstallTask([&] {
        started = true;
        waitFor(release, 20000);
        // Back from its "blocking call" after a new controller lowered the
        // process-wide flags: this worker still sees itself stopped.
        sawCancel = app::reporter().isCancelled();
        sawQuietCancel = app::quietReporter().isCancelled();
        checked = true;
    });
    // The queued task holds `alive` until the worker drops it unrun.
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> alive = sentinel;
    app::runInstallTask([&laterRan, sentinel] { laterRan = true; });
    sentinel.reset();
    ASSERT_TRUE(waitFor(started));
    // The first task is inside a "blocking call": shutdown gives up on that
    // worker and leaves it; the account worker ends normally.
    EXPECT_EQ(app::shutdownWorkers(), 1);
    EXPECT_TRUE(app::stopping.load());
    EXPECT_TRUE(app::cancelRequested.load());
    EXPECT_TRUE(app::abortChallenge.load());
    EXPECT_TRUE(app::quietReporter().isCancelled());
    c.reset();
    Started next;
    EXPECT_FALSE(app::stopping.load());
    release = true;
    ASSERT_TRUE(waitFor(checked));
    for (int i = 0; i < 10000 && !alive.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(alive.expired()) << "the left-behind worker kept its queue";
    EXPECT_FALSE(laterRan.load()) << "a task queued behind the running one ran after shutdown";
    EXPECT_TRUE(sawCancel.load()) << "a left-behind worker saw the next controller's lowered cancel flag";
    EXPECT_TRUE(sawQuietCancel.load());
}

TEST(Workers, WithoutWindowOrInDemoNothingRuns) {
    {
        Started c(true);
        std::atomic<bool> ran{false};
        // Dropped at once, unrun: nothing holds the task once the call returns.
        auto sentinel = std::make_shared<int>(0);
        app::runInstallTask([&ran, sentinel] { ran = true; });
        app::runAccountTask([&ran, sentinel] { ran = true; });
        EXPECT_EQ(sentinel.use_count(), 1) << "demo mode queued a task";
        EXPECT_FALSE(ran.load()) << "demo mode has no workers";
        EXPECT_EQ(app::state().version, "2.1.0");
    }
    Started c;
    app::forgetWindow();
    bool ran = false;
    app::postToUi([&] { ran = true; });
    c.ui.drain();
    EXPECT_FALSE(ran) << "a closure posted after the window went must be discarded";
}

TEST(Reporter, ThrottleLetsThroughCompletionAndOneCallPer100ms) {
    const uint64_t never = std::numeric_limits<uint64_t>::max();
    struct Case {
        int step, steps;
        uint64_t done, total, now, last;
        bool passes;
    } cases[] = {
        {0, 0, 0, 100, 1000, never, true},   // the first call
        {1, 5, 10, 100, 1050, 1000, false},  // 50 ms after the last
        {1, 5, 10, 100, 1099, 1000, false},
        {1, 5, 10, 100, 1100, 1000, true},   // 100 ms
        {5, 5, 10, 100, 1010, 1000, true},   // complete by count
        {1, 0, 100, 100, 1010, 1000, true},  // complete by bytes
        {1, 0, 0, 0, 1010, 1000, false},     // no totals: not "complete"
        {1, 5, 10, 100, 900, 1000, false},   // clock behind the last call
    };
    for (const Case& k : cases) {
        EXPECT_EQ(app::progressPasses(k.step, k.steps, k.done, k.total, k.now, k.last), k.passes)
            << "step " << k.step << "/" << k.steps << " bytes " << k.done << "/" << k.total << " at " << k.now;
    }

    // Through the real reporter on a worker, with a fake clock: 1000 calls
    // 1 ms apart post 10 updates plus the completion, and the block shows
    // the last values.
    Started c;
    std::atomic<uint64_t> fake{5000};
    app::setClock([&] { return fake.load(); });
    app::state().busy = true;
    app::state().operation = app::Operation();
    std::atomic<bool> finished{false};
    app::runInstallTask([&] {
        app::Reporter r = app::reporter();
        app::Reporter copy = r;  // copies share the throttle
        for (int i = 1; i <= 1000; ++i) {
            fake += 1;
            (i % 2 ? r : copy).sayProgress(i, 1000, 0, 0);
        }
        finished = true;
    });
    ASSERT_TRUE(waitFor(finished));
    size_t posts = c.ui.pending();
    EXPECT_EQ(posts, 11u) << "expected one post per 100 ms and the completion";
    c.ui.drain();
    EXPECT_EQ(app::state().operation->step, 1000);
    EXPECT_TRUE(app::state().operation->indeterminate);
}

TEST(Reporter, RateIsSmoothedAndTimeLeftFollowsIt) {
    // (time, bytes done) samples of a 10 MB download, and the rate and time
    // left the block must show after each.
    struct Step {
        uint64_t at, done;
        double rate, eta;
    } steps[] = {
        {1000, 0, 0, 0},                  // first sample: only recorded
        {1200, 200000, 0, 0},             // under 500 ms: no rate yet
        {1500, 1000000, 2000000, 4.5},    // 1 MB in 500 ms
        {2500, 2000000, 1700000, 8000000.0 / 1700000},  // 1 MB/s smoothed: 0.3*1M + 0.7*2M
        {2600, 2500000, 1700000, 7500000.0 / 1700000},  // too soon to resample
        {3500, 1900000, 1700000, 8100000.0 / 1700000},  // bytes went back: no new sample
        {4500, 10000000, 0.3 * 8000000 / 2 + 0.7 * 1700000, 0},
        {5500, 10500000, 0.3 * 500000 + 0.7 * (0.3 * 8000000 / 2 + 0.7 * 1700000), 0},  // past the total
    };
    app::Operation op;
    for (const Step& s : steps) {
        app::applyProgress(op, 0, 0, s.done, 10000000, s.at);
        EXPECT_NEAR(op.bytesPerSecond, s.rate, 1e-6) << "rate at " << s.at;
        EXPECT_NEAR(op.etaSeconds, s.eta, 1e-6) << "time left at " << s.at;
        EXPECT_FALSE(op.indeterminate);
    }
    // No byte total: indeterminate, rate and time left untouched.
    app::Operation before = op;
    app::applyProgress(op, 3, 9, 123, 0, 9000);
    EXPECT_TRUE(op.indeterminate);
    EXPECT_EQ(op.bytesPerSecond, before.bytesPerSecond);
    EXPECT_EQ(op.etaSeconds, before.etaSeconds);
    EXPECT_EQ(op.step, 3);
}

TEST(Reporter, PhaseResetsTheBlockOnlyWhileBusy) {
    Started c;
    uint64_t fake = 7000;
    app::setClock([&] { return fake; });
    app::Reporter r = app::reporter();
    r.sayPhase(Phase::download, "Downloading");
    c.ui.drain();
    EXPECT_FALSE(app::state().operation) << "a phase outside an operation must not show a block";

    app::state().busy = true;
    app::state().operation = app::Operation();
    app::state().operation->bytesDone = 55;
    app::state().operation->bytesPerSecond = 9;
    r.sayPhase(Phase::verify, "Checking files");
    r.sayLog("detail line");
    c.ui.drain();
    ASSERT_TRUE(app::state().operation);
    EXPECT_EQ(app::state().operation->phase, Phase::verify);
    EXPECT_EQ(app::state().operation->bytesDone, 0u);
    EXPECT_EQ(app::state().operation->bytesPerSecond, 0);
    EXPECT_EQ(app::state().operation->startedAt, 7000u);
    EXPECT_TRUE(app::state().operation->indeterminate);
    std::string log = testing::fileText(joinPath(c.dir.path(), "launcher.log"));
    EXPECT_NE(log.find("Checking files\n  detail line\n"), std::string::npos) << log;
    EXPECT_FALSE(r.isCancelled());
    app::cancelOperation();
    EXPECT_TRUE(r.isCancelled());
    EXPECT_FALSE(app::quietReporter().isCancelled()) << "the quiet reporter follows only the shutdown";
}

TEST(AccountTasks, StaleAndCancelledResultsChangeNothing) {
    Started c;
    // Two actions back to back: the first finishes last and must be ignored.
    std::vector<std::string> applied;
    app::runAccountAction("LOGGING IN…", [&]() -> app::Task {
        return [&] { applied.push_back("first"); };
    });
    // The second starts before the first's result is applied.
    app::runAccountAction("CREATING…", [&]() -> app::Task { return [&] { applied.push_back("second"); }; });
    EXPECT_EQ(app::state().accountBusyLabel, "CREATING…");
    ASSERT_TRUE(c.ui.runUntil([&] { return !app::state().accountBusy; }));
    c.ui.runUntil([] { return false; }, 50);
    EXPECT_EQ(applied, std::vector<std::string>{"second"});

    // Cancel: the button is idle at once and the late reply is dropped.
    std::atomic<bool> release{false};
    app::runAccountAction("LOGGING IN…", [&]() -> app::Task {
        waitFor(release);
        return [&] { applied.push_back("cancelled"); };
    });
    app::cancelAccountTask();
    EXPECT_FALSE(app::state().accountBusy);
    EXPECT_TRUE(app::state().accountBusyLabel.empty());
    EXPECT_TRUE(app::abortChallenge.load());
    release = true;
    c.ui.runUntil([] { return false; }, 100);
    EXPECT_EQ(applied.size(), 1u) << "a cancelled sign-in's reply was applied";

    // During a rate-limit wait, cancelling does nothing; the wait ends by
    // the clock in the frame housekeeping.
    app::abortChallenge = false;
    app::state().accountBusy = true;
    app::state().accountBusyLabel = "WAITING";
    app::state().accountWaitUntil = 50000;
    uint64_t generation = app::state().accountGeneration;
    app::cancelAccountTask();
    EXPECT_TRUE(app::state().accountBusy);
    EXPECT_EQ(app::state().accountGeneration, generation);
    EXPECT_FALSE(app::abortChallenge.load());
    app::frameHousekeeping(49999);
    EXPECT_TRUE(app::state().accountBusy);
    app::frameHousekeeping(50000);
    EXPECT_FALSE(app::state().accountBusy);
    EXPECT_EQ(app::state().accountWaitUntil, 0u);
    EXPECT_TRUE(app::state().accountBusyLabel.empty());
}

TEST(Housekeeping, FinishedBlockLingers1201msAndErrorsGetUniqueIds) {
    Started c;
    app::AppState& s = app::state();
    s.operation = app::Operation();
    s.operation->finished = true;
    s.operation->finishedAt = 1000;
    app::frameHousekeeping(2200);
    EXPECT_TRUE(s.operation);
    s.busy = true;  // something else runs: it stays
    app::frameHousekeeping(2201);
    EXPECT_TRUE(s.operation);
    s.busy = false;
    app::frameHousekeeping(2201);
    EXPECT_FALSE(s.operation);

    app::pushError("Disk trouble", "E: is full");
    app::pushError(app::kAlreadyWorking, "");
    ASSERT_EQ(s.notices.size(), 2u);
    EXPECT_NE(s.notices[0].id, s.notices[1].id);
    EXPECT_EQ(s.notices[0].id.rfind("err", 0), 0u);
    EXPECT_EQ(app::spelling(s.notices[1].tone), "error");
    std::string log = testing::fileText(joinPath(c.dir.path(), "launcher.log"));
    EXPECT_NE(log.find("error: Disk trouble (E: is full)\nerror: The launcher is already working on that.\n"),
              std::string::npos)
        << log;

    // A restart closes the window when its time comes.
    s.closeAt = 9000;
    app::frameHousekeeping(8999);
    EXPECT_FALSE(c.ui.closed);
    app::frameHousekeeping(9000);
    EXPECT_TRUE(c.ui.closed);
    EXPECT_TRUE(app::cancelRequested.load());
    EXPECT_TRUE(app::cancelRequested.load());
}

}  // namespace
}  // namespace ember::launcher
