// The HTTP exchange over WinHTTP (synchronous), and downloads into place.
//
// request(): crack the URL, open connection and request on the shared
// session, send with our header block, read status and headers, then the
// body in 64 KiB chunks into
// memory (capped by maxBytes) or into the caller's sink. download(): stream
// into "<dest>.part" while hashing, decide, then rename over the destination.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "launcher/net/http_internal.h"
#include "launcher/net/sha256.h"
#include "launcher/base/paths.h"

namespace ember::launcher::http {

namespace {

constexpr DWORD kChunk = 65536;
constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 4096;
constexpr DWORD kExtraChars = 4096;
constexpr DWORD kSchemeChars = 16;
constexpr DWORD kSecureProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
// Never reserve more than this up front, whatever a server announces.
constexpr uint64_t kReserveCap = 64ull << 20;
// The slowest download that is still making headway, in bytes a second.
constexpr uint64_t kMinDownloadRate = 4096;

// One WinHTTP handle, closed when it goes out of scope. Declared connection,
// then request, so they close in the reverse order.
// The watch closes a request from its own thread, so taking the handle for
// closing is one atomic exchange: it is closed once, by whoever comes first.
class Handle {
public:
    explicit Handle(HINTERNET h = nullptr) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return h_.load(); }
    explicit operator bool() const { return h_.load() != nullptr; }
    void close() {
        HINTERNET h = h_.exchange(nullptr);
        if (h) WinHttpCloseHandle(h);
    }

private:
    std::atomic<HINTERNET> h_;
};

// Watches one exchange from a thread of its own and ends it the moment the
// caller cancels, the deadline passes or the body arrives too slowly:
// closing the request handle makes the blocking WinHTTP call in progress
// return at once. The thread is joined before the exchange returns.
class Watch {
public:
    Watch(const Request& req, Handle& request) : req_(req), request_(request) {
        if (!req.cancelled && req.deadlineMs == 0 && req.minBytesPerSecond == 0) return;
        start_ = Clock::now();
        thread_ = std::thread([this] { run(); });
    }
    ~Watch() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // From the exchange's thread: the headers are in, body bytes arrived.
    void bodyStarted() { bodyStarted_ = true; }
    void received(uint64_t bytes) { bytes_ += bytes; }
    // Why the watch ended the exchange; empty when it did not.
    std::string reason() {
        std::lock_guard<std::mutex> guard(lock_);
        return reason_;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kPoll = std::chrono::milliseconds(50);

    void run() {
        Clock::time_point windowStart{};
        uint64_t windowBytes = 0;
        std::unique_lock<std::mutex> guard(lock_);
        while (!done_) {
            wake_.wait_for(guard, kPoll);
            if (done_) break;
            const Clock::time_point now = Clock::now();
            const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
            std::string why;
            if (req_.cancelled && req_.cancelled()) {
                why = kCancelled;
            } else if (req_.deadlineMs != 0 && elapsedMs >= static_cast<int64_t>(req_.deadlineMs)) {
                why = winHttpErrorText(ERROR_WINHTTP_TIMEOUT);
            } else if (req_.minBytesPerSecond != 0 && bodyStarted_) {
                if (windowStart == Clock::time_point{}) {
                    windowStart = now;
                    windowBytes = bytes_;
                }
                const auto windowMs =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart).count();
                if (windowMs >= static_cast<int64_t>(std::max<uint32_t>(req_.rateWindowMs, 1))) {
                    const uint64_t got = bytes_ - windowBytes;
                    if (got * 1000 < static_cast<uint64_t>(req_.minBytesPerSecond) * static_cast<uint64_t>(windowMs)) {
                        why = winHttpErrorText(ERROR_WINHTTP_TIMEOUT);
                    }
                    windowStart = now;
                    windowBytes = bytes_;
                }
            }
            if (!why.empty()) {
                reason_ = why;
                request_.close();
                break;
            }
        }
    }

