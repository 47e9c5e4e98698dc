// Test helpers for the file layer: a fresh scratch folder per test and
// environment changes that are undone afterwards.
#pragma once

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

// A path as the host's own system calls take it natively: every `\\` a `/`.
inline std::string onDisk(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

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
