// The trace's clock natively: a monotonic clock in milliseconds, like
// GetTickCount64 counting from boot.
#include "base/log.h"

#include <time.h>

namespace ember::launcher {

uint64_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace ember::launcher
