// Workers, the UI hand-off, reporters, flags and housekeeping.
#include "launcher/app/controller.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "base/log.h"
#include "launcher/formats/config.h"
#include "launcher/net/http.h"

namespace ember::launcher::app {

std::atomic<bool> stopping{false};
std::atomic<bool> cancelRequested{false};
std::atomic<bool> abortChallenge{false};

namespace {

struct Worker;
// The worker whose thread this is; null on the UI thread and any other.
thread_local const Worker* tWorker = nullptr;

// A thread and its FIFO queue. Held by shared pointer so that a worker left
// behind at exit still owns what it touches.
struct Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> queue;
    std::thread thread;
    std::future<void> ended;
    // Raised by shutdownWorkers and never lowered. The process-wide flags
    // go down again when a new controller starts (tests start several), so
    // a worker left behind at exit goes by this one too: whatever it is
    // stuck in, once it comes back it runs nothing more and every
    // reporter it asks says "cancelled".
    std::atomic<bool> retired{false};

    bool mustStop() const { return stopping.load() || retired.load(); }

    void loop() {
        tWorker = this;
        for (;;) {
            Task task;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return mustStop() || !queue.empty(); });
                // Tasks still queued at shutdown are dropped unrun.
                if (mustStop()) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            // A task that throws must not take the launcher down with it.
            try {
                task();
            } catch (...) {
                logLine("a background task failed unexpectedly");
            }
        }
    }
};

std::shared_ptr<Worker> startWorker() {
    auto worker = std::make_shared<Worker>();
    auto done = std::make_shared<std::promise<void>>();
    worker->ended = done->get_future();
    worker->thread = std::thread([worker, done] {
        worker->loop();
        done->set_value();
    });
    return worker;
}

void enqueue(const std::shared_ptr<Worker>& worker, Task task) {
    if (!worker) return;  // demo mode: no worker, the task never runs
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->queue.push_back(std::move(task));
    }
    worker->wake.notify_one();
}

// config.json's writes, off the UI thread. Each version the UI thread hands
// over is written by the install worker in turn; `newest` is the last one
// handed over, for the UI thread to write at exit if its task never ran.
// `writing` is held while a version is written.
struct SettingsWrites {
    std::timed_mutex writing;
    uint64_t written = 0;  // the number of the last version written (under `writing`)
    std::mutex lock;       // guards the two below
    uint64_t handed = 0;   // the number of the newest version handed over
    std::shared_ptr<const Config> newest;
};

AppState gState;
std::shared_ptr<Worker> gInstallWorker;
std::shared_ptr<Worker> gAccountWorker;
std::shared_ptr<SettingsWrites> gSettingsWrites = std::make_shared<SettingsWrites>();
uint64_t gNoticeNumber = 0;

// The hooks are read by workers (post) while the UI thread may drop them.
std::mutex gHooksMutex;
std::shared_ptr<const UiHooks> gHooks;

std::mutex gClockMutex;
std::function<uint64_t()> gClock;

std::shared_ptr<const UiHooks> hooks() {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    return gHooks;
}

// The UI-thread halves of the reporter.
void onPhase(Phase phase, const std::string& title) {
    AppState& s = gState;
    if (!s.busy) return;
    uint64_t t = now();
    Operation op;
    op.phase = phase;
    op.title = title;
    op.startedAt = t;
    op.indeterminate = true;
    s.operation = op;
}

void onProgress(int step, int steps, uint64_t bytesDone, uint64_t bytesTotal) {
    AppState& s = gState;
    if (!s.busy || !s.operation) return;
    Operation& op = *s.operation;
    // A resumed run plans only what is left: what the paused block counted
    // beyond that was finished before.
    if (op.phase == Phase::download && (s.resumeBytes != 0 || s.resumeSteps != 0) && bytesTotal > 0) {
        op.carriedBytes = s.resumeBytes > bytesTotal ? s.resumeBytes - bytesTotal : 0;
        op.carriedSteps = s.resumeSteps > steps ? s.resumeSteps - steps : 0;
        s.resumeBytes = 0;
        s.resumeSteps = 0;
    }
    op.rateCap = static_cast<double>(downloadLimitBytes(s.config.downloadLimitTenths));
    applyProgress(op, step + op.carriedSteps, steps + op.carriedSteps, bytesDone + op.carriedBytes,
                  bytesTotal + op.carriedBytes, now());
}

// Kept bytes arrive in the byte count at once; they are not taken as
// bytes that came over the network in this rate sample.
void onKept(uint64_t bytes) {
    AppState& s = gState;
    if (!s.busy || !s.operation) return;
    if (s.operation->sampleAt != 0) s.operation->sampleBytes += bytes;
}

}  // namespace

AppState& state() { return gState; }

bool workerRetired() { return tWorker && tWorker->retired.load(); }

void setClock(std::function<uint64_t()> clock) {
    std::lock_guard<std::mutex> lock(gClockMutex);
    gClock = std::move(clock);
}

uint64_t now() {
    std::function<uint64_t()> clock;
    {
        std::lock_guard<std::mutex> lock(gClockMutex);
        clock = gClock;
    }
    return clock ? clock() : tickCount();
}

