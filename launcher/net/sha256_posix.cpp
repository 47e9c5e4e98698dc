// Opening a file for hashing on POSIX systems: paths are UTF-8 already.
#include <string>

#include "launcher/net/sha256_internal.h"

namespace ember::launcher::sha256_detail {

FILE* openForReading(const std::string& utf8Path) {
    // An embedded NUL would silently name a different, shorter path.
    if (utf8Path.empty() || utf8Path.find('\0') != std::string::npos) {
        return nullptr;
    }
    return std::fopen(utf8Path.c_str(), "rb");
}

}  // namespace ember::launcher::sha256_detail
