// Paths, the configuration directory, whole-file reading and atomic writes.
//
// Paths are UTF-8 strings in memory, converted to UTF-16 only at Windows
// calls. The file layer has a Win32 implementation (paths_win32.cpp) and a
// POSIX twin (paths_posix.cpp) so that the logic above it tests natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher {

// Configuration directory (EMBERLANE_CONFIG_DIR, else Local AppData\Emberlane),
// created if missing; evaluated on every call.
std::string configDir();
std::string joinPath(const std::string& a, const std::string& b);
std::string parentDir(const std::string& path);
bool createDirectories(const std::string& path);
bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
bool readWholeFile(const std::string& path, std::string& out);
bool writeFileAtomic(const std::string& path, const std::string& bytes);
bool removeFile(const std::string& path);
// Replaces `to` with `from` (write-through where the platform offers it).
bool renameReplace(const std::string& from, const std::string& to);

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const std::wstring& wide);

}  // namespace ember::launcher
