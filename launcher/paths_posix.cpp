// POSIX twin of the Win32 file layer, so the logic above it runs and tests
// natively. Paths keep their Windows spelling in memory; every `\` becomes
// `/` at the system call.
#include "launcher/paths.h"

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
constexpr wchar_t kReplacement = 0xFFFD;

std::string nativePath(const std::string& path) {
    std::string out = path;
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool statPath(const std::string& path, struct stat& info) {
    return !path.empty() && ::stat(nativePath(path).c_str(), &info) == 0;
}

// Length of a UTF-8 sequence from its lead byte, and the smallest code point
// it may encode (to refuse over-long forms); 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead, uint32_t& minimum) {
    if (lead < 0x80) { minimum = 0; return 1; }
    if ((lead & 0xE0) == 0xC0) { minimum = 0x80; return 2; }
    if ((lead & 0xF0) == 0xE0) { minimum = 0x800; return 3; }
    if ((lead & 0xF8) == 0xF0) { minimum = 0x10000; return 4; }
    return 0;
}

}  // namespace

// wchar_t holds whole code points here (32 bits); invalid input becomes
// U+FFFD like Windows' conversion without flags.
std::wstring toWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t minimum = 0;
        int length = sequenceLength(static_cast<unsigned char>(utf8[i]), minimum);
        if (length == 0 || i + static_cast<size_t>(length) > utf8.size()) {
            out += kReplacement;
            ++i;
            continue;
        }
        uint32_t code = (length == 1) ? static_cast<unsigned char>(utf8[i])
                                      : (static_cast<unsigned char>(utf8[i]) & (0x7F >> length));
        int taken = 1;
        for (; taken < length; ++taken) {
            unsigned char next = static_cast<unsigned char>(utf8[i + taken]);
            if ((next & 0xC0) != 0x80) break;
            code = (code << 6) | (next & 0x3F);
        }
        bool valid = taken == length && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        out += valid ? static_cast<wchar_t>(code) : kReplacement;
        i += valid ? static_cast<size_t>(length) : static_cast<size_t>(std::max(taken, 1));
    }
    return out;
}

std::string toUtf8(const std::wstring& wide) {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t unit : wide) {
        uint32_t code = static_cast<uint32_t>(unit);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
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

bool makeDirectory(const std::string& path) {
    return !path.empty() && ::mkdir(nativePath(path).c_str(), 0755) == 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    if (path.empty()) return nullptr;
    return std::fopen(nativePath(path).c_str(), mode);
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
    return fileExists(path) && ::unlink(nativePath(path).c_str()) == 0;
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

uint64_t lastWriteTime(const std::string& path) {
    struct stat info;
    if (!statPath(path, info) || info.st_mtim.tv_sec < 0) return 0;
    uint64_t seconds = static_cast<uint64_t>(info.st_mtim.tv_sec) + kEpochGapSeconds;
    return seconds * 10000000ULL + static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
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
        entry.isDirectory = isDirectory(joinPath(path, name));
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
