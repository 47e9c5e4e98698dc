// Small text helpers every module needs: ASCII letter case, white space and
// trimming, prefixes and joining, hex digits, hex digests, one UTF-8
// decoder, and the FNV-1a hash.
//
// All of them work on bytes and treat only ASCII specially, so they never
// depend on the C locale. Each exists once, here; a module that needs a
// different rule writes it out beside its use and says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ember::launcher {

// ---- Letter case ----

inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// `text` with A-Z turned into a-z; every other byte as it was.
std::string asciiLower(std::string_view text);
// Equal when equal after ASCII lower-casing (bytes 0x80 and above compare
// exactly).
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// A file name as Windows compares it: every letter in upper case, as the
// file system's own upper-case table has it for Latin (with Latin-1 and the
// Extended-A and Additional blocks), Greek, Cyrillic, Armenian and the
// fullwidth forms; every other character as it was. Two names are one file
// when their folds are equal ("\xC3\x96.bin" and "\xC3\xB6.bin" are).
std::string fileNameFold(std::string_view utf8);

inline bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ---- White space ----

// Space, tab, line feed, carriage return: what the launcher's own formats
// (HTTP headers, JSON, the stylesheet's declarations) call white space.
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// isBlank plus form feed and vertical tab: C's isspace in the "C" locale.
inline bool isAsciiSpace(char c) { return isBlank(c) || c == '\f' || c == '\v'; }
// `text` without isBlank characters at either end.
inline std::string_view trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// ---- Prefixes and joining ----

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
inline bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}
// Whether `text` names a web address: it begins "https://" or "http://".
// Anything else (a path, a program, "javascript:") is not one.
inline bool isWebAddress(std::string_view text) { return startsWith(text, "https://") || startsWith(text, "http://"); }
// The items with `separator` between each two ("" for none).
inline std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

// ---- Byte counts ----

// How a byte count is written (binary units: 1 KB is 1024 bytes). Each
// style is one text the launcher shows; formatBytes writes them all.
enum class ByteStyle : uint8_t {
    plan,       // "1.5 GB", "12.3 MB", "2 KB", "512 B": the plan's summary (KB rounded half up)
    size,       // "2.4 GB", "640 MB", "12 KB": the refusal screens
    megabytes,  // "640 MB": whole megabytes
    floorMiB,   // "639": whole MiB rounded down, without a unit
    tenthsMiB,  // "12.3": tenths of a MiB, without a unit
};
std::string formatBytes(uint64_t bytes, ByteStyle style);
// Two counts in the unit of the larger one, tenths: "1.2 / 3.4 GB", "0.5 / 12.0 MB".
std::string formatBytesOf(uint64_t done, uint64_t total);

// ---- Hex digits and digests ----

// 0-15 for 0-9, a-f, A-F; -1 for anything else.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Exactly 64 hex digits, either case.
bool isSha256Hex(std::string_view text);
// Two hex digests are equal when they are equal ignoring ASCII letter case.
bool sameDigest(std::string_view a, std::string_view b);

// ---- UTF-8 ----

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `i` and moves `i` past it. Bad input follows the
// Unicode "maximal subpart" practice (also what Windows' converter and web
// browsers do): a byte that cannot start a sequence, an overlong form, a
// surrogate or a value beyond U+10FFFF yields one U+FFFD and consumes the
// longest prefix that could have begun a valid sequence (at least one byte),
// so the next good character is never swallowed. At or past the end it
// returns U+FFFD and leaves `i` alone.
uint32_t decodeUtf8Sequence(std::string_view text, size_t& i);
inline uint32_t decodeUtf8(std::string_view text, size_t& i) {
    // ASCII, nearly every character the launcher shows, needs no call.
    if (i < text.size() && static_cast<uint8_t>(text[i]) < 0x80) return static_cast<uint8_t>(text[i++]);
    return decodeUtf8Sequence(text, i);
}
// Appends `codePoint` as UTF-8; surrogates and values beyond U+10FFFF are
// written as U+FFFD.
void appendUtf8(std::string& out, uint32_t codePoint);

// ---- Hashing ----

// FNV-1a, 32 bits: the one string hash of the program (style names, caches).
// `seed` continues an earlier hash, so pieces can be mixed in one at a time.
constexpr uint32_t kFnvOffset32 = 2166136261u;
constexpr uint32_t kFnvPrime32 = 16777619u;
constexpr uint32_t fnv1a(std::string_view text, uint32_t seed = kFnvOffset32) {
    uint32_t hash = seed;
    for (char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= kFnvPrime32;
    }
    return hash;
}

// The bits of a float, to hash it as a word (0.0 and -0.0 differ).
inline uint32_t floatBits(float v) {
    uint32_t bits;
    static_assert(sizeof bits == sizeof v, "float is 32 bits");
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// FNV-1a over whole 64-bit words, for keys made of numbers (name hashes,
// counts): one xor and one multiply per word.
struct WordHash {
    uint64_t value = 0xCBF29CE484222325ull;
    void mix(uint64_t word) {
        value ^= word;
        value *= 0x100000001B3ull;
    }
};

// One multiply-and-fold step, for hash-table keys that need their high bits
// spread into the low ones (where the table's bucket index comes from).
constexpr uint64_t mixWord(uint64_t hash, uint64_t word) {
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    return hash ^ (hash >> 29);
}

}  // namespace ember::launcher
