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

#include "launcher/net/http_internal.h"
#include "launcher/net/sha256.h"
#include "base/paths.h"

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
// Under the speed limit: what the system takes in on a new request before
// the first read (its receive window, some 300 KiB on a fresh connection),
// paid for before the request goes out, or the server would send a burst
// of this much past the limit for every transfer started. The reads of the
// last window's worth of the body are then free (a body no longer than it
// is all paid for at once).
constexpr uint64_t kTakenAhead = 256 << 10;
constexpr uint64_t kTakenAheadUnknown = 64 << 10;  // a body of unknown length
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

// What WinHTTP's callback hands back for one exchange. WinHTTP works in
// its own threads (the session is asynchronous), so the caller waits in
// short slices and can give up at any moment: it closes the request and
// returns, and the record, with the buffer a pending read may still fill,
// lives on until WinHTTP says the handle is gone.
struct Exchange {
    std::mutex lock;
    std::condition_variable changed;
    bool complete = false;
    DWORD error = 0;
    DWORD bytes = 0;
    std::unique_ptr<char[]> buffer{new char[kChunk]};
};
using ExchangeRef = std::shared_ptr<Exchange>;

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* ref = reinterpret_cast<ExchangeRef*>(context);
    if (!ref) return;
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        delete ref;
        return;
    }
    Exchange& x = **ref;
    std::lock_guard<std::mutex> guard(x.lock);
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            x.complete = true;
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            x.bytes = info ? *static_cast<DWORD*>(info) : 0;
            x.complete = true;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            x.bytes = length;
            x.complete = true;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            x.error = info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
            x.complete = true;
            break;
        default:
            return;
    }
    x.changed.notify_all();
}

// The limits of one exchange besides WinHTTP's per-phase time-outs: the
// caller's cancel, the overall deadline and the minimum rate of the body
// (on the line it shares, when it shares one).
class Limits {
public:
    explicit Limits(const Request& req)
        : req_(req), start_(Clock::now()), rate_(req.minBytesPerSecond, req.rateWindowMs, req.line) {}
    ~Limits() {
        if (joined_) req_.line->leave();
    }
    Limits(const Limits&) = delete;
    Limits& operator=(const Limits&) = delete;
    void bodyStarted() {
        if (req_.line && !joined_) {
            req_.line->join();
            joined_ = true;
        }
        rate_.bodyStarted(elapsedMs());
    }
    void received(uint64_t bytes) {
        rate_.received(bytes);
        if (req_.line) req_.line->received(bytes);
    }
    // Why the exchange must end now; empty while it may go on.
    std::string breached() {
        if (allRequestsCancelled() || (req_.cancelled && req_.cancelled())) return kCancelled;
        const int64_t now = elapsedMs();
        if (req_.deadlineMs != 0 && now >= static_cast<int64_t>(req_.deadlineMs)) return timedOut();
        return rate_.tooSlow(now) ? timedOut() : std::string();
    }

private:
    using Clock = std::chrono::steady_clock;
    static std::string timedOut() { return winHttpErrorText(ERROR_WINHTTP_TIMEOUT); }
    int64_t elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }
    const Request& req_;
    Clock::time_point start_;
    RateRule rate_;
    bool joined_ = false;
};

uint64_t steadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// Waits, in slices of at most 50 ms, until the speed limit has paid for
// `ticket`; empty when it has, else the limit's reason to end the exchange.
std::string awaitTicket(Throttle& throttle, uint64_t ticket, Limits& limits) {
    for (;;) {
        const uint64_t wait = throttle.waitMs(ticket, steadyMs());
        if (wait == 0) return std::string();
        std::string why = limits.breached();
        if (!why.empty()) return why;
        Sleep(static_cast<DWORD>(std::min<uint64_t>(wait, 50)));
    }
}

