// The PNG reader on images built here chunk by chunk: every refusal, the
// row filters of every colour type, transparency, the size limits and the
// way image data may be split or cut.
#include "ui/kiln/png.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Written here bit by bit rather than with the reader's own helpers, so a
// fault in those cannot hide itself.
uint32_t crc(const Bytes& data) {
    uint32_t c = 0xffffffffu;
    for (uint8_t b : data) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

uint32_t adler(const Bytes& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void putBe32(Bytes& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// A zlib stream of stored blocks.
Bytes zlibStored(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min(raw.size() - pos, size_t(65535));
        out.push_back(pos + n == raw.size() ? 1 : 0);
        out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        out.insert(out.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    putBe32(out, adler(raw));
    return out;
}

// A zlib stream of one fixed-code block of literals only (no trailer when
// `trailer` is false).
Bytes zlibFixedLiterals(const Bytes& raw, bool trailer = true) {
    Bytes out = {0x78, 0x01};
    uint32_t acc = 0;
    int count = 0;
    auto code = [&](uint32_t c, int len) {
        for (int i = len - 1; i >= 0; --i) {
            acc |= ((c >> i) & 1u) << count;
            if (++count == 8) {
                out.push_back(uint8_t(acc));
                acc = 0;
                count = 0;
            }
        }
    };
    code(0x6, 3);  // final, fixed (bits 1, 1, 0, read first bit first)
    for (uint8_t b : raw) b < 144 ? code(0x30u + b, 8) : code(0x190u + (b - 144u), 9);
    code(0, 7);  // end of block
    if (count > 0) out.push_back(uint8_t(acc));
    if (trailer) putBe32(out, adler(raw));
    return out;
}

struct Chunk {
    std::string type;
    Bytes data;
};

Bytes ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, uint8_t interlace = 0,
           uint8_t compression = 0, uint8_t filter = 0) {
    Bytes d;
    putBe32(d, width);
    putBe32(d, height);
    d.insert(d.end(), {depth, colour, compression, filter, interlace});
    return d;
}

Bytes png(const std::vector<Chunk>& chunks) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    for (const Chunk& c : chunks) {
        putBe32(out, uint32_t(c.data.size()));
        Bytes body(c.type.begin(), c.type.end());
        body.insert(body.end(), c.data.begin(), c.data.end());
        out.insert(out.end(), body.begin(), body.end());
        putBe32(out, crc(body));
    }
    return out;
}

// A whole image: header, optional palette and transparency, one IDAT, IEND.
Bytes image(uint32_t w, uint32_t h, uint8_t colour, const Bytes& raw, const Bytes& plte = {}, const Bytes& trns = {}) {
    std::vector<Chunk> chunks = {{"IHDR", ihdr(w, h, 8, colour)}};
    if (!plte.empty()) chunks.push_back({"PLTE", plte});
    if (!trns.empty()) chunks.push_back({"tRNS", trns});
    chunks.push_back({"IDAT", zlibStored(raw)});
    chunks.push_back({"IEND", {}});
    return png(chunks);
}

struct Decoded {
    bool ok;
    int width, height;
    Bytes pixels;
    std::string error;
};

Decoded decode(const Bytes& file) {
    Decoded d{false, -1, -1, Bytes(8, 7), "old"};
    d.ok = kiln::decodePng(file.data(), file.size(), d.width, d.height, d.pixels, d.error);
    return d;
}

// Rows with filter byte 0 ("None").
Bytes unfilteredRows(const Bytes& pixels, size_t rowBytes) {
    Bytes raw;
    for (size_t y = 0; y * rowBytes < pixels.size(); ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels.begin() + long(y * rowBytes), pixels.begin() + long((y + 1) * rowBytes));
    }
    return raw;
}

TEST(Png, EveryRefusalHasItsMessageAndLeavesNothingDecoded) {
    const Bytes grey2x2 = {0, 1, 2, 0, 3, 4};
    const Bytes good = image(2, 2, 0, grey2x2);
    ASSERT_TRUE(decode(good).ok) << decode(good).error;

    Bytes badCrc = good;
    badCrc[29] ^= 1;  // a byte of IHDR's CRC
    Bytes truncated = good;
    truncated.resize(truncated.size() - 5);
    Bytes lengthTooBig = good;
    lengthTooBig[33 + 3] = 0xff;  // IDAT's length
    auto withHeader = [&](const Bytes& header, const Bytes& raw, const Bytes& plte = {}) {
        std::vector<Chunk> c = {{"IHDR", header}};
        if (!plte.empty()) c.push_back({"PLTE", plte});
        c.push_back({"IDAT", zlibStored(raw)});
        c.push_back({"IEND", {}});
        return png(c);
    };
    const Bytes palette2 = {255, 0, 0, 0, 255, 0};

    const struct {
        const char* what;
        Bytes file;
        std::string message;
    } cases[] = {
        {"empty", {}, "not a PNG file"},
        {"signature only in part", Bytes(good.begin(), good.begin() + 7), "not a PNG file"},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "not a PNG file"},
        {"chunk cut", truncated, "a chunk runs past the end of the file"},
        {"length past the end", lengthTooBig, "a chunk runs past the end of the file"},
        {"chunk header cut", Bytes(good.begin(), good.begin() + 14), "a chunk runs past the end of the file"},
        {"IHDR checksum", badCrc, "a chunk's checksum does not match"},
        {"no IHDR", png({{"IDAT", zlibStored(grey2x2)}, {"IEND", {}}}), "no IHDR chunk"},
        {"IHDR too short", png({{"IHDR", Bytes(12, 1)}, {"IEND", {}}}), "no IHDR chunk"},
        {"width 0", withHeader(ihdr(0, 2, 8, 0), grey2x2), "the image size is out of range"},
        {"height 0", withHeader(ihdr(2, 0, 8, 0), grey2x2), "the image size is out of range"},
        {"width 32769", withHeader(ihdr(32769, 1, 8, 0), grey2x2), "the image size is out of range"},
        {"width 2^32-1", withHeader(ihdr(0xffffffffu, 1, 8, 0), grey2x2), "the image size is out of range"},
        {"32768 x 2049", withHeader(ihdr(32768, 2049, 8, 0), grey2x2), "the image size is out of range"},
        {"16-bit", withHeader(ihdr(2, 2, 16, 0), grey2x2), "only 8-bit images are read (this one is 16-bit)"},
        {"4-bit", withHeader(ihdr(2, 2, 4, 3), grey2x2), "only 8-bit images are read (this one is 4-bit)"},
        {"interlaced", withHeader(ihdr(2, 2, 8, 0, 1), grey2x2), "interlaced images are not read"},
        {"compression 1", withHeader(ihdr(2, 2, 8, 0, 0, 1), grey2x2), "an unknown compression or filter method"},
        {"filter method 1", withHeader(ihdr(2, 2, 8, 0, 0, 0, 1), grey2x2), "an unknown compression or filter method"},
        {"colour type 5", withHeader(ihdr(2, 2, 8, 5), grey2x2), "an unknown colour type 5"},
        {"colour type 7", withHeader(ihdr(2, 2, 8, 7), grey2x2), "an unknown colour type 7"},
        {"palette missing", withHeader(ihdr(2, 2, 8, 3), grey2x2), "a palette image without a palette"},
        {"palette of 4 bytes", withHeader(ihdr(2, 2, 8, 3), grey2x2, {1, 2, 3, 4}), "a palette image without a palette"},
        {"no IDAT", png({{"IHDR", ihdr(2, 2, 8, 0)}, {"IEND", {}}}), "the image data is too short"},
        {"a row short", withHeader(ihdr(2, 3, 8, 0), grey2x2), "the image data is the wrong size"},
        {"a byte long", withHeader(ihdr(2, 2, 8, 0), {0, 1, 2, 0, 3, 4, 5}), "the image data is the wrong size"},
        {"no pixels at all", withHeader(ihdr(2, 2, 8, 0), {}), "the image data is the wrong size"},
        {"row filter 5", withHeader(ihdr(2, 2, 8, 0), {0, 1, 2, 5, 3, 4}), "an unknown row filter 5"},
        {"row filter 255", withHeader(ihdr(2, 2, 8, 0), {255, 1, 2, 0, 3, 4}), "an unknown row filter 255"},
        {"index 2 of 2", withHeader(ihdr(2, 2, 8, 3), {0, 0, 1, 0, 1, 2}, palette2), "a palette index past the palette"},
        {"bad Adler", [&] {
             std::vector<Chunk> c = {{"IHDR", ihdr(2, 2, 8, 0)}, {"IDAT", zlibStored(grey2x2)}, {"IEND", {}}};
             c[1].data.back() ^= 0x40;
             return png(c);
         }(), "the image data's checksum does not match"},
    };
    for (const auto& c : cases) {
        const Decoded d = decode(c.file);
        EXPECT_FALSE(d.ok) << c.what;
        EXPECT_EQ(d.error, c.message) << c.what;
        EXPECT_TRUE(d.pixels.empty()) << c.what;
        EXPECT_EQ(d.width, 0) << c.what;
        EXPECT_EQ(d.height, 0) << c.what;
    }
}

