// POSIX twin of the free-space query, so the space checks test natively.
#include "launcher/install/apply.h"

#include <sys/statvfs.h>

#include <algorithm>

namespace ember::launcher {

uint64_t freeBytes(const std::string& folder) {
    std::string native = folder;
    std::replace(native.begin(), native.end(), '\\', '/');
    struct statvfs info;
    if (native.empty() || ::statvfs(native.c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace ember::launcher
