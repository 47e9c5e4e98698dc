// KilnUI's inflater and PNG reader beside zlib, libpng and libspng, on the
// same data in the same run.
//
//   inflate/mixed:  64 MiB of mixed content (text-like, binary records,
//                   repetitive runs) compressed by zlib at level 6;
//   inflate/idat:   the image data of a 4096 x 4096 RGBA picture as libpng
//                   writes it (default filters and level);
//   png/1024, png/4096: whole RGBA pictures decoded to RGBA.
// Throughput counts uncompressed bytes (bytes_per_second).
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/kiln/inflate.h"
#include "ui/kiln/png.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Rng {
    uint64_t s = 0x9e3779b97f4a7c15ull;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 11);
    }
};

// 64 MiB in 64 KiB pieces of three kinds, interleaved.
Bytes mixedContent() {
    const size_t total = size_t(64) << 20;
    Bytes out;
    out.reserve(total);
    Rng rng;
    static const char* const words[] = {"the",    "launcher", "realm",  "client",  "manifest", "update",
                                        "version", "folder",  "player", "account", "session",  "download",
                                        "verify",  "repair",  "game",   "window",  "style",    "render",
                                        "of",      "and",     "to",     "in",      "is",       "for"};
    for (size_t piece = 0; out.size() < total; ++piece) {
        const size_t end = std::min(total, out.size() + 65536);
        switch (piece % 3) {
            case 0:  // text: words, punctuation and line breaks
                while (out.size() < end) {
                    const char* w = words[rng.next() % 24];
                    out.insert(out.end(), w, w + std::strlen(w));
                    out.push_back(rng.next() % 11 == 0 ? '\n' : ' ');
                }
                break;
            case 1:  // binary records: small little-endian numbers and ids
                while (out.size() < end) {
                    const uint32_t id = uint32_t(out.size() / 16);
                    const uint32_t value = rng.next() % 1000;
                    const uint32_t flags = rng.next() % 4;
                    const uint32_t noise = rng.next();
                    for (uint32_t v : {id, value, flags, noise}) {
                        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
                    }
                }
                break;
            default:  // runs and repeated patterns
                while (out.size() < end) {
                    const size_t run = 4 + rng.next() % 300;
                    const uint8_t a = uint8_t(rng.next()), b = uint8_t(rng.next());
                    const size_t period = 1 + rng.next() % 8;
                    for (size_t i = 0; i < run; ++i) out.push_back(i % period == 0 ? a : b);
                }
                break;
        }
        out.resize(std::min(out.size(), end));
    }
    return out;
}

Bytes zlibCompress(const Bytes& raw, int level) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), level) != Z_OK) std::abort();
    out.resize(size);
    return out;
}

// A picture like the launcher shows: smooth gradients with grain, flat
// panels, hard-edged shapes and soft alpha at their borders.
Bytes picture(int w, int h) {
    Bytes px(size_t(w) * h * 4);
    Rng rng;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(size_t(y) * w + x) * 4];
            const int grain = int(rng.next() % 9) - 4;
            const double fx = double(x) / w, fy = double(y) / h;
            const bool panel = (x / (w / 8) + y / (h / 8)) % 5 == 0;
            const double cx = fx - 0.5, cy = fy - 0.5;
            const double ring = std::sin(40 * std::sqrt(cx * cx + cy * cy));
            if (panel) {
                p[0] = 30;
                p[1] = 34;
                p[2] = 42;
                p[3] = 255;
            } else {
                p[0] = uint8_t(std::clamp(int(255 * fx) + grain, 0, 255));
                p[1] = uint8_t(std::clamp(int(255 * fy) + grain, 0, 255));
                p[2] = uint8_t(std::clamp(int(128 + 100 * ring) + grain, 0, 255));
                p[3] = uint8_t(ring > 0.9 ? 128 + int(rng.next() % 64) : 255);
            }
        }
    }
    return px;
}

void writeToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

