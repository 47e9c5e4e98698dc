// Command-line parsing into the start-up settings.
#include "launcher/shell/cmdline.h"

#include <algorithm>

#include "base/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace ember::launcher {

namespace {

void skipSpace(const std::string& text, size_t& pos) {
    while (pos < text.size() && isAsciiSpace(text[pos])) ++pos;
}

// Whether `text` at `pos` starts with `word`, ASCII case ignored.
bool startsWithWord(const std::string& text, size_t pos, const char* word) {
    for (size_t i = 0; word[i] != '\0'; ++i) {
        if (pos + i >= text.size()) return false;
        if (asciiLower(text[pos + i]) != word[i]) return false;
    }
    return true;
}

// Reads an integer like scanf's %d at `pos` (whitespace, sign, digits) and
// moves `pos` past it. Out-of-range values saturate, like _wtoi.
bool scanInt(const std::string& text, size_t& pos, int32_t& out) {
    size_t at = pos;
    skipSpace(text, at);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    if (at >= text.size() || !isAsciiDigit(text[at])) return false;
    // Accumulate in 64 bits, stopping the growth once past the 32-bit range.
    const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t value = 0;
    while (at < text.size() && isAsciiDigit(text[at])) {
        if (value <= limit) value = value * 10 + (text[at] - '0');
        ++at;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) value = std::numeric_limits<int32_t>::min();
    out = static_cast<int32_t>(value);
    pos = at;
    return true;
}

// Reads a decimal number like scanf's %f at `pos` and moves `pos` past it.
// "inf", "infinity" and "nan" are read (as the C runtime does); hexadecimal
// numbers are not. A number beyond the double range is not read.
bool scanDouble(const std::string& text, size_t& pos, double& out) {
    size_t at = pos;
    skipSpace(text, at);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

    // Spelled-out values.
    if (startsWithWord(text, at, "inf")) {
        at += startsWithWord(text, at, "infinity") ? 8 : 3;
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        pos = at;
        return true;
    }
    if (startsWithWord(text, at, "nan")) {
        out = std::numeric_limits<double>::quiet_NaN();
        pos = at + 3;
        return true;
    }

    // Digits, an optional fraction, an optional exponent (only when digits
    // follow the 'e').
    size_t start = at;
    size_t digits = 0;
    while (at < text.size() && isAsciiDigit(text[at])) ++at, ++digits;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && isAsciiDigit(text[at])) ++at, ++digits;
    }
    if (digits == 0) return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (exponent < text.size() && isAsciiDigit(text[exponent])) {
            at = exponent;
            while (at < text.size() && isAsciiDigit(text[at])) ++at;
        }
    }

    // from_chars is locale-independent; it refuses values beyond the range.
    double value = 0.0;
    std::from_chars_result result = std::from_chars(text.data() + start, text.data() + at, value);
    if (result.ec != std::errc() || result.ptr != text.data() + at) return false;
    out = negative ? -value : value;
    pos = at;
    return true;
}

// A float value that later arithmetic can use: read and finite as a float.
bool scanFiniteFloat(const std::string& text, size_t& pos, float& out) {
    double value = 0.0;
    if (!scanDouble(text, pos, value)) return false;
    float narrowed = static_cast<float>(value);
    if (!std::isfinite(narrowed)) return false;
    out = narrowed;
    return true;
}

