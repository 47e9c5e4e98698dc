// Links as the Windows tests make them under Wine: symbolic links through
// the host (Wine shows them as reparse points), hard links through the API.
#pragma once

#include <windows.h>

#include <string>

#include "base/paths.h"

namespace ember::launcher::testing {

// A symbolic link at `link` to the file or folder `target`. Wine's
// CreateSymbolicLinkW makes nothing, so the host's own ln makes it.
inline bool makeLink(const std::string& link, const std::string& target) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) {
        CreateSymbolicLinkW(toWide(link).c_str(), toWide(target).c_str(),
                            isDirectory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
        return isLink(link);
    }
    char* from = unixName(toWide(target).c_str());
    char* to = unixName(toWide(link).c_str());
    std::wstring command = L"ln -s \"" + toWide(from ? from : "") + L"\" \"" + toWide(to ? to : "") + L"\"";
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, to);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 50 && !isLink(link); ++i) Sleep(20);
    return isLink(link);
}

// A second name `link` for the existing file `target`.
inline bool makeHardLink(const std::string& link, const std::string& target) {
    return CreateHardLinkW(toWide(link).c_str(), toWide(target).c_str(), nullptr) != 0;
}

}  // namespace ember::launcher::testing
