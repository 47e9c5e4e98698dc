// The zlib/DEFLATE decoder: every block type, every failure text, the
// Adler-32 trailer rules and the output limit. Streams are written bit by
// bit here, so each case shows exactly what the decoder is given.
#include "ui/kiln/inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ui/kiln/png.h"

namespace {

using Bytes = std::vector<uint8_t>;

// DEFLATE's bit order: values first bit lowest, Huffman codes first bit highest.
struct BitWriter {
    Bytes bytes;
    uint32_t acc = 0;
    int count = 0;

    void put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) {
            acc |= ((value >> i) & 1u) << count;
            if (++count == 8) flushByte();
        }
    }
    void putCode(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) put((code >> i) & 1u, 1);
    }
    void flushByte() {
        bytes.push_back(uint8_t(acc));
        acc = 0;
        count = 0;
    }
    Bytes finish() {
        if (count > 0) flushByte();
        return bytes;
    }
};

// Canonical codes for a set of code lengths (RFC 1951 section 3.2.2).
std::vector<uint32_t> canonicalCodes(const std::vector<int>& lengths) {
    int counts[16] = {};
    for (int len : lengths) counts[len]++;
    counts[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + counts[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
    }
    return codes;
}

// A dynamic block header for the given lengths, every length sent as a plain
// code-length symbol with a complete code-length code (13 of length 4, 6 of
// length 5). Returns nothing; the codes to use follow from canonicalCodes.
void putDynamicHeader(BitWriter& w, bool final, const std::vector<int>& lit, const std::vector<int>& dist) {
    w.put(final ? 1 : 0, 1);
    w.put(2, 2);
    w.put(uint32_t(lit.size() - 257), 5);
    w.put(uint32_t(dist.size() - 1), 5);
    w.put(19 - 4, 4);
    const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> clLengths(19);
    for (int s = 0; s < 19; ++s) clLengths[s] = s < 13 ? 4 : 5;
    for (int i = 0; i < 19; ++i) w.put(uint32_t(clLengths[order[i]]), 3);
    const std::vector<uint32_t> clCodes = canonicalCodes(clLengths);
    for (int len : lit) w.putCode(clCodes[len], clLengths[len]);
    for (int len : dist) w.putCode(clCodes[len], clLengths[len]);
}

// The length symbol (and its extra bits) for a match length, from RFC 1951.
void putLength(BitWriter& w, const std::vector<uint32_t>& codes, const std::vector<int>& lengths, int length) {
    static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int s = 28;
    while (base[s] > length) --s;
    w.putCode(codes[257 + s], lengths[257 + s]);
    w.put(uint32_t(length - base[s]), extra[s]);
}

void putDistance(BitWriter& w, const std::vector<uint32_t>& codes, const std::vector<int>& lengths, int distance) {
    static const int base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int s = 29;
    while (base[s] > distance) --s;
    w.putCode(codes[s], lengths[s]);
    w.put(uint32_t(distance - base[s]), s < 4 ? 0 : (s - 2) / 2);
}

// The fixed code of block type 1.
std::vector<int> fixedLitLengths() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

// a then b, in a vector sized up front (appending to a short braced vector
// trips a false bounds warning in GCC 12 at -O3).
Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out(a.size() + b.size());
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end(), out.begin() + long(a.size()));
    return out;
}