    const Request& req_;
    Handle& request_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
    std::string reason_;
    Clock::time_point start_{};
    std::atomic<bool> bodyStarted_{false};
    std::atomic<uint64_t> bytes_{0};
};

// The process's WinHTTP session. WinHTTP keeps a session's finished
// connections open and gives them to the next request for the same server,
// so a run of downloads pays one TCP and TLS handshake instead of one per
// file. A session handle may be used by any number of threads at once; only
// creating it takes the lock. A new user agent (set once at start-up) gets a
// new session; an old one stays open for requests that may still use it.
HINTERNET sharedSession() {
    static std::mutex lock;
    static HINTERNET session = nullptr;
    static std::string agent;
    std::lock_guard<std::mutex> guard(lock);
    const std::string wanted = userAgent();
    if (session && agent == wanted) return session;
    HINTERNET fresh = WinHttpOpen(toWide(wanted).c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
    if (!fresh) return nullptr;
    DWORD protocols = kSecureProtocols;
    WinHttpSetOption(fresh, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    session = fresh;
    agent = wanted;
    return session;
}

// Raw response headers as UTF-8 text (empty when WinHTTP has none to give).
std::string rawHeaders(HINTERNET request) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::string();
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::string();
    }
    text.resize(bytes / sizeof(wchar_t));
    return toUtf8(text);
}

// Whether a reply to this method with this status carries a body at all.
bool bodyFollows(const std::string& method, int32_t status) {
    return method != "HEAD" && status >= 200 && status != 204 && status != 304;
}

}  // namespace

std::string lastErrorText() { return winHttpErrorText(GetLastError()); }

ParsedUrl crackUrl(const std::string& url) {
    ParsedUrl parsed;
    std::wstring wide = toWide(url);
    wchar_t scheme[kSchemeChars] = {};
    wchar_t host[kHostChars] = {};
    std::wstring path(kPathChars, L'\0');
    std::wstring extra(kExtraChars, L'\0');
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = kSchemeChars;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostChars;
    parts.lpszUrlPath = &path[0];
    parts.dwUrlPathLength = kPathChars;
    parts.lpszExtraInfo = &extra[0];
    parts.dwExtraInfoLength = kExtraChars;
    if (wide.empty() || !WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return parsed;
    parsed.host.assign(host, parts.dwHostNameLength);
    parsed.path.assign(path.c_str(), parts.dwUrlPathLength);
    parsed.path.append(extra.c_str(), parts.dwExtraInfoLength);
    parsed.port = parts.nPort;
    parsed.https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    parsed.ok = !parsed.host.empty();
    return parsed;
}

Response request(const Request& req) {
    Response reply;

    // 1. The URL and the header fields, before anything touches the network.
    ParsedUrl url = crackUrl(req.url);
    if (!url.ok) {
        reply.error = kBadUrl;
        return reply;
    }
    reply.error = headerFieldError(req);
    if (!reply.error.empty()) return reply;

    // 2-4. The shared session (automatic proxy, TLS 1.2 and 1.3 only).
    HINTERNET session = sharedSession();
    if (!session) {
        reply.error = lastErrorText();
        return reply;
    }
    int timeout = static_cast<int>(std::min<uint32_t>(req.timeoutMs, INT_MAX));

    // 5-7. Connection and request; redirects come back to the caller as they are.
    Handle connection(WinHttpConnect(session, url.host.c_str(), url.port, 0));
    if (!connection) {
        reply.error = lastErrorText();
        return reply;
    }
    Handle request(WinHttpOpenRequest(connection.get(), toWide(req.method).c_str(), url.path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      url.https ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        reply.error = lastErrorText();
        return reply;
    }
    Watch watch(req, request);
    // One time-out for every phase of this request.
    WinHttpSetTimeouts(request.get(), timeout, timeout, timeout, timeout);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    // The wait for the status line has its own time-out (90 s by default on
    // Windows, none under Wine); it gets the same value as every other phase.
    DWORD responseTimeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);

    // 8-9. Send with our header block and wait for the answer.
    std::wstring headers = toWide(requestHeaderBlock(req));
    LPVOID body = req.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(req.body.data());
    DWORD bodyLength = static_cast<DWORD>(req.body.size());
    if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1L), body, bodyLength, bodyLength,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        reply.error = lastErrorText();
        const std::string why = watch.reason();
        if (!why.empty()) reply.error = why;
        return reply;
    }

    // 10-11. Status and headers.
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    reply.status = static_cast<int32_t>(status);
    parseHeaderLines(rawHeaders(request.get()), reply.headers);
    auto type = reply.headers.find("content-type");
    if (type != reply.headers.end()) reply.contentType = type->second;
    const uint64_t total = announcedLength(reply.headers);
    reply.error = lengthError(reply.headers, reply.status, req.expectedLength);
    if (!reply.error.empty()) return reply;
    // Never more than the caller expects, however long the body runs on.
    const bool capped = req.expectedLength >= 0 && bodyFollows(req.method, reply.status) && reply.status <= 299;
    const uint64_t cap = capped ? static_cast<uint64_t>(req.expectedLength) : UINT64_MAX;
    watch.bodyStarted();

    // 12. The body, chunk by chunk, through one buffer. In memory it is sized
    //     once from the announced length (growing it piecemeal is slow).
    //     A known length is also held to: WinHTTP ends a body cut short by a
    //     closed connection as if it were complete, and (under Wine) reads
    //     past the announced end of an overlong one.
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    if (!req.sink && total > 0) reply.body.reserve(std::min({total, req.maxBytes, kReserveCap}));
    const bool lengthHeld = total > 0 && bodyFollows(req.method, reply.status) &&
                            reply.headers.find("transfer-encoding") == reply.headers.end();
    uint64_t received = 0;
    for (;;) {
        if (capped && received == cap) break;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            reply.error = lastErrorText();
            break;
        }
        if (available == 0) break;
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.get(), std::min(available, kChunk), &read)) {
            reply.error = lastErrorText();
            break;
        }
        if (read == 0) break;
        if (lengthHeld && read > total - received) read = static_cast<DWORD>(total - received);
        if (read > cap - received) read = static_cast<DWORD>(cap - received);
        received += read;
        watch.received(read);
        if (req.sink) {
            if (!req.sink(buffer.get(), read, total)) {
                reply.error = kCancelled;
                break;
            }
        } else {
            if (reply.body.size() + read > req.maxBytes) {
                reply.error = kReplyTooLarge;
                break;
            }
            reply.body.append(buffer.get(), read);
        }
        if (lengthHeld && received == total) break;
    }
    if (reply.error.empty() && lengthHeld && received < total) reply.error = kReplyCutShort;
    if (reply.error.empty() && capped && received < cap) reply.error = kReplyCutShort;
    // A failure that the watch caused is named by the watch's reason.
    const std::string why = watch.reason();
    if (!why.empty()) reply.error = why;

    // 13. Handles close in reverse order as they leave scope.
    return reply;
}

