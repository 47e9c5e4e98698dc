// The --check-manifest report on Windows: WinHTTP, files and the console.
#include <windows.h>

#include <vector>

#include "launcher/shell/check_report.h"
#include "base/paths.h"

namespace ember::launcher {

namespace {

// Reads a manifest file in 64 KiB pieces, stopping one piece past the
// limit. Only disk files are read: a console, pipe or device could block
// the report forever or never end.
FileRead readManifestFile(const std::string& path, uint64_t maxBytes, std::string& out) {
    HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileRead::CannotRead;
    FileRead result = FileRead::Ok;
    std::string text;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        result = FileRead::CannotRead;
    } else {
        std::vector<char> buffer(65536);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
                result = FileRead::CannotRead;
                break;
            }
            if (got == 0) break;
            if (text.size() + got > maxBytes) {
                result = FileRead::TooLarge;
                break;
            }
            text.append(buffer.data(), got);
        }
    }
    CloseHandle(file);
    if (result == FileRead::Ok) out.swap(text);
    return result;
}

bool usableOutput(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The launcher is a GUI program: started from a console without
// redirection it has no standard output until it joins the parent's
// console. With none to join the report is dropped (the exit code remains).
void writeReport(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!usableOutput(out)) {
        AttachConsole(ATTACH_PARENT_PROCESS);
        out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!usableOutput(out)) return;
    }
    // The bytes go out as they are (no line-end translation); a pipe may
    // take them in several writes.
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const DWORD piece = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(out, data, piece, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}

}  // namespace

int runCheckManifest(const std::vector<std::string>& args) {
    CheckSources sources;
    sources.fetch = [](const http::Request& request) { return http::request(request); };
    sources.readFile = readManifestFile;
    const CheckOutcome outcome = checkManifestReport(args, sources);
    writeReport(outcome.output);
    return outcome.exitCode;
}

}  // namespace ember::launcher
