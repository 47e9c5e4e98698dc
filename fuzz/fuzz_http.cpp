// Fuzz entry point: what a server's reply puts in front of the body, and the
// resume record a part file keeps on disk. The first byte picks the reader;
// the rest is WinHTTP's raw header text or the record file's text. Header
// names come out lower-case and both sides trimmed with no line break left;
// a record is accepted only exactly as the writer would write it.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "launcher/net/http.h"
#include "launcher/net/http_internal.h"

using namespace ember::launcher;
using namespace ember::launcher::http;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool trimmed(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    return text.empty() || (!blank(text.front()) && !blank(text.back()));
}

void headerLines(const std::string& raw) {
    std::map<std::string, std::string> headers;
    parseHeaderLines(raw, headers);
    for (const auto& [name, value] : headers) {
        require(trimmed(name) && trimmed(value));
        for (char c : name) require(!(c >= 'A' && c <= 'Z'));
    }
    const uint64_t length = announcedLength(headers);
    if (length > 0) {
        const std::string& text = headers.at("content-length");
        require(text.find_first_not_of("0123456789") == std::string::npos);
    }
    const std::string validator = replyValidator(headers);
    (void)lengthError(headers, 200, static_cast<int64_t>(length % 1000));
    // A 206 is the rest of this version only when it says so.
    const std::string why = partialReplyError(headers, length % 4096, 4096, validator);
    if (why.empty()) require(!validator.empty() && headers.count("content-range"));
}

void partRecord(const std::string& text) {
    PartRecord record;
    if (parsePartRecord(text, record)) require(formatPartRecord(record) == text);
    // Whatever the writer writes, the reader reads back as it was.
    PartRecord made{text.substr(0, text.size() / 2), "ab", text.substr(text.size() / 2), text.size()};
    const std::string written = formatPartRecord(made);
    if (written.empty()) return;
    PartRecord back;
    require(parsePartRecord(written, back));
    require(back.url == made.url && back.validator == made.validator && back.bytes == made.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        partRecord(text);
    } else {
        headerLines(text);
    }
    return 0;
}
