// Inside the HTTP client: the rules that do not need WinHTTP (request header
// block, response header parsing, error texts, the download verdict), kept
// portable so they are tested natively, and the WinHTTP helpers the
// integration test reaches into (crackUrl, lastErrorText).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "launcher/net/http.h"

namespace ember::launcher::http {

// The extra request headers, in the order they are sent, each ended by CR LF:
// Accept, Cache-Control, X-QD-Client, Content-Type (when there is a body or
// the method is exactly POST or DELETE), Authorization (with a bearer token),
// Range and If-Range (for a body from a byte on).
std::string requestHeaderBlock(const Request& request);

// Empty when the method and every field that goes into the header block are
// safe to send; else kBadHeaderField and the field's name. A token that came
// from the network with a CR or LF in it would otherwise add header lines to
// every request that carries it.
std::string headerFieldError(const Request& request);

// Splits WinHTTP's raw header text at CR LF into `headers`: names trimmed of
// space, tab, CR and LF and lower-cased (ASCII), values trimmed the same way;
// a later occurrence of a name replaces an earlier one; lines without ':'
// (the status line) are skipped.
void parseHeaderLines(const std::string& raw, std::map<std::string, std::string>& headers);

// The announced body length: the content-length header as a decimal number,
// 0 when absent or not a plain number that fits in 64 bits.
uint64_t announcedLength(const std::map<std::string, std::string>& headers);

// kWrongLength and its detail when a 2xx reply's Content-Length is not the
// expected length (>= 0); empty when it matches, is absent (chunked), or
// nothing is expected.
std::string lengthError(const std::map<std::string, std::string>& headers, int32_t status, int64_t expected);

// The text for a WinHTTP error code ("timed out", ..., "WinHTTP error 12345").
std::string winHttpErrorText(unsigned long code);

// What a finished download amounts to, before the final rename: the first
// failure in the fixed order (write failure, transfer error, non-2xx status,
// digest mismatch) with its text, or kLands with no text when the file may
// be moved into place. `gotHex` is the digest of the bytes received;
// `wantHex` may be empty.
enum class Verdict { kLands, kWriteFailed, kTransferFailed, kStatus, kWrongDigest };
struct DownloadVerdict {
    Verdict kind = Verdict::kLands;
    std::string text;
};
DownloadVerdict downloadVerdict(bool writeFailed, const Response& reply, const std::string& gotHex,
                                const std::string& wantHex, const std::string& destPath);

// Whether cancelAllRequests() holds.
bool allRequestsCancelled();

// Whether a failed transfer's bytes are worth keeping for a resume: it
// ended early (cancelled, cut short, timed out, the network failed) after
// a 2xx answer or before any answer, not on a write failure, a wrong
// length, a refused range or another status.
bool keepsPart(bool writeFailed, const Response& reply);

// The minimum-rate rule of one body, looked at often and judged once a
// window has passed. Alone, a transfer is too slow when it received fewer
// than minBytesPerSecond over the window. Sharing a line, the line as a whole
// is held to that rate and each transfer only to its share of it (the rate
// divided by the transfers on the line), so a transfer that is slow only
// because six share a slow line goes on, while one that stalled still ends.
// Times are milliseconds on any steady clock.
class RateRule {
public:
    RateRule(uint32_t minBytesPerSecond, uint32_t windowMs, const SharedLine* line)
        : minRate_(minBytesPerSecond), windowMs_(windowMs > 0 ? windowMs : 1), line_(line) {}
    void bodyStarted(int64_t nowMs);
    void received(uint64_t bytes) { bytes_ += bytes; }
    // True once a window ends with too few bytes; each window is judged once.
    bool tooSlow(int64_t nowMs);

private:
    const uint64_t minRate_;
    const int64_t windowMs_;
    const SharedLine* line_;
    bool started_ = false;
    int64_t windowStart_ = 0;
    uint64_t bytes_ = 0;
    uint64_t windowBytes_ = 0;
    uint64_t windowLineBytes_ = 0;
};

// The whole-exchange deadline of a download of `size` bytes (-1: unknown):
// two minutes, plus what the file takes at `minBytesPerSecond` when it gets
// only one `width`-th of the line. Saturates at UINT32_MAX.
uint32_t downloadDeadlineMs(int64_t size, uint64_t minBytesPerSecond, int width);

// The part file opened to write: at its end (`append`) to go on from kept
// bytes, else emptied. A part that is a link (a symbolic link, or a hard link
// to a file elsewhere) is removed with its record, never what it names, and
// a new part made in its place; `fresh` then says the kept bytes are gone.
// nullptr when no part file can be opened.
std::FILE* openPartFile(const std::string& part, bool append, bool& fresh);

#ifdef _WIN32
struct ParsedUrl {
    std::wstring host;
    std::wstring path;  // URL path followed by the query part
    uint16_t port = 443;
    bool https = true;
    bool ok = false;
};

// Splits an absolute http(s) URL with WinHttpCrackUrl (buffers of 256 wide
// characters for the host and 4096 for the path and for the query); `ok` when
// the call succeeded and the host is non-empty.
ParsedUrl crackUrl(const std::string& url);

// winHttpErrorText of the calling thread's GetLastError().
std::string lastErrorText();
#endif

}  // namespace ember::launcher::http
