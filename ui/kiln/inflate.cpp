// zlib and DEFLATE decoder.
//
// Sections: failure texts; decode tables (layout, building, the fixed
// codes); the bit reader and the block decoder (fast loop, careful loop,
// stored and dynamic blocks); the zlib wrapper and the public entry points.
//
// Speed comes from three things: table lookups that resolve a whole code
// (and the extra bits after it) at once, an 11-bit primary table with small
// subtables for the rare long codes; a 64-bit bit buffer refilled with one
// unaligned load; and match copies in whole words while the output has room.
// Near the end of the input or the output a careful loop takes over that
// checks every step, so the fast loop needs no checks of its own.
#include "ui/kiln/inflate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiln {
namespace {

// ---------------------------------------------------------------------------
// Failure texts
// ---------------------------------------------------------------------------

const char* const kTooShort = "the image data is too short";
const char* const kNotZlib = "the image data is not a zlib stream";
const char* const kPresetDictionary = "the image data asks for a preset dictionary";
const char* const kStoredLengthDamaged = "a stored block's length is damaged";
const char* const kStoredPastData = "a stored block runs past the data";
const char* const kCodeSizesImpossible = "a block's code sizes are impossible";
const char* const kCodeLengthCodeIncomplete = "a block's code-length code is incomplete";
const char* const kRepeatWithNothingBefore = "a repeat with nothing before it";
const char* const kCodeLengthsRunOver = "a block's code lengths run over";
const char* const kCodeLengthsDamaged = "a block's code lengths are damaged";
const char* const kNoEndCode = "a block has no end code";
const char* const kUnknownBlockType = "a block of an unknown type";
const char* const kLiteralCodeInvalid = "a block's literal code is invalid";
const char* const kDistanceCodeInvalid = "a block's distance code is invalid";
const char* const kDamaged = "the compressed image data is damaged";
const char* const kEndsEarly = "the image data ends early";
const char* const kChecksumMismatch = "the image data's checksum does not match";
const char* const kWrongSize = "the image data is the wrong size";
const char* const kOutOfMemory = "there is not enough memory for the image data";

// ---------------------------------------------------------------------------
// Decode tables
// ---------------------------------------------------------------------------
//
// One 32-bit entry per table slot:
//   bits 0-7    bits to drop: the code plus its extra bits (a subtable link:
//               the primary index bits)
//   bits 8-11   the code's own length, where the extra bits start (a subtable
//               link: the subtable's index bits)
//   bits 12-15  flags below
//   bits 16-31  the literal byte, length or distance base, code-length
//               symbol, or a subtable's offset
// An exceptional entry without the subtable or end flag is an undecodable
// code (value 0) or a symbol outside the standard's tables (value 1).

constexpr uint32_t kLiteral = 0x8000;
constexpr uint32_t kExceptional = 0x4000;
constexpr uint32_t kSubtable = 0x2000;
constexpr uint32_t kEndOfBlock = 0x1000;
constexpr uint32_t kInvalidEntry = kExceptional;
constexpr uint32_t kOutsideEntry = kExceptional | (1u << 16);

constexpr unsigned kLitBits = 11;
constexpr unsigned kDistBits = 8;
constexpr unsigned kCodeLenBits = 7;
// The most slots any valid code needs with these primary sizes, subtables
// included (288 symbols / 11 bits / 15 at most; 32 / 8 / 15).
constexpr size_t kLitEnough = 2342;
constexpr size_t kDistEnough = 402;
constexpr unsigned kMaxCodeLength = 15;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code-length code's lengths.
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class TableKind { LiteralLength, Distance, CodeLength };

uint32_t makeEntry(TableKind kind, unsigned symbol, unsigned codeLength) {
    switch (kind) {
        case TableKind::LiteralLength:
            if (symbol < 256) return kLiteral | (symbol << 16) | codeLength;
            if (symbol == 256) return kExceptional | kEndOfBlock | codeLength;
            if (symbol <= 285) {
                unsigned extra = kLengthExtra[symbol - 257];
                return (uint32_t(kLengthBase[symbol - 257]) << 16) | (codeLength << 8) | (codeLength + extra);
            }
            return kOutsideEntry | codeLength;
        case TableKind::Distance:
            if (symbol < 30) {
                unsigned extra = kDistExtra[symbol];
                return (uint32_t(kDistBase[symbol]) << 16) | (codeLength << 8) | (codeLength + extra);
            }
            return kOutsideEntry | codeLength;
        case TableKind::CodeLength:
            break;
    }
    return (symbol << 16) | codeLength;
}

// The low `length` bits of `code` in reverse order (length 1..15).
unsigned reverseBits(unsigned code, unsigned length) {
    code = ((code & 0x5555u) << 1) | ((code >> 1) & 0x5555u);
    code = ((code & 0x3333u) << 2) | ((code >> 2) & 0x3333u);
    code = ((code & 0x0f0fu) << 4) | ((code >> 4) & 0x0f0fu);
    code = ((code & 0x00ffu) << 8) | ((code >> 8) & 0x00ffu);
    return code >> (16 - length);
}

// How a set of code lengths stands as a prefix code.
enum class CodeShape { Complete, Incomplete, Oversubscribed };

CodeShape codeShape(const uint8_t* lengths, unsigned count, unsigned counts[kMaxCodeLength + 1]) {
    std::fill(counts, counts + kMaxCodeLength + 1, 0u);
    for (unsigned i = 0; i < count; ++i) counts[lengths[i]]++;
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        left = left * 2 - int(counts[len]);
        if (left < 0) return CodeShape::Oversubscribed;
    }
    return left == 0 ? CodeShape::Complete : CodeShape::Incomplete;
}

