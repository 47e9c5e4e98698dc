// HTTP client over WinHTTP: the launcher's only way onto the network.
//
// request() performs one blocking exchange and returns status, headers and
// body; download() streams a body into "<dest>.part", hashes it on the way
// and renames it into place only when the digest matches. Neither throws:
// failures are short English texts in Response::error / the return value.
// Redirects are never followed; TLS 1.2 and 1.3 only.
//
// Any number of threads may call both at once. They share one WinHTTP
// session, which keeps finished connections open for the next request to
// the same server (one TLS handshake for a run of downloads); connection and
// request handles are each call's own. The user agent is set once at
// start-up, before any worker exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "launcher/net/throttle.h"

namespace ember::launcher::http {

// The process's download speed limit: every exchange with
// Request::throttled set (the client files, the launcher build, the
// manifest) draws its body from this one bucket, so together they keep to
// the limit. The UI thread sets it (it never waits); the readers wait on
// their own threads.
Throttle& sharedThrottle();
// 0: no limit.
void setSpeedLimit(uint64_t bytesPerSecond);

// Transfers that share one line: the files an apply fetches side by side.
// Each one slows the others, so their minimum rate is judged together (see
// RateRule); `width` is how many may share it at once. Any thread.
class SharedLine {
public:
    explicit SharedLine(int width) : width_(width > 1 ? width : 1) {}
    int width() const { return width_; }
    // Transfers whose body is arriving now.
    int sharing() const { return sharing_.load(); }
    // Body bytes all of them have received so far.
    uint64_t bytes() const { return bytes_.load(); }
    void join() { ++sharing_; }
    void leave() { --sharing_; }
    void received(uint64_t bytes) { bytes_ += bytes; }

private:
    const int width_;
    std::atomic<int> sharing_{0};
    std::atomic<uint64_t> bytes_{0};
};

struct Request {
    std::string method = "GET";
    std::string url;
    std::string body;
    std::string contentType = "application/json";
    std::string accept = "application/json";
    std::string bearer;
    uint32_t timeoutMs = 20000;  // each phase: connect, send, every read
    // The whole exchange, however the bytes trickle in; 0 for none.
    uint32_t deadlineMs = 60000;
    // Once the headers are in, fewer than this many body bytes a second,
    // averaged over rateWindowMs, ends the exchange as "timed out"; 0 for none.
    uint32_t minBytesPerSecond = 1024;
    uint32_t rateWindowMs = 10000;
    // With a line, the minimum rate holds for the line as a whole, and this
    // exchange is held only to its share of it (RateRule). Outlives the call.
    SharedLine* line = nullptr;
    // The body is read under the process's speed limit (sharedThrottle).
    bool throttled = false;
    uint64_t maxBytes = 8388608;
    // The body length the caller knows (-1: not known). A 2xx reply that
    // announces another length fails with kWrongLength before any byte is
    // taken, and no more than this is ever passed on.
    int64_t expectedLength = -1;
    // Asked from another thread about every 50 ms while the exchange runs;
    // true ends it at once (even inside a blocking read) with kCancelled.
    std::function<bool()> cancelled;
    // The body from this byte on ("Range: bytes=N-"); 0 asks for all of it.
    // A 206 reply is then held to expectedLength - rangeFrom. With ifRange
    // (an ETag or a Last-Modified date) the server sends the rest only if
    // its version is still that one, else the whole body.
    uint64_t rangeFrom = 0;
    std::string ifRange;
    // Called once status and headers are in, before any body byte; a
    // non-empty answer ends the exchange with that text as the error.
    std::function<std::string(int32_t status, const std::map<std::string, std::string>& headers)> onHeaders;
    // When set, every received chunk goes here instead of Response::body;
    // `total` is the Content-Length or 0; false stops the transfer.
    std::function<bool(const char* data, uint64_t length, uint64_t total)> sink;
};

struct Response {
    int32_t status = 0;
    std::string body;
    std::string contentType;
    std::map<std::string, std::string> headers;  // lower-cased names
    std::string error;                           // empty on a completed exchange
};

using Progress = std::function<bool(uint64_t done, uint64_t total)>;

// One file to fetch into place.
struct Download {
    std::string url;
    std::string destPath;
    // Where the bytes gather; empty: destPath + ".part". A part file that is
    // a link (symbolic, or a hard link to a file elsewhere) is removed, never
    // what it names, and the file fetched from nothing.
    std::string partPath;
    std::string sha256Hex;  // empty: not checked
    int64_t size = -1;      // the expected length, when known
    Progress progress;      // false stops the transfer (`done` counts kept bytes too)
    std::function<bool()> cancelled;  // see Request::cancelled
    // The line this transfer shares with others (see Request::line); its
    // overall deadline then allows for its share of the slowest line.
    SharedLine* line = nullptr;
    // A transfer that ends early (cancelled, cut, timed out, the network
    // gone, the process killed) keeps its part file, with a PartRecord
    // beside it, once the server named its version: the record is written
    // before the first byte of the body, so it is true at every moment. The
    // next download of the same URL and digest asks only for the rest. The whole file's digest is checked as
    // always, and kept bytes that fail it are fetched again from the start.
    bool resumable = false;
    // Called once when the server agreed to continue a kept part, with the
    // bytes kept (they count in `done` from then on without having come
    // over the network now).
    std::function<void(uint64_t kept)> resumed;
};

// What a kept part file holds: the bytes of `url` at the server's version
// `validator` (its ETag, else its Last-Modified date), for a file whose
// digest is `sha256`. Lives at the part file's path + kPartRecordSuffix.
// `bytes` is how many the part held when the record was written; a part
// still being written (or cut by a kill) has grown since with bytes of the
// same version, and every byte it holds is kept.
struct PartRecord {
    std::string url;
    std::string sha256;
    std::string validator;
    uint64_t bytes = 0;
};
inline constexpr const char kPartRecordSuffix[] = ".resume";
// The record as a few text lines; empty when a field is empty or holds a
// control character.
std::string formatPartRecord(const PartRecord& record);
// False for anything formatPartRecord did not write.
bool parsePartRecord(const std::string& text, PartRecord& out);
// The version a reply names: its strong ETag, else its Last-Modified date,
// else empty (a weak ETag cannot vouch for bytes, so it never resumes).
std::string replyValidator(const std::map<std::string, std::string>& headers);
// Why a 206 reply to "Range: bytes=<from>-" is not the rest of the version
// `validator` (of `size` bytes, -1 when unknown); empty when it is.
std::string partialReplyError(const std::map<std::string, std::string>& headers, uint64_t from, int64_t size,
                              const std::string& validator);

// Failure texts. Response::error holds one of the first group, or a WinHTTP
// text ("timed out", "name not resolved", "cannot connect", "connection
// error", "TLS failure", "WinHTTP error <code>"); download() adds the second
// group, each followed by the detail shown in its comment.
inline constexpr const char kBadUrl[] = "bad URL";
// + "method", "Accept", "Content-Type" or "Authorization": a field that would
// break out of its header line (CR, LF or NUL; a method that is not a token).
inline constexpr const char kBadHeaderField[] = "refused to send a request with a malformed ";
inline constexpr const char kCancelled[] = "cancelled";
// A ranged request the server would not continue (416, another version).
inline constexpr const char kRangeRefused[] = "the server would not continue the file";
inline constexpr const char kReplyTooLarge[] = "reply too large";
inline constexpr const char kReplyCutShort[] = "reply cut short";
// + announced length, " bytes, want ", expected length, ")".
inline constexpr const char kWrongLength[] = "reply of the wrong length (";
inline constexpr const char kCannotWrite[] = "cannot write ";             // + part file path
inline constexpr const char kDiskWriteFailed[] = "disk write failed for ";  // + destination
inline constexpr const char kHttpStatus[] = "HTTP ";                      // + status code
inline constexpr const char kChecksumMismatch[] = "checksum mismatch (got ";  // + 12 hex, ", want ", 12 hex, ")"
inline constexpr const char kCannotReplace[] = "cannot replace ";         // + destination + kGameRunning
inline constexpr const char kGameRunning[] = " (is the game running?)";

Response request(const Request& request);
// At exit: every exchange in flight ends within about 50 ms with
// kCancelled, as do all later ones, until allowRequests(). Any thread.
void cancelAllRequests();
void allowRequests();
// How a download ended, for the caller to act on; the error text says it
// for people.
enum class DownloadEnd : uint8_t {
    landed,
    writeFailed,    // kDiskWriteFailed: the disk would not take the bytes (full)
    cannotReplace,  // kCannotReplace: the file in place is held open
    stopped,        // cancelled, stopped by its progress, or the process is exiting
    failed,         // anything else: the connection, the status, the length, the digest
};
struct DownloadResult {
    DownloadEnd end = DownloadEnd::landed;
    std::string error;  // empty when it landed, else the reason
};
DownloadResult download(const Download& job);
DownloadResult download(const std::string& url, const std::string& destPath, const std::string& sha256Hex,
                        const Progress& progress = nullptr);

// A relative file path made fit to follow a base URL: every byte but
// letters, digits, '-', '.', '_', '~' and the '/' between segments is
// percent-encoded ('\\' counts as '/'), so '#', '?', '%' and spaces name
// the file instead of changing the URL's meaning.
std::string encodePath(const std::string& relative);
void setUserAgent(const std::string& text);
std::string userAgent();

}  // namespace ember::launcher::http
