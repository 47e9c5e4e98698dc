// Paths, the configuration directory, whole-file reading and atomic writes.
//
// Paths are UTF-8 strings in memory, converted to UTF-16 only at Windows
// calls. The file layer has a Win32 implementation (paths_win32.cpp) and a
// POSIX twin (paths_posix.cpp) so that the logic above it tests natively.
//
// Paths are written the Windows way everywhere (joinPath uses a backslash);
// the POSIX twin turns every `\` into `/` at its system calls, so the same
// path text works in both builds. The portable logic (joining, the directory
// walk, the configuration directory, reading and atomic writing) lives in
// paths.cpp on top of the small primitives at the end of this header.
//
// Nothing here reports errors to the player: functions return false (or -1,
// 0, an empty text) and the caller decides what to say.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace ember::launcher {

// Configuration directory (EMBERLANE_CONFIG_DIR, else Local AppData\Emberlane),
// created if missing; evaluated on every call. Always returns a path, at worst
// the relative "Emberlane".
std::string configDir();
// `b` unchanged when `a` is empty; else `a`, a backslash unless `a` already
// ends with one of `\` `/`, then `b` with every `/` turned into `\`.
std::string joinPath(const std::string& a, const std::string& b);
// The text before the last `\` or `/`; empty when there is neither.
std::string parentDir(const std::string& path);
// Creates every missing level; true when the whole path is a directory
// afterwards (false for an empty path).
bool createDirectories(const std::string& path);
bool isDirectory(const std::string& path);
// Something that is not a directory exists at `path`.
bool fileExists(const std::string& path);
// Replaces `out` with the whole file (binary). False when the file cannot be
// opened or a read fails part-way; `out` is then left as it was.
bool readWholeFile(const std::string& path, std::string& out);
// Writes `<path>.tmp` (creating the parent directories first), forces it to
// disk and renames it over `path`. On any failure the previous file is intact.
// A link at `<path>.tmp` is removed (never what it names) and the file made
// anew; a link at `path` is replaced by the rename, its target untouched.
bool writeFileAtomic(const std::string& path, const std::string& bytes);
// Deletes a file (a link itself, never what it names); false when it is
// missing or cannot be deleted.
bool removeFile(const std::string& path);
// Replaces `to` with `from` (write-through where the platform offers it).
bool renameReplace(const std::string& from, const std::string& to);

// Size in bytes of a file; -1 when it is missing, a directory or unreadable.
int64_t fileSize(const std::string& path);
// Last-write time as a raw Windows file time (100 ns units since 1601-01-01
// UTC); 0 when unknown. The POSIX twin converts the modification time.
uint64_t lastWriteTime(const std::string& path);

struct DirEntry {
    std::string name;  // UTF-8, no folder part; never "." or ".."
    bool isDirectory = false;
    // What fileSize and lastWriteTime would say (-1 and 0 for a directory),
    // taken from the listing itself: one call per folder instead of one per
    // file, which matters where each file-system call is slow (Wine).
    int64_t size = -1;
    uint64_t lastWrite = 0;
    // A reparse point (symbolic link, junction, mount point): what it names
    // lies elsewhere, perhaps outside the folder being listed.
    bool isLink = false;
};
// The entries of a directory, sorted by name (byte order). False when the
// directory cannot be read.
bool listDirectory(const std::string& path, std::vector<DirEntry>& out);

// Whether `path` itself is a reparse point (a symbolic link, a junction);
// the link is asked about, never what it points to.
bool isLink(const std::string& path);
// Whether both paths name one existing file, however each is spelled (letter
// case, either slash, a short 8.3 name, a hard link): the file system's own
// identity of the file decides.
bool sameFile(const std::string& a, const std::string& b);
// Whether `relative` (below `base`) reaches its target through a link: any
// of its components, the last one included, is one. `base` itself is not
// looked at.
bool passesThroughLink(const std::string& base, const std::string& relative);
// The first component of `relative` (below `base`) that is a link, as the
// leading part of `relative` spelled as given ("Emberlane/lnk"); empty when
// none is. `base` itself is not looked at.
std::string linkOnPath(const std::string& base, const std::string& relative);
// Whether what is at `path` is a link of either kind: a reparse point, or a
// file with more than one hard link (another name elsewhere writes the same
// bytes). The name and the opened file itself are both asked; a link is
// opened as itself, never followed.
bool isLinkedFile(const std::string& path);

// Full path of the running executable (UTF-8); empty when unknown.
std::string executablePath();

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const std::wstring& wide);

// ---- Platform primitives (paths_win32.cpp / paths_posix.cpp) ----

// An environment variable as UTF-8; nullopt when it is not set (an empty
// value is returned as an empty string). Reads the live environment, so a
// change made with SetEnvironmentVariableW/_wputenv/setenv is seen at once.
std::optional<std::string> environmentVariable(const char* name);
// The user's local application-data folder from the platform; empty when
// unknown. Windows: the known folder Local AppData. POSIX: $XDG_DATA_HOME,
// else $HOME/.local/share.
std::string platformLocalAppData();
// Creates one directory level; false when it could not be created (an
// existing directory also gives false).
bool makeDirectory(const std::string& path);
// fopen with a UTF-8 path (`mode` as for fopen, e.g. "rb", "wb", "ab").
std::FILE* openFile(const std::string& path, const char* mode);
// Opens a file to write, "wb" (emptied) or "ab" (at its end), created when
// missing, but never through a link: when the name, or the file opened
// without following a link, is one (isLinkedFile), nothing is written or
// emptied, the link is left as it is, `*linked` (when given) is set and
// nullptr returned. Only the last component is looked at here.
std::FILE* openOwnFile(const std::string& path, const char* mode, bool* linked = nullptr);
// openOwnFile, but a link in the file's place is removed (never what it
// names) and a new, empty file of our own opened there; `*replaced` (when
// given) then says the old bytes are gone.
std::FILE* openOwnFileReplacingLink(const std::string& path, const char* mode, bool* replaced = nullptr);
// Pushes what was written to `file` through to the disk (after fflush).
bool syncFile(std::FILE* file);
// Appends `bytes` to a file with one write, creating it when missing; the
// file is opened in append-only mode so concurrent writers never overwrite
// each other. False when it cannot be opened or the write fell short.
bool appendToFile(const std::string& path, const std::string& bytes);

}  // namespace ember::launcher
