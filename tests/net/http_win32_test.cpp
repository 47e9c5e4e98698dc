// The HTTP client against the stand-in web service on loopback (ctest
// fixture standin_service), under Wine: real WinHTTP, real sockets, real TLS
// with the test CA trusted in the test prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "launcher/net/http.h"
#include "launcher/net/http_internal.h"
#include "launcher/net/sha256.h"
#include "base/paths.h"
#include "tests/install/standin_client.h"

namespace {

using namespace ember::launcher;
using namespace ember::launcher::http;

// ---- The service's addresses, from the fixture's state file ----

struct Service {
    std::string http;       // "http://127.0.0.1:<port>/"
    std::string https;      // trusted certificate
    std::string untrusted;  // certificate from a CA nobody trusts
    int httpPort = 0;
};

std::string jsonString(const std::string& text, const std::string& key) {
    size_t at = text.find("\"" + key + "\"");
    if (at == std::string::npos) return "";
    size_t open = text.find('"', text.find(':', at) + 1);
    size_t close = text.find('"', open + 1);
    return open == std::string::npos || close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
}

const Service& service() {
    static const Service s = [] {
        Service out;
        const char* env = std::getenv("EMBER_STANDIN_STATE");
        std::string path = env && *env ? env : EMBER_STANDIN_STATE;
        std::string text;
        if (!readWholeFile(path, text)) {
            ADD_FAILURE() << "no stand-in service state at " << path << " (run through ctest: fixture standin_service)";
            return out;
        }
        out.http = jsonString(text, "http_base");
        out.https = jsonString(text, "https_base");
        out.untrusted = jsonString(text, "untrusted_https_base");
        size_t at = text.find("\"http_port\":");
        if (at != std::string::npos) out.httpPort = std::atoi(text.c_str() + at + 12);
        return out;
    }();
    return s;
}

Response get(const std::string& url, uint32_t timeoutMs = 20000) {
    Request r;
    r.url = url;
    r.timeoutMs = timeoutMs;
    return request(r);
}

// The pattern /bytes?n=N serves, fetched once as a reference.
const std::string& referenceBytes() {
    static const std::string bytes = get(service().http + "bytes?n=300000").body;
    return bytes;
}

// A fresh scratch folder per test, removed afterwards.
class Scratch {
public:
    Scratch() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static std::atomic<int> counter{0};
        dir_ = joinPath(toUtf8(base), "ember-http-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                          std::to_string(counter++));
        createDirectories(dir_);
    }
    ~Scratch() { removeTree(dir_); }
    std::string path(const std::string& name) const { return joinPath(dir_, name); }

private:
    static void removeTree(const std::string& dir) {
        std::vector<DirEntry> entries;
        if (listDirectory(dir, entries)) {
            for (const DirEntry& e : entries) {
                std::string p = joinPath(dir, e.name);
                if (e.isDirectory) {
                    removeTree(p);
                } else {
                    removeFile(p);
                }
            }
        }
        RemoveDirectoryW(toWide(dir).c_str());
    }
    std::string dir_;
};

std::string fileText(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}


std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

// The request as the service saw it (/echo?format=text): header lines in
// wire order, then the body.
struct Echo {
    std::string method;
    std::vector<std::string> headers;  // "Name: value"
    std::string body;
    std::string query;

    bool has(const std::string& line) const {
        for (const std::string& h : headers) {
            if (h == line) return true;
        }
        return false;
    }
    bool hasName(const std::string& name) const {
        for (const std::string& h : headers) {
            if (h.compare(0, name.size() + 1, name + ":") == 0) return true;
        }
        return false;
    }
    int indexOf(const std::string& name) const {
        for (size_t i = 0; i < headers.size(); ++i) {
            if (headers[i].compare(0, name.size() + 1, name + ":") == 0) return static_cast<int>(i);
        }
        return -1;
    }
};

Echo parseEcho(const std::string& text) {
    Echo e;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line == "body") {
            e.body = text.substr(start);
            break;
        }
        if (line.rfind("method ", 0) == 0) e.method = line.substr(7);
        if (line.rfind("query ", 0) == 0) e.query = line.substr(6);
        if (line.rfind("header ", 0) == 0) e.headers.push_back(line.substr(7));
    }
    return e;
}

// ---- URL splitting ----

