// Test helpers for the file layer: a fresh scratch folder per test and
// environment changes that are undone afterwards.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/paths.h"

namespace ember::launcher::testing {

// A new, empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            std::filesystem::path candidate = base / ("ember-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder as a UTF-8 path (backslashes under Windows).
    std::string path() const { return path_.u8string(); }
    std::string file(const std::string& name) const { return joinPath(path(), name); }

private:
    std::filesystem::path path_;
};

// Sets (or with nullopt removes) an environment variable and restores the
// earlier state when the object goes.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : name_(name), previous_(environmentVariable(name)) {
        assign(value);
    }
    ~ScopedEnv() { assign(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void assign(const std::optional<std::string>& value) {
#ifdef _WIN32
        SetEnvironmentVariableW(toWide(name_).c_str(), value ? toWide(*value).c_str() : nullptr);
#else
        if (value) {
            setenv(name_.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
#endif
    }

    std::string name_;
    std::optional<std::string> previous_;
};

#ifndef _WIN32
// A link at `link` to `target` (which need not exist), made natively by the
// host's own calls: a hard link, or a symbolic one. True when it was made.
inline bool makeHostLink(const std::string& link, const std::string& target, bool hard) {
    // The system calls take the path as the disk spells it: every `\\` a `/`.
    auto onDisk = [](std::string path) {
        for (char& c : path) {
            if (c == '\\') c = '/';
        }
        return path;
    };
    const std::string from = onDisk(target);
    const std::string to = onDisk(link);
    return (hard ? ::link(from.c_str(), to.c_str()) : ::symlink(from.c_str(), to.c_str())) == 0;
}
#endif

// Writes a file in one go for a test's set-up; true on success.
inline bool putFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = openFile(path, "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return (std::fclose(file) == 0) && ok;
}

inline std::string fileText(const std::string& path) {
    std::string out;
    readWholeFile(path, out);
    return out;
}

}  // namespace ember::launcher::testing
