// Fuzz entry point: config.json as the launcher finds it on disk. Besides
// not crashing, whatever is read must be written back so that reading the
// written text gives the same record (nothing the player had is lost on
// the next save).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/formats/config.h"

using namespace ember::launcher;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool unparseable = false;
    const Config read = configFromText(text, unparseable);
    if (unparseable) return 0;
    const std::string written = configToText(read);
    bool again = false;
    const Config reread = configFromText(written, again);
    require(!again);
    require(configToText(reread) == written);
    require(reread.installed.size() == read.installed.size());
    return 0;
}