// A decode table and the longest code in it (an undecodable code is only
// reported as such when that many bits of real input were there to read).
struct Table {
    const uint32_t* entries = nullptr;
    unsigned rootBits = 0;
    unsigned maxLength = 0;
};

// Fills `table` for a code that is complete or acceptably incomplete. Slots
// no code reaches stay undecodable. False only if the slots would not fit,
// which the sizes above rule out for any code that is not oversubscribed.
bool buildTable(const uint8_t* lengths, unsigned count, TableKind kind, unsigned rootBits, uint32_t* table,
                size_t capacity, unsigned& maxLength) {
    unsigned counts[kMaxCodeLength + 1];
    const bool complete = codeShape(lengths, count, counts) == CodeShape::Complete;
    maxLength = kMaxCodeLength;
    while (maxLength > 0 && counts[maxLength] == 0) --maxLength;

    // Symbols sorted by code length, then by value: canonical code order.
    unsigned offsets[kMaxCodeLength + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) offsets[len + 1] = offsets[len] + counts[len];
    uint16_t sorted[288];
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        if (lengths[symbol] != 0) sorted[offsets[lengths[symbol]]++] = uint16_t(symbol);
    }

    // A complete code reaches every slot; only an incomplete one leaves
    // slots that must say "undecodable".
    const size_t rootSize = size_t(1) << rootBits;
    if (!complete) std::fill(table, table + rootSize, kInvalidEntry);
    size_t next = rootSize;
    unsigned remaining[kMaxCodeLength + 1];
    std::copy(counts, counts + kMaxCodeLength + 1, remaining);
    unsigned code = 0;  // the canonical code, first bit in the highest place
    size_t index = 0;
    size_t currentPrefix = ~size_t(0);
    size_t subOffset = 0;
    unsigned subBits = 0;
    for (unsigned len = 1; len <= maxLength; ++len, code <<= 1) {
        for (unsigned k = 0; k < counts[len]; ++k, ++code, --remaining[len]) {
            const unsigned symbol = sorted[index++];
            const size_t reversed = reverseBits(code, len);  // DEFLATE sends codes first bit first
            if (len <= rootBits) {
                const uint32_t entry = makeEntry(kind, symbol, len);
                for (size_t slot = reversed; slot < rootSize; slot += size_t(1) << len) table[slot] = entry;
                continue;
            }
            const size_t prefix = reversed & (rootSize - 1);
            if (prefix != currentPrefix) {
                // A new subtable, wide enough for every longer code that
                // shares this prefix (canonical codes fill it in order).
                unsigned bits = len - rootBits;
                int left = 1 << bits;
                while (bits + rootBits < maxLength) {
                    left -= int(remaining[bits + rootBits]);
                    if (left <= 0) break;
                    ++bits;
                    left <<= 1;
                }
                if (next + (size_t(1) << bits) > capacity) return false;
                subOffset = next;
                subBits = bits;
                next += size_t(1) << bits;
                if (!complete) std::fill(table + subOffset, table + next, kInvalidEntry);
                table[prefix] = kExceptional | kSubtable | (uint32_t(subOffset) << 16) | (bits << 8) | rootBits;
                currentPrefix = prefix;
            }
            const unsigned subLength = len - rootBits;
            const uint32_t entry = makeEntry(kind, symbol, subLength);
            for (size_t slot = reversed >> rootBits; slot < (size_t(1) << subBits); slot += size_t(1) << subLength) {
                table[subOffset + slot] = entry;
            }
        }
    }
    return true;
}