// Starts one asynchronous step with `call` and waits for its completion,
// looking at the limits every 50 ms. Empty on success; else WinHTTP's error
// text or the limit's reason (then the request is closed at once).
template <typename Call>
std::string step(Exchange& x, Handle& request, Limits& limits, Call call) {
    {
        std::lock_guard<std::mutex> guard(x.lock);
        x.complete = false;
        x.error = 0;
        x.bytes = 0;
    }
    if (!call()) return lastErrorText();
    std::unique_lock<std::mutex> guard(x.lock);
    while (!x.complete) {
        if (x.changed.wait_for(guard, std::chrono::milliseconds(50), [&] { return x.complete; })) break;
        guard.unlock();
        std::string why = limits.breached();
        if (!why.empty()) {
            request.close();
            return why;
        }
        guard.lock();
    }
    return x.error ? winHttpErrorText(x.error) : std::string();
}

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
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
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

    // The URL and the header fields, before anything touches the network.
    ParsedUrl url = crackUrl(req.url);
    if (!url.ok) {
        reply.error = kBadUrl;
        return reply;
    }
    reply.error = allRequestsCancelled() ? std::string(kCancelled) : headerFieldError(req);
    if (!reply.error.empty()) return reply;

    // The shared session (automatic proxy, TLS 1.2 and 1.3 only).
    HINTERNET session = sharedSession();
    if (!session) {
        reply.error = lastErrorText();
        return reply;
    }
    int timeout = static_cast<int>(std::min<uint32_t>(req.timeoutMs, INT_MAX));

    // Connection and request; redirects come back to the caller as they are.
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
    // The callback's record, kept alive by WinHTTP until the handle closes.
    ExchangeRef exchange = std::make_shared<Exchange>();
    Exchange& x = *exchange;
    auto* context = new ExchangeRef(exchange);
    DWORD_PTR contextValue = reinterpret_cast<DWORD_PTR>(context);
    if (WinHttpSetStatusCallback(request.get(), onStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &contextValue, sizeof contextValue)) {
        reply.error = lastErrorText();
        WinHttpSetStatusCallback(request.get(), nullptr, 0, 0);
        delete context;
        return reply;
    }
    Limits limits(req);
    // One time-out for every phase of this request.
    WinHttpSetTimeouts(request.get(), timeout, timeout, timeout, timeout);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    // The wait for the status line has its own time-out (90 s by default on
    // Windows, none under Wine); it gets the same value as every other phase.
    DWORD responseTimeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);

    // Under the speed limit the bytes the system will take in ahead of our
    // reads are paid for first. The server then sends as we read, so the
    // reads pay until the last window's worth, which came with the
    // payment: reads from `freeFrom` on cost nothing.
    uint64_t freeFrom = UINT64_MAX;
    if (req.throttled) {
        Throttle& throttle = sharedThrottle();
        uint64_t ahead = kTakenAheadUnknown;
        if (req.expectedLength >= 0) {
            const uint64_t length = static_cast<uint64_t>(req.expectedLength);
            ahead = std::min(kTakenAhead, length > req.rangeFrom ? length - req.rangeFrom : 0);
        }
        const uint64_t ticket = ahead > 0 ? throttle.reserve(ahead, steadyMs()) : 0;
        reply.error = awaitTicket(throttle, ticket, limits);
        if (!reply.error.empty()) return reply;
        if (ticket != 0 && req.expectedLength >= 0) {
            const uint64_t length = static_cast<uint64_t>(req.expectedLength);
            freeFrom = (length > req.rangeFrom ? length - req.rangeFrom : 0) - ahead;
        }
    }

    // Send with our header block and wait for the answer.
    std::wstring headers = toWide(requestHeaderBlock(req));
    LPVOID body = req.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(req.body.data());
    DWORD bodyLength = static_cast<DWORD>(req.body.size());
    reply.error = step(x, request, limits, [&] {
        return WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1L), body, bodyLength,
                                  bodyLength, contextValue);
    });
    if (reply.error.empty()) {
        reply.error = step(x, request, limits, [&] { return WinHttpReceiveResponse(request.get(), nullptr); });
    }
    if (!reply.error.empty()) return reply;

    // Status and headers.
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    reply.status = static_cast<int32_t>(status);
    parseHeaderLines(rawHeaders(request.get()), reply.headers);
    auto type = reply.headers.find("content-type");
    if (type != reply.headers.end()) reply.contentType = type->second;
    const uint64_t total = announcedLength(reply.headers);
    if (req.onHeaders) {
        reply.error = req.onHeaders(reply.status, reply.headers);
        if (!reply.error.empty()) return reply;
    }
    // The rest of a body asked for from a byte on is that much shorter.
    int64_t expected = req.expectedLength;
    if (expected >= 0 && reply.status == 206 && req.rangeFrom > 0) {
        expected = req.rangeFrom < static_cast<uint64_t>(expected) ? expected - static_cast<int64_t>(req.rangeFrom) : 0;
    }
    reply.error = lengthError(reply.headers, reply.status, expected);
    if (!reply.error.empty()) return reply;
    // Never more than the caller expects, however long the body runs on.
    const bool capped = expected >= 0 && bodyFollows(req.method, reply.status) && reply.status <= 299;
    const uint64_t cap = capped ? static_cast<uint64_t>(expected) : UINT64_MAX;
    limits.bodyStarted();

    // The body, chunk by chunk, through one buffer. In memory it is sized
    // once from the announced length (growing it piecemeal is slow).
    // A known length is also held to: WinHTTP ends a body cut short by a
    // closed connection as if it were complete, and (under Wine) reads
    // past the announced end of an overlong one.
    if (!req.sink && total > 0) reply.body.reserve(std::min({total, req.maxBytes, kReserveCap}));
    const bool lengthHeld = total > 0 && bodyFollows(req.method, reply.status) &&
                            reply.headers.find("transfer-encoding") == reply.headers.end();
    uint64_t received = 0;
    for (;;) {
        if (capped && received == cap) break;
        reply.error = step(x, request, limits, [&] { return WinHttpQueryDataAvailable(request.get(), nullptr); });
        if (!reply.error.empty()) break;
        const DWORD available = x.bytes;
        if (available == 0) break;
        // Under the speed limit a read takes no more than the bucket pays
        // for, and waits until it has.
        DWORD want = std::min(available, kChunk);
        uint64_t ticket = 0;
        uint64_t charged = 0;
        if (req.throttled) {
            Throttle& throttle = sharedThrottle();
            want = static_cast<DWORD>(throttle.readSize(want));
            charged = received < freeFrom ? std::min<uint64_t>(want, freeFrom - received) : 0;
            ticket = charged > 0 ? throttle.reserve(charged, steadyMs()) : 0;
            reply.error = awaitTicket(throttle, ticket, limits);
            if (!reply.error.empty()) {
                if (ticket != 0) throttle.giveBack(charged);
                request.close();
                break;
            }
        }
        reply.error = step(x, request, limits, [&] {
            return WinHttpReadData(request.get(), x.buffer.get(), want, nullptr);
        });
        if (ticket != 0) {
            const uint64_t got = reply.error.empty() ? x.bytes : 0;
            if (got < charged) sharedThrottle().giveBack(charged - got);
        }
        if (!reply.error.empty()) break;
        DWORD read = x.bytes;
        if (read == 0) break;
        const char* const buffer = x.buffer.get();
        if (lengthHeld && read > total - received) read = static_cast<DWORD>(total - received);
        if (read > cap - received) read = static_cast<DWORD>(cap - received);
        received += read;
        limits.received(read);
        if (req.sink) {
            if (!req.sink(buffer, read, total)) {
                reply.error = kCancelled;
                break;
            }
        } else {
            if (reply.body.size() + read > req.maxBytes) {
                reply.error = kReplyTooLarge;
                break;
            }
            reply.body.append(buffer, read);
        }
        if (lengthHeld && received == total) break;
    }
    if (reply.error.empty() && lengthHeld && received < total) reply.error = kReplyCutShort;
    if (reply.error.empty() && capped && received < cap) reply.error = kReplyCutShort;

    // Handles close in reverse order as they leave scope.
    return reply;
}