uint32_t referenceAdler(const Bytes& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

// A zlib stream around raw DEFLATE data, with the Adler-32 of `content`.
Bytes zlib(const Bytes& deflate, const Bytes& content, size_t trailerBytes = 4) {
    Bytes out = concat({0x78, 0x01}, deflate);
    const uint32_t adler = referenceAdler(content);
    for (size_t i = 0; i < trailerBytes; ++i) out.push_back(uint8_t(adler >> (24 - 8 * i)));
    return out;
}

Bytes text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

struct Result {
    bool ok;
    Bytes out;
    std::string error;
};

Result inflate(const Bytes& stream) {
    Result r;
    r.out = {9, 9, 9};
    r.ok = kiln::inflateZlib(stream.data(), stream.size(), r.out, r.error);
    return r;
}

// A stored block holding `content`.
Bytes storedBlock(const Bytes& content, bool final = true) {
    return concat({uint8_t(final ? 1 : 0), uint8_t(content.size()), uint8_t(content.size() >> 8),
                   uint8_t(~content.size()), uint8_t(~content.size() >> 8)},
                  content);
}

// "a", a match (length 10, distance 1) and "bcdefghijklmnop", with the fixed code.
const char* const kFixedContent = "aaaaaaaaaaabcdefghijklmnop";
Bytes fixedBlock() {
    BitWriter w;
    const std::vector<int> lengths = fixedLitLengths();
    const std::vector<uint32_t> codes = canonicalCodes(lengths);
    const std::vector<int> distLengths(30, 5);
    const std::vector<uint32_t> distCodes = canonicalCodes(distLengths);
    w.put(1, 1);
    w.put(1, 2);
    w.putCode(codes['a'], 8);
    putLength(w, codes, lengths, 10);
    putDistance(w, distCodes, distLengths, 1);
    for (const char* p = "bcdefghijklmnop"; *p; ++p) w.putCode(codes[uint8_t(*p)], 8);
    w.putCode(codes[256], 7);
    return w.finish();
}

TEST(Inflate, StoredFixedAndDynamicBlocksDecode) {
    // Stored: two blocks, the first not final.
    const Bytes stored = concat(storedBlock(text("hello "), false), storedBlock(text("world")));
    Result r = inflate(zlib(stored, text("hello world")));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, text("hello world"));

    // Fixed: a run made by an overlapping match.
    r = inflate(zlib(fixedBlock(), text(kFixedContent)));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, text(kFixedContent));
}

TEST(Inflate, DynamicBlockWithLongCodesAndEveryMatchShape) {
    // A code that uses every length from 1 to 15 bits, so the decoder's
    // subtables are exercised: symbol 'x' gets 1 bit, the end code 2, then
    // lengths grow by one; the last two share 15 bits.
    std::vector<int> lit(286, 0);
    const int chain[] = {'x', 256, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 257, 265, 269, 284, 285};
    const int lens[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 15; ++i) lit[chain[i]] = lens[i];
    lit['z'] = 15;
    std::vector<int> dist(30, 5);  // every distance code, 5 bits each (complete)
    dist[0] = dist[1] = 4;         // 4 + 4 + ... keep it complete: 2/16 + 28/32 = 1
    const std::vector<uint32_t> codes = canonicalCodes(lit);
    const std::vector<uint32_t> distCodes = canonicalCodes(dist);

    BitWriter w;
    putDynamicHeader(w, true, lit, dist);
    Bytes expected;
    auto literal = [&](int c) {
        w.putCode(codes[c], lit[c]);
        expected.push_back(uint8_t(c));
    };
    auto match = [&](int length, int distance) {
        putLength(w, codes, lit, length);
        putDistance(w, distCodes, dist, distance);
        for (int i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    };
    for (const char* p = "abcdefghxz"; *p; ++p) literal(*p);
    // Short, overlapping, word-sized and long matches; lengths with and
    // without extra bits; distances up to the whole output.
    // (This code has length symbols 257, 265, 269, 284 and 285 only.)
    match(3, 1);
    match(11, 3);
    match(12, 8);
    match(20, 16);
    match(22, 5);
    match(227, 16);
    match(258, 7);
    match(258, 2);
    match(257, 100);
    match(230, 4);
    for (int i = 0; i < 40; ++i) literal("abcdefghxz"[i % 10]);
    match(258, int(expected.size()));
    for (int i = 0; i < 200; ++i) match(258, 1 + (i * 37) % 500);
    literal('z');
    w.putCode(codes[256], lit[256]);
    const Bytes block = w.finish();

    Result r = inflate(zlib(block, expected));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, expected);
}