// The fixed codes of block type 1, built once for the life of the process
// (a function-local static is initialised once even with many threads).
struct FixedTables {
    uint32_t lit[kLitEnough];
    uint32_t dist[kDistEnough];
    unsigned litMax = 0;
    unsigned distMax = 0;

    FixedTables() {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, uint8_t(8));
        std::fill(lengths + 144, lengths + 256, uint8_t(9));
        std::fill(lengths + 256, lengths + 280, uint8_t(7));
        std::fill(lengths + 280, lengths + 288, uint8_t(8));
        buildTable(lengths, 288, TableKind::LiteralLength, kLitBits, lit, kLitEnough, litMax);
        std::fill(lengths, lengths + 32, uint8_t(5));
        buildTable(lengths, 32, TableKind::Distance, kDistBits, dist, kDistEnough, distMax);
    }
};

const FixedTables& fixedTables() {
    static const FixedTables tables;
    return tables;
}

// ---------------------------------------------------------------------------
// The decoder
// ---------------------------------------------------------------------------

inline uint64_t load64le(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline uint64_t lowBits(unsigned n) {
    return (uint64_t(1) << n) - 1;
}

// Where the output goes: a fixed buffer (its end is the limit), or a vector
// that grows up to a limit. Both keep kInflateSlack writable bytes past end.
struct OutputBuffer {
    uint8_t* begin = nullptr;
    uint8_t* end = nullptr;
    std::vector<uint8_t>* vector = nullptr;  // null for a fixed buffer
    size_t limit = 0;
};

class Inflater {
public:
    Inflater(const uint8_t* data, size_t length, OutputBuffer& output)
        : inBegin_(data), in_(data), inEnd_(data + length), output_(output), out_(output.begin) {}

    // Decodes every block; null on success, else the failure text.
    const char* run();
    size_t produced() const { return size_t(out_ - output_.begin); }
    // Bytes of input after the final block (byte-aligned); valid after run().
    size_t trailingBytes() const { return size_t(inEnd_ - in_); }

private:
    // Careful refill: byte by byte, zeros past the end (counted in overrun_).
    void refillCareful() {
        while (bitcount_ <= 55) {
            uint64_t byte = 0;
            if (in_ < inEnd_) {
                byte = *in_++;
            } else {
                ++overrun_;
            }
            bitbuf_ |= byte << bitcount_;
            bitcount_ += 8;
        }
    }
    // Bits in the buffer that came from the input, not from padding.
    long long realBits() const { return (long long)bitcount_ - 8 * (long long)overrun_; }
    void drop(unsigned n) {
        bitbuf_ >>= n;
        bitcount_ -= n;
    }
    // Reads n bits (n <= 32) with every check; false when the input ran out.
    bool readBits(unsigned n, uint32_t& value) {
        refillCareful();
        if ((long long)n > realBits()) return false;
        value = uint32_t(bitbuf_ & lowBits(n));
        drop(n);
        return true;
    }
    // Moves to the next whole byte and hands the buffered bytes back to the
    // input; false if reading had already gone past the end.
    bool alignToByte() {
        drop(bitcount_ & 7);
        const size_t consumed = size_t(in_ - inBegin_) + overrun_;
        const size_t buffered = bitcount_ / 8;
        if (consumed - buffered > size_t(inEnd_ - inBegin_)) return false;
        in_ = inBegin_ + (consumed - buffered);
        bitbuf_ = 0;
        bitcount_ = 0;
        overrun_ = 0;
        return true;
    }
    // Makes room for n more output bytes; false when that passes the limit.
    bool reserve(size_t n);

    const char* storedBlock();
    const char* dynamicBlock();
    const char* huffmanBlock(const Table& lit, const Table& dist);
    // Decodes one symbol with every check (the careful loop).
    const char* decodeCareful(const Table& table, uint32_t& entry, const char* invalidText);

    // Input and bit reader.
    const uint8_t* inBegin_;
    const uint8_t* in_;
    const uint8_t* inEnd_;
    uint64_t bitbuf_ = 0;
    unsigned bitcount_ = 0;
    size_t overrun_ = 0;
    // Output.
    OutputBuffer& output_;
    uint8_t* out_;
    // The current dynamic block's tables.
    uint32_t litTable_[kLitEnough];
    uint32_t distTable_[kDistEnough];
};

bool Inflater::reserve(size_t n) {
    const size_t used = size_t(out_ - output_.begin);
    const size_t capacity = size_t(output_.end - output_.begin);
    if (capacity - used >= n) return true;
    if (output_.vector == nullptr || output_.limit - used < n) return false;
    // Grow the vector geometrically, never past the limit.
    size_t wanted = std::max(used + n, capacity < output_.limit / 2 ? capacity * 2 : output_.limit);
    wanted = std::min(std::max(wanted, size_t(4096)), output_.limit);
    output_.vector->resize(wanted + kInflateSlack);
    output_.begin = output_.vector->data();
    output_.end = output_.begin + wanted;
    out_ = output_.begin + used;
    return true;
}

const char* Inflater::run() {
    for (;;) {
        // Block header: the final flag and the type.
        uint32_t header = 0;
        if (!readBits(3, header)) return kEndsEarly;
        const char* failure = nullptr;
        switch (header >> 1) {
            case 0:
                failure = storedBlock();
                break;
            case 1: {
                const FixedTables& fixed = fixedTables();
                failure = huffmanBlock(Table{fixed.lit, kLitBits, fixed.litMax},
                                       Table{fixed.dist, kDistBits, fixed.distMax});
                break;
            }
            case 2:
                failure = dynamicBlock();
                break;
            default:
                return kUnknownBlockType;
        }
        if (failure != nullptr) return failure;
        if (header & 1) break;
    }
    // What follows the final block starts at the next whole byte.
    if (!alignToByte()) return kEndsEarly;
    return nullptr;
}

const char* Inflater::storedBlock() {
    // LEN and NLEN start at a byte boundary.
    if (!alignToByte()) return kEndsEarly;
    if (inEnd_ - in_ < 4) return kEndsEarly;
    const unsigned len = in_[0] | (unsigned(in_[1]) << 8);
    const unsigned nlen = in_[2] | (unsigned(in_[3]) << 8);
    in_ += 4;
    if (len != (~nlen & 0xffffu)) return kStoredLengthDamaged;
    if (size_t(inEnd_ - in_) < len) return kStoredPastData;
    if (!reserve(len)) return kWrongSize;
    std::memcpy(out_, in_, len);
    out_ += len;
    in_ += len;
    return nullptr;
}

const char* Inflater::dynamicBlock() {
    // The three counts: literal/length codes, distance codes, code-length codes.
    uint32_t counts = 0;
    if (!readBits(14, counts)) return kCodeSizesImpossible;
    const unsigned hlit = (counts & 31) + 257;
    const unsigned hdist = ((counts >> 5) & 31) + 1;
    const unsigned hclen = (counts >> 10) + 4;
    if (hlit > 286 || hdist > 30) return kCodeSizesImpossible;

    // The code-length code, which must be complete.
    uint8_t codeLengthLengths[19] = {};
    for (unsigned i = 0; i < hclen; ++i) {
        uint32_t len = 0;
        if (!readBits(3, len)) return kEndsEarly;
        codeLengthLengths[kCodeLengthOrder[i]] = uint8_t(len);
    }
    unsigned shapeCounts[kMaxCodeLength + 1];
    if (codeShape(codeLengthLengths, 19, shapeCounts) != CodeShape::Complete) return kCodeLengthCodeIncomplete;
    uint32_t codeLengthTable[1u << kCodeLenBits];
    Table codeLengthCode{codeLengthTable, kCodeLenBits, 0};
    buildTable(codeLengthLengths, 19, TableKind::CodeLength, kCodeLenBits, codeLengthTable, 1u << kCodeLenBits,
               codeLengthCode.maxLength);

    // The literal/length and distance code lengths, with their repeats.
    uint8_t lengths[286 + 30];
    const unsigned total = hlit + hdist;
    for (unsigned i = 0; i < total;) {
        uint32_t entry = 0;
        // A complete code has no undecodable slots, so only the end of the
        // input can stop this decode.
        if (decodeCareful(codeLengthCode, entry, kEndsEarly) != nullptr) return kEndsEarly;
        drop(entry & 0xff);
        const unsigned symbol = entry >> 16;
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            continue;
        }
        uint8_t value = 0;
        uint32_t repeat = 0;
        if (symbol == 16) {
            if (i == 0) return kRepeatWithNothingBefore;
            value = lengths[i - 1];
            if (!readBits(2, repeat)) return kEndsEarly;
            repeat += 3;
        } else if (symbol == 17) {
            if (!readBits(3, repeat)) return kEndsEarly;
            repeat += 3;
        } else {
            if (!readBits(7, repeat)) return kEndsEarly;
            repeat += 11;
        }
        if (repeat > total - i) return kCodeLengthsRunOver;
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }

    // Both codes must be valid prefix codes; an incomplete one is allowed
    // only as a single code of one bit (or, for distances, no code at all).
    if (lengths[256] == 0) return kNoEndCode;
    for (int which = 0; which < 2; ++which) {
        const uint8_t* set = which == 0 ? lengths : lengths + hlit;
        const unsigned count = which == 0 ? hlit : hdist;
        const CodeShape shape = codeShape(set, count, shapeCounts);
        if (shape == CodeShape::Oversubscribed) return kCodeLengthsDamaged;
        if (shape == CodeShape::Incomplete) {
            unsigned used = 0;
            for (unsigned len = 1; len <= kMaxCodeLength; ++len) used += shapeCounts[len];
            const bool singleOneBit = used == 1 && shapeCounts[1] == 1;
            const bool empty = used == 0 && which == 1;
            if (!singleOneBit && !empty) return kCodeLengthsDamaged;
        }
    }
    Table lit{litTable_, kLitBits, 0};
    Table dist{distTable_, kDistBits, 0};
    if (!buildTable(lengths, hlit, TableKind::LiteralLength, kLitBits, litTable_, kLitEnough, lit.maxLength) ||
        !buildTable(lengths + hlit, hdist, TableKind::Distance, kDistBits, distTable_, kDistEnough,
                    dist.maxLength)) {
        return kCodeLengthsDamaged;
    }
    return huffmanBlock(lit, dist);
}

