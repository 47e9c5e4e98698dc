// The keys built into this launcher. CMake writes pinned_keys.inc from
// launcher/trust/trusted-keys.txt (and, in builds that trust it, the
// stand-in's test key from fixtures/signing/test.pub): one
// {KeyRole::<role>, "base64 key"} pair a line, so a role the table does
// not know fails the build.
#include "launcher/trust/signature.h"

namespace ember::launcher::trust {

namespace {

struct KeyLine {
    KeyRole role;
    const char* base64;
};

constexpr KeyLine kKeyLines[] = {
#include "pinned_keys.inc"
};

std::vector<PublicKey> readKeyLines() {
    std::vector<PublicKey> keys;
    for (const KeyLine& line : kKeyLines) {
        PublicKey key;
        std::string error;
        // A line that does not read is left out (the test of the table fails).
        if (!parsePublicKey(line.base64, key, error)) continue;
        key.role = line.role;
        keys.push_back(key);
    }
    return keys;
}

}  // namespace

const char* spelling(KeyRole role) {
    switch (role) {
    case KeyRole::current: return "current";
    case KeyRole::next: return "next";
    case KeyRole::test: return "test";
    }
    return "current";
}

const std::vector<PublicKey>& pinnedKeys() {
    static const std::vector<PublicKey> keys = readKeyLines();
    return keys;
}

bool trustsTestKey() {
    for (const KeyLine& line : kKeyLines) {
        if (line.role == KeyRole::test) return true;
    }
    return false;
}

}  // namespace ember::launcher::trust
