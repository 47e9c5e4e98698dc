// A small pool for transfers: N workers take jobs in order from a queue,
// while the calling thread alone hears how they end and decides whether to
// go on. Nothing here knows about files; the apply's download loop
// (downloadPlanned) gives it one job per planned file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ember::launcher {

class TransferPool {
public:
    // Bytes a job has received so far; callable from its worker at any time.
    using Progress = std::function<void(uint64_t received)>;
    // True once the pool stops (a cancel or a failure); a job in flight that
    // sees it must end promptly.
    using Stopped = std::function<bool()>;
    // One job: empty on success, else why it failed.
    using Job = std::function<std::string(const Progress& progress, const Stopped& stopped)>;

    // What the calling thread is told and asked while the jobs run; each
    // may be left empty.
    struct Watch {
        std::function<void(size_t job)> landed;  // a job that succeeded, in the order they finished
        std::function<bool()> cancelled;         // asked before every round of new starts
        std::function<void(uint64_t received)> flowing;  // the jobs in flight's bytes, every round
    };

    struct Result {
        std::vector<size_t> ran;  // the jobs that were started, in the order they started
        bool cancelled = false;
        std::string failure;  // the first failure the pool saw (never one a cancel caused)
        size_t failed = 0;    // that failure's job
    };

    // `workers` at once (at least 1).
    explicit TransferPool(int workers);

    // Jobs start in the order they were added.
    void add(Job job);

    // Runs the jobs, at most `workers` at once; a job starts only after the
    // calling thread has heard every earlier ending and asked `cancelled`,
    // so that a cancel or the first failure stops every later start, and
    // `stopped` ends the jobs in flight. Returns after every worker has been
    // joined.
    Result run(const Watch& watch);

private:
    size_t workers_;
    std::vector<Job> jobs_;
};

}  // namespace ember::launcher