Bytes encodePng(const Bytes& rgba, int w, int h) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, writeToVector, nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) png_write_row(png, const_cast<png_bytep>(&rgba[size_t(y) * w * 4]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// All IDAT data of a PNG, joined.
Bytes imageData(const Bytes& file) {
    Bytes out;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const uint32_t n = (uint32_t(file[pos]) << 24) | (uint32_t(file[pos + 1]) << 16) |
                           (uint32_t(file[pos + 2]) << 8) | file[pos + 3];
        if (std::memcmp(&file[pos + 4], "IDAT", 4) == 0) {
            out.insert(out.end(), file.begin() + long(pos + 8), file.begin() + long(pos + 8 + n));
        }
        pos += 12 + n;
    }
    return out;
}

struct Fixture {
    Bytes mixedRaw, mixedZ;
    Bytes idat;
    size_t idatRawSize = 0;
    Bytes png1024, png4096;
    Fixture() {
        mixedRaw = mixedContent();
        mixedZ = zlibCompress(mixedRaw, 6);
        png1024 = encodePng(picture(1024, 1024), 1024, 1024);
        png4096 = encodePng(picture(4096, 4096), 4096, 4096);
        idat = imageData(png4096);
        idatRawSize = size_t(4096) * (1 + 4096 * 4);
        std::fprintf(stderr, "mixed: %zu -> %zu bytes; 4096 picture: %zu bytes (IDAT %zu); 1024 picture: %zu bytes\n",
                     mixedRaw.size(), mixedZ.size(), png4096.size(), idat.size(), png1024.size());
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

// ----------------------------------------------------------------------------
// inflate

void inflateKiln(benchmark::State& state, const Bytes& z, size_t rawSize) {
    Bytes out(rawSize + kiln::kInflateSlack);
    std::string error;
    for (auto _ : state) {
        size_t produced = 0;
        if (!kiln::inflateZlibInto(z.data(), z.size(), out.data(), rawSize, produced, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rawSize));
}

// The vector form, either with a fresh vector per call or reusing one (as a
// caller decoding many streams would; zlib's figure reuses its buffer too).
void inflateKilnVector(benchmark::State& state, const Bytes& z, size_t rawSize, bool reuse) {
    std::string error;
    Bytes kept;
    for (auto _ : state) {
        Bytes fresh;
        Bytes& out = reuse ? kept : fresh;
        if (!kiln::inflateZlib(z.data(), z.size(), out, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rawSize));
}

void inflateZlibRef(benchmark::State& state, const Bytes& z, size_t rawSize) {
    Bytes out(rawSize);
    for (auto _ : state) {
        uLongf size = uLongf(rawSize);
        if (uncompress(out.data(), &size, z.data(), uLong(z.size())) != Z_OK) {
            state.SkipWithError("zlib failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rawSize));
}

void BM_InflateMixed_Kiln(benchmark::State& s) { inflateKiln(s, fixture().mixedZ, fixture().mixedRaw.size()); }
void BM_InflateMixed_KilnVector(benchmark::State& s) {
    inflateKilnVector(s, fixture().mixedZ, fixture().mixedRaw.size(), true);
}
void BM_InflateMixed_KilnFreshVector(benchmark::State& s) {
    inflateKilnVector(s, fixture().mixedZ, fixture().mixedRaw.size(), false);
}
void BM_InflateMixed_Zlib(benchmark::State& s) { inflateZlibRef(s, fixture().mixedZ, fixture().mixedRaw.size()); }
void BM_InflateIdat_Kiln(benchmark::State& s) { inflateKiln(s, fixture().idat, fixture().idatRawSize); }
void BM_InflateIdat_Zlib(benchmark::State& s) { inflateZlibRef(s, fixture().idat, fixture().idatRawSize); }

// ----------------------------------------------------------------------------
// PNG

const Bytes& pngFor(int side) {
    return side == 1024 ? fixture().png1024 : fixture().png4096;
}

void BM_Png_Kiln(benchmark::State& state) {
    const Bytes& file = pngFor(int(state.range(0)));
    std::vector<uint8_t> pixels;
    std::string error;
    for (auto _ : state) {
        int w = 0, h = 0;
        if (!kiln::decodePng(file.data(), file.size(), w, h, pixels, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(0) * 4);
}

struct MemoryReader {
    const Bytes* file;
    size_t pos;
};

void readFromMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (r->pos + length > r->file->size()) png_error(png, "read past the end");
    std::memcpy(data, r->file->data() + r->pos, length);
    r->pos += length;
}

// libpng's ordinary read path into an RGBA buffer of rows (a fresh buffer
// each time, as decodePng makes one).
void BM_Png_Libpng(benchmark::State& state) {
    const Bytes& file = pngFor(int(state.range(0)));
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        MemoryReader reader{&file, 0};
        png_set_read_fn(png, &reader, readFromMemory);
        png_read_info(png, info);
        const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        std::vector<uint8_t> pixels(size_t(w) * h * 4);
        std::vector<png_bytep> rows(h);
        for (png_uint_32 y = 0; y < h; ++y) rows[y] = &pixels[size_t(y) * w * 4];
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(0) * 4);
}

void BM_Png_Spng(benchmark::State& state) {
    const Bytes& file = pngFor(int(state.range(0)));
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, file.data(), file.size());
        size_t size = 0;
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
        std::vector<uint8_t> pixels(size);
        if (spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_RGBA8, 0) != 0) {
            state.SkipWithError("spng failed");
            spng_ctx_free(ctx);
            return;
        }
        spng_ctx_free(ctx);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(0) * 4);
}

}  // namespace

BENCHMARK(BM_InflateMixed_Kiln)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateMixed_KilnVector)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateMixed_KilnFreshVector)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateMixed_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateIdat_Kiln)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateIdat_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Kiln)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Libpng)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Spng)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
