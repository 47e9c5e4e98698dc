// Opening a file for hashing on Windows: the UTF-8 path becomes UTF-16 so
// any file name opens, whatever the ANSI code page.
#include <windows.h>

#include <cwchar>
#include <string>

#include "launcher/net/sha256_internal.h"

namespace ember::launcher::sha256_detail {

FILE* openForReading(const std::string& utf8Path) {
    // A path that is not valid UTF-8 (or has an embedded NUL) names no file.
    if (utf8Path.empty() || utf8Path.find('\0') != std::string::npos || utf8Path.size() > 0x7fffffff) {
        return nullptr;
    }
    const int inLength = static_cast<int>(utf8Path.size());
    int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path.data(), inLength, nullptr, 0);
    if (wideLength <= 0) {
        return nullptr;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path.data(), inLength, wide.data(), wideLength) !=
        wideLength) {
        return nullptr;
    }
    return _wfopen(wide.c_str(), L"rb");
}

}  // namespace ember::launcher::sha256_detail
