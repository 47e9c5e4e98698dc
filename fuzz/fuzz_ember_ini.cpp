// Fuzz entry point: the ember.ini merge over whatever file the player (or
// another program) left. The first byte picks the manifest settings to add;
// the rest is the existing file. A merge either refuses with a message or
// gives a file that holds the launcher's keys, no NUL, ends with a line end,
// and that a second merge leaves exactly as it is (the file never grows from
// start to start).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/install/client_settings.h"

using namespace ember::launcher;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const std::string existing(reinterpret_cast<const char*>(data + 1), size - 1);

    ClientSettings settings;
    settings.host = "realm.example";
    settings.port = 7777;
    settings.account = "acc-1";
    settings.name = "Hero";
    settings.session = "tok";
    settings.characterSlot = 1 + selector % 3;
    settings.create = (selector & 0x80) != 0;
    // Bits 2-6 each add one manifest setting, hostile or not; the key of the
    // last one is the file's first line.
    const char* const keys[] = {"lang", "[game]", "k=v", " pad", "Server"};
    for (int bit = 0; bit < 5; ++bit) {
        if (selector & (4 << bit)) settings.extra[keys[bit]] = "1";
    }
    if (selector & 0x40) settings.extra[existing.substr(0, existing.find('\n'))] = "x";

    std::string error;
    const std::string merged = mergeClientSettings(existing, settings, error);
    if (!error.empty()) {
        require(merged.empty());
        return 0;
    }
    require(merged.find('\0') == std::string::npos);
    require(merged.find("server = realm.example\r\n") != std::string::npos);
    // Lines the launcher does not own keep their own ends (LF, CR LF, CR).
    require(merged.back() == '\n' || merged.back() == '\r');
    std::string again;
    require(mergeClientSettings(merged, settings, again) == merged && again.empty());
    return 0;
}