TEST(CrackUrl, SplitsHostPortPathAndQuery) {
    struct Case {
        const char* url;
        bool ok;
        const wchar_t* host;
        const wchar_t* path;
        uint16_t port;
        bool https;
    };
    const Case cases[] = {
        {"http://example.com/a/b?x=1", true, L"example.com", L"/a/b?x=1", 80, false},
        {"https://example.com/manifest.json", true, L"example.com", L"/manifest.json", 443, true},
        {"https://127.0.0.1:8443/client/manifest-beta.json?x=1&y=2", true, L"127.0.0.1",
         L"/client/manifest-beta.json?x=1&y=2", 8443, true},
        {"HTTP://Example.COM:8080/Mixed/Case", true, L"Example.COM", L"/Mixed/Case", 8080, false},
        {"http:///no-host", false, L"", L"", 443, true},
        {"no scheme at all", false, L"", L"", 443, true},
        {"", false, L"", L"", 443, true},
        {"ftp://example.com/file", false, L"", L"", 443, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        ParsedUrl u = crackUrl(c.url);
        EXPECT_EQ(u.ok, c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.path, c.path);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.https, c.https);
    }
}

TEST(CrackUrl, HostLongerThanItsBufferIsRefused) {
    EXPECT_FALSE(crackUrl("http://" + std::string(300, 'h') + ".example/").ok);
    EXPECT_TRUE(crackUrl("http://" + std::string(200, 'h') + ".example/").ok);
}

// ---- Failures of the exchange ----

TEST(Request, FailuresAreShortTexts) {
    const Service& s = service();
    struct Case {
        std::string url;
        uint32_t timeoutMs;
        std::string error;
        int32_t status;
    };
    const Case cases[] = {
        {"http:///no-host", 20000, "bad URL", 0},
        {"this is not a URL", 20000, "bad URL", 0},
        // The .invalid domain never resolves.
        {"http://emberlane-test.invalid/manifest.json", 20000, "name not resolved", 0},
        // Nothing listens on port 1 of the loopback.
        {"http://127.0.0.1:1/", 20000, "cannot connect", 0},
        {s.http + "health?fault=slow:3000", 500, "timed out", 0},
        {s.https + "health?fault=slow:3000", 500, "timed out", 0},
        // Not HTTP at all: WinHTTP's "invalid server response", no text of ours.
        {s.http + "health?fault=garbage", 20000, "WinHTTP error 12152", 0},
        {s.untrusted + "health", 20000, "TLS failure", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        Response r = get(c.url, c.timeoutMs);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.body.empty());
    }
}

TEST(Request, ATokenWithALineBreakIsNeverSent) {
    Request req;
    req.url = service().http + "headers";
    req.bearer = "token\r\nX-Injected: yes";
    Response r = request(req);
    EXPECT_EQ(r.error, std::string(kBadHeaderField) + "Authorization");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.body.empty());
}

TEST(Request, ConnectionResetBeforeTheReply) {
    // WinHTTP reports a reset before any reply as a connection error, or
    // (Wine, plain HTTP) as an invalid server response; never as an answer.
    const Service& s = service();
    for (const std::string& base : {s.http, s.https}) {
        SCOPED_TRACE(base);
        Response r = get(base + "health?fault=drop");
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.error == "connection error" || r.error == "WinHTTP error 12152") << r.error;
    }
}

TEST(Request, HeadRepliesHaveNoBodyToWaitFor) {
    Request r;
    r.method = "HEAD";
    r.url = service().http + "bytes?n=1000";
    Response reply = request(r);
    EXPECT_EQ(reply.error, "");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-length"], "1000");
    EXPECT_TRUE(reply.body.empty());
}

TEST(Request, StatusesAreAnswersNotErrors) {
    const Service& s = service();
    Response missing = get(s.http + "client/manifest-nightly.json");
    EXPECT_EQ(missing.error, "");
    EXPECT_EQ(missing.status, 404);

    // A redirect is handed back as it came, with its Location.
    Response moved = get(s.http + "client/manifest.json?fault=redirect&x=1");
    EXPECT_EQ(moved.error, "");
    EXPECT_EQ(moved.status, 302);
    EXPECT_EQ(moved.headers["location"], s.http + "client/manifest.json?x=1");
    EXPECT_EQ(moved.body, "moved");

    Response busy = get(s.http + "health?fault=status:503");
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.headers["retry-after"], "1");
}