const char* Inflater::decodeCareful(const Table& table, uint32_t& entry, const char* invalidText) {
    refillCareful();
    uint32_t e = table.entries[bitbuf_ & lowBits(table.rootBits)];
    unsigned skipped = 0;
    if ((e & (kExceptional | kSubtable)) == (kExceptional | kSubtable)) {
        skipped = table.rootBits;
        e = table.entries[(e >> 16) + ((bitbuf_ >> skipped) & lowBits((e >> 8) & 15))];
    }
    if ((e & (kExceptional | kSubtable | kEndOfBlock)) == kExceptional && (e >> 16) == 0) {
        // Undecodable, unless the input ended before a whole code could be read.
        return realBits() < (long long)table.maxLength ? kEndsEarly : invalidText;
    }
    const unsigned need = skipped + (e & 0xff);
    if ((long long)need > realBits()) return kEndsEarly;
    // Leave the bits to drop in the entry's low byte, counted from here.
    entry = (e & ~0xffu & ~0xf00u) | (need & 0xff) | ((((e >> 8) & 15) + skipped) << 8);
    return nullptr;
}

const char* Inflater::huffmanBlock(const Table& litTable, const Table& distTable) {
    const uint32_t* const lit = litTable.entries;
    const uint32_t* const dist = distTable.entries;
    const uint64_t litMask = lowBits(kLitBits);
    const uint64_t distMask = lowBits(kDistBits);
    for (;;) {
        // Fast loop: at least 16 bytes of input (so refills never pass the
        // end) and 258 bytes of output room (the longest match) per step.
        if (inEnd_ - in_ >= 16 && output_.end - out_ >= 258) {
            const uint8_t* in = in_;
            const uint8_t* const inFastEnd = inEnd_ - 16;
            uint8_t* out = out_;
            uint8_t* const outBegin = output_.begin;
            uint8_t* const outFastEnd = output_.end - 258;
            uint64_t bitbuf = bitbuf_;
            unsigned bitcount = bitcount_;
            const char* failure = nullptr;
            bool endOfBlock = false;
            do {
                // At least 56 bits: enough for a length and a distance with
                // all their extra bits.
                bitbuf |= load64le(in) << bitcount;
                in += (63 - bitcount) >> 3;
                bitcount |= 56;

                uint32_t e = lit[bitbuf & litMask];
                if (e & kSubtable) {
                    bitbuf >>= kLitBits;
                    bitcount -= kLitBits;
                    e = lit[(e >> 16) + (bitbuf & lowBits((e >> 8) & 15))];
                }
                uint64_t saved = bitbuf;
                bitbuf >>= (e & 0xff);
                bitcount -= (e & 0xff);
                if (e & kLiteral) {
                    *out++ = uint8_t(e >> 16);
                    // Two more literals from the primary table (11 bits at
                    // most each) fit in the 41 or more bits left.
                    e = lit[bitbuf & litMask];
                    if (e & kLiteral) {
                        bitbuf >>= (e & 0xff);
                        bitcount -= (e & 0xff);
                        *out++ = uint8_t(e >> 16);
                        e = lit[bitbuf & litMask];
                        if (e & kLiteral) {
                            bitbuf >>= (e & 0xff);
                            bitcount -= (e & 0xff);
                            *out++ = uint8_t(e >> 16);
                        }
                    }
                    continue;
                }
                if (e & kExceptional) {
                    if (e & kEndOfBlock) {
                        endOfBlock = true;
                    } else {
                        failure = (e >> 16) == 0 ? kLiteralCodeInvalid : kDamaged;
                    }
                    break;
                }
                const size_t length = (e >> 16) + ((saved & lowBits(e & 0xff)) >> ((e >> 8) & 15));

                // The distance: at most 28 bits, and 36 or more are left.
                e = dist[bitbuf & distMask];
                if (e & kSubtable) {
                    bitbuf >>= kDistBits;
                    bitcount -= kDistBits;
                    e = dist[(e >> 16) + (bitbuf & lowBits((e >> 8) & 15))];
                }
                saved = bitbuf;
                bitbuf >>= (e & 0xff);
                bitcount -= (e & 0xff);
                if (e & kExceptional) {
                    failure = (e >> 16) == 0 ? kDistanceCodeInvalid : kDamaged;
                    break;
                }
                const size_t distance = (e >> 16) + ((saved & lowBits(e & 0xff)) >> ((e >> 8) & 15));
                if (distance > size_t(out - outBegin)) {
                    failure = kDamaged;
                    break;
                }

                // The copy, in whole words where the distance allows; it may
                // write up to 15 bytes past the match, into the room reserved.
                const uint8_t* src = out - distance;
                uint8_t* const stop = out + length;
                if (distance >= 16) {
                    // Most matches are short: 32 bytes without a loop first.
                    std::memcpy(out, src, 16);
                    std::memcpy(out + 16, src + 16, 16);
                    out += 32;
                    src += 32;
                    while (out < stop) {
                        std::memcpy(out, src, 16);
                        out += 16;
                        src += 16;
                    }
                } else if (distance >= 8) {
                    do {
                        std::memcpy(out, src, 8);
                        out += 8;
                        src += 8;
                    } while (out < stop);
                } else if (distance == 1) {
                    std::memset(out, *src, length);
                } else {
                    // A period under 8: bytes one at a time until a whole
                    // number of periods of at least 8 bytes lies behind, then
                    // words copied from that far back.
                    const size_t far = distance * ((8 + distance - 1) / distance);
                    uint8_t* const wordsFrom = out + (far - distance);
                    do {
                        *out++ = *src++;
                    } while (out < stop && out < wordsFrom);
                    while (out < stop) {
                        std::memcpy(out, out - far, 8);
                        out += 8;
                    }
                }
                out = stop;
            } while (in <= inFastEnd && out <= outFastEnd);
            in_ = in;
            out_ = out;
            bitbuf_ = bitbuf;
            bitcount_ = bitcount;
            if (failure != nullptr) return failure;
            if (endOfBlock) return nullptr;
            continue;
        }

        // Careful loop: one symbol with every check.
        uint32_t e = 0;
        if (const char* failure = decodeCareful(litTable, e, kLiteralCodeInvalid)) return failure;
        const uint64_t saved = bitbuf_;
        drop(e & 0xff);
        if (e & kLiteral) {
            if (!reserve(1)) return kWrongSize;
            *out_++ = uint8_t(e >> 16);
            continue;
        }
        if (e & kExceptional) {
            if (e & kEndOfBlock) return nullptr;
            return kDamaged;
        }
        const size_t length = (e >> 16) + ((saved & lowBits(e & 0xff)) >> ((e >> 8) & 15));
        if (const char* failure = decodeCareful(distTable, e, kDistanceCodeInvalid)) return failure;
        const uint64_t savedDist = bitbuf_;
        drop(e & 0xff);
        if (e & kExceptional) return kDamaged;
        const size_t distance = (e >> 16) + ((savedDist & lowBits(e & 0xff)) >> ((e >> 8) & 15));
        if (distance > produced()) return kDamaged;
        if (!reserve(length)) return kWrongSize;
        const uint8_t* src = out_ - distance;
        for (size_t i = 0; i < length; ++i) out_[i] = src[i];
        out_ += length;
    }
}

