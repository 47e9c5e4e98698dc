// The transfer pool: workers wait for the calling thread's leave to start
// the next job; the calling thread hands out that leave one round at a time,
// after it has heard the endings and asked whether to cancel.
#include "launcher/install/transfer_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace ember::launcher {

namespace {

// How often the calling thread looks at the watch while jobs run.
constexpr auto kTick = std::chrono::milliseconds(50);

struct Ending {
    size_t job;
    std::string failure;
};

}  // namespace

TransferPool::TransferPool(int workers) : workers_(static_cast<size_t>(std::max(workers, 1))) {}

void TransferPool::add(Job job) { jobs_.push_back(std::move(job)); }

TransferPool::Result TransferPool::run(const Watch& watch) {
    Result result;
    const size_t count = jobs_.size();
    if (count == 0) return result;
    const size_t workers = std::min(count, workers_);

    // Shared with the workers, under `lock`: how many jobs may have started
    // (only this thread raises it), the next to start, the endings not yet
    // heard and the workers still running. The stop flag and each worker's
    // bytes so far are read without the lock.
    std::mutex lock;
    std::condition_variable wake;
    size_t allowed = 0;
    size_t next = 0;
    size_t running = workers;
    std::deque<Ending> endings;
    std::atomic<bool> stop{false};
    std::unique_ptr<std::atomic<uint64_t>[]> flowing(new std::atomic<uint64_t>[workers]);
    for (size_t i = 0; i < workers; ++i) flowing[i] = 0;
    const Stopped stopped = [&stop] { return stop.load(); };

    auto work = [&](size_t slot) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return stop || next >= count || next < allowed; });
            if (stop || next >= count) break;
            const size_t job = next++;
            result.ran.push_back(job);
            guard.unlock();
            std::string failure = jobs_[job]([&flowing, slot](uint64_t received) { flowing[slot] = received; }, stopped);
            flowing[slot] = 0;
            guard.lock();
            endings.push_back(Ending{job, std::move(failure)});
            wake.notify_all();
        }
        --running;
        wake.notify_all();
    };

    std::vector<std::thread> threads;
    for (size_t slot = 0; slot < workers; ++slot) threads.emplace_back(work, slot);
    size_t heard = 0;
    std::deque<Ending> heardNow;
    for (bool last = false; !last;) {
        // Endings in the order they came; the first failure is the one
        // reported, later ones are jobs it ended. After a cancel, the jobs it
        // ended are no failures.
        for (const Ending& e : heardNow) {
            ++heard;
            if (!e.failure.empty()) {
                if (result.failure.empty() && !result.cancelled) {
                    result.failure = e.failure;
                    result.failed = e.job;
                }
                stop = true;
                continue;
            }
            if (watch.landed) watch.landed(e.job);
        }
        heardNow.clear();

        // A cancel stops new starts and, through `stopped`, ends every job
        // in flight.
        if (!stop && watch.cancelled && watch.cancelled()) {
            result.cancelled = true;
            stop = true;
        }
        if (!stop && watch.flowing) {
            uint64_t received = 0;
            for (size_t i = 0; i < workers; ++i) received += flowing[i];
            watch.flowing(received);
        }

        // The next round: leave for as many starts as jobs ended.
        std::unique_lock<std::mutex> guard(lock);
        if (!stop) allowed = heard + workers;
        wake.notify_all();
        wake.wait_for(guard, kTick, [&] { return !endings.empty() || running == 0; });
        heardNow.swap(endings);
        last = running == 0 && heardNow.empty();
    }
    for (std::thread& t : threads) t.join();
    return result;
}

}  // namespace ember::launcher
