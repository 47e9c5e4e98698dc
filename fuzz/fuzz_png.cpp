// Fuzz entry point for the PNG reader: no crash, and the result is always
// whole (pixels of exactly width x height x 4 bytes) or nothing at all.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
    return 0;
}