TEST(Inflate, AdlerTrailerCutOffIsAcceptedButAWrongOneIsRefused) {
    const Bytes content = text("hello world");
    for (size_t trailer = 0; trailer < 4; ++trailer) {
        Result r = inflate(zlib(storedBlock(content), content, trailer));
        EXPECT_TRUE(r.ok) << "trailer of " << trailer << " bytes: " << r.error;
        EXPECT_EQ(r.out, content);
    }
    Bytes wrong = zlib(storedBlock(content), content);
    wrong.back() ^= 1;
    Result r = inflate(wrong);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "the image data's checksum does not match");
    EXPECT_TRUE(r.out.empty());

    EXPECT_EQ(kiln::adler32(content.data(), content.size()), referenceAdler(content));
    Bytes big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + i / 253);
    EXPECT_EQ(kiln::adler32(big.data(), big.size()), referenceAdler(big));
}

// A dynamic block with the given codes whose body is `body(w)`, then padding.
template <typename Body>
Bytes dynamicStream(const std::vector<int>& lit, const std::vector<int>& dist, Body body, size_t padding = 8) {
    BitWriter w;
    putDynamicHeader(w, true, lit, dist);
    body(w);
    return zlib(concat(w.finish(), Bytes(padding, 0)), Bytes(), 0);
}