// ---------------------------------------------------------------------------
// zlib wrapper
// ---------------------------------------------------------------------------

// Checks the two-byte header; null when it is acceptable.
const char* checkZlibHeader(const uint8_t* bytes, size_t length) {
    if (length < 6) return kTooShort;
    const unsigned cmf = bytes[0];
    const unsigned flg = bytes[1];
    if ((cmf & 15) != 8 || ((cmf << 8) | flg) % 31 != 0) return kNotZlib;
    if (flg & 0x20) return kPresetDictionary;
    return nullptr;
}

// Runs the decoder over a checked stream and compares the Adler-32 trailer
// when all four of its bytes are there (a cut-off trailer is accepted).
const char* inflateStream(const uint8_t* bytes, size_t length, OutputBuffer& output, size_t& produced) {
    if (const char* failure = checkZlibHeader(bytes, length)) return failure;
    std::unique_ptr<Inflater> inflater(new (std::nothrow) Inflater(bytes + 2, length - 2, output));
    if (!inflater) return kOutOfMemory;
    if (const char* failure = inflater->run()) return failure;
    produced = inflater->produced();
    if (inflater->trailingBytes() >= 4) {
        const uint8_t* t = bytes + length - inflater->trailingBytes();
        const uint32_t expected = (uint32_t(t[0]) << 24) | (uint32_t(t[1]) << 16) | (uint32_t(t[2]) << 8) | t[3];
        if (adler32(output.begin, produced, 1) != expected) return kChecksumMismatch;
    }
    return nullptr;
}