void init(const UiHooks& uiHooks, bool demo) {
    {
        std::lock_guard<std::mutex> lock(gHooksMutex);
        gHooks = std::make_shared<const UiHooks>(uiHooks);
    }
    gState = AppState();
    gState.version = kLauncherVersion;
    gState.demo = demo;
    // A fresh controller starts with its flags down (tests start several in
    // one process).
    stopping = false;
    cancelRequested = false;
    abortChallenge = false;
    http::allowRequests();
    gInstallWorker.reset();
    gAccountWorker.reset();
    gSettingsWrites = std::make_shared<SettingsWrites>();
    if (!demo) {
        gInstallWorker = startWorker();
        gAccountWorker = startWorker();
    }
}

void forgetWindow() {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    gHooks.reset();
}

void writeSettings(const Config& config, std::function<void()> failed) {
    std::shared_ptr<SettingsWrites> writes = gSettingsWrites;
    // One copy, shared by the task and the exit's flush (copying a player's
    // records is most of what this call costs).
    auto snapshot = std::make_shared<const Config>(config);
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> guard(writes->lock);
        number = ++writes->handed;
        writes->newest = snapshot;
    }
    runInstallTask([writes, snapshot, number, failed = std::move(failed)] {
        std::lock_guard<std::timed_mutex> writing(writes->writing);
        if (writes->written >= number) return;  // written at exit already
        const bool ok = saveConfig(*snapshot);
        writes->written = number;
        if (!ok && failed) postToUi(failed);
    });
}

bool flushSettings() {
    std::shared_ptr<SettingsWrites> writes = gSettingsWrites;
    // A worker inside a write finishes it first; one stuck there (a dead
    // disk) is not waited on for ever.
    std::unique_lock<std::timed_mutex> writing(writes->writing, std::defer_lock);
    if (!writing.try_lock_for(std::chrono::milliseconds(kWorkerExitWaitMs))) return false;
    std::shared_ptr<const Config> config;
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> guard(writes->lock);
        number = writes->handed;
        config = writes->newest;
    }
    if (!config || writes->written >= number) return true;
    writes->written = number;
    return saveConfig(*config);
}

void runInstallTask(Task task) { enqueue(gInstallWorker, std::move(task)); }
void runAccountTask(Task task) { enqueue(gAccountWorker, std::move(task)); }

void postToUi(Task task) {
    auto h = hooks();
    if (!h || !h->post) return;
    auto* copy = new Task(std::move(task));
    if (!h->post(copy)) delete copy;
}

void runPostedTask(uintptr_t pointer) {
    std::unique_ptr<Task> task(reinterpret_cast<Task*>(pointer));
    if (task && *task) (*task)();
}

bool progressPasses(int step, int steps, uint64_t bytesDone, uint64_t bytesTotal, uint64_t t,
                    uint64_t lastForwarded) {
    if (steps != 0 && step >= steps) return true;
    if (bytesTotal != 0 && bytesDone >= bytesTotal) return true;
    if (lastForwarded == std::numeric_limits<uint64_t>::max()) return true;
    return t >= lastForwarded && t - lastForwarded >= kProgressIntervalMs;
}

void applyProgress(Operation& op, int step, int steps, uint64_t bytesDone, uint64_t bytesTotal, uint64_t t) {
    op.step = step;
    op.steps = steps;
    op.bytesDone = bytesDone;
    op.bytesTotal = bytesTotal;
    op.indeterminate = (bytesTotal == 0);
    if (bytesTotal == 0) return;  // no byte count: rate and time left stand
    if (op.sampleAt == 0) {
        op.sampleAt = t;
        op.sampleBytes = bytesDone;
    } else if (t >= op.sampleAt + kRateSampleMs && bytesDone >= op.sampleBytes) {
        double rate = static_cast<double>(bytesDone - op.sampleBytes) * 1000.0 / static_cast<double>(t - op.sampleAt);
        if (op.bytesPerSecond > 0) rate = 0.3 * rate + 0.7 * op.bytesPerSecond;
        op.bytesPerSecond = rate;
        op.sampleAt = t;
        op.sampleBytes = bytesDone;
    }
    // Bytes the system buffered before the limit could hold them arrive in
    // a burst; over any longer span the limit holds, so the rate shown and
    // the time left from it never go beyond it.
    if (op.rateCap > 0 && op.bytesPerSecond > op.rateCap) op.bytesPerSecond = op.rateCap;
    // More bytes than announced (a server that under-reports) is "nearly
    // done", not a time left counted from a wrapped-around difference.
    if (op.bytesPerSecond > 0 && bytesDone < bytesTotal) {
        op.etaSeconds = static_cast<double>(bytesTotal - bytesDone) / op.bytesPerSecond;
    } else {
        op.etaSeconds = 0;
    }
}