std::string download(const std::string& url, const std::string& destPath, const std::string& sha256Hex,
                     const Progress& progress) {
    Download job;
    job.url = url;
    job.destPath = destPath;
    job.sha256Hex = sha256Hex;
    job.progress = progress;
    return download(job);
}

std::string download(const Download& job) {
    const std::string& destPath = job.destPath;
    const Progress& progress = job.progress;
    // 1-2. The folders, then the part file.
    std::string parent = parentDir(destPath);
    if (!parent.empty()) createDirectories(parent);
    const std::string part = job.partPath.empty() ? destPath + ".part" : job.partPath;
    if (!job.partPath.empty() && !parentDir(part).empty()) createDirectories(parentDir(part));
    std::FILE* file = openFile(part, "wb");
    if (!file) return kCannotWrite + part;
    // The C runtime's small default buffer turns a large body into tens of
    // thousands of writes; 1 MiB pieces keep the count low.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);

    // 3. Stream every chunk to disk and through the hash.
    Sha256 hash;
    uint64_t done = 0;
    bool writeFailed = false;
    Request req;
    req.url = job.url;
    req.accept = "*/*";
    req.timeoutMs = 60000;
    req.maxBytes = UINT64_MAX;
    req.expectedLength = job.size;
    req.cancelled = job.cancelled;
    // A large file may take long, but never longer than the slowest rate
    // allowed would take for it.
    req.minBytesPerSecond = kMinDownloadRate;
    req.rateWindowMs = 30000;
    req.deadlineMs = static_cast<uint32_t>(std::min<uint64_t>(
        UINT32_MAX, 120000 + (job.size > 0 ? static_cast<uint64_t>(job.size) / kMinDownloadRate * 1000 : 0)));
    req.sink = [&](const char* data, uint64_t length, uint64_t total) {
        if (std::fwrite(data, 1, static_cast<size_t>(length), file) != length) {
            writeFailed = true;
            return false;
        }
        hash.update(data, static_cast<size_t>(length));
        done += length;
        return progress ? progress(done, total) : true;
    };

    // 4. The transfer; a failing close means buffered bytes never reached
    //    the disk, which is a write failure too.
    Response reply = request(req);
    if (std::fclose(file) != 0) writeFailed = true;

    // 5. Decide; every failure removes the part file and leaves destPath alone.
    std::string verdict = downloadVerdict(writeFailed, reply, toHex(hash.final()), job.sha256Hex, destPath);
    if (verdict.empty() &&
        !MoveFileExW(toWide(part).c_str(), toWide(destPath).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        verdict = kCannotReplace + destPath + kGameRunning;
    }
    if (!verdict.empty()) DeleteFileW(toWide(part).c_str());
    return verdict;
}

}  // namespace ember::launcher::http
