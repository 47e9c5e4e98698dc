#include "base/text.h"

#include <cstdio>

namespace ember::launcher {

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

namespace {

// The upper-case letter of `c` in the ranges fileNameFold covers.
uint32_t fileSystemUpper(uint32_t c) {
    // Pairs: the upper-case letter even, its lower-case letter the next one.
    const auto pairEven = [](uint32_t x) { return (x & 1u) ? x - 1 : x; };
    const auto pairOdd = [](uint32_t x) { return (x & 1u) ? x : x - 1; };
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0x80) return c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return pairEven(c);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return pairOdd(c);
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 0x20;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) return pairEven(c);
    if (c >= 0x561 && c <= 0x586) return c - 0x30;
    if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) return pairEven(c);
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    return c;
}

}  // namespace

std::string fileNameFold(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const size_t start = i;
        const uint32_t c = decodeUtf8(utf8, i);
        // Bytes that are no UTF-8 stay as they were.
        if (c == 0xFFFD && utf8.compare(start, 3, "\xEF\xBF\xBD") != 0) {
            out.append(utf8.substr(start, i - start));
            continue;
        }
        appendUtf8(out, fileSystemUpper(c));
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

bool isSha256Hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (hexDigitValue(c) < 0) return false;
    }
    return true;
}

bool sameDigest(std::string_view a, std::string_view b) { return equalsIgnoreCase(a, b); }

uint32_t decodeUtf8Sequence(std::string_view text, size_t& i) {
    const size_t n = text.size();
    if (i >= n) return kReplacementCharacter;
    auto byte = [&](size_t at) { return static_cast<uint8_t>(text[at]); };
    uint8_t lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    // Length of the sequence and the range its second byte must fall in,
    // which rules out overlong forms, surrogates and values past U+10FFFF.
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        ++i;  // stray continuation byte, C0, C1, F5..FF
        return kReplacementCharacter;
    }
    size_t at = i + 1;
    for (size_t k = 1; k < length; ++k, ++at) {
        if (at >= n) break;
        uint8_t c = byte(at);
        uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
        if (c < lo || c > hi) break;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    bool complete = at - i == length;
    i = at;  // the lead and every continuation byte that fitted
    return complete ? cp : kReplacementCharacter;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

enum class Rounding : uint8_t { nearest, halfUp, down };

// One unit of a style: counts from `from` bytes up are written in it.
struct ByteUnit {
    uint64_t from;
    uint64_t unit;
    int decimals;
    Rounding rounding;
    const char* name;  // after a space; "" for none
};

constexpr uint64_t kKB = 1024, kMB = kKB * 1024, kGB = kMB * 1024;

constexpr ByteUnit kPlan[] = {{kGB, kGB, 1, Rounding::nearest, "GB"},
                              {kMB, kMB, 1, Rounding::nearest, "MB"},
                              {kKB, kKB, 0, Rounding::halfUp, "KB"},
                              {0, 1, 0, Rounding::nearest, "B"}};
constexpr ByteUnit kSize[] = {{kGB, kGB, 1, Rounding::nearest, "GB"},
                              {kMB, kMB, 0, Rounding::nearest, "MB"},
                              {0, kKB, 0, Rounding::nearest, "KB"}};
constexpr ByteUnit kMegabytes[] = {{0, kMB, 0, Rounding::nearest, "MB"}};
constexpr ByteUnit kFloorMiB[] = {{0, kMB, 0, Rounding::down, ""}};
constexpr ByteUnit kTenthsMiB[] = {{0, kMB, 1, Rounding::nearest, ""}};

std::string written(uint64_t bytes, const ByteUnit& u) {
    char text[48];
    const char* gap = *u.name ? " " : "";
    if (u.rounding == Rounding::nearest) {
        const double value = static_cast<double>(bytes) / static_cast<double>(u.unit);
        std::snprintf(text, sizeof text, "%.*f%s%s", u.decimals, value, gap, u.name);
    } else {
        // Whole units, counted exactly.
        const uint64_t whole = bytes / u.unit + (u.rounding == Rounding::halfUp && bytes % u.unit >= u.unit / 2);
        std::snprintf(text, sizeof text, "%llu%s%s", static_cast<unsigned long long>(whole), gap, u.name);
    }
    return text;
}

template <size_t N>
std::string writtenIn(uint64_t bytes, const ByteUnit (&units)[N]) {
    for (const ByteUnit& u : units) {
        if (bytes >= u.from) return written(bytes, u);
    }
    return written(bytes, units[N - 1]);
}

}  // namespace

std::string formatBytes(uint64_t bytes, ByteStyle style) {
    switch (style) {
        case ByteStyle::plan: return writtenIn(bytes, kPlan);
        case ByteStyle::size: return writtenIn(bytes, kSize);
        case ByteStyle::megabytes: return writtenIn(bytes, kMegabytes);
        case ByteStyle::floorMiB: return writtenIn(bytes, kFloorMiB);
        case ByteStyle::tenthsMiB: return writtenIn(bytes, kTenthsMiB);
    }
    return std::string();
}

std::string formatBytesOf(uint64_t done, uint64_t total) {
    const ByteUnit unit = total >= kGB ? ByteUnit{0, kGB, 1, Rounding::nearest, "GB"}
                                       : ByteUnit{0, kMB, 1, Rounding::nearest, "MB"};
    ByteUnit bare = unit;
    bare.name = "";
    return written(done, bare) + " / " + written(total, unit);
}

}  // namespace ember::launcher
