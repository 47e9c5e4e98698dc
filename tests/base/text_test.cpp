#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/decode_steps.h"

namespace ember::launcher {
namespace {

TEST(AsciiText, CaseTrimAndHexDigitsTouchOnlyAscii) {
    EXPECT_EQ(asciiLower("MiXeD 09 @[`{ \xC3\x84"), "mixed 09 @[`{ \xC3\x84");
    EXPECT_TRUE(equalsIgnoreCase("Client/A.PAK", "client/a.pak"));
    EXPECT_FALSE(equalsIgnoreCase("@", "`"));  // not letters: no folding
    EXPECT_FALSE(equalsIgnoreCase("\xC3\x84", "\xC3\xA4"));  // A and a umlaut differ beyond ASCII
    EXPECT_FALSE(equalsIgnoreCase("ab", "abc"));

    EXPECT_EQ(trim(" \t\r\n value with  spaces \n"), "value with  spaces");
    EXPECT_EQ(trim("\f\vkept\f"), "\f\vkept\f");  // only space, tab, CR, LF are trimmed
    EXPECT_EQ(trim("   "), "");
    EXPECT_TRUE(isAsciiSpace('\v') && isAsciiSpace('\f') && !isBlank('\v') && !isAsciiSpace('\0'));

    const std::pair<char, int> digits[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'F', 15}, {'g', -1},
                                           {'G', -1}, {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}};
    for (auto [c, value] : digits) EXPECT_EQ(hexDigitValue(c), value) << c;
}

TEST(ByteCounts, EachStyleWritesItsOwnTextAndCountsWholeUnitsExactly) {
    const uint64_t KB = 1024, MB = KB * 1024, GB = MB * 1024, max = ~uint64_t(0);
    const struct {
        uint64_t bytes;
        ByteStyle style;
        const char* text;
    } cases[] = {
        // The plan's summary: tenths of GB and MB, KB rounded half up, bytes.
        {1610612736, ByteStyle::plan, "1.5 GB"},
        {1536, ByteStyle::plan, "2 KB"},
        {2560, ByteStyle::plan, "3 KB"},  // half up, where printf would round to even
        {1023, ByteStyle::plan, "1023 B"},
        {MB, ByteStyle::plan, "1.0 MB"},
        {MB - 1, ByteStyle::plan, "1024 KB"},
        // The refusal screens: whole MB and KB, tenths of GB.
        {2576980378ull, ByteStyle::size, "2.4 GB"},
        {640 * MB + 1, ByteStyle::size, "640 MB"},
        {12 * KB, ByteStyle::size, "12 KB"},
        {0, ByteStyle::size, "0 KB"},
        {700 * MB, ByteStyle::megabytes, "700 MB"},
        // Whole MiB rounded down, exact even where a double is not.
        {120 * MB + MB - 1, ByteStyle::floorMiB, "120"},
        {max, ByteStyle::floorMiB, "17592186044415"},
        {GB + 300 * KB, ByteStyle::tenthsMiB, "1024.3"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatBytes(c.bytes, c.style), c.text) << c.bytes;
    EXPECT_EQ(formatBytesOf(512 * KB, 12 * MB), "0.5 / 12.0 MB");
    EXPECT_EQ(formatBytesOf(GB + 200 * MB, 3 * GB + 400 * MB), "1.2 / 3.4 GB");
}

TEST(WebAddresses, OnlyHttpAndHttpsAreWebAddresses) {
    for (const char* yes : {"https://emberlane.example/", "http://127.0.0.1:8080/x"})
        EXPECT_TRUE(isWebAddress(yes)) << yes;
    for (const char* no : {"", "C:\\Windows\\notepad.exe", "file:///C:/x", "javascript:alert(1)", "https:/x",
                           " https://lead.example/"})
        EXPECT_FALSE(isWebAddress(no)) << no;
}

TEST(FileNameFold, FoldsLetterCaseTheWayWindowsComparesFileNames) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Client/A.pak", "client/a.PAK", true},
        {"\xC3\x96" "cheat.pak", "\xC3\xB6" "cheat.pak", true},  // O and o umlaut (Latin-1)
        {"\xC5\xA0", "\xC5\xA1", true},                         // S and s caron (Extended-A)
        {"\xC4\xB9", "\xC4\xBA", true},                         // L and l acute (odd pairs)
        {"\xC3\xBF", "\xC5\xB8", true},                         // y diaeresis and its capital
        {"\xCE\xA3", "\xCF\x82", true},                         // sigma and final sigma
        {"\xD0\x96", "\xD0\xB6", true},                         // Cyrillic zhe
        {"\xD0\x81", "\xD1\x91", true},                         // Cyrillic io
        {"\xEF\xBC\xA1", "\xEF\xBD\x81", true},               // fullwidth A and a
        {"\xC3\x97", "\xC3\xB7", false},                        // times and divide are no letters
        {"\xC3\x9F", "ss", false},                                // sharp s is no two letters
        {"a\xFF", "A\xFF", true},                                 // a stray byte stays as it was
        {"a\xFF", "a\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileNameFold(c.a) == fileNameFold(c.b), c.same) << c.a << " / " << c.b;
    }
}

TEST(HexDigests, IsSha256HexAcceptsExactly64HexDigits) {
    const std::string good = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {good, true},
        {"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {std::string(64, '0'), true},
        {good.substr(0, 63), false},
        {good + "0", false},
        {"", false},
        {"g" + good.substr(1), false},
        {good.substr(0, 63) + " ", false},
        {good.substr(0, 32) + std::string(1, '\0') + good.substr(33), false},
        {good.substr(0, 63) + "\xc3", false},
        {"0x" + good.substr(2), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isSha256Hex(c.text), c.valid) << '"' << c.text << '"';
    }
}

TEST(HexDigests, SameDigestIgnoresOnlyAsciiLetterCase) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    struct Case {
        std::string a, b;
        bool same;
    };
    const Case cases[] = {
        {lower, lower, true},
        {lower, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {lower, lower.substr(0, 63) + "e", false},
        {lower, lower.substr(0, 63), false},
        {lower, "", false},
        // Only letters fold: '@' is not 'a'-1 in disguise, nor '[' a 'z'+1.
        {"@", "`", false},
        {"[", "{", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sameDigest(c.a, c.b), c.same) << c.a << " vs " << c.b;
        EXPECT_EQ(sameDigest(c.b, c.a), c.same) << c.b << " vs " << c.a;
    }
}

TEST(Utf8, DecodesByTheMaximalSubpartRule) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::pair<uint32_t, size_t>> want;  // code point, bytes consumed
    } cases[] = {
        {"ascii and nul", std::string("A\0", 2), {{0x41, 1}, {0, 1}}},
        {"two, three, four bytes", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
         {{0xE4, 2}, {0x20AC, 3}, {0x1F600, 4}}},
        {"highest code point", "\xF4\x8F\xBF\xBF", {{0x10FFFF, 4}}},
        {"stray continuation", "\x80" "A", {{0xFFFD, 1}, {'A', 1}}},
        {"cut by a letter keeps the letter", "\xF0\x9F\x98" "A", {{0xFFFD, 3}, {'A', 1}}},
        {"cut at the end", "\xE2\x82", {{0xFFFD, 2}}},
        {"overlong", "\xC0\x80", {{0xFFFD, 1}, {0xFFFD, 1}}},
        {"surrogate", "\xED\xA0\x80", {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ember::testing::decodeSteps(c.bytes, [](std::string_view t, size_t& i) { return decodeUtf8(t, i); }),
                  c.want);
    }
    size_t end = 1;
    EXPECT_EQ(decodeUtf8("A", end), kReplacementCharacter);
    EXPECT_EQ(end, 1u);  // at the end nothing is consumed
}