TEST(Request, HttpsWithExplicitPortAndQuery) {
    Response r = get(service().https + "echo?format=text&x=1&y=two");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(parseEcho(r.body).query, "format=text&x=1&y=two");
}

TEST(Request, TlsWorksForTheLocalhostNameToo) {
    std::string https = service().https;
    std::string url = "https://localhost" + https.substr(https.rfind(':')) + "health";
    Response r = get(url);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "ok");
}

// ---- Body limits ----

TEST(Request, BodyLimitCountsWholeChunks) {
    const Service& s = service();
    const std::string& reference = referenceBytes();
    ASSERT_EQ(reference.size(), 300000u);
    const uint64_t n = 200000;
    struct Case {
        uint64_t maxBytes;
        std::string error;
    };
    const Case cases[] = {{n, ""}, {n + 1, ""}, {n - 1, "reply too large"}, {0, "reply too large"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxBytes);
        Request r;
        r.url = s.http + "bytes?n=" + std::to_string(n);
        r.maxBytes = c.maxBytes;
        Response got = request(r);
        EXPECT_EQ(got.error, c.error);
        EXPECT_EQ(got.status, 200);
        if (c.error.empty()) {
            EXPECT_EQ(got.body, reference.substr(0, n));
        } else {
            // Only chunks that fit before the overflowing one.
            EXPECT_LE(got.body.size(), c.maxBytes);
            EXPECT_EQ(got.body, reference.substr(0, got.body.size()));
        }
    }
}

TEST(Request, DefaultLimitIsEightMebibytes) {
    const Service& s = service();
    Response fits = get(s.http + "bytes?n=8388608");
    EXPECT_EQ(fits.error, "");
    EXPECT_EQ(fits.body.size(), 8388608u);
    Response over = get(s.http + "bytes?n=8388609");
    EXPECT_EQ(over.error, "reply too large");
    EXPECT_LT(over.body.size(), 8388609u);
}

TEST(Request, ChunkedBodyArrivesWhole) {
    Request r;
    r.url = service().http + "bytes?n=150000&chunked=1";
    uint64_t seenTotal = 1;
    std::string got;
    r.sink = [&](const char* data, uint64_t length, uint64_t total) {
        seenTotal = total;
        got.append(data, length);
        return true;
    };
    Response reply = request(r);
    EXPECT_EQ(reply.error, "");
    EXPECT_EQ(got, referenceBytes().substr(0, 150000));
    EXPECT_EQ(seenTotal, 0u);  // no Content-Length
    EXPECT_TRUE(reply.body.empty());
}

TEST(Request, BodyLongerThanAnnouncedIsCutAtTheAnnouncedLength) {
    Response r = get(service().http + "bytes?n=1000&fault=overlong");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, referenceBytes().substr(0, 984));
}

TEST(Request, BodyShorterThanAnnouncedIsAnError) {
    Response r = get(service().http + "bytes?n=100000&fault=truncate");
    EXPECT_EQ(r.error, "reply cut short");
    EXPECT_EQ(r.status, 200);
}

TEST(Request, SinkCanCancel) {
    Request r;
    r.url = service().http + "bytes?n=300000";
    int calls = 0;
    uint64_t seenTotal = 0;
    r.sink = [&](const char*, uint64_t, uint64_t total) {
        seenTotal = total;
        return ++calls < 2;
    };
    Response reply = request(r);
    EXPECT_EQ(reply.error, "cancelled");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(seenTotal, 300000u);
}

// ---- Headers ----

TEST(Request, ResponseHeadersAreTrimmedLowerCasedLastWins) {
    // (Wine's WinHTTP ends the header block at a name followed by blanks, so
    // that case is covered by the native test of parseHeaderLines only.)
    Response r = get(service().http + "headers?set=X-Mixed-Case:%20%20v1%20%09&set=x-dup:first&set=X-Dup:%20second");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.headers["x-mixed-case"], "v1");
    EXPECT_EQ(r.headers["x-dup"], "second");
    EXPECT_EQ(r.contentType, "text/plain");
    EXPECT_EQ(r.headers["content-type"], "text/plain");
    for (const auto& [name, value] : r.headers) {
        EXPECT_EQ(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ \t"), std::string::npos) << name;
    }
}

