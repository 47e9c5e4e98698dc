// Stands in for the window in controller tests: posted closures queue here
// and the test's thread, playing the UI thread, drains them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "launcher/app/controller.h"
#include "launcher/formats/config.h"
#include "tests/support/scratch.h"

namespace ember::launcher::testing {

class UiLoop {
public:
    app::UiHooks hooks() {
        app::UiHooks h;
        h.post = [this](app::Task* task) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                queue_.push_back(task);
            }
            wake_.notify_one();
            return true;
        };
        h.close = [this] { closed = true; };
        return h;
    }
    ~UiLoop() {
        for (app::Task* task : queue_) delete task;
    }

    // Runs posted closures until `done` holds or `timeoutMs` pass without
    // it; true when it holds.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            app::Task* task = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return done();
                task = queue_.front();
                queue_.pop_front();
            }
            app::runPostedTask(reinterpret_cast<uintptr_t>(task));
        }
        return true;
    }
    // Runs whatever is queued now.
    void drain() {
        for (;;) {
            app::Task* task = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queue_.empty()) return;
                task = queue_.front();
                queue_.pop_front();
            }
            app::runPostedTask(reinterpret_cast<uintptr_t>(task));
        }
    }
    size_t pending() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size();
    }

    bool closed = false;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<app::Task*> queue_;
};

// Waits until the install worker has done everything queued so far (the
// settings writes among it); false on time-out.
inline bool installWorkerSettled() {
    auto done = std::make_shared<std::atomic<bool>>(false);
    app::runInstallTask([done] { *done = true; });
    for (int i = 0; i < 20000 && !*done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done->load();
}

// config.json as the install worker has left it once everything queued so
// far is done.
inline Config savedConfig() {
    EXPECT_TRUE(installWorkerSettled()) << "the install worker never got to the settings";
    return loadConfig();
}

// A controller with its own config folder and the loop above, shut down
// (and its clock restored) at the end.
struct Started {
    ScratchDir dir;
    ScopedEnv env{"EMBERLANE_CONFIG_DIR", dir.path()};
    UiLoop ui;
    explicit Started(bool demo = false) { app::init(ui.hooks(), demo); }
    ~Started() {
        app::shutdownWorkers();
        app::setClock(nullptr);
    }
};

}  // namespace ember::launcher::testing
