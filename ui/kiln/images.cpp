// KilnUI pictures: decoded once per interned path (see images.h).
#include "ui/kiln/images.h"

#include <memory>
#include <unordered_map>

#include "base/paths.h"
#include "ui/kiln/png.h"
#include "ui/kiln/registry.h"

namespace kiln {

const char* const kPictureUnknown = "no picture has this index";
const char* const kPictureTooLarge = "the picture file is too large";
const char* const kPictureUnreadable = "the picture file could not be read";

namespace {

std::unordered_map<int32_t, std::unique_ptr<Picture>>& pictures() {
    static std::unordered_map<int32_t, std::unique_ptr<Picture>> cache;
    return cache;
}

void load(int32_t index, Picture& picture) {
    const std::string& path = imagePath(index);
    if (path.empty()) {
        picture.error = kPictureUnknown;
        return;
    }
    // The file is hostile: its size is checked before it is read.
    std::string full = resolveResourcePath(path);
    int64_t size = ember::launcher::fileSize(full);
    std::string bytes;
    if (size > kMaxPictureFileBytes) {
        picture.error = std::string(kPictureTooLarge) + ": " + full;
        return;
    }
    if (size < 0 || !ember::launcher::readWholeFile(full, bytes)) {
        picture.error = std::string(kPictureUnreadable) + ": " + full;
        return;
    }
    // It may have grown since it was measured.
    if (int64_t(bytes.size()) > kMaxPictureFileBytes) {
        picture.error = std::string(kPictureTooLarge) + ": " + full;
        return;
    }
    std::string error;
    if (!decodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), picture.width, picture.height,
                   picture.pixels, error)) {
        picture.error = error + ": " + full;
        return;
    }
    picture.ok = true;
}

}  // namespace

const Picture* pictureEntry(int32_t index) {
    if (index < 0) return nullptr;
    std::unique_ptr<Picture>& slot = pictures()[index];
    if (!slot) {
        slot = std::make_unique<Picture>();
        load(index, *slot);
    }
    return slot.get();
}

const Picture* pictureFor(int32_t index) {
    const Picture* picture = pictureEntry(index);
    return picture != nullptr && picture->ok ? picture : nullptr;
}

void resetPictures() { pictures().clear(); }

}  // namespace kiln