bool inflateToVector(const uint8_t* bytes, size_t length, size_t maxOutput, std::vector<uint8_t>& out,
                     std::string& error) {
    out.clear();
    error.clear();
    const char* failure = nullptr;
    size_t produced = 0;
    try {
        // A first guess of four times the input, grown as needed.
        const size_t guess = std::min(maxOutput, length <= maxOutput / 4 ? length * 4 : maxOutput);
        out.resize(guess + kInflateSlack);
        OutputBuffer output{out.data(), out.data() + guess, &out, maxOutput};
        failure = inflateStream(bytes, length, output, produced);
    } catch (const std::exception&) {
        // std::bad_alloc, or std::length_error for a size past what a vector holds.
        failure = kOutOfMemory;
    }
    if (failure != nullptr) {
        out.clear();
        out.shrink_to_fit();
        error = failure;
        return false;
    }
    out.resize(produced);
    return true;
}

}  // namespace

uint32_t adler32(const uint8_t* bytes, size_t length, uint32_t adler) {
    // The sums are reduced at least every 5552 bytes, the most that cannot
    // overflow 32 bits.
    constexpr uint32_t kBase = 65521;
    uint32_t a = adler & 0xffff;
    uint32_t b = adler >> 16;
#if defined(__SSE2__)
    // Sixteen bytes at a time: for a run of n bytes, b grows by n * a, by
    // 16 x the running sums of earlier 16-byte pieces, and by each byte
    // weighted 16..1 within its piece.
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsHigh = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsLow = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (length >= 16) {
        const size_t pieces = std::min(length / 16, size_t(5552 / 16));
        const size_t n = pieces * 16;
        __m128i sumA = zero;      // byte sums (in two 64-bit lanes)
        __m128i prefixes = zero;  // sum of sumA before each piece
        __m128i weighted = zero;  // bytes times their weight in the piece
        for (size_t i = 0; i < pieces; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
            prefixes = _mm_add_epi32(prefixes, sumA);
            sumA = _mm_add_epi32(sumA, _mm_sad_epu8(v, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsHigh));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsLow));
        }
        auto total = [](__m128i v) {
            v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
            v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
            return uint32_t(_mm_cvtsi128_si32(v));
        };
        b = (b + uint32_t(n % kBase) * a % kBase + (total(prefixes) % kBase) * 16 + total(weighted) % kBase) % kBase;
        a = (a + total(sumA)) % kBase;
        bytes += n;
        length -= n;
    }
