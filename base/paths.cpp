// Portable half of the file layer: path text, the directory walk, the
// configuration directory, whole-file reading and atomic writes, all on top of
// the platform primitives in paths_win32.cpp / paths_posix.cpp.
#include "base/paths.h"

#include <cstdio>

namespace ember::launcher {

namespace {

// Whole files are read in pieces of this size.
constexpr size_t kReadPiece = 65536;

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

std::string joinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    std::string out = a;
    if (!isSeparator(out.back())) out += '\\';
    for (char c : b) out += (c == '/') ? '\\' : c;
    return out;
}

std::string parentDir(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return std::string();
    return path.substr(0, cut);
}

bool createDirectories(const std::string& path) {
    if (path.empty()) return false;
    // Usually the folder is there already (every download asks): one query
    // instead of one per level.
    if (isDirectory(path)) return true;
    // Walk the path and create each prefix that ends at a separator or at the
    // end. A drive ("C:") is never created, and a level that cannot be made
    // is skipped: the final isDirectory says whether it all worked.
    std::string prefix;
    for (size_t i = 0; i <= path.size(); ++i) {
        bool atEnd = (i == path.size());
        if (atEnd || isSeparator(path[i])) {
            if (!prefix.empty() && prefix.back() != ':' && !isDirectory(prefix)) makeDirectory(prefix);
        }
        if (!atEnd) prefix += path[i];
    }
    return isDirectory(path);
}

bool passesThroughLink(const std::string& base, const std::string& relative) {
    return !linkOnPath(base, relative).empty();
}

std::string linkOnPath(const std::string& base, const std::string& relative) {
    std::string prefix;
    for (size_t i = 0; i <= relative.size(); ++i) {
        const bool atEnd = i == relative.size();
        if ((atEnd || isSeparator(relative[i])) && !prefix.empty() && isLink(joinPath(base, prefix))) return prefix;
        if (!atEnd) prefix += relative[i];
    }
    return std::string();
}

std::FILE* openOwnFileReplacingLink(const std::string& path, const char* mode, bool* replaced) {
    if (replaced) *replaced = false;
    bool linked = false;
    std::FILE* file = openOwnFile(path, mode, &linked);
    if (file || !linked || !removeFile(path)) return file;
    if (replaced) *replaced = true;
    return openOwnFile(path, "wb");
}

std::string configDir() {
    // An explicit directory is used exactly as given.
    std::optional<std::string> explicitDir = environmentVariable("EMBERLANE_CONFIG_DIR");
    if (explicitDir && !explicitDir->empty()) {
        createDirectories(*explicitDir);
        return *explicitDir;
    }
    // Otherwise the local application-data folder, from the platform or
    // the LOCALAPPDATA variable.
    std::string base = platformLocalAppData();
    if (base.empty()) base = environmentVariable("LOCALAPPDATA").value_or(std::string());
    // Our folder inside it; with neither source a relative "Emberlane".
    std::string dir = joinPath(base, "Emberlane");
    createDirectories(dir);
    return dir;
}

bool readWholeFile(const std::string& path, std::string& out) {
    std::FILE* file = openFile(path, "rb");
    if (!file) return false;
    std::string content;
    char piece[kReadPiece];
    for (;;) {
        size_t got = std::fread(piece, 1, sizeof piece, file);
        content.append(piece, got);
        if (got < sizeof piece) break;
    }
    // A read error part-way must not pass for a short file.
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return false;
    out.swap(content);
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& bytes) {
    // The folder may not exist yet.
    std::string parent = parentDir(path);
    if (!parent.empty()) createDirectories(parent);

    // Write the temporary file, truncating any left-over from a failed try.
    // A link in its place goes first: its target is none of ours to empty.
    std::string tmp = path + ".tmp";
    std::FILE* file = openOwnFileReplacingLink(tmp, "wb");
    if (!file) return false;
    size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);

    // Every byte must reach the disk before the rename: a buffered write
    // that fails at flush or close (a full disk) counts as a short write.
    bool complete = written == bytes.size();
    complete = (std::fflush(file) == 0) && complete;
    complete = complete && syncFile(file);
    complete = (std::fclose(file) == 0) && complete;
    if (!complete) {
        removeFile(tmp);
        return false;
    }

    // Replace the old file in one step. A failed rename leaves the .tmp
    // behind; the next write truncates it.
    return renameReplace(tmp, path);
}

}  // namespace ember::launcher
