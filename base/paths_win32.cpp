// Win32 half of the file layer: UTF-16 conversion at every call, the
// known-folder lookup, and file primitives over the wide API.
#include "base/paths.h"

#include <windows.h>
#include <shlobj.h>
#include <io.h>
#include <fcntl.h>

#include <algorithm>
#include <climits>

namespace ember::launcher {

namespace {

bool attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    if (path.empty()) return false;
    return GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

// What an open handle says of itself: a reparse point (when it was opened
// with FILE_FLAG_OPEN_REPARSE_POINT, the link itself), or a file that other
// names share. A directory's own count of names means nothing here.
enum class HandleKind { own, linked, unknown };
HandleKind handleKind(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return HandleKind::unknown;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return HandleKind::linked;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return HandleKind::linked;
    return HandleKind::own;
}

}  // namespace

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    int length = static_cast<int>(utf8.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &out[0], needed);
    return out;
}

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return std::string();
    int length = static_cast<int>(wide.size());
    int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &out[0], needed, nullptr, nullptr);
    return out;
}

std::optional<std::string> environmentVariable(const char* name) {
    std::wstring wideName = toWide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        // An empty variable answers 0 with no error; a missing one sets
        // ERROR_ENVVAR_NOT_FOUND.
        SetLastError(ERROR_SUCCESS);
        DWORD got = GetEnvironmentVariableW(wideName.c_str(), &value[0], static_cast<DWORD>(value.size()));
        if (got == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        // Too small: `got` is the size needed, terminator included.
        if (got >= value.size()) {
            value.assign(got + 1, L'\0');
            continue;
        }
        value.resize(got);
        return toUtf8(value);
    }
}

std::string platformLocalAppData() {
    PWSTR folder = nullptr;
    std::string out;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)) && folder) out = toUtf8(folder);
    CoTaskMemFree(folder);
    return out;
}

bool isDirectory(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool fileExists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isLink(const std::string& path) {
    if (path.empty()) return false;
    // The attributes of a link are its own: GetFileAttributes does not follow it.
    const DWORD found = GetFileAttributesW(toWide(path).c_str());
    return found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool isLinkedFile(const std::string& path) {
    if (path.empty()) return false;
    if (isLink(path)) return true;
    HANDLE file = CreateFileW(toWide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool linked = handleKind(file) == HandleKind::linked;
    CloseHandle(file);
    return linked;
}

bool sameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        if (path.empty()) return false;
        // No access asked: only the file's identity is read, and a file
        // another program holds open is still looked at.
        HANDLE file = CreateFileW(toWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool read = GetFileInformationByHandle(file, &info) != 0;
        CloseHandle(file);
        return read;
    };
    BY_HANDLE_FILE_INFORMATION first, second;
    return identity(a, first) && identity(b, second) && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool makeDirectory(const std::string& path) {
    return !path.empty() && CreateDirectoryW(toWide(path).c_str(), nullptr) != 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    if (path.empty()) return nullptr;
    return _wfopen(toWide(path).c_str(), toWide(mode).c_str());
}

std::FILE* openOwnFile(const std::string& path, const char* mode, bool* linked) {
    if (linked) *linked = false;
    const std::string kind = mode ? mode : "";
    const bool append = kind == "ab";
    if (path.empty() || (!append && kind != "wb")) return nullptr;
    // Opened as it is, without emptying it: a link is opened as the link,
    // and nothing is written before the handle has said what it is.
    HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A link to a folder cannot be opened as a file, and is a link all the same.
        if (linked) *linked = isLink(path);
        return nullptr;
    }
    // The name is asked too: Wine opens a host symbolic link as what it names.
    const HandleKind found = handleKind(file);
    const bool isLinked = found == HandleKind::linked || (found == HandleKind::own && isLink(path));
    if (found != HandleKind::own || isLinked || (!append && !SetEndOfFile(file))) {
        if (linked) *linked = isLinked;
        CloseHandle(file);
        return nullptr;
    }
    // Appending, the C runtime moves to the end before every write.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), append ? _O_APPEND : 0);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* out = _fdopen(fd, append ? "ab" : "wb");
    if (!out) _close(fd);
    return out;
}

bool syncFile(std::FILE* file) {
    return _commit(_fileno(file)) == 0;
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    if (path.empty() || bytes.size() > MAXDWORD) return false;
    // Append-only access: every write lands at the current end of the file,
    // even with other handles writing at the same time.
    HANDLE file = CreateFileW(toWide(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool removeFile(const std::string& path) {
    return !path.empty() && DeleteFileW(toWide(path).c_str()) != 0;
}

bool renameReplace(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

uint64_t lastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes(path, data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool listDirectory(const std::string& path, std::vector<DirEntry>& out) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(toWide(joinPath(path, "*")).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    std::vector<DirEntry> entries;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry entry;
        entry.name = toUtf8(name);
        entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (!entry.isDirectory) {
            entry.size = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        }
        entry.lastWrite = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                          found.ftLastWriteTime.dwLowDateTime;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    // Anything but "no more files" means the listing is incomplete.
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (!complete) return false;
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    out.swap(entries);
    return true;
}

std::string executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD got = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (got == 0) return std::string();
        // A full buffer means the path was cut short: try a larger one.
        if (got < buffer.size()) {
            buffer.resize(got);
            return toUtf8(buffer);
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
    return std::string();
}

}  // namespace ember::launcher
