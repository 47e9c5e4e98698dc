// The Windows clipboard as Unicode text (see clipboard.h).
#include "launcher/kit/clipboard.h"

#include <windows.h>

#include <cstring>

#include "base/paths.h"

namespace ember::launcher::view {

bool copyToClipboard(const std::string& text) {
    const std::wstring wide = toWide(text);
    if (!OpenClipboard(nullptr)) return false;
    bool ok = false;
    EmptyClipboard();
    const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory != nullptr) {
        void* locked = GlobalLock(memory);
        if (locked != nullptr) {
            std::memcpy(locked, wide.c_str(), bytes);
            GlobalUnlock(memory);
            ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!ok) GlobalFree(memory);  // the clipboard owns it only on success
    }
    CloseClipboard();
    return ok;
}

bool clipboardText(std::string& out) {
    if (!OpenClipboard(nullptr)) return false;
    bool ok = false;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        out = toUtf8(std::wstring(text, wcsnlen(text, GlobalSize(data) / sizeof(wchar_t))));
        GlobalUnlock(data);
        ok = true;
    }
    CloseClipboard();
    return ok;
}

}  // namespace ember::launcher::view