Reporter reporter() {
    Reporter r;
    // The log takes the worker's lines as they happen, so they stay in
    // order with the lines it writes itself; only the screens wait for the
    // UI thread.
    r.phase = [](Phase phase, const std::string& title) {
        logLine(title);
        postToUi([phase, title] { onPhase(phase, title); });
    };
    r.log = [](const std::string& line) { logLine("  " + line); };
    auto last = std::make_shared<std::atomic<uint64_t>>(std::numeric_limits<uint64_t>::max());
    r.progress = [last](int step, int steps, uint64_t bytesDone, uint64_t bytesTotal) {
        uint64_t t = now();
        if (!progressPasses(step, steps, bytesDone, bytesTotal, t, last->load())) return;
        last->store(t);
        postToUi([=] { onProgress(step, steps, bytesDone, bytesTotal); });
    };
    r.cancelled = [] { return cancelRequested.load() || workerRetired(); };
    r.kept = [](uint64_t bytes) { postToUi([bytes] { onKept(bytes); }); };
    return r;
}

Reporter quietReporter() {
    Reporter r;
    r.cancelled = [] { return stopping.load() || workerRetired(); };
    return r;
}

void cancelOperation() {
    AppState& s = gState;
    if (s.pause == Pause::paused) {
        // Nothing runs: the block goes, the parts stay for the next Play.
        s.pause = Pause::none;
        s.operation.reset();
        logLine("cancelled");
        return;
    }
    s.pause = Pause::none;
    cancelRequested = true;
}

void pauseOperation() {
    AppState& s = gState;
    if (!s.busy || !s.operation || s.operation->phase != Phase::download || s.pause != Pause::none) return;
    // The pipeline stops its transfers as for a cancel (each keeps its part
    // and resume record); its result then leaves the block standing.
    s.pause = Pause::pausing;
    cancelRequested = true;
    logLine("pausing");
}

void cancelAccountTask() {
    AppState& s = gState;
    if (!s.accountBusy || s.accountWaitUntil != 0) return;
    ++s.accountGeneration;
    abortChallenge = true;
    s.accountBusy = false;
    s.accountBusyLabel.clear();
    s.form.dropChallenge();
}

void runAccountAction(const std::string& busyLabel, std::function<Task()> work) {
    AppState& s = gState;
    uint64_t generation = ++s.accountGeneration;
    s.accountBusy = true;
    s.accountBusyLabel = busyLabel;
    runAccountTask([generation, work = std::move(work)] {
        Task apply = work();
        postToUi([generation, apply = std::move(apply)] {
            AppState& ui = gState;
            if (generation != ui.accountGeneration) return;  // superseded or cancelled
            ui.accountBusy = false;
            ui.accountBusyLabel.clear();
            if (apply) apply();
        });
    });
}

int shutdownWorkers() {
    stopping = true;
    cancelRequested = true;
    abortChallenge = true;
    // A request in flight (a manifest, a realm list, a download) ends at
    // once instead of holding its worker past the wait below.
    http::cancelAllRequests();
    std::shared_ptr<Worker> workers[] = {gInstallWorker, gAccountWorker};
    for (auto& worker : workers) {
        if (!worker) continue;
        worker->retired = true;
        // Taking the lock once makes sure no worker is between its test and
        // its wait when the wake-up goes out.
        { std::lock_guard<std::mutex> lock(worker->mutex); }
        worker->wake.notify_all();
    }
    int leftBehind = 0;
    for (auto& worker : workers) {
        if (!worker || !worker->thread.joinable()) continue;
        if (worker->ended.wait_for(std::chrono::milliseconds(kWorkerExitWaitMs)) == std::future_status::ready) {
            worker->thread.join();
        } else {
            // Stuck in a blocking call: the process exits without it.
            worker->thread.detach();
            ++leftBehind;
        }
    }
    gInstallWorker.reset();
    gAccountWorker.reset();
    // The settings the UI thread handed over last reach the disk before the
    // process ends, whatever the worker had still queued.
    if (!flushSettings()) logLine("settings: could not write " + configPath());
    // With every worker gone, later requests (a test's, a new controller's)
    // may go out again; one left behind stays cancelled.
    if (leftBehind == 0) http::allowRequests();
    return leftBehind;
}

void quit() {
    cancelRequested = true;
    abortChallenge = true;
    auto h = hooks();
    if (h && h->close) h->close();
}

void pushError(const std::string& title, const std::string& detail) {
    Notice notice;
    notice.id = "err" + std::to_string(++gNoticeNumber);
    notice.tone = Tone::error;
    notice.title = title;
    notice.detail = detail;
    gState.notices.push_back(notice);
    logLine("error: " + title + (detail.empty() ? "" : " (" + detail + ")"));
}

bool frameHousekeeping(uint64_t t) {
    AppState& s = gState;
    bool changed = false;
    if (s.operation && s.operation->finished && !s.busy && t >= s.operation->finishedAt + kOperationLingerMs) {
        s.operation.reset();
        changed = true;
    }
    // A launcher that started its successor closes a moment later.
    if (s.closeAt != 0 && t >= s.closeAt) {
        s.closeAt = 0;
        quit();
    }
    if (s.accountWaitUntil != 0 && t >= s.accountWaitUntil) {
        s.accountWaitUntil = 0;
        s.accountBusy = false;
        s.accountBusyLabel.clear();
        s.form.dropChallenge();
        changed = true;
    }
    return changed;
}

}  // namespace ember::launcher::app
