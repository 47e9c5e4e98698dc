// KilnUI's interned resources: font family strings and picture paths.
//
// Styles keep small indices instead of strings so that a Style stays a plain
// record that copies cheaply. The lists only grow (until resetRegistry), so an
// index stays valid for the life of the process.
#include "ui/kiln/registry.h"

#include <unordered_map>
#include <vector>

#include "base/paths.h"

namespace kiln {

const char* const kDefaultFamily = "Georgia, Constantia, Times New Roman, serif";

namespace {

// One interned list: texts by index, and the index of each text.
struct InternList {
    std::vector<std::string> texts;
    std::unordered_map<std::string, int32_t> index;

    int32_t intern(const std::string& text) {
        auto found = index.find(text);
        if (found != index.end()) return found->second;
        int32_t at = static_cast<int32_t>(texts.size());
        texts.push_back(text);
        index.emplace(text, at);
        return at;
    }
    const std::string& at(int32_t i) const {
        static const std::string empty;
        return i >= 0 && static_cast<size_t>(i) < texts.size() ? texts[static_cast<size_t>(i)] : empty;
    }
    void clear() {
        texts.clear();
        index.clear();
    }
};

struct Registry {
    InternList families;
    InternList images;
    std::string folder;
    FolderHook hook = nullptr;

    // The default family is always index 0, even before the toolkit starts,
    // so that a default Style's family index refers to it.
    Registry() { families.intern(kDefaultFamily); }
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

int32_t registerFamily(const std::string& text) { return registry().families.intern(text); }
const std::string& familyText(int32_t index) { return registry().families.at(index); }
int32_t familyCount() { return static_cast<int32_t>(registry().families.texts.size()); }

int32_t internImage(const std::string& path) { return registry().images.intern(path); }
const std::string& imagePath(int32_t index) { return registry().images.at(index); }
int32_t imageCount() { return static_cast<int32_t>(registry().images.texts.size()); }

void setResourceFolder(const std::string& folder) {
    registry().folder = folder;
    if (registry().hook != nullptr) registry().hook(folder);
}
void setResourceFolderHook(FolderHook hook) { registry().hook = hook; }
const std::string& resourceFolder() { return registry().folder; }

std::string resolveResourcePath(const std::string& path) {
    const std::string& folder = registry().folder;
    bool absolute = path.find(':') != std::string::npos || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
    if (folder.empty() || absolute) return path;
    return ember::launcher::joinPath(folder, path);
}

void resetRegistry() {
    Registry& r = registry();
    r.families.clear();
    r.images.clear();
    r.folder.clear();
    r.families.intern(kDefaultFamily);
}

}  // namespace kiln
