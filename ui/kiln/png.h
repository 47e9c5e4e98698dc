// KilnUI's PNG reader: the pictures named by the stylesheet and image
// elements, and the picture challenge from the account service.
//
// It reads 8-bit, non-interlaced images of every colour type (grey, RGB,
// palette, grey + alpha, RGBA), with the transparency chunk, and gives 8-bit
// RGBA pixels (not premultiplied), rows top to bottom. Anything else is
// refused with one fixed English message (listed at the top of png.cpp);
// on failure `pixels` is empty and width and height are 0.
//
// The file is hostile: chunk lengths are checked before anything is
// allocated, and the image data is never inflated past the size the header
// implies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiln {

// Largest width or height, and the largest image (64 Mi pixels).
constexpr int kPngMaxSide = 32768;
constexpr uint64_t kPngMaxPixels = 67108864;

bool decodePng(const uint8_t* bytes, size_t length, int& width, int& height, std::vector<uint8_t>& pixels,
               std::string& error);

// The CRC-32 of PNG chunks (and of zlib's gzip cousin): start with 0, feed
// the previous result back in to continue.
uint32_t pngCrc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);

}  // namespace kiln
