// POSIX twin of the Win32 file layer, so the logic above it runs and tests
// natively. Paths keep their Windows spelling in memory; every `\` becomes
// `/` at the system call.
#include "base/paths.h"
#include "base/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace ember::launcher {

namespace {

// Seconds from 1601-01-01 (the Windows file-time epoch) to 1970-01-01.
constexpr uint64_t kEpochGapSeconds = 11644473600ULL;

std::string nativePath(const std::string& path) {
    std::string out = path;
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool statPath(const std::string& path, struct stat& info) {
    return !path.empty() && ::stat(nativePath(path).c_str(), &info) == 0;
}

}  // namespace

// wchar_t holds whole code points here (32 bits); bad input becomes U+FFFD
// by the shared decoder's rule, as Windows' conversion without flags does.
std::wstring toWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) out += static_cast<wchar_t>(decodeUtf8(utf8, i));
    return out;
}

std::string toUtf8(const std::wstring& wide) {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t unit : wide) appendUtf8(out, static_cast<uint32_t>(unit));
    return out;
}

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::string platformLocalAppData() {
    std::string xdg = environmentVariable("XDG_DATA_HOME").value_or(std::string());
    // XDG asks to ignore a relative value.
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    std::string home = environmentVariable("HOME").value_or(std::string());
    if (home.empty()) return std::string();
    return home + "/.local/share";
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return statPath(path, info) && S_ISDIR(info.st_mode);
}

bool fileExists(const std::string& path) {
    struct stat info;
    return statPath(path, info) && !S_ISDIR(info.st_mode);
}

bool isLink(const std::string& path) {
    struct stat info;
    return !path.empty() && ::lstat(nativePath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool isLinkedFile(const std::string& path) {
    struct stat own;
    return !path.empty() && ::lstat(nativePath(path).c_str(), &own) == 0 &&
           (S_ISLNK(own.st_mode) || (!S_ISDIR(own.st_mode) && own.st_nlink > 1));
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return !a.empty() && !b.empty() && statPath(a, first) && statPath(b, second) && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool makeDirectory(const std::string& path) {
    return !path.empty() && ::mkdir(nativePath(path).c_str(), 0755) == 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    if (path.empty()) return nullptr;
    return std::fopen(nativePath(path).c_str(), mode);
}

std::FILE* openOwnFile(const std::string& path, const char* mode, bool* linked) {
    if (linked) *linked = false;
    const std::string kind = mode ? mode : "";
    const bool append = kind == "ab";
    if (path.empty() || (!append && kind != "wb")) return nullptr;
    // Opened as it is, without emptying it: a symbolic link refuses to open
    // (ELOOP), and nothing is written before the file has said what it is.
    const int fd = ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : 0),
                          0644);
    if (fd < 0) {
        if (linked) *linked = errno == ELOOP;
        return nullptr;
    }
    struct stat info;
    const bool known = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool isLinked = known && info.st_nlink > 1;
    if (!known || isLinked || (!append && ::ftruncate(fd, 0) != 0)) {
        if (linked) *linked = isLinked;
        ::close(fd);
        return nullptr;
    }
    std::FILE* out = ::fdopen(fd, append ? "ab" : "wb");
    if (!out) ::close(fd);
    return out;
}

bool syncFile(std::FILE* file) {
    return ::fsync(::fileno(file)) == 0;
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    if (path.empty()) return false;
    int fd = ::open(nativePath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
    }
    ::close(fd);
    return done == bytes.size();
}

bool removeFile(const std::string& path) {
    // A link is removed itself, as DeleteFileW does, even one naming nothing.
    struct stat own;
    return !path.empty() && ::lstat(nativePath(path).c_str(), &own) == 0 && !S_ISDIR(own.st_mode) &&
           ::unlink(nativePath(path).c_str()) == 0;
}

bool renameReplace(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
}

int64_t fileSize(const std::string& path) {
    struct stat info;
    if (!statPath(path, info) || S_ISDIR(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}

namespace {

uint64_t fileTimeOf(const struct stat& info) {
    if (info.st_mtim.tv_sec < 0) return 0;
    uint64_t seconds = static_cast<uint64_t>(info.st_mtim.tv_sec) + kEpochGapSeconds;
    return seconds * 10000000ULL + static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
}

}  // namespace

uint64_t lastWriteTime(const std::string& path) {
    struct stat info;
    if (!statPath(path, info)) return 0;
    return fileTimeOf(info);
}

bool listDirectory(const std::string& path, std::vector<DirEntry>& out) {
    if (path.empty()) return false;
    DIR* dir = ::opendir(nativePath(path).c_str());
    if (!dir) return false;
    std::vector<DirEntry> entries;
    errno = 0;
    while (const dirent* item = ::readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        // One stat per entry, relative to the open folder.
        struct stat info;
        if (::fstatat(::dirfd(dir), item->d_name, &info, 0) == 0) {
            entry.isDirectory = S_ISDIR(info.st_mode);
            entry.size = entry.isDirectory ? -1 : static_cast<int64_t>(info.st_size);
            entry.lastWrite = fileTimeOf(info);
        }
        struct stat own;
        entry.isLink = ::fstatat(::dirfd(dir), item->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
        entries.push_back(std::move(entry));
        errno = 0;
    }
    // readdir ends with errno untouched; anything else cut the listing short.
    bool complete = errno == 0;
    ::closedir(dir);
    if (!complete) return false;
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    out.swap(entries);
    return true;
}

std::string executablePath() {
    std::string buffer(4096, '\0');
    ssize_t got = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (got <= 0 || static_cast<size_t>(got) >= buffer.size()) return std::string();
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

}  // namespace ember::launcher