#endif
    while (length > 0) {
        size_t n = std::min(length, size_t(5552));
        length -= n;
        while (n >= 8) {
            a += bytes[0]; b += a;
            a += bytes[1]; b += a;
            a += bytes[2]; b += a;
            a += bytes[3]; b += a;
            a += bytes[4]; b += a;
            a += bytes[5]; b += a;
            a += bytes[6]; b += a;
            a += bytes[7]; b += a;
            bytes += 8;
            n -= 8;
        }
        while (n-- > 0) {
            a += *bytes++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}

bool inflateZlib(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out, std::string& error) {
    return inflateToVector(bytes, length, ~size_t(0) - kInflateSlack, out, error);
}

bool inflateZlib(const uint8_t* bytes, size_t length, size_t maxOutput, std::vector<uint8_t>& out,
                 std::string& error) {
    return inflateToVector(bytes, length, std::min(maxOutput, ~size_t(0) - kInflateSlack), out, error);
}

bool inflateZlibInto(const uint8_t* bytes, size_t length, uint8_t* dst, size_t capacity, size_t& produced,
                     std::string& error) {
    error.clear();
    produced = 0;
    OutputBuffer output{dst, dst + capacity, nullptr, capacity};
    size_t made = 0;
    if (const char* failure = inflateStream(bytes, length, output, made)) {
        error = failure;
        return false;
    }
    produced = made;
    return true;
}

}  // namespace kiln
