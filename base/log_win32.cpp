// The trace's clock on Windows.
#include "base/log.h"

#include <windows.h>

namespace ember::launcher {

uint64_t tickCount() {
    return GetTickCount64();
}

}  // namespace ember::launcher
