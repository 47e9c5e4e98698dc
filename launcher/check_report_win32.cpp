// The --check-manifest report on Windows: WinHTTP, the file layer and the
// console.
#include <windows.h>

#include "launcher/check_report.h"
#include "launcher/paths.h"

namespace ember::launcher {

namespace {

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
    sources.readFile = [](const std::string& path, std::string& out) { return readWholeFile(path, out); };
    sources.fileSize = [](const std::string& path) { return fileSize(path); };
    const CheckOutcome outcome = checkManifestReport(args, sources);
    writeReport(outcome.output);
    return outcome.exitCode;
}

}  // namespace ember::launcher
