// KilnUI pictures: the decoded pixels of every interned picture path
// (stylesheet url(...) values and image elements), decoded on first use.
//
// A picture that cannot be read or decoded is remembered as failed with its
// reason and draws nothing; it is not tried again every frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiln {

// Picture files larger than this are refused before they are read.
constexpr int64_t kMaxPictureFileBytes = 32 * 1024 * 1024;

struct Picture {
    // Outcome of the one attempt to load it
    bool ok = false;
    std::string error;  // why it failed (empty when ok)
    // Pixels: 8-bit RGBA, not premultiplied, rows top to bottom
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// The picture of an interned image index (registry.h), loaded from its path
// (relative paths from the resource folder) the first time it is asked for;
// null when the index is unknown or the picture failed.
const Picture* pictureFor(int32_t index);
// The entry with its error text, loading it if needed (null only for a
// negative index).
const Picture* pictureEntry(int32_t index);

// Failure texts (the path is appended after ": ").
extern const char* const kPictureUnknown;   // "no picture has this index"
extern const char* const kPictureTooLarge;  // "the picture file is too large"
extern const char* const kPictureUnreadable;  // "the picture file could not be read"

// Forgets every decoded picture (shutdown, tests, a changed resource folder).
void resetPictures();

}  // namespace kiln