TEST(Inflate, EveryFailureHasItsOwnMessage) {
    // A valid small literal/length code: 'a' 1 bit, end 2 bits, symbol 257 2 bits.
    std::vector<int> lit(258, 0);
    lit['a'] = 1;
    lit[256] = 2;
    lit[257] = 2;
    const std::vector<int> oneDist = {1};

    // Raw headers of dynamic blocks, bit by bit.
    auto header = [](uint32_t hlit, uint32_t hdist, uint32_t hclen, std::vector<int> clLengths,
                     std::function<void(BitWriter&)> body) {
        BitWriter w;
        w.put(1, 1);
        w.put(2, 2);
        w.put(hlit, 5);
        w.put(hdist, 5);
        w.put(hclen, 4);
        for (int len : clLengths) w.put(uint32_t(len), 3);
        body(w);
        return zlib(concat(w.finish(), Bytes(8, 0)), Bytes(), 0);
    };
    auto nothing = [](BitWriter&) {};
    // Code-length code: symbols 16, 17, 18, 0 with 2 bits each (complete):
    // 0 is "00", 16 "01", 17 "10", 18 "11".
    const std::vector<int> fourSymbols = {2, 2, 2, 2};
    auto zeros = [](std::vector<int> runs) {
        return [runs](BitWriter& w) {
            for (int n : runs) {
                w.putCode(3, 2);
                w.put(uint32_t(n - 11), 7);
            }
        };
    };

    // Bits of a fixed block and eight zero bytes after them.
    auto padded = [](BitWriter& w) { return zlib(concat(w.finish(), Bytes(8, 0)), Bytes(), 0); };
    BitWriter fixed286;
    fixed286.put(3, 3);
    fixed286.putCode(0xc6, 8);  // symbol 286: 11000110
    BitWriter fixedDist30;
    fixedDist30.put(3, 3);
    fixedDist30.putCode(1, 7);    // symbol 257: length 3
    fixedDist30.putCode(30, 5);   // distance symbol 30
    BitWriter tooFar;
    tooFar.put(3, 3);
    tooFar.putCode(0x30 + 'a', 8);
    tooFar.putCode(1, 7);   // length 3
    tooFar.putCode(1, 5);   // distance 2, one byte of output so far
    BitWriter type3;
    type3.put(7, 3);

    Bytes storedBadLength = {0x01, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    Bytes storedPast = {0x01, 100, 0, 0x9b, 0xff, 'h', 'e', 'l', 'l', 'o'};
    Bytes fixedCut = fixedBlock();
    fixedCut.pop_back();

    const struct {
        const char* what;
        Bytes stream;
        const char* message;
    } cases[] = {
        {"five bytes", {0x78, 0x01, 0x03, 0x00, 0x00}, "the image data is too short"},
        {"method 7", {0x77, 0x85, 0x03, 0x00, 0x00, 0x00, 0x01}, "the image data is not a zlib stream"},
        {"header check fails", {0x78, 0x02, 0x03, 0x00, 0x00, 0x00, 0x01}, "the image data is not a zlib stream"},
        {"preset dictionary", {0x78, 0x20, 0, 0, 0, 1, 0x03, 0x00}, "the image data asks for a preset dictionary"},
        {"stored NLEN wrong", zlib(storedBadLength, text("hello")), "a stored block's length is damaged"},
        {"stored past data", zlib(storedPast, Bytes(), 0), "a stored block runs past the data"},
        {"stored LEN cut", {0x78, 0x01, 0x01, 5, 0, 0xfa}, "the image data ends early"},
        {"type 3", padded(type3), "a block of an unknown type"},
        {"287 literal codes", header(30, 0, 0, {}, nothing), "a block's code sizes are impossible"},
        {"31 distance codes", header(0, 30, 0, {}, nothing), "a block's code sizes are impossible"},
        // An empty stored block, then a dynamic block whose counts are cut off.
        {"counts cut off", {0x78, 0x01, 0x00, 0x00, 0x00, 0xff, 0xff, 0x05}, "a block's code sizes are impossible"},
        {"code-length code incomplete", header(0, 0, 0, {2, 2, 2, 0}, nothing),
         "a block's code-length code is incomplete"},
        {"code-length code empty", header(0, 0, 0, {0, 0, 0, 0}, nothing), "a block's code-length code is incomplete"},
        {"repeat first", header(0, 0, 0, fourSymbols, [](BitWriter& w) { w.putCode(1, 2); }),
         "a repeat with nothing before it"},
        {"zeros run over", header(0, 0, 0, fourSymbols, zeros({138, 138})), "a block's code lengths run over"},
        // 258 lengths of 0: the end code has no length.
        {"no end code", header(0, 0, 0, fourSymbols, zeros({138, 120})), "a block has no end code"},
        {"literal code oversubscribed",
         dynamicStream(std::vector<int>(257, 1), oneDist, [](BitWriter&) {}),
         "a block's code lengths are damaged"},
        {"literal code incomplete",
         dynamicStream([] { std::vector<int> l(257, 0); l[0] = 2; l[256] = 2; return l; }(), oneDist,
                       [](BitWriter&) {}),
         "a block's code lengths are damaged"},
        {"distance code oversubscribed", dynamicStream(lit, {1, 1, 1}, [](BitWriter&) {}),
         "a block's code lengths are damaged"},
        // Only the end code (one bit, "0"), so "1" matches nothing.
        {"undecodable literal",
         dynamicStream([] { std::vector<int> l(257, 0); l[256] = 1; return l; }(), oneDist,
                       [](BitWriter& w) { w.put(1, 1); }),
         "a block's literal code is invalid"},
        // The only distance code is "0"; "1" matches nothing.
        {"undecodable distance",
         dynamicStream(lit, oneDist, [](BitWriter& w) { w.putCode(0, 1); w.putCode(3, 2); w.put(1, 1); }),
         "a block's distance code is invalid"},
        {"no distance codes at all",
         dynamicStream(lit, {0}, [](BitWriter& w) { w.putCode(0, 1); w.putCode(3, 2); w.put(0, 1); }),
         "a block's distance code is invalid"},
        {"fixed literal 286", padded(fixed286), "the compressed image data is damaged"},
        {"fixed distance 30", padded(fixedDist30), "the compressed image data is damaged"},
        {"distance too far", padded(tooFar), "the compressed image data is damaged"},
        {"fixed block cut", zlib(fixedCut, Bytes(), 0), "the image data ends early"},
        {"no final block", zlib(storedBlock(text("hi"), false), text("hi"), 0), "the image data ends early"},
        {"dynamic header cut",
         [&] { Bytes s = dynamicStream(lit, oneDist, [](BitWriter&) {}, 0); s.resize(8); return s; }(),
         "the image data ends early"},
    };
    for (const auto& c : cases) {
        Result r = inflate(c.stream);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.error, c.message) << c.what;
        EXPECT_TRUE(r.out.empty()) << c.what;
    }
}

