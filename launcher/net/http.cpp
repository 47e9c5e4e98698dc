// The portable half of the HTTP client: user agent, request header block,
// response header parsing, error texts and the download verdict. The
// exchange itself is in http_win32.cpp.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "launcher/net/http_internal.h"
#include "launcher/net/sha256.h"

namespace ember::launcher::http {

namespace {

// Written once by the entry point before any worker thread exists, then only
// read, so it needs no lock.
std::string g_userAgent = "EmberlaneLauncher/2.0 (windows)";
// Raised at exit, so that no worker waits on a server at the end.
std::atomic<bool> g_cancelAll{false};

}  // namespace

void setUserAgent(const std::string& text) { g_userAgent = text; }

std::string userAgent() { return g_userAgent; }

void cancelAllRequests() { g_cancelAll = true; }
void allowRequests() { g_cancelAll = false; }
bool allRequestsCancelled() { return g_cancelAll.load(); }

Throttle& sharedThrottle() {
    // Like the WinHTTP session, one for the process: the limit is the
    // player's for every transfer at once.
    static Throttle throttle;
    return throttle;
}

void setSpeedLimit(uint64_t bytesPerSecond) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    sharedThrottle().setRate(bytesPerSecond,
                             static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

std::string requestHeaderBlock(const Request& request) {
    std::string block = "Accept: " + request.accept + "\r\n";
    block += "Cache-Control: no-store\r\n";
    block += "X-QD-Client: launcher\r\n";
    // An empty POST or DELETE still names its type: the account service
    // refuses body-less calls without one.
    if (!request.body.empty() || request.method == "POST" || request.method == "DELETE") {
        block += "Content-Type: " + request.contentType + "\r\n";
    }
    if (!request.bearer.empty()) block += "Authorization: Bearer " + request.bearer + "\r\n";
    if (request.rangeFrom > 0) {
        block += "Range: bytes=" + std::to_string(request.rangeFrom) + "-\r\n";
        if (!request.ifRange.empty()) block += "If-Range: " + request.ifRange + "\r\n";
    }
    return block;
}

namespace {

bool breaksHeaderLine(const std::string& value) { return value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// An HTTP method is a token: letters, digits and a few marks, no spaces or
// separators, so it cannot end the request line early.
bool isMethodToken(const std::string& method) {
    if (method.empty()) return false;
    for (char c : method) {
        bool alnum = isAsciiLetter(c) || isAsciiDigit(c);
        if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
    }
    return true;
}

}  // namespace

std::string headerFieldError(const Request& request) {
    if (!isMethodToken(request.method)) return std::string(kBadHeaderField) + "method";
    if (breaksHeaderLine(request.accept)) return std::string(kBadHeaderField) + "Accept";
    if (breaksHeaderLine(request.contentType)) return std::string(kBadHeaderField) + "Content-Type";
    if (breaksHeaderLine(request.bearer)) return std::string(kBadHeaderField) + "Authorization";
    if (breaksHeaderLine(request.ifRange)) return std::string(kBadHeaderField) + "If-Range";
    return std::string();
}

void parseHeaderLines(const std::string& raw, std::map<std::string, std::string>& headers) {
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find("\r\n", start);
        if (end == std::string::npos) end = raw.size();
        size_t colon = raw.find(':', start);
        if (colon != std::string::npos && colon < end) {
            std::string name = asciiLower(trim(std::string_view(raw).substr(start, colon - start)));
            headers[name] = std::string(trim(std::string_view(raw).substr(colon + 1, end - colon - 1)));
        }
        start = end + 2;
    }
}

namespace {

// A plain decimal number that fits in 64 bits: strtoull would turn "-1"
// into 2^64-1 and read a number from "12abc".
bool parseCount(std::string_view text, uint64_t& value) {
    value = 0;
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

uint64_t announcedLength(const std::map<std::string, std::string>& headers) {
    auto it = headers.find("content-length");
    uint64_t value = 0;
    return it != headers.end() && parseCount(it->second, value) ? value : 0;
}

std::string winHttpErrorText(unsigned long code) {
    switch (code) {
        case 12002: return "timed out";          // ERROR_WINHTTP_TIMEOUT
        case 12007: return "name not resolved";  // ERROR_WINHTTP_NAME_NOT_RESOLVED
        case 12029: return "cannot connect";     // ERROR_WINHTTP_CANNOT_CONNECT
        case 12030: return "connection error";   // ERROR_WINHTTP_CONNECTION_ERROR
        case 12175: return "TLS failure";        // ERROR_WINHTTP_SECURE_FAILURE
        // The same classes as other WinHTTP builds report them: Wine gives a
        // refused certificate as a secure-channel error or one of the
        // certificate codes, and passes some socket errors through as they are.
        case 12157:  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
        case 12037:  // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
        case 12038:  // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
        case 12045:  // ERROR_WINHTTP_SECURE_INVALID_CA
        case 12169:  // ERROR_WINHTTP_SECURE_INVALID_CERT
        case 12170:  // ERROR_WINHTTP_SECURE_CERT_REVOKED
        case 12179:  // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
            return "TLS failure";
        case 10053:  // WSAECONNABORTED
        case 10054:  // WSAECONNRESET
            return "connection error";
        case 10060: return "timed out";       // WSAETIMEDOUT
        case 10061: return "cannot connect";  // WSAECONNREFUSED
        default: break;
    }
    char text[40];
    std::snprintf(text, sizeof text, "WinHTTP error %lu", code);
    return text;
}

std::string encodePath(const std::string& relative) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(relative.size());
    for (char c : relative) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (isAsciiLetter(c) || isAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else if (c == '\\') {
            out += '/';
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string lengthError(const std::map<std::string, std::string>& headers, int32_t status, int64_t expected) {
    if (expected < 0 || status < 200 || status > 299) return std::string();
    auto it = headers.find("content-length");
    if (it == headers.end()) return std::string();
    const uint64_t announced = announcedLength(headers);
    if (announced == static_cast<uint64_t>(expected) && (announced != 0 || it->second == "0")) return std::string();
    return kWrongLength + it->second.substr(0, 24) + " bytes, want " + std::to_string(expected) + ")";
}

namespace {

// A field a part record can hold: not empty, and free of control
// characters, which would break its line or the request header it goes to.
bool isRecordField(std::string_view field) {
    if (field.empty()) return false;
    for (char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string formatPartRecord(const PartRecord& record) {
    for (const std::string* field : {&record.url, &record.sha256, &record.validator}) {
        if (!isRecordField(*field)) return std::string();
    }
    return "emberlane part 1\nurl " + record.url + "\nsha256 " + record.sha256 + "\nvalidator " + record.validator +
           "\nbytes " + std::to_string(record.bytes) + "\n";
}

bool parsePartRecord(const std::string& text, PartRecord& out) {
    const char* const names[] = {"emberlane part 1", "url ", "sha256 ", "validator ", "bytes "};
    std::string values[5];
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;
        const std::string_view line(text.data() + start, end - start);
        const std::string_view name(names[i]);
        // The first line is the format's name alone; the others a name and
        // its value.
        if (i == 0 ? line != name : line.substr(0, name.size()) != name) return false;
        values[i] = std::string(line.substr(name.size()));
        start = end + 1;
    }
    PartRecord record{values[1], values[2], values[3], 0};
    if (start != text.size() || !isRecordField(record.url) || !isRecordField(record.sha256) ||
        !isRecordField(record.validator) || !parseCount(values[4], record.bytes) ||
        std::to_string(record.bytes) != values[4]) {  // the count as written: no leading zeros
        return false;
    }
    out = record;
    return true;
}

std::string replyValidator(const std::map<std::string, std::string>& headers) {
    auto etag = headers.find("etag");
    if (etag != headers.end() && !etag->second.empty()) {
        return etag->second.compare(0, 2, "W/") == 0 ? std::string() : etag->second;
    }
    auto modified = headers.find("last-modified");
    return modified != headers.end() ? modified->second : std::string();
}

std::string partialReplyError(const std::map<std::string, std::string>& headers, uint64_t from, int64_t size,
                              const std::string& validator) {
    if (validator.empty() || replyValidator(headers) != validator) return kRangeRefused;
    // "bytes <from>-<last>/<size>", reaching the end of the file.
    auto range = headers.find("content-range");
    if (range == headers.end()) return kRangeRefused;
    const std::string_view text(range->second);
    const size_t dash = text.find('-'), slash = text.find('/');
    uint64_t first = 0, last = 0, whole = 0;
    if (text.substr(0, 6) != "bytes " || dash == std::string_view::npos || slash == std::string_view::npos ||
        slash < dash || !parseCount(text.substr(6, dash - 6), first) ||
        !parseCount(text.substr(dash + 1, slash - dash - 1), last) || !parseCount(text.substr(slash + 1), whole)) {
        return kRangeRefused;
    }
    if (first != from || last + 1 != whole || (size >= 0 && whole != static_cast<uint64_t>(size))) return kRangeRefused;
    return std::string();
}

bool keepsPart(bool writeFailed, const Response& reply) {
    if (writeFailed || reply.error.empty() || reply.error == kRangeRefused) return false;
    if (reply.error.compare(0, std::string_view(kWrongLength).size(), kWrongLength) == 0) return false;
    return reply.status == 0 || (reply.status >= 200 && reply.status <= 299);
}

DownloadVerdict downloadVerdict(bool writeFailed, const Response& reply, const std::string& gotHex,
                                const std::string& wantHex, const std::string& destPath) {
    if (writeFailed) return {Verdict::kWriteFailed, kDiskWriteFailed + destPath};
    if (!reply.error.empty()) return {Verdict::kTransferFailed, reply.error};
    if (reply.status < 200 || reply.status > 299) {
        return {Verdict::kStatus, kHttpStatus + std::to_string(reply.status)};
    }
    if (!wantHex.empty() && !sameDigest(gotHex, wantHex)) {
        return {Verdict::kWrongDigest,
                kChecksumMismatch + gotHex.substr(0, 12) + ", want " + wantHex.substr(0, 12) + ")"};
    }
    return {};
}

void RateRule::bodyStarted(int64_t nowMs) {
    started_ = true;
    windowStart_ = nowMs;
    windowBytes_ = bytes_;
    windowLineBytes_ = line_ ? line_->bytes() : 0;
}

bool RateRule::tooSlow(int64_t nowMs) {
    if (minRate_ == 0 || !started_) return false;
    const int64_t elapsed = nowMs - windowStart_;
    if (elapsed < windowMs_) return false;
    const uint64_t wanted = minRate_ * static_cast<uint64_t>(elapsed);  // bytes x 1000
    const uint64_t own = (bytes_ - windowBytes_) * 1000;
    bool slow = own < wanted;
    if (line_) {
        const uint64_t lineBytes = line_->bytes();
        const uint64_t sharing = static_cast<uint64_t>(std::max(line_->sharing(), 1));
        slow = (lineBytes - windowLineBytes_) * 1000 < wanted || own < wanted / sharing;
        windowLineBytes_ = lineBytes;
    }
    windowStart_ = nowMs;
    windowBytes_ = bytes_;
    return slow;
}

uint32_t downloadDeadlineMs(int64_t size, uint64_t minBytesPerSecond, int width) {
    constexpr uint64_t kBase = 120000;
    if (size <= 0 || minBytesPerSecond == 0) return static_cast<uint32_t>(kBase);
    const uint64_t seconds = static_cast<uint64_t>(size) / minBytesPerSecond;
    const uint64_t share = static_cast<uint64_t>(std::max(width, 1));
    const uint64_t room = (UINT32_MAX - kBase) / 1000 / share;
    if (seconds > room) return UINT32_MAX;
    return static_cast<uint32_t>(kBase + seconds * share * 1000);
}

std::FILE* openPartFile(const std::string& part, bool append, bool& fresh) {
    std::FILE* file = openOwnFileReplacingLink(part, append ? "ab" : "wb", &fresh);
    // With the link goes the record that spoke for its bytes; the file then
    // comes from nothing.
    if (fresh) removeFile(part + kPartRecordSuffix);
    return file;
}

}  // namespace ember::launcher::http
