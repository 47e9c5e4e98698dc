// The path rule shared by planning, applying, pruning, client builds and the
// blocked-mod scan.
#include "base/safe_path.h"

#include <string_view>

#include "base/text.h"

namespace ember::launcher {

namespace {

// Names Windows opens as devices in every folder, whatever follows the
// first dot. Superscript one to three (UTF-8 C2 B9, C2 B2, C2 B3) count as
// digits for COM and LPT.
bool isDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    // "NUL .txt" is NUL too: spaces before the extension are dropped.
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    // Device names are three to seven bytes long ("COM\xC2\xB9" is five).
    if (base.size() < 3 || base.size() > 7) return false;
    const std::string lower = asciiLower(base);
    static const char* const kPlain[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* name : kPlain) {
        if (lower == name) return true;
    }
    if (lower.size() >= 4 && (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0)) {
        std::string_view digit = std::string_view(lower).substr(3);
        if (digit.size() == 1 && isAsciiDigit(digit[0])) return true;
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
    }
    return false;
}

bool isSafeComponent(std::string_view component) {
    if (component.empty()) return false;
    // ".", ".." and names Windows would trim ("a." and "a " mean "a").
    if (component.back() == '.' || component.back() == ' ') return false;
    for (char c : component) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20) return false;
        if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') return false;
    }
    return !isDeviceName(component);
}

}  // namespace

bool isSafeGamePath(const std::string& relative) {
    if (relative.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t end = relative.find_first_of("/\\", start);
        std::string_view component(relative.data() + start,
                                   (end == std::string::npos ? relative.size() : end) - start);
        if (!isSafeComponent(component)) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool isSafeClientBuildPath(const std::string& relative) {
    return relative.find('\\') == std::string::npos && isSafeGamePath(relative);
}

}  // namespace ember::launcher
