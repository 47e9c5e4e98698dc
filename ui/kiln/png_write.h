// The screenshot writer: 8-bit RGB (or RGBA when a pixel is not opaque)
// PNG files from RGBA pixels. The image data goes into stored DEFLATE
// blocks: screenshots are written once, by developers and tests, so size
// matters less than a small, obviously correct encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher {

// Encodes width x height RGBA pixels (rows top to bottom) as a PNG file.
// Empty when the size is out of range (0, or above 32768 on a side).
std::string encodePng(const uint8_t* rgba, int width, int height);
// encodePng, written atomically to `path`.
bool writePng(const std::string& path, const uint8_t* rgba, int width, int height);

}  // namespace ember::launcher
