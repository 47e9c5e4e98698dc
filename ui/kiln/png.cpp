// PNG reader.
//
// Sections: failure texts; CRC-32; reading the chunks; checking the header;
// row filters; conversion to RGBA; decodePng itself.
//
// The image data is inflated straight into the pixel vector (sized from the
// header), and rows are then unfiltered and converted in place, so a picture
// costs one allocation and each byte is touched as few times as possible.
#include "ui/kiln/png.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ui/kiln/inflate.h"

namespace kiln {
namespace {

// ---------------------------------------------------------------------------
// Failure texts
// ---------------------------------------------------------------------------

const char* const kNotPng = "not a PNG file";
const char* const kChunkPastEnd = "a chunk runs past the end of the file";
const char* const kChunkChecksum = "a chunk's checksum does not match";
const char* const kNoHeader = "no IHDR chunk";
const char* const kSizeOutOfRange = "the image size is out of range";
const char* const kDepthPrefix = "only 8-bit images are read (this one is ";  // + depth + "-bit)"
const char* const kInterlaced = "interlaced images are not read";
const char* const kUnknownMethod = "an unknown compression or filter method";
const char* const kColourTypePrefix = "an unknown colour type ";  // + type
const char* const kNoPalette = "a palette image without a palette";
const char* const kWrongSize = "the image data is the wrong size";
const char* const kRowFilterPrefix = "an unknown row filter ";  // + type
const char* const kIndexPastPalette = "a palette index past the palette";
const char* const kOutOfMemory = "there is not enough memory for the image";

// ---------------------------------------------------------------------------
// CRC-32 (slicing by eight: eight table lookups per eight bytes)
// ---------------------------------------------------------------------------

struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n) {
            for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xff];
        }
    }
};

const CrcTables& crcTables() {
    static const CrcTables tables;
    return tables;
}

// ---------------------------------------------------------------------------
// Chunks
// ---------------------------------------------------------------------------

uint32_t readBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

struct Header {
    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned depth = 0;
    unsigned colourType = 0;
    unsigned compression = 0;
    unsigned filter = 0;
    unsigned interlace = 0;
};

struct Span {
    const uint8_t* data;
    size_t length;
};

// What the chunks say; every pointer points into the file.
struct Chunks {
    Header header;
    Span palette{nullptr, 0};
    Span transparency{nullptr, 0};
    std::vector<Span> imageData;  // each IDAT in file order
    size_t imageDataTotal = 0;    // never more than the file's length
};