TEST(Request, RequestHeadersFollowTheRules) {
    const Service& s = service();
    setUserAgent("EmberlaneLauncher/9.9.9 (windows)");
    struct Case {
        std::string method;
        std::string body;
        std::string bearer;
        bool contentType;
    };
    const Case cases[] = {
        {"GET", "", "", false},
        {"POST", "", "", true},
        {"DELETE", "", "tok", true},
        {"POST", "{\"a\":1}", "abc.def", true},
        {"PUT", "x", "", true},
        {"PUT", "", "", false},
        {"post", "", "", false},  // only the exact verb counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " body=" + c.body + " bearer=" + c.bearer);
        Request r;
        r.method = c.method;
        r.url = s.http + "echo?format=text";
        r.body = c.body;
        r.bearer = c.bearer;
        r.accept = "application/json";
        r.contentType = "application/json; charset=utf-8";
        Response reply = request(r);
        ASSERT_EQ(reply.error, "");
        Echo e = parseEcho(reply.body);
        EXPECT_EQ(e.method, c.method);
        EXPECT_EQ(e.body, c.body);
        EXPECT_TRUE(e.has("User-Agent: EmberlaneLauncher/9.9.9 (windows)"));
        EXPECT_TRUE(e.has("Accept: application/json"));
        EXPECT_TRUE(e.has("Cache-Control: no-store"));
        EXPECT_TRUE(e.has("X-QD-Client: launcher"));
        EXPECT_EQ(e.has("Content-Type: application/json; charset=utf-8"), c.contentType);
        EXPECT_EQ(e.hasName("Content-Type"), c.contentType);
        EXPECT_EQ(e.has("Authorization: Bearer " + c.bearer), !c.bearer.empty());
        EXPECT_EQ(e.hasName("Authorization"), !c.bearer.empty());
        // Our lines keep their order.
        EXPECT_LT(e.indexOf("Accept"), e.indexOf("Cache-Control"));
        EXPECT_LT(e.indexOf("Cache-Control"), e.indexOf("X-QD-Client"));
        if (c.contentType) {
            EXPECT_LT(e.indexOf("X-QD-Client"), e.indexOf("Content-Type"));
        }
        if (!c.bearer.empty()) {
            EXPECT_LT(e.indexOf("X-QD-Client"), e.indexOf("Authorization"));
        }
    }
    setUserAgent("EmberlaneLauncher/2.0 (windows)");
}

TEST(Request, InitialUserAgent) {
    Echo e = parseEcho(get(service().http + "echo?format=text").body);
    EXPECT_TRUE(e.has("User-Agent: EmberlaneLauncher/2.0 (windows)"));
}

TEST(Request, ManyThreadsAtOnce) {
    const Service& s = service();
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            Response r = get((i % 2 ? s.https : s.http) + "bytes?n=" + std::to_string(100000 + i));
            if (r.error.empty() && r.body == referenceBytes().substr(0, 100000 + i)) ++good;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(good.load(), 8);
}

// ---- Downloads ----

struct ManifestFile {
    std::string url;
    std::string sha256;
    std::string content;
};

// A client file the service publishes (any path of the stable channel).
ManifestFile publishedFile(const std::string& path) {
    ManifestFile f;
    f.url = service().https + "client/files/" + path;
    f.content = get(f.url).body;
    f.sha256 = sha256Hex(f.content);
    return f;
}

TEST(Download, VerifiedFileReplacesTheOldOne) {
    Scratch dir;
    ManifestFile dll = publishedFile("Emberlane/Emberlane.dll");
    ASSERT_GT(dll.content.size(), 1000000u);
    std::string dest = dir.path("game\\Emberlane\\Emberlane.dll");
    ASSERT_TRUE(writeFileAtomic(dest, "old"));
    uint64_t lastDone = 0, lastTotal = 0;
    int calls = 0;
    std::string error = download(dll.url, dest, upper(dll.sha256), [&](uint64_t done, uint64_t total) {
        EXPECT_GT(done, lastDone);
        lastDone = done;
        lastTotal = total;
        ++calls;
        return true;
    }).error;
    EXPECT_EQ(error, "");
    std::string written;
    ASSERT_TRUE(readWholeFile(dest, written));
    EXPECT_EQ(written, dll.content);
    EXPECT_FALSE(fileExists(dest + ".part"));
    EXPECT_EQ(lastDone, dll.content.size());
    EXPECT_EQ(lastTotal, dll.content.size());
    EXPECT_GE(calls, 16);  // 64 KiB chunks at most
}