bool expect(const std::string& text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

// --size "%dx%d": each dimension counts only when it is at least 1.
void applySize(const std::string& value, StartupSettings& settings) {
    size_t pos = 0;
    int32_t width = 0;
    int32_t height = 0;
    if (scanInt(value, pos, width) && expect(value, pos, 'x')) scanInt(value, pos, height);
    if (width >= 1) settings.width = width;
    if (height >= 1) settings.height = height;
}

// --mouse "%f,%f": both numbers or nothing.
void applyMouse(const std::string& value, StartupSettings& settings) {
    size_t pos = 0;
    float x = 0.0f;
    float y = 0.0f;
    settings.mouseSet =
        scanFiniteFloat(value, pos, x) && expect(value, pos, ',') && scanFiniteFloat(value, pos, y);
    if (settings.mouseSet) {
        settings.mouseX = x;
        settings.mouseY = y;
    }
}

// --wheel "%f,%f,%f": all three numbers, else the wheel is off.
void applyWheel(const std::string& value, StartupSettings& settings) {
    size_t pos = 0;
    float x = 0.0f;
    float y = 0.0f;
    float delta = 0.0f;
    bool complete = scanFiniteFloat(value, pos, x) && expect(value, pos, ',') && scanFiniteFloat(value, pos, y) &&
                    expect(value, pos, ',') && scanFiniteFloat(value, pos, delta);
    settings.wheelX = complete ? x : 0.0f;
    settings.wheelY = complete ? y : 0.0f;
    settings.wheelDelta = complete ? delta : 0.0f;
}

// --scale: kept only inside the usable range; otherwise back to 1.0 and the
// window's DPI decides as if the option were absent.
void applyScale(const std::string& value, StartupSettings& settings) {
    float scale = static_cast<float>(parseDoubleLikeWtof(value));
    bool usable = std::isfinite(scale) && scale > kMinimumExplicitScale && scale <= kMaximumExplicitScale;
    settings.uiScale = usable ? scale : 1.0f;
    settings.scaleExplicit = usable;
}

}  // namespace

int32_t parseIntLikeWtoi(const std::string& text) {
    size_t pos = 0;
    int32_t value = 0;
    return scanInt(text, pos, value) ? value : 0;
}

double parseDoubleLikeWtof(const std::string& text) {
    size_t pos = 0;
    double value = 0.0;
    return scanDouble(text, pos, value) ? value : 0.0;
}

StartMode startMode(const std::vector<std::string>& args) {
    if (args.size() < 2) return StartMode::Normal;
    const std::string& first = args[1];
    if (first == "--check-manifest") return StartMode::CheckManifest;
    if (first == "--swap" && args.size() >= 4) return StartMode::Swap;
    if (first == "--updated") return StartMode::Updated;
    return StartMode::Normal;
}

StartupSettings parseCommandLine(const std::vector<std::string>& args) {
    StartupSettings settings;
    settings.mode = startMode(args);
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--warp") {
            settings.warp = true;
            continue;
        }
        if (option == "--high-contrast" || option == "--high-contrast=black") {
            settings.highContrast = HighContrastChoice::Black;
            continue;
        }
        if (option == "--high-contrast=white") {
            settings.highContrast = HighContrastChoice::White;
            continue;
        }
        bool takesValue = option == "--demo" || option == "--shot" || option == "--frames" ||
                          option == "--scale" || option == "--size" || option == "--mouse" || option == "--wheel" ||
                          option == "--tab";
        // Anything else, and a value option with nothing after it, is ignored.
        if (!takesValue || i + 1 >= args.size()) continue;
        const std::string& value = args[++i];
        if (option == "--demo") {
            settings.demo = true;
            settings.demoScene = value.empty() ? "home" : value;
        } else if (option == "--shot") {
            settings.shotPath = value;
        } else if (option == "--frames") {
            int32_t frames = parseIntLikeWtoi(value);
            settings.shotFrames = frames < kMinimumShotFrames ? kMinimumShotFrames : frames;
        } else if (option == "--scale") {
            applyScale(value, settings);
        } else if (option == "--size") {
            applySize(value, settings);
        } else if (option == "--mouse") {
            applyMouse(value, settings);
        } else if (option == "--wheel") {
            applyWheel(value, settings);
        } else if (option == "--tab") {
            settings.tabPresses = std::min<int32_t>(200, std::max<int32_t>(0, parseIntLikeWtoi(value)));
        }
    }
    return settings;
}

InstanceRule instanceRule(const StartupSettings& settings) {
    // Demo scenes and their screenshots touch no settings or game folder.
    if (settings.demo) return InstanceRule::None;
    switch (settings.mode) {
        case StartMode::Normal: return InstanceRule::Single;
        case StartMode::Updated: return InstanceRule::TakeOver;
        default: return InstanceRule::None;
    }
}

}  // namespace ember::launcher
