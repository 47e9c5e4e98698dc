// Setting a file's last-write time exactly (to fake a change that keeps
// the time, as some tools do). std::filesystem under mingw rounds the time,
// so Windows goes through SetFileTime.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "base/paths.h"

namespace ember::launcher::testing {

inline bool setLastWriteTime(const std::string& path, uint64_t fileTime) {
#ifdef _WIN32
    HANDLE file = CreateFileW(toWide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    bool ok = SetFileTime(file, nullptr, nullptr, &time) != 0;
    CloseHandle(file);
    return ok;
#else
    std::string native = path;
    for (char& c : native) c = (c == '\\') ? '/' : c;
    const uint64_t unix100ns = fileTime - 116444736000000000ULL;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unix100ns / 10000000ULL);
    times[1].tv_nsec = static_cast<long>(unix100ns % 10000000ULL * 100);
    return utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
#endif
}

}  // namespace ember::launcher::testing