TEST(Png, EveryRowFilterOfEveryColourTypeUnfilters) {
    // Forward filters, as an encoder writes them.
    auto paeth = [](int a, int b, int c) {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    };
    const struct {
        uint8_t colour;
        size_t bpp;
    } types[] = {{0, 1}, {2, 3}, {4, 2}, {6, 4}};
    const size_t w = 9, h = 15;  // every filter three times, and after each other filter
    for (const auto& t : types) {
        const size_t rowBytes = w * t.bpp;
        Bytes pixels(rowBytes * h);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 131 + (i / 7) * (i % 5) * 17) ^ (i >> 3));
        Bytes raw;
        for (size_t y = 0; y < h; ++y) {
            const uint8_t filter = uint8_t((y * 3 + y / 5 + t.bpp) % 5);
            raw.push_back(filter);
            for (size_t x = 0; x < rowBytes; ++x) {
                const int cur = pixels[y * rowBytes + x];
                const int a = x >= t.bpp ? pixels[y * rowBytes + x - t.bpp] : 0;
                const int b = y > 0 ? pixels[(y - 1) * rowBytes + x] : 0;
                const int c = x >= t.bpp && y > 0 ? pixels[(y - 1) * rowBytes + x - t.bpp] : 0;
                const int predictor[5] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
                raw.push_back(uint8_t(cur - predictor[filter]));
            }
        }
        Bytes rgba;
        for (size_t i = 0; i < w * h; ++i) {
            const uint8_t* p = &pixels[i * t.bpp];
            switch (t.colour) {
                case 0: rgba.insert(rgba.end(), {p[0], p[0], p[0], 255}); break;
                case 2: rgba.insert(rgba.end(), {p[0], p[1], p[2], 255}); break;
                case 4: rgba.insert(rgba.end(), {p[0], p[0], p[0], p[1]}); break;
                default: rgba.insert(rgba.end(), p, p + 4); break;
            }
        }
        const Decoded d = decode(image(uint32_t(w), uint32_t(h), t.colour, raw));
        ASSERT_TRUE(d.ok) << "colour type " << int(t.colour) << ": " << d.error;
        EXPECT_EQ(d.width, int(w));
        EXPECT_EQ(d.height, int(h));
        EXPECT_EQ(d.pixels, rgba) << "colour type " << int(t.colour);
    }
}

