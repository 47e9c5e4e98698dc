// Fuzz entry point for the PNG reader: no crash, and the result is always
// whole (pixels of exactly width x height x 4 bytes) or nothing at all.
// Each input is read twice: as it is, and with every chunk's CRC made right,
// so that mutations reach the header checks, the inflater and the filters
// instead of stopping at the first checksum.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/kiln/png.h"

namespace {

void decodeAndCheck(const uint8_t* data, size_t size) {
    int width = -1;
    int height = -1;
    std::vector<uint8_t> pixels;
    std::string error;
    if (kiln::decodePng(data, size, width, height, pixels, error)) {
        if (!error.empty() || width < 1 || height < 1 || width > 32768 || height > 32768) std::abort();
        if (pixels.size() != size_t(width) * size_t(height) * 4) std::abort();
    } else {
        if (error.empty() || !pixels.empty() || width != 0 || height != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeAndCheck(data, size);
    std::vector<uint8_t> fixed(data, data + size);
    for (size_t pos = 8; pos + 12 <= fixed.size();) {
        const uint8_t* p = fixed.data() + pos;
        const size_t length = (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | p[3];
        if (length > fixed.size() - pos - 12) break;
        const uint32_t crc = kiln::pngCrc32(p + 4, length + 4);
        for (int i = 0; i < 4; ++i) fixed[pos + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        pos += length + 12;
    }
    decodeAndCheck(fixed.data(), fixed.size());
    return 0;
}