TEST(Download, CreatesMissingFoldersAndTakesEmptyFiles) {
    Scratch dir;
    ManifestFile empty = publishedFile("Emberlane/data/empty.bin");
    std::string dest = dir.path("a/b\\c/empty.bin");
    EXPECT_EQ(download(empty.url, dest, empty.sha256).error, "");
    EXPECT_EQ(fileSize(dest), 0);
}

TEST(Download, WithoutDigestOrProgress) {
    Scratch dir;
    std::string dest = dir.path("plain.bin");
    EXPECT_EQ(download(service().http + "bytes?n=70000", dest, "").error, "");
    std::string written;
    ASSERT_TRUE(readWholeFile(dest, written));
    EXPECT_EQ(written, referenceBytes().substr(0, 70000));
}

TEST(Download, FailuresLeaveNoPartAndKeepTheDestination) {
    const Service& s = service();
    ManifestFile dat = publishedFile("Emberlane/data/realms.dat");
    std::string corrupt = get(dat.url + "?fault=corrupt").body;
    ASSERT_EQ(corrupt.size(), dat.content.size());
    std::string stopAtOnce;  // marks the case whose progress refuses the first chunk
    struct Case {
        std::string name;
        std::string url;
        std::string sha256;
        std::string error;
    };
    const Case cases[] = {
        {"checksum", dat.url + "?fault=corrupt", dat.sha256,
         "checksum mismatch (got " + sha256Hex(corrupt).substr(0, 12) + ", want " + dat.sha256.substr(0, 12) + ")"},
        {"not found", s.https + "client/files/Emberlane/nope.dll", dat.sha256, "HTTP 404"},
        {"server error", dat.url + "?fault=status:503", dat.sha256, "HTTP 503"},
        {"redirect", dat.url + "?fault=redirect", dat.sha256, "HTTP 302"},
        {"cut short", dat.url + "?fault=truncate", dat.sha256, "reply cut short"},
        {"cut short, no digest", dat.url + "?fault=truncate", "", "reply cut short"},
        {"refused", "http://127.0.0.1:1/x", dat.sha256, "cannot connect"},
        {"bad URL", "http:///x", dat.sha256, "bad URL"},
        {"cancelled", s.http + "bytes?n=300000", "", "cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch dir;
        std::string dest = dir.path("Emberlane\\data\\realms.dat");
        ASSERT_TRUE(writeFileAtomic(dest, "previous"));
        int calls = 0;
        Progress progress = [&](uint64_t, uint64_t) {
            ++calls;
            return c.name != "cancelled";
        };
        EXPECT_EQ(download(c.url, dest, c.sha256, progress).error, c.error);
        std::string kept;
        EXPECT_TRUE(readWholeFile(dest, kept));
        EXPECT_EQ(kept, "previous");
        EXPECT_FALSE(fileExists(dest + ".part"));
        if (c.name == "cancelled") {
            EXPECT_EQ(calls, 1);
        }
    }
}

// A server that keeps the connection alive with a byte now and then: the
// caller's cancel, the overall deadline and the minimum rate each end the
// exchange within about a second, whatever the per-read time-out says.
TEST(Request, ATrickleEndsAtCancelDeadlineOrMinimumRate) {
    struct Case {
        const char* name;
        bool cancel;
        uint32_t deadlineMs;
        uint32_t minRate;
        const char* error;
    };
    const Case cases[] = {
        {"cancel", true, 0, 0, "cancelled"},
        {"deadline", false, 700, 0, "timed out"},
        {"minimum rate", false, 0, 1000, "timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r;
        r.url = service().http + "bytes?n=200&fault=trickle:300";
        r.timeoutMs = 30000;
        r.deadlineMs = c.deadlineMs;
        r.minBytesPerSecond = c.minRate;
        r.rateWindowMs = 700;
        const DWORD start = GetTickCount();
        if (c.cancel) r.cancelled = [&] { return GetTickCount() - start > 700; };
        Response reply = request(r);
        const DWORD took = GetTickCount() - start;
        EXPECT_EQ(reply.error, c.error);
        EXPECT_LT(took, 3000u) << "the trickle held the exchange";
    }
    // A cancel while the server has not even answered yet, and a download
    // against one byte every 40 s.
    Request r;
    r.url = service().http + "bytes?n=10&fault=slow:20000";
    DWORD start = GetTickCount();
    r.cancelled = [&] { return GetTickCount() - start > 300; };
    EXPECT_EQ(request(r).error, "cancelled");
    EXPECT_LT(GetTickCount() - start, 3000u);
    Scratch dir;
    Download job;
    job.url = service().http + "bytes?n=100&fault=trickle:40000";
    job.destPath = dir.path("slow.bin");
    start = GetTickCount();
    job.cancelled = [&] { return GetTickCount() - start > 300; };
    const DownloadResult stopped = download(job);
    EXPECT_EQ(stopped.error, "cancelled");
    EXPECT_EQ(stopped.end, DownloadEnd::stopped);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_FALSE(fileExists(job.destPath + ".part"));
}

// A server that sends more than the expected size, or announces another
// length: nothing beyond the size ever reaches the disk.
TEST(Download, NeverWritesMoreThanTheExpectedSize) {
    struct Case {
        const char* name;
        const char* query;
        const char* error;
    };
    const Case cases[] = {
        {"announces more", "bytes?n=20000000", "reply of the wrong length (20000000 bytes, want 1000)"},
        {"announces less", "bytes?n=999", "reply of the wrong length (999 bytes, want 1000)"},
        {"chunked, runs on", "bytes?n=5000000&chunked=1", nullptr},
        {"announces the size, sends more", "bytes?n=1016&fault=overlong", nullptr},
    };
    const std::string want = sha256Hex(referenceBytes().substr(0, 1000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch dir;
        Download job;
        job.url = service().http + c.query;
        job.destPath = dir.path("file.bin");
        job.sha256Hex = want;
        job.size = 1000;
        uint64_t most = 0;
        int calls = 0;
        job.progress = [&](uint64_t done, uint64_t) {
            most = std::max(most, done);
            ++calls;
            return true;
        };
        const std::string error = download(job).error;
        EXPECT_LE(most, 1000u);
        if (c.error) {
            EXPECT_EQ(error, c.error);
            EXPECT_EQ(calls, 0) << "bytes taken from a reply of the wrong length";
            EXPECT_FALSE(fileExists(job.destPath));
        } else {
            // The first 1000 bytes are the reference bytes, so the file is right.
            EXPECT_EQ(error, "");
            EXPECT_EQ(fileSize(job.destPath), 1000);
        }
        EXPECT_FALSE(fileExists(job.destPath + ".part"));
    }
}

TEST(Download, UnwritableFolder) {
    Scratch dir;
    // A file where a folder should be: neither the folder nor the part file
    // can be made.
    ASSERT_TRUE(writeFileAtomic(dir.path("blocker"), "x"));
    std::string dest = dir.path("blocker\\sub\\file.bin");
    EXPECT_EQ(download(service().http + "bytes?n=10", dest, "").error, "cannot write " + dest + ".part");
}

TEST(Download, DestinationThatCannotBeReplaced) {
    Scratch dir;
    // A folder in the way of the file stands in for a file held open by the game.
    std::string dest = dir.path("Emberlane.dll");
    ASSERT_TRUE(createDirectories(dest));
    const DownloadResult held = download(service().http + "bytes?n=10", dest, "");
    EXPECT_EQ(held.error, "cannot replace " + dest + " (is the game running?)");
    EXPECT_EQ(held.end, DownloadEnd::cannotReplace);
    EXPECT_TRUE(isDirectory(dest));
    EXPECT_FALSE(fileExists(dest + ".part"));
}

TEST(Download, LauncherBuildFromTheManifest) {
    // The manifest names the launcher build and its digest: a download by
    // those must verify.
    Response manifest = get(service().https + "client/manifest.json");
    ASSERT_EQ(manifest.status, 200);
    std::string url = jsonString(manifest.body.substr(manifest.body.find("\"launcher\"")), "url");
    std::string digest = jsonString(manifest.body.substr(manifest.body.find("\"launcher\"")), "sha256");
    ASSERT_EQ(url.rfind(service().https, 0), 0u) << url;
    Scratch dir;
    EXPECT_EQ(download(url, dir.path("Emberlane.exe.new"), digest).error, "");
}

// ---- Resuming a part file ----

// A fault on the next request for `path` only (the stand-in's control).
void faultOnce(const std::string& path, const std::string& fault) {
    Request r;
    r.method = "POST";
    r.url = service().http + "control/fault";
    r.body = "{\"path\": \"" + path + "\", \"fault\": \"" + fault + "\", \"times\": 1}";
    ASSERT_EQ(request(r).status, 200);
}

// What the stand-in saw of the requests for `path` after the mark `since`.
std::vector<ember::launcher::testing::StandinRequest> requestsFor(const std::string& path, int64_t since) {
    std::vector<ember::launcher::testing::StandinRequest> seen;
    for (auto& r : ember::launcher::testing::standinRequests(path, since)) {
        if (r.path == path) seen.push_back(r);
    }
    return seen;
}

// A download cut half-way keeps its bytes; the next one asks for the rest,
// unless anything about them is in doubt, and the file is always whole and
// right in the end: never made of two versions, never wrong bytes kept.
TEST(Download, AResumeContinuesOnlyTheSameBytes) {
    const std::string path = "/client/r7/files/Emberlane/Emberlane.dll";
    const std::string url = service().https + path.substr(1);
    const std::string content = get(url).body;
    ASSERT_GT(content.size(), 1000000u);
    const std::string digest = sha256Hex(content);
    const int64_t half = static_cast<int64_t>(content.size() / 2);
    struct Case {
        const char* name;
        const char* secondFault;  // on the try after the cut
        bool flipKeptByte;
        bool otherDigest;         // the manifest names another file by now
        std::vector<std::string> ranges;  // the Range of each later request ("" for none)
        std::vector<int64_t> statuses;
    };
    const std::string rest = "bytes=" + std::to_string(half) + "-";
    const Case cases[] = {
        {"the rest", "", false, false, {rest}, {206}},
        {"kept bytes changed on disk", "", true, false, {rest, ""}, {206, 200}},
        {"the server ignores Range", "norange", false, false, {rest}, {200}},
        {"the server refuses the range", "range416", false, false, {rest, ""}, {416, 200}},
        {"the file changed on the server", "etag:another", false, false, {rest}, {200}},
        {"another file by now", "", false, true, {""}, {200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch dir;
        Download job;
        job.url = url;
        job.destPath = dir.path("Emberlane.dll");
        job.partPath = dir.path(".parts\\dll.part");
        job.sha256Hex = digest;
        job.size = static_cast<int64_t>(content.size());
        job.resumable = true;
        ASSERT_TRUE(writeFileAtomic(job.destPath, "previous"));
        faultOnce(path, "truncate");
        EXPECT_EQ(download(job).error, "reply cut short");
        EXPECT_EQ(fileSize(job.partPath), half);
        std::string record;
        ASSERT_TRUE(readWholeFile(job.partPath + kPartRecordSuffix, record));
        EXPECT_NE(record.find("bytes " + std::to_string(half) + "\n"), std::string::npos) << record;
        const int64_t afterTheCut = ember::launcher::testing::standinMark();

        if (c.flipKeptByte) {
            std::string kept;
            ASSERT_TRUE(readWholeFile(job.partPath, kept));
            kept[1000] ^= 0x20;
            ASSERT_TRUE(writeFileAtomic(job.partPath, kept));
        }
        if (c.secondFault[0]) faultOnce(path, c.secondFault);
        if (c.otherDigest) {
            // The record is for another digest: nothing is continued, and
            // the (real) file fails the other digest as a whole.
            job.sha256Hex = std::string(64, 'a');
            EXPECT_EQ(download(job).error.rfind("checksum mismatch", 0), 0u);
            EXPECT_EQ(fileText(job.destPath), "previous");
        } else {
            EXPECT_EQ(download(job).error, "");
            EXPECT_EQ(fileText(job.destPath), content);
        }
        const auto seen = requestsFor(path, afterTheCut);
        ASSERT_EQ(seen.size(), c.ranges.size());
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].range, c.ranges[i]) << i;
            EXPECT_EQ(seen[i].status, c.statuses[i]) << i;
        }
        if (c.statuses[0] == 206 && c.ranges.size() == 1) {
            EXPECT_EQ(seen[0].bytesSent, static_cast<int64_t>(content.size()) - half);
        }
        EXPECT_FALSE(fileExists(job.partPath));
        EXPECT_FALSE(fileExists(job.partPath + kPartRecordSuffix));
    }
}

}  // namespace