bool sameType(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// Walks the chunks up to IEND (or the end of the file at a chunk boundary);
// null on success. The first IHDR, PLTE and tRNS count; later ones are ignored.
const char* readChunks(const uint8_t* bytes, size_t length, Chunks& chunks) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    if (length < 8 || std::memcmp(bytes, kSignature, 8) != 0) return kNotPng;
    bool havePalette = false;
    bool haveTransparency = false;
    size_t pos = 8;
    while (pos < length) {
        // Length, type, data and CRC must all lie inside the file.
        if (length - pos < 12) return kChunkPastEnd;
        const uint32_t chunkLength = readBe32(bytes + pos);
        if (chunkLength > length - pos - 12) return kChunkPastEnd;
        const uint8_t* type = bytes + pos + 4;
        const uint8_t* data = type + 4;
        if (pngCrc32(type, size_t(chunkLength) + 4) != readBe32(data + chunkLength)) return kChunkChecksum;
        pos += size_t(chunkLength) + 12;

        if (sameType(type, "IHDR")) {
            if (chunkLength >= 13 && !chunks.header.present) {
                Header& h = chunks.header;
                h.present = true;
                h.width = readBe32(data);
                h.height = readBe32(data + 4);
                h.depth = data[8];
                h.colourType = data[9];
                h.compression = data[10];
                h.filter = data[11];
                h.interlace = data[12];
            }
        } else if (sameType(type, "PLTE")) {
            if (!havePalette) chunks.palette = Span{data, chunkLength};
            havePalette = true;
        } else if (sameType(type, "tRNS")) {
            if (!haveTransparency) chunks.transparency = Span{data, chunkLength};
            haveTransparency = true;
        } else if (sameType(type, "IDAT")) {
            if (chunkLength > 0) chunks.imageData.push_back(Span{data, chunkLength});
            chunks.imageDataTotal += chunkLength;
        } else if (sameType(type, "IEND")) {
            break;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Header checks
// ---------------------------------------------------------------------------

// Bytes per pixel of an 8-bit colour type, 0 for an unknown type.
unsigned bytesPerPixel(unsigned colourType) {
    switch (colourType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
    }
}

// Empty when the header describes an image this reader takes, else the failure.
std::string checkHeader(const Chunks& chunks) {
    const Header& h = chunks.header;
    if (!h.present) return kNoHeader;
    if (h.width == 0 || h.height == 0 || h.width > uint32_t(kPngMaxSide) || h.height > uint32_t(kPngMaxSide) ||
        uint64_t(h.width) * h.height > kPngMaxPixels) {
        return kSizeOutOfRange;
    }
    if (h.depth != 8) return kDepthPrefix + std::to_string(h.depth) + "-bit)";
    if (h.interlace != 0) return kInterlaced;
    if (h.compression != 0 || h.filter != 0) return kUnknownMethod;
    if (bytesPerPixel(h.colourType) == 0) return kColourTypePrefix + std::to_string(h.colourType);
    if (h.colourType == 3 && (chunks.palette.length == 0 || chunks.palette.length % 3 != 0)) return kNoPalette;
    return std::string();
}

// ---------------------------------------------------------------------------
// Row filters
// ---------------------------------------------------------------------------

inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Undoes one row's filter: `src` is the filtered row, `prior` the row above
// (already unfiltered; zeros for the first row). `dst` may be `src`, or lie
// before it in the same buffer: every byte is read before anything is
// written over it. False for an unknown filter type.
template <unsigned N>
bool unfilterRow(unsigned filter, const uint8_t* src, const uint8_t* prior, uint8_t* dst, size_t rowBytes) {
    switch (filter) {
        case 0:  // None
            if (dst != src) std::memmove(dst, src, rowBytes);
            return true;
        case 1:  // Sub
            for (size_t i = 0; i < N; ++i) dst[i] = src[i];
            for (size_t i = N; i < rowBytes; ++i) dst[i] = uint8_t(src[i] + dst[i - N]);
            return true;
        case 2:  // Up
            for (size_t i = 0; i < rowBytes; ++i) dst[i] = uint8_t(src[i] + prior[i]);
            return true;
        case 3:  // Average
            for (size_t i = 0; i < N; ++i) dst[i] = uint8_t(src[i] + (prior[i] >> 1));
            for (size_t i = N; i < rowBytes; ++i) dst[i] = uint8_t(src[i] + ((dst[i - N] + prior[i]) >> 1));
            return true;
        case 4:  // Paeth
            for (size_t i = 0; i < N; ++i) dst[i] = uint8_t(src[i] + prior[i]);
            for (size_t i = N; i < rowBytes; ++i) {
                dst[i] = uint8_t(src[i] + paeth(dst[i - N], prior[i], prior[i - N]));
            }
            return true;
        default:
            return false;
    }
}

#if defined(__SSE2__)
// Sub, Average and Paeth for 3 and 4 bytes per pixel, a pixel at a time
// in SSE2 registers (each pixel depends on the one before it, so the gain is
// in doing all of a pixel's channels at once and without branches).
template <unsigned N>
inline __m128i loadPixel(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, N);
    return _mm_cvtsi32_si128(int(v));
}

template <unsigned N>
inline void storePixel(uint8_t* p, __m128i v) {
    const uint32_t bits = uint32_t(_mm_cvtsi128_si32(v));
    std::memcpy(p, &bits, N);
}

template <unsigned N>
bool unfilterRowSimd(unsigned filter, const uint8_t* src, const uint8_t* prior, uint8_t* dst, size_t rowBytes) {
    const __m128i zero = _mm_setzero_si128();
    switch (filter) {
        case 1: {  // Sub
            __m128i a = zero;
            for (size_t i = 0; i < rowBytes; i += N) {
                a = _mm_add_epi8(a, loadPixel<N>(src + i));
                storePixel<N>(dst + i, a);
            }
            return true;
        }
        case 3: {  // Average: floor((a + b) / 2) from the rounding-up average
            __m128i a = zero;
            const __m128i one = _mm_set1_epi8(1);
            for (size_t i = 0; i < rowBytes; i += N) {
                const __m128i b = loadPixel<N>(prior + i);
                const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
                a = _mm_add_epi8(avg, loadPixel<N>(src + i));
                storePixel<N>(dst + i, a);
            }
            return true;
        }
        case 4: {  // Paeth, in 16-bit lanes; ties go to a, then b
            __m128i a = zero;
            __m128i c = zero;
            for (size_t i = 0; i < rowBytes; i += N) {
                const __m128i b = _mm_unpacklo_epi8(loadPixel<N>(prior + i), zero);
                __m128i pa = _mm_sub_epi16(b, c);  // p - a = b - c
                __m128i pb = _mm_sub_epi16(a, c);  // p - b = a - c
                __m128i pc = _mm_add_epi16(pa, pb);
                pa = _mm_max_epi16(pa, _mm_sub_epi16(zero, pa));
                pb = _mm_max_epi16(pb, _mm_sub_epi16(zero, pb));
                pc = _mm_max_epi16(pc, _mm_sub_epi16(zero, pc));
                const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
                const __m128i useA = _mm_cmpeq_epi16(smallest, pa);
                const __m128i useB = _mm_andnot_si128(useA, _mm_cmpeq_epi16(smallest, pb));
                const __m128i useC = _mm_andnot_si128(_mm_or_si128(useA, useB), _mm_set1_epi16(-1));
                const __m128i nearest = _mm_or_si128(_mm_or_si128(_mm_and_si128(useA, a), _mm_and_si128(useB, b)),
                                                     _mm_and_si128(useC, c));
                const __m128i d = _mm_add_epi8(_mm_packus_epi16(nearest, zero), loadPixel<N>(src + i));
                storePixel<N>(dst + i, d);
                a = _mm_unpacklo_epi8(d, zero);
                c = b;
            }
            return true;
        }
        default:
            return unfilterRow<N>(filter, src, prior, dst, rowBytes);
    }
}
#endif

bool unfilter(unsigned bpp, unsigned filter, const uint8_t* src, const uint8_t* prior, uint8_t* dst,
              size_t rowBytes) {
    switch (bpp) {
        case 1: return unfilterRow<1>(filter, src, prior, dst, rowBytes);
        case 2: return unfilterRow<2>(filter, src, prior, dst, rowBytes);
#if defined(__SSE2__)
        case 3: return unfilterRowSimd<3>(filter, src, prior, dst, rowBytes);
        default: return unfilterRowSimd<4>(filter, src, prior, dst, rowBytes);
#else
        case 3: return unfilterRow<3>(filter, src, prior, dst, rowBytes);
        default: return unfilterRow<4>(filter, src, prior, dst, rowBytes);
#endif
    }
}

// ---------------------------------------------------------------------------
// Conversion to RGBA
// ---------------------------------------------------------------------------

// Per-image conversion state, fixed before the first row.
struct Converter {
    unsigned colourType = 0;
    // Transparency keys (grey, RGB): only pixels equal to the key get alpha 0.
    bool hasKey = false;
    uint8_t key[3] = {0, 0, 0};
    // Palette colours as RGBA, and how many entries the palette has.
    uint8_t palette[256][4] = {};
    unsigned paletteCount = 0;

    explicit Converter(const Chunks& chunks) : colourType(chunks.header.colourType) {
        const Span& t = chunks.transparency;
        if (colourType == 0 && t.length >= 2) {
            hasKey = true;
            key[0] = t.data[1];  // the low byte of the 16-bit grey sample
        } else if (colourType == 2 && t.length >= 6) {
            hasKey = true;
            key[0] = t.data[1];
            key[1] = t.data[3];
            key[2] = t.data[5];
        } else if (colourType == 3) {
            paletteCount = unsigned(std::min<size_t>(chunks.palette.length / 3, 256));
            for (unsigned i = 0; i < paletteCount; ++i) {
                palette[i][0] = chunks.palette.data[3 * i];
                palette[i][1] = chunks.palette.data[3 * i + 1];
                palette[i][2] = chunks.palette.data[3 * i + 2];
                palette[i][3] = i < t.length ? t.data[i] : 255;
            }
        }
    }

    // Converts one unfiltered row; false for a palette index past the palette.
    bool convertRow(const uint8_t* row, uint8_t* out, size_t width) const {
        switch (colourType) {
            case 0:
                for (size_t x = 0; x < width; ++x, out += 4) {
                    const uint8_t g = row[x];
                    out[0] = out[1] = out[2] = g;
                    out[3] = hasKey && g == key[0] ? 0 : 255;
                }
                return true;
            case 2:
                for (size_t x = 0; x < width; ++x, out += 4, row += 3) {
                    out[0] = row[0];
                    out[1] = row[1];
                    out[2] = row[2];
                    out[3] = hasKey && row[0] == key[0] && row[1] == key[1] && row[2] == key[2] ? 0 : 255;
                }
                return true;
            case 3:
                for (size_t x = 0; x < width; ++x, out += 4) {
                    const uint8_t index = row[x];
                    if (index >= paletteCount) return false;
                    std::memcpy(out, palette[index], 4);
                }
                return true;
            case 4:
                for (size_t x = 0; x < width; ++x, out += 4, row += 2) {
                    out[0] = out[1] = out[2] = row[0];
                    out[3] = row[1];
                }
                return true;
            default:
                std::memcpy(out, row, width * 4);
                return true;
        }
    }
};

// The image data as one contiguous stream: one IDAT is used where it lies,
// several are joined into `joined` (their total is bounded by the file).
Span imageDataStream(const Chunks& chunks, std::vector<uint8_t>& joined) {
    static const uint8_t kNothing[1] = {0};
    if (chunks.imageData.empty()) return Span{kNothing, 0};
    if (chunks.imageData.size() == 1) return chunks.imageData[0];
    joined.reserve(chunks.imageDataTotal);
    for (const Span& s : chunks.imageData) joined.insert(joined.end(), s.data, s.data + s.length);
    return Span{joined.data(), joined.size()};
}

// Inflates, unfilters and converts the image into `pixels`; empty on success.
//
// One buffer does for all: the filtered rows (one filter byte plus
// width x bytes-per-pixel each) are inflated into the pixel vector itself and
// turned into RGBA rows in place. RGBA rows are one byte longer than their
// result, so they sit at the start and each row moves down a little as it is
// unfiltered; narrower kinds sit at the end and grow into the space before
// them. Either way no byte is overwritten before it has been read.
std::string decodeImage(const Chunks& chunks, std::vector<uint8_t>& pixels) {
    const size_t width = chunks.header.width;
    const size_t height = chunks.header.height;
    const unsigned bpp = bytesPerPixel(chunks.header.colourType);
    const size_t rowBytes = width * bpp;
    const size_t stride = rowBytes + 1;
    const size_t rawSize = height * stride;
    const size_t outSize = width * height * 4;

    // DEFLATE turns one byte into at most 1032: a stream too short to fill
    // the image is decoded into a buffer of what it could make (for its own
    // error, if it has one) and never costs the whole picture's memory.
    std::vector<uint8_t> joined;
    const Span stream = imageDataStream(chunks, joined);
    const uint64_t mostPossible = uint64_t(stream.length) * 1032 + 1032;
    std::string error;
    size_t produced = 0;
    if (mostPossible < rawSize) {
        // (Not zero-filled: only the pages the stream writes are ever touched.)
        std::unique_ptr<uint8_t[]> scratch(new uint8_t[size_t(mostPossible) + kInflateSlack]);
        if (!inflateZlibInto(stream.data, stream.length, scratch.get(), size_t(mostPossible), produced, error)) {
            return error;
        }
        return kWrongSize;
    }

    // Inflate into the pixel vector: at its start for RGBA, at its end otherwise.
    pixels.resize(std::max(outSize, rawSize) + kInflateSlack);
    uint8_t* const base = pixels.data();
    uint8_t* const raw = bpp == 4 ? base : base + (outSize - rawSize);
    if (!inflateZlibInto(stream.data, stream.length, raw, rawSize, produced, error)) return error;
    if (produced != rawSize) return kWrongSize;

    const std::vector<uint8_t> zeros(rowBytes + 16, 0);
    if (bpp == 4) {
        // RGBA needs no conversion: each row is unfiltered to its final place.
        const uint8_t* prior = zeros.data();
        for (size_t y = 0; y < height; ++y) {
            const uint8_t* row = raw + y * stride;
            uint8_t* out = base + y * rowBytes;
            if (!unfilter(4, row[0], row + 1, prior, out, rowBytes)) return kRowFilterPrefix + std::to_string(row[0]);
            prior = out;
        }
    } else {
        // Other kinds: unfilter into a small row buffer, then convert.
        const Converter converter(chunks);
        std::vector<uint8_t> rows(2 * (rowBytes + 16), 0);
        uint8_t* current = rows.data();
        uint8_t* previous = rows.data() + rowBytes + 16;
        for (size_t y = 0; y < height; ++y) {
            const uint8_t* row = raw + y * stride;
            if (!unfilter(bpp, row[0], row + 1, y == 0 ? zeros.data() : previous, current, rowBytes)) {
                return kRowFilterPrefix + std::to_string(row[0]);
            }
            if (!converter.convertRow(current, base + y * width * 4, width)) return kIndexPastPalette;
            std::swap(current, previous);
        }
    }
    pixels.resize(outSize);
    return std::string();
}

}  // namespace

uint32_t pngCrc32(const uint8_t* bytes, size_t length, uint32_t crc) {
    const CrcTables& tables = crcTables();
    const auto& t = tables.t;
    uint32_t c = ~crc;
    while (length >= 8) {
        const uint32_t lo = c ^ (uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) |
                                 (uint32_t(bytes[3]) << 24));
        c = t[7][lo & 0xff] ^ t[6][(lo >> 8) & 0xff] ^ t[5][(lo >> 16) & 0xff] ^ t[4][lo >> 24] ^
            t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
        bytes += 8;
        length -= 8;
    }
    while (length-- > 0) c = t[0][(c ^ *bytes++) & 0xff] ^ (c >> 8);
    return ~c;
}

bool decodePng(const uint8_t* bytes, size_t length, int& width, int& height, std::vector<uint8_t>& pixels,
               std::string& error) {
    width = 0;
    height = 0;
    pixels.clear();
    error.clear();
    std::string failure;
    try {
        // Read every chunk and check the header before allocating anything
        // the header asks for.
        Chunks chunks;
        if (const char* f = readChunks(bytes, length, chunks)) {
            failure = f;
        } else {
            failure = checkHeader(chunks);
        }
        // Inflate exactly the size the header implies (at most about 256 MiB),
        // undo the row filters and convert to RGBA.
        const Header& h = chunks.header;
        if (failure.empty()) failure = decodeImage(chunks, pixels);
        if (failure.empty()) {
            width = int(h.width);
            height = int(h.height);
            return true;
        }
    } catch (const std::exception&) {
        // std::bad_alloc above all: a picture must not take the program down.
        failure = kOutOfMemory;
    }
    pixels.clear();
    pixels.shrink_to_fit();
    error = failure;
    return false;
}

}  // namespace kiln