TEST(Inflate, OutputLimitStopsAtTheExactSize) {
    const Bytes content = text("0123456789");
    const Bytes stream = zlib(storedBlock(content), content);
    Bytes out;
    std::string error;
    EXPECT_TRUE(kiln::inflateZlib(stream.data(), stream.size(), 10, out, error)) << error;
    EXPECT_EQ(out, content);
    EXPECT_FALSE(kiln::inflateZlib(stream.data(), stream.size(), 9, out, error));
    EXPECT_EQ(error, "the image data is the wrong size");
    EXPECT_TRUE(out.empty());

    // The same through a fixed block (a match crossing the limit).
    const Bytes fixed = zlib(fixedBlock(), text(kFixedContent));
    EXPECT_FALSE(kiln::inflateZlib(fixed.data(), fixed.size(), 5, out, error));
    EXPECT_EQ(error, "the image data is the wrong size");
    size_t produced = 0;
    const size_t size = std::strlen(kFixedContent);
    Bytes buffer(size + kiln::kInflateSlack);
    EXPECT_TRUE(kiln::inflateZlibInto(fixed.data(), fixed.size(), buffer.data(), size, produced, error)) << error;
    EXPECT_EQ(produced, size);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + long(size)), text(kFixedContent));
    EXPECT_FALSE(kiln::inflateZlibInto(fixed.data(), fixed.size(), buffer.data(), size - 1, produced, error));
    EXPECT_EQ(error, "the image data is the wrong size");
}

// A stream of about 1.1 MB that would inflate to more than 1 GiB: one
// literal, then matches of 258 bytes at distance 1 coded in 2 bits each
// (length symbol 285 and the only distance code are both "0", so every
// zero byte is four matches). DEFLATE cannot expand more than 1032 to 1,
// so a gigabyte needs at least a megabyte of input.
Bytes bombStream() {
    std::vector<int> lit(286, 0);
    lit[285] = 1;
    lit['A'] = 2;
    lit[256] = 2;
    BitWriter w;
    putDynamicHeader(w, true, lit, {1});
    w.putCode(canonicalCodes(lit)['A'], 2);
    return zlib(concat(w.finish(), Bytes(1100000, 0)), Bytes(), 0);
}

TEST(Inflate, AStreamThatWouldFillGigabytesStopsAtTheLimit) {
    // The stream is cut off near its end, so a decoder that went on past
    // the limit (doing a gigabyte of work first) would report the cut, not
    // the size: the error shows where the work stopped.
    Bytes bomb = bombStream();
    ASSERT_GT((bomb.size() - 40) * 4 * 258, size_t(1) << 30);
    bomb.resize(bomb.size() - 16);
    Bytes out;
    std::string error;
    EXPECT_FALSE(kiln::inflateZlib(bomb.data(), bomb.size(), 1 << 20, out, error));
    EXPECT_EQ(error, "the image data is the wrong size");
    EXPECT_TRUE(out.empty());

    // A PNG of 256 x 256 RGBA whose IDAT is the same stream: refused as soon
    // as the data passes the 262,400 bytes the header implies.
    Bytes png = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    auto chunk = [&png](const char* type, const Bytes& data) {
        const uint32_t n = uint32_t(data.size());
        const Bytes body = concat(Bytes(type, type + 4), data);
        const uint32_t crc = kiln::pngCrc32(body.data(), body.size());
        png = concat(png, {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        png = concat(png, body);
        png = concat(png, {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    };
    chunk("IHDR", {0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0});
    chunk("IDAT", bomb);
    chunk("IEND", {});
    int width = 1, height = 1;
    std::vector<uint8_t> pixels(4);
    EXPECT_FALSE(kiln::decodePng(png.data(), png.size(), width, height, pixels, error));
    EXPECT_EQ(error, "the image data is the wrong size");
    EXPECT_TRUE(pixels.empty());
}

}  // namespace