TEST(Png, TransparencyFollowsTheColourType) {
    // Grey: only pixels of the key's value (its low byte) become transparent.
    Decoded d = decode(image(4, 1, 0, {0, 0, 100, 200, 100}, {}, {0, 100}));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, Bytes({0, 0, 0, 255, 100, 100, 100, 0, 200, 200, 200, 255, 100, 100, 100, 0}));

    // RGB: all three samples must match the key.
    d = decode(image(3, 1, 2, {0, 1, 2, 3, 1, 2, 4, 1, 9, 3}, {}, {0, 1, 0, 2, 0, 3}));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, Bytes({1, 2, 3, 0, 1, 2, 4, 255, 1, 9, 3, 255}));

    // A tRNS too short for its colour type is no key at all.
    d = decode(image(2, 1, 2, {0, 1, 2, 3, 1, 2, 3}, {}, {0, 1, 0, 2, 0}));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, Bytes({1, 2, 3, 255, 1, 2, 3, 255}));

    // Palette: four entries, two alphas; entries 2 and 3 stay opaque.
    const Bytes plte = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42};
    d = decode(image(4, 1, 3, {0, 3, 2, 1, 0}, plte, {128, 0}));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, Bytes({40, 41, 42, 255, 30, 31, 32, 255, 20, 21, 22, 0, 10, 11, 12, 128}));

    // Grey + alpha and RGBA keep their own alpha whatever tRNS says.
    d = decode(image(1, 1, 4, {0, 7, 9}, {}, {0, 7}));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, Bytes({7, 7, 7, 9}));
}

