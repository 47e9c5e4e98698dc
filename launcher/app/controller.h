// The controller's machinery: the one AppState, the two worker threads, the
// hand-off of closures to the UI thread, the reporters long operations talk
// through, the cancellation flags and the per-frame housekeeping.
//
// Threads, each with its owner and lifetime:
// - The UI thread (the window phase, launcher/shell) owns AppState from
//   init to the end of the frame loop; nothing else touches it.
// - The install worker runs preflight, the update pipeline, self-update and
//   the file work of clicks; the account worker runs every account-service
//   call. init starts both; shutdownWorkers stops them, joining each that
//   ends within 3 s and leaving behind (detached) one stuck in a blocking
//   call. A worker left behind owns its queue and what its task holds
//   (shared pointers), runs nothing more once it comes back, and sees
//   itself cancelled from then on even after a later init lowers the
//   process-wide flags (workerRetired). Each worker runs its queue in
//   submission order; the two run in parallel.
// - The apply's transfer threads (downloadPlanned, launcher/install) belong
//   to the install worker's task that started them: they fetch one planned
//   file after another and are joined before that task goes on; they stop
//   on the apply's own flag, which the task raises when its reporter says
//   cancelled (a pause raises it too). Under the speed limit they wait on
//   the shared bucket (http::sharedThrottle) in their own time; the UI
//   thread only sets its rate.
// - WinHTTP's callback threads only complete the exchanges their request()
//   call waits for (launcher/net).
// Work done on a worker reaches AppState only through postToUi, whose
// closures the UI thread runs in posting order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/version.h"
#include "launcher/app/state.h"
#include "launcher/install/reporter.h"

namespace ember::launcher::app {

using Task = std::function<void()>;
// The install module's reporter record, the one every long operation uses.
using Reporter = ember::launcher::Reporter;

// How posted closures reach the UI thread. `post` takes ownership of a heap
// closure and returns false when it could not deliver it (the caller then
// frees it); on Windows it is PostMessageW(window, kPostedTaskMessage, 0,
// pointer) and the window procedure hands the pointer to runPostedTask.
// `close` ends the window (quit). Either may be empty.
struct UiHooks {
    std::function<bool(Task*)> post;
    std::function<void()> close;
};

inline constexpr unsigned kPostedTaskMessage = 0x8001;  // WM_APP + 1
inline constexpr uint64_t kProgressIntervalMs = 100;
inline constexpr uint64_t kRateSampleMs = 500;
inline constexpr uint64_t kOperationLingerMs = 1201;
inline constexpr uint64_t kWorkerExitWaitMs = 3000;

// The launcher's one version (base/version.h), as the screens name it.
using ember::launcher::kLauncherVersion;

inline constexpr const char kAlreadyWorking[] = "The launcher is already working on that.";
inline constexpr const char kNotCheckedYet[] = "The launcher hasn't checked for updates yet. Try again in a moment.";

// Process-wide flags, raised from the UI thread (shutdownWorkers, a cancel)
// and read by the workers; init lowers them for a new controller.
extern std::atomic<bool> stopping;         // workers shutting down
extern std::atomic<bool> cancelRequested;  // the running install operation should stop
extern std::atomic<bool> abortChallenge;   // the proof-of-work should stop
// True on a worker thread that shutdownWorkers has retired, whatever the
// flags above say now; false on every other thread.
bool workerRetired();

AppState& state();

// Called once after the window exists: remembers how to reach the UI
// thread, resets AppState and the flags, and (unless demo) starts both
// workers. In demo mode no worker exists and queued tasks never run.
void init(const UiHooks& hooks, bool demo);
// The window is gone: later posts are discarded.
void forgetWindow();

void runInstallTask(Task task);
void runAccountTask(Task task);
// Hands config.json's new contents to the install worker, which writes
// each version in order with its other file work. A write that fails runs
// `failed` on the UI thread. The UI thread goes on at once.
void writeSettings(const Config& config, std::function<void()> failed);
// Writes what writeSettings still holds, on the calling thread; false when
// that write failed. shutdownWorkers calls it after the workers stopped.
bool flushSettings();
// From any thread. Without a window the closure is dropped unrun.
void postToUi(Task task);
// The window procedure's half of the hand-off: runs and frees the closure.
void runPostedTask(uintptr_t pointer);

// The pipeline's reporter: every call posts to the UI thread; progress is
// throttled to one post per 100 ms (completion always gets through).
Reporter reporter();
// Says nothing; cancelled when the workers stop.
Reporter quietReporter();

// Cancel also ends a paused download (its parts stay for the next Play).
void cancelOperation();
// Pause while client files download: the transfers stop and keep their
// parts; the progress block stays as paused (resumeOperation, in the
// pipeline, starts again from the kept bytes).
void pauseOperation();
// Abandons the running account action unless a rate-limit wait runs.
void cancelAccountTask();
// Sets the flags, wakes both workers and waits up to 3 s for each; one that
// does not end is left behind. Returns the number of workers left behind.
int shutdownWorkers();
void quit();

// Appends an error notice (id "err" + a number unique in the run) and logs it.
void pushError(const std::string& title, const std::string& detail);

// The frame loop calls this every frame; true when it ended something the
// screens show (the finished progress block, a wait after a refusal).
bool frameHousekeeping(uint64_t now);

// An account action with a busy label: bumps the generation, marks the form
// busy and runs `work` on the account worker; the closure `work` returns is
// applied on the UI thread only while the generation is still current (a
// cancelled or superseded action changes nothing). The busy mark is cleared
// by the applied result.
void runAccountAction(const std::string& busyLabel, std::function<Task()> work);

// The clock every interval here is measured with (tickCount by default);
// tests set a fake one, an empty function restores the real one.
void setClock(std::function<uint64_t()> clock);
uint64_t now();

// The pure rules, exposed for tests.
// Whether a progress call goes through the throttle (lastForwarded ==
// UINT64_MAX: nothing forwarded yet).
bool progressPasses(int step, int steps, uint64_t bytesDone, uint64_t bytesTotal, uint64_t now,
                    uint64_t lastForwarded);
// Applies one forwarded progress call to the block (rate and time left).
void applyProgress(Operation& op, int step, int steps, uint64_t bytesDone, uint64_t bytesTotal, uint64_t now);

}  // namespace ember::launcher::app
