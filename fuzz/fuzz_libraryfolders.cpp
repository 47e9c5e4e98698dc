// Fuzz entry point: libraryfolders.vdf, a file any program may write. Every
// library path taken must be one the launcher can join onto: not empty,
// rooted or on a drive, backslashes only.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/install/game.h"

using namespace ember::launcher;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& path : parseLibraryFolders(text)) {
        require(!path.empty());
        require(path.find('/') == std::string::npos);
        require(path[0] == '\\' || (path.size() >= 3 && path[1] == ':' && path[2] == '\\'));
        require(path.size() <= text.size());
    }
    return 0;
}
