// KilnUI's interned resources: font family strings and picture paths are
// stored once and referred to by index (styles keep the index), and the
// resource folder that relative paths are taken from.
#pragma once

#include <cstdint>
#include <string>

namespace kiln {

// Index 0 is the default family list, registered at start.
extern const char* const kDefaultFamily;  // "Georgia, Constantia, Times New Roman, serif"

int32_t registerFamily(const std::string& text);  // existing index or appended
const std::string& familyText(int32_t index);     // empty for an unknown index
int32_t familyCount();

int32_t internImage(const std::string& path);  // existing index or appended
const std::string& imagePath(int32_t index);    // empty for an unknown index
int32_t imageCount();

// The folder for relative paths (stylesheet, url(...) pictures, images).
// The folder hook (the Windows backend registers the *.ttf files found
// there as private fonts) runs on every change.
void setResourceFolder(const std::string& folder);
using FolderHook = void (*)(const std::string& folder);
void setResourceFolderHook(FolderHook hook);
const std::string& resourceFolder();
// Joins a relative path (no ':' and not starting with a separator) to the
// resource folder; other paths are returned unchanged.
std::string resolveResourcePath(const std::string& path);

// Forgets everything (the toolkit's shutdown, and tests); the default family
// is registered again at index 0.
void resetRegistry();

}  // namespace kiln