DownloadResult download(const std::string& url, const std::string& destPath, const std::string& sha256Hex,
                        const Progress& progress) {
    Download job;
    job.url = url;
    job.destPath = destPath;
    job.sha256Hex = sha256Hex;
    job.progress = progress;
    return download(job);
}

namespace {

// Feeds the first `bytes` of a kept part file through `hash`; false when
// the file holds fewer or cannot be read.
bool hashKeptBytes(const std::string& part, uint64_t bytes, Sha256& hash) {
    std::FILE* file = openFile(part, "rb");
    if (!file) return false;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    uint64_t left = bytes;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        if (std::fread(buffer.get(), 1, want, file) != want) break;
        hash.update(buffer.get(), want);
        left -= want;
    }
    std::fclose(file);
    return left == 0;
}

// The kept bytes of an earlier try, when its record says they are this
// very file: the same URL and digest, and as many bytes as the part holds.
bool keptPartFor(const Download& job, const std::string& part, PartRecord& record) {
    std::string text;
    if (!job.resumable || job.sha256Hex.empty() || !readWholeFile(part + kPartRecordSuffix, text) ||
        !parsePartRecord(text, record)) {
        return false;
    }
    const int64_t onDisk = fileSize(part);
    if (record.url != job.url || !sameDigest(record.sha256, job.sha256Hex) || onDisk <= 0 ||
        static_cast<uint64_t>(onDisk) < record.bytes || (job.size >= 0 && onDisk >= job.size)) {
        return false;
    }
    // Bytes that landed after the record was written are of its version too.
    record.bytes = static_cast<uint64_t>(onDisk);
    return true;
}