TEST(Utf8, AppendWritesEveryScalarValueAndReplacesTheRest) {
    for (uint32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        std::string text;
        appendUtf8(text, cp);
        size_t i = 0;
        EXPECT_EQ(decodeUtf8(text, i), cp) << std::hex << cp;
        EXPECT_EQ(i, text.size()) << std::hex << cp;
    }
    for (uint32_t bad : {0xD800u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
        std::string text;
        appendUtf8(text, bad);
        EXPECT_EQ(text, "\xEF\xBF\xBD") << std::hex << bad;
    }
}

TEST(Hashing, Fnv1aMatchesTheReferenceVectorsAndChains) {
    EXPECT_EQ(fnv1a(""), 0x811C9DC5u);
    EXPECT_EQ(fnv1a("a"), 0xE40C292Cu);
    EXPECT_EQ(fnv1a("foobar"), 0xBF9CF968u);
    EXPECT_EQ(fnv1a("bar", fnv1a("foo")), fnv1a("foobar"));
    // Bytes above 0x7F hash as unsigned bytes on every compiler.
    EXPECT_EQ(fnv1a("\xFF"), (0x811C9DC5u ^ 0xFFu) * 16777619u);
    WordHash a, b;
    a.mix(1);
    a.mix(2);
    b.mix(2);
    b.mix(1);
    EXPECT_NE(a.value, b.value);  // order matters
}

}  // namespace
}  // namespace ember::launcher
