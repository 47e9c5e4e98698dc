// Registry, version resources and the folder picker for finding the game.
#include "launcher/install/game.h"

#include <windows.h>
#include <shobjidl.h>

#include <cstdio>
#include <memory>

#include "base/paths.h"

namespace ember::launcher {

std::vector<std::string> steamRegistryRoots() {
    std::vector<std::string> roots;
    const HKEY hives[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    const wchar_t* const keys[] = {L"Software\\Valve\\Steam", L"SOFTWARE\\WOW6432Node\\Valve\\Steam"};
    const wchar_t* const values[] = {L"SteamPath", L"InstallPath"};
    for (HKEY hive : hives) {
        for (const wchar_t* keyName : keys) {
            HKEY key;
            if (RegOpenKeyExW(hive, keyName, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) continue;
            for (const wchar_t* valueName : values) {
                // 2048 bytes, taken up to the first NUL.
                wchar_t buffer[1024 + 1] = {};
                DWORD type = 0;
                DWORD bytes = 2048;
                if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
                        ERROR_SUCCESS ||
                    type != REG_SZ) {
                    continue;
                }
                buffer[1024] = L'\0';
                roots.push_back(toUtf8(std::wstring(buffer)));
            }
            RegCloseKey(key);
        }
    }
    return roots;
}

std::string readGameVersion(const std::string& exePath) {
    const std::wstring path = toWide(exePath);
    // No resource at all: the environment may say what the game is.
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return environmentVariable("EMBERLANE_GAME_VERSION").value_or(std::string());

    // The resource.
    std::unique_ptr<char[]> data(new char[size]);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.get())) return std::string();

    // ProductVersion under each translation, then the usual English one.
    std::vector<std::wstring> queries;
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT translationBytes = 0;
    if (VerQueryValueW(data.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &translationBytes) &&
        translations) {
        for (UINT i = 0; i < translationBytes / sizeof(Translation); ++i) {
            wchar_t query[64];
            std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translations[i].language,
                          translations[i].codePage);
            queries.push_back(query);
        }
    }
    queries.push_back(L"\\StringFileInfo\\040904B0\\ProductVersion");

    // The first non-empty value, without trailing NULs.
    for (const std::wstring& query : queries) {
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.get(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) continue;
        std::wstring text(value, length);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        if (!text.empty()) return toUtf8(text);
    }

    // The fixed file version.
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedBytes = 0;
    if (!VerQueryValueW(data.get(), L"\\", reinterpret_cast<void**>(&fixed), &fixedBytes) || !fixed ||
        fixedBytes < sizeof(VS_FIXEDFILEINFO)) {
        return std::string();
    }
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    return text;
}

void pickGameFolder(const std::string& current,
                    const std::function<void(const std::string& folder, const std::string& error)>& done) {
    std::string chosen;
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        DWORD options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
        dialog->SetTitle(L"Where is Oblivion Remastered?");
        IShellItem* start = nullptr;
        if (!current.empty() &&
            SUCCEEDED(SHCreateItemFromParsingName(toWide(current).c_str(), nullptr, IID_PPV_ARGS(&start)))) {
            dialog->SetFolder(start);
            start->Release();
        }
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->Show(nullptr)) && SUCCEEDED(dialog->GetResult(&result))) {
            wchar_t* path = nullptr;
            if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
                chosen = toUtf8(path);
                CoTaskMemFree(path);
            }
            result->Release();
        }
        dialog->Release();
    }
    std::string error = checkPickedFolder(chosen);
    done(error.empty() ? chosen : std::string(), error);
}

}  // namespace ember::launcher