// One try of a download into the part file: from nothing, or after the
// kept bytes of `resume`. `startOver` is set when the server would not
// continue them (the try then leaves nothing behind).
DownloadResult transfer(const Download& job, const std::string& part, const PartRecord* resume, bool& startOver) {
    startOver = false;
    Sha256 hash;
    uint64_t done = 0;  // bytes in the part file
    uint64_t base = 0;  // of them, the ones kept from before this reply
    if (resume && hashKeptBytes(part, resume->bytes, hash)) {
        done = base = resume->bytes;
    } else {
        resume = nullptr;
        hash.reset();
    }
    // A part file that is a link holds none of our bytes and gets none:
    // a new one starts from nothing.
    bool fresh = false;
    std::FILE* file = openPartFile(part, resume != nullptr, fresh);
    if (fresh) {
        resume = nullptr;
        hash.reset();
        done = base = 0;
    }
    if (!file) return {DownloadEnd::failed, kCannotWrite + part};
    // The C runtime's small default buffer turns a large body into tens of
    // thousands of writes; 1 MiB pieces keep the count low.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);

    // Every chunk goes to disk and through the hash.
    bool writeFailed = false;
    bool stoppedByProgress = false;
    std::string validator = resume ? resume->validator : std::string();
    Request req;
    req.url = job.url;
    req.accept = "*/*";
    req.timeoutMs = 60000;
    req.maxBytes = UINT64_MAX;
    req.expectedLength = job.size;
    req.cancelled = job.cancelled;
    req.throttled = true;
    if (resume) {
        req.rangeFrom = resume->bytes;
        req.ifRange = resume->validator;
    }
    // A large file may take long, but never longer than the slowest rate
    // allowed would take for it, or for its share of a shared line.
    req.minBytesPerSecond = kMinDownloadRate;
    req.rateWindowMs = 30000;
    req.line = job.line;
    req.deadlineMs = downloadDeadlineMs(job.size, kMinDownloadRate, job.line ? job.line->width() : 1);
    const std::string recordPath = part + kPartRecordSuffix;
    req.onHeaders = [&](int32_t status, const std::map<std::string, std::string>& headers) -> std::string {
        if (status < 200 || status > 299) return std::string();
        validator = replyValidator(headers);
        if (resume && status == 206) {
            std::string why = partialReplyError(headers, resume->bytes, job.size, resume->validator);
            startOver = !why.empty();
            if (why.empty() && job.resumed) job.resumed(resume->bytes);
            return why;
        }
        if (resume) {
            // The whole file after all (the range ignored, or the file
            // changed since): it replaces the kept bytes from the first one.
            DeleteFileW(toWide(recordPath).c_str());
            std::fclose(file);
            bool replaced = false;
            file = openPartFile(part, false, replaced);
            if (!file) {
                writeFailed = true;
                return kDiskWriteFailed + job.destPath;
            }
            std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
            hash.reset();
            done = base = 0;
        }
        // The record before the first byte: a kill at any moment then costs
        // only the bytes still in the write buffer.
        if (job.resumable && !job.sha256Hex.empty()) {
            const std::string record = formatPartRecord(PartRecord{job.url, job.sha256Hex, validator, 0});
            if (record.empty() || !writeFileAtomic(recordPath, record)) DeleteFileW(toWide(recordPath).c_str());
        }
        return std::string();
    };
    // The write buffer goes to the system at least once a second, so a
    // process killed while its transfer is slow or stalled keeps what came.
    uint64_t flushedAt = GetTickCount64();
    req.sink = [&](const char* data, uint64_t length, uint64_t total) {
        if (std::fwrite(data, 1, static_cast<size_t>(length), file) != length) {
            writeFailed = true;
            return false;
        }
        if (GetTickCount64() - flushedAt >= 1000) {
            if (std::fflush(file) != 0) {
                writeFailed = true;
                return false;
            }
            flushedAt = GetTickCount64();
        }
        hash.update(data, static_cast<size_t>(length));
        done += length;
        if (job.progress && !job.progress(done, total > 0 ? base + total : 0)) {
            stoppedByProgress = true;
            return false;
        }
        return true;
    };
    Response reply = request(req);
    if (reply.status == 416 && resume) {
        startOver = true;
        reply.error = kRangeRefused;
    }
    // A failing close means buffered bytes never reached the disk, which is
    // a write failure too.
    if (file && std::fclose(file) != 0) writeFailed = true;

    // Decide; every failure leaves destPath alone, and only an early end
    // with bytes worth continuing keeps the part file, with its record.
    const DownloadVerdict decided = downloadVerdict(writeFailed, reply, toHex(hash.final()), job.sha256Hex, job.destPath);
    // Kept bytes that made the whole file come out wrong were not this
    // version after all (changed on disk since): the file starts over.
    if (resume && decided.kind == Verdict::kWrongDigest) startOver = true;
    DownloadResult verdict;
    verdict.error = decided.text;
    switch (decided.kind) {
        case Verdict::kLands: verdict.end = DownloadEnd::landed; break;
        case Verdict::kWriteFailed: verdict.end = DownloadEnd::writeFailed; break;
        case Verdict::kTransferFailed:
            verdict.end = stoppedByProgress || (job.cancelled && job.cancelled()) || allRequestsCancelled()
                              ? DownloadEnd::stopped
                              : DownloadEnd::failed;
            break;
        case Verdict::kStatus:
        case Verdict::kWrongDigest: verdict.end = DownloadEnd::failed; break;
    }
    if (verdict.end == DownloadEnd::landed && !MoveFileExW(toWide(part).c_str(), toWide(job.destPath).c_str(),
                                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        verdict = {DownloadEnd::cannotReplace, kCannotReplace + job.destPath + kGameRunning};
    }
    if (verdict.end == DownloadEnd::landed) {
        DeleteFileW(toWide(recordPath).c_str());
        return verdict;
    }
    if (job.resumable && !startOver && done > 0 && keepsPart(writeFailed, reply)) {
        const std::string record = formatPartRecord(PartRecord{job.url, job.sha256Hex, validator, done});
        if (!record.empty() && writeFileAtomic(recordPath, record)) return verdict;
    }
    DeleteFileW(toWide(part).c_str());
    DeleteFileW(toWide(recordPath).c_str());
    return verdict;
}

}  // namespace

DownloadResult download(const Download& job) {
    // The folders; the part file and the record of an earlier try.
    const std::string& destPath = job.destPath;
    std::string parent = parentDir(destPath);
    if (!parent.empty()) createDirectories(parent);
    const std::string part = job.partPath.empty() ? destPath + ".part" : job.partPath;
    if (!job.partPath.empty() && !parentDir(part).empty()) createDirectories(parentDir(part));
    PartRecord kept;
    const bool resume = keptPartFor(job, part, kept);
    // A record that does not speak for this part goes before anything is
    // written to it; a kept one stays true while the part grows.
    if (!resume) DeleteFileW(toWide(part + kPartRecordSuffix).c_str());

    // The transfer, then the verdict. Kept bytes the server would not
    // continue, or that turn out wrong (changed on disk since), are
    // fetched again from the first byte, once.
    bool startOver = false;
    DownloadResult verdict = transfer(job, part, resume ? &kept : nullptr, startOver);
    if (resume && startOver) verdict = transfer(job, part, nullptr, startOver);
    return verdict;
}

}  // namespace ember::launcher::http