TEST(Png, TheLargestSidesAndPixelCountAreAccepted) {
    // 32768 x 2048 is exactly 64 Mi pixels: the size rule lets it through,
    // so it fails only later, on its (tiny) data. One more row does not.
    const Bytes tiny = zlibStored({0, 0});
    Decoded d = decode(png({{"IHDR", ihdr(32768, 2048, 8, 0)}, {"IDAT", tiny}, {"IEND", {}}}));
    EXPECT_EQ(d.error, "the image data is the wrong size");
    d = decode(png({{"IHDR", ihdr(32768, 2049, 8, 0)}, {"IDAT", tiny}, {"IEND", {}}}));
    EXPECT_EQ(d.error, "the image size is out of range");

    // A whole row and a whole column of the widest size decode.
    Bytes row(32768);
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i % 251);
    d = decode(image(32768, 1, 0, unfilteredRows(row, 32768)));
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.pixels.size(), 32768u * 4);
    EXPECT_EQ(d.pixels[4 * 32767], uint8_t(32767 % 251));
    d = decode(image(1, 32768, 0, unfilteredRows(row, 1)));
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.height, 32768);
    EXPECT_EQ(d.pixels[4 * 32767 + 1], uint8_t(32767 % 251));
}

TEST(Png, ImageDataMaySpanChunksAndEndWithoutItsChecksum) {
    Bytes pixels(16 * 8);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37);
    const Bytes raw = unfilteredRows(pixels, 16);
    const Bytes stream = zlibFixedLiterals(raw);
    Bytes expected;
    for (uint8_t g : pixels) expected.insert(expected.end(), {g, g, g, 255});

    // Split across three IDATs (one of them empty), with a chunk we do not
    // know in between and junk after IEND.
    auto split = [&](const Bytes& s) {
        const size_t third = s.size() / 3;
        return png({{"IHDR", ihdr(16, 8, 8, 0)},
                    {"IDAT", Bytes(s.begin(), s.begin() + long(third))},
                    {"tEXt", {'a', 0, 'b'}},
                    {"IDAT", {}},
                    {"IDAT", Bytes(s.begin() + long(third), s.end())},
                    {"IEND", {}},
                    {"IDAT", {1, 2, 3}}});
    };
    Decoded d = decode(split(stream));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, expected);

    // The file may end after the last chunk without IEND.
    d = decode(png({{"IHDR", ihdr(16, 8, 8, 0)}, {"IDAT", stream}}));
    ASSERT_TRUE(d.ok) << d.error;

    // The last IDAT one byte short: a cut into the Adler-32 trailer is
    // accepted (the data itself is whole) ...
    d = decode(split(Bytes(stream.begin(), stream.end() - 1)));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pixels, expected);
    // ... but a cut into the compressed data is not.
    const Bytes noTrailer = zlibFixedLiterals(raw, false);
    d = decode(split(Bytes(noTrailer.begin(), noTrailer.end() - 1)));
    EXPECT_EQ(d.error, "the image data ends early");
    EXPECT_TRUE(d.pixels.empty());
    // Stored data cut short runs past the data.
    Bytes stored = zlibStored(raw);
    stored.resize(stored.size() - 5);
    d = decode(split(stored));
    EXPECT_EQ(d.error, "a stored block runs past the data");
}

TEST(Png, CrcMatchesTheStandardCheckValue) {
    const char* check = "123456789";
    EXPECT_EQ(kiln::pngCrc32(reinterpret_cast<const uint8_t*>(check), 9), 0xcbf43926u);
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * i + 3);
    EXPECT_EQ(kiln::pngCrc32(data.data(), data.size()), crc(data));
    // In two parts, carrying the value on.
    EXPECT_EQ(kiln::pngCrc32(data.data() + 333, 667, kiln::pngCrc32(data.data(), 333)), crc(data));
}

}  // namespace
