// The HTTP client's rules that need no network: the request header block,
// response header parsing, the announced length, error texts and the order
// in which a download's failures are decided.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "launcher/net/http.h"
#include "launcher/net/http_internal.h"

namespace {

using namespace ember::launcher::http;

TEST(EncodePath, CharactersThatWouldChangeTheUrlAreEncoded) {
    const std::pair<const char*, const char*> cases[] = {
        {"Emberlane/Emberlane.dll", "Emberlane/Emberlane.dll"},
        {"a b/c#d?e%f.txt", "a%20b/c%23d%3Fe%25f.txt"},
        {"x\\y+z&w=v;u", "x/y%2Bz%26w%3Dv%3Bu"},
        {"caf\xC3\xA9-~_.", "caf%C3%A9-~_."},
    };
    for (const auto& c : cases) EXPECT_EQ(encodePath(c.first), c.second) << c.first;
}

TEST(HttpHeaders, RequestBlockOrderAndConditions) {
    struct Case {
        const char* method;
        const char* body;
        const char* bearer;
        const char* expected;
    };
    const char* common = "Accept: application/json\r\nCache-Control: no-store\r\nX-QD-Client: launcher\r\n";
    const Case cases[] = {
        {"GET", "", "", ""},
        {"POST", "", "", "Content-Type: application/json\r\n"},
        {"DELETE", "", "", "Content-Type: application/json\r\n"},
        {"GET", "x", "", "Content-Type: application/json\r\n"},
        {"PUT", "", "", ""},
        {"Post", "", "", ""},
        {"POST", "{}", "t0k.en", "Content-Type: application/json\r\nAuthorization: Bearer t0k.en\r\n"},
        {"GET", "", "abc", "Authorization: Bearer abc\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " body=" + c.body + " bearer=" + c.bearer);
        Request r;
        r.method = c.method;
        r.body = c.body;
        r.bearer = c.bearer;
        EXPECT_EQ(requestHeaderBlock(r), std::string(common) + c.expected);
    }
    Request custom;
    custom.accept = "*/*";
    custom.contentType = "text/plain";
    custom.method = "POST";
    EXPECT_EQ(requestHeaderBlock(custom),
              "Accept: */*\r\nCache-Control: no-store\r\nX-QD-Client: launcher\r\nContent-Type: text/plain\r\n");
    Request rest;
    rest.rangeFrom = 4096;
    rest.ifRange = "\"v1\"";
    EXPECT_EQ(requestHeaderBlock(rest), std::string(common) + "Range: bytes=4096-\r\nIf-Range: \"v1\"\r\n");
}

TEST(HttpHeaders, ResponseLinesAreTrimmedLowerCasedAndLastWins) {
    std::map<std::string, std::string> h;
    parseHeaderLines(
        "HTTP/1.1 200 OK\r\n"
        "Content-Type: application/json\r\n"
        " X-Mixed-Case \t:  value with  inner spaces \t\r\n"
        "x-dup: first\r\n"
        "X-DUP:second\r\n"
        "Empty:\r\n"
        "Location: http://h:8080/a?b=c:d\r\n"
        "no colon here\r\n"
        "\r\n",
        h);
    const std::map<std::string, std::string> expected = {
        {"content-type", "application/json"}, {"x-mixed-case", "value with  inner spaces"},
        {"x-dup", "second"},                  {"empty", ""},
        {"location", "http://h:8080/a?b=c:d"},
    };
    EXPECT_EQ(h, expected);
}

TEST(HttpHeaders, LastLineWithoutLineEnd) {
    std::map<std::string, std::string> h;
    parseHeaderLines("A: 1\r\nB: 2", h);
    EXPECT_EQ(h["a"], "1");
    EXPECT_EQ(h["b"], "2");
}

TEST(HttpHeaders, AnnouncedLength) {
    struct Case {
        const char* value;  // nullptr: no header
        uint64_t expected;
    };
    const Case cases[] = {
        {nullptr, 0},
        {"0", 0},
        {"1234", 1234},
        {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", 0},  // does not fit
        {"-1", 0},
        {"12abc", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        std::map<std::string, std::string> h;
        if (c.value) h["content-length"] = c.value;
        EXPECT_EQ(announcedLength(h), c.expected);
    }
}

TEST(HttpDownload, VerdictOrder) {
    const std::string good = "ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12cd34ef56ab12";
    const std::string other = "0000000000000000000000000000000000000000000000000000000000000000";
    struct Case {
        const char* name;
        bool writeFailed;
        int32_t status;
        const char* error;
        std::string want;
        std::string expected;
        Verdict kind;
    };
    const Case cases[] = {
        {"write failure first", true, 404, "cancelled", other, "disk write failed for C:\\g\\a.dll",
         Verdict::kWriteFailed},
        {"transfer error next", false, 404, "cancelled", other, "cancelled", Verdict::kTransferFailed},
        {"then the status", false, 404, "", other, "HTTP 404", Verdict::kStatus},
        {"1xx is no success", false, 199, "", "", "HTTP 199", Verdict::kStatus},
        {"3xx is no success", false, 300, "", "", "HTTP 300", Verdict::kStatus},
        {"then the digest", false, 200, "", other, "checksum mismatch (got ab12cd34ef56, want 000000000000)",
         Verdict::kWrongDigest},
        {"upper-case digest matches", false, 200, "", "AB12CD34EF56AB12CD34EF56AB12CD34EF56AB12CD34EF56AB12CD34EF56AB12",
         "", Verdict::kLands},
        {"no digest, no check", false, 299, "", "", "", Verdict::kLands},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Response r;
        r.status = c.status;
        r.error = c.error;
        const DownloadVerdict verdict = downloadVerdict(c.writeFailed, r, good, c.want, "C:\\g\\a.dll");
        EXPECT_EQ(verdict.text, c.expected);
        EXPECT_EQ(verdict.kind, c.kind);
    }
}

TEST(HttpRequest, FieldsThatWouldBreakOutOfTheirHeaderLineAreRefused) {
    // A bearer token or type from the network with a line break in it would
    // add header lines to every request that carries it.
    struct Case {
        const char* name;
        void (*spoil)(Request&);
        const char* field;  // empty: the request is fine
    };
    const Case cases[] = {
        {"plain GET", [](Request&) {}, ""},
        {"POST with a token", [](Request& r) { r.method = "POST"; r.bearer = "abc.DEF-123_~+/="; }, ""},
        {"CR LF in the token", [](Request& r) { r.bearer = "abc\r\nX-Admin: 1"; }, "Authorization"},
        {"lone LF in the token", [](Request& r) { r.bearer = "abc\nX: 1"; }, "Authorization"},
        {"NUL in the token", [](Request& r) { r.bearer = std::string("ab\0c", 4); }, "Authorization"},
        {"CR in Accept", [](Request& r) { r.accept = "text/html\rX: 1"; }, "Accept"},
        {"LF in Content-Type", [](Request& r) { r.contentType = "a/b\nX: 1"; }, "Content-Type"},
        {"a lower-case method is still a token", [](Request& r) { r.method = "post"; }, ""},
        {"space in the method", [](Request& r) { r.method = "GET / HTTP/1.1\r\nX: 1\r\n"; }, "method"},
        {"empty method", [](Request& r) { r.method.clear(); }, "method"},
        {"LF in a kept validator", [](Request& r) { r.ifRange = "\"v\"\nX: 1"; }, "If-Range"},
    };
    for (const Case& c : cases) {
        Request r;
        r.url = "https://example.invalid/";
        c.spoil(r);
        std::string want = *c.field ? std::string(kBadHeaderField) + c.field : std::string();
        EXPECT_EQ(headerFieldError(r), want) << c.name;
    }
}

// Kept bytes are continued only when the record is the one written, the
// reply is the rest of the same version, and the try ended early.
TEST(HttpDownload, WhatAResumeTrusts) {
    const PartRecord record{"https://h/f.bin", "ab12", "\"v1\"", 4096};
    const std::string text = formatPartRecord(record);
    PartRecord back;
    ASSERT_TRUE(parsePartRecord(text, back));
    EXPECT_EQ(back.url, record.url);
    EXPECT_EQ(back.validator, record.validator);
    EXPECT_EQ(back.bytes, 4096u);
    for (const std::string& spoiled : {text.substr(0, text.size() - 1), text + "x\n", std::string(),
                                       text.substr(0, text.find("bytes")) + "bytes 12x\n",
                                       text.substr(0, text.find("bytes")) + "bytes 04096\n",
                                       text.substr(0, text.find("bytes")) + "bytes 99999999999999999999\n",
                                       std::string(text).insert(text.find("v1"), "\r"),
                                       std::string(text).insert(text.find('\n'), std::string("\0X", 2))}) {
        EXPECT_FALSE(parsePartRecord(spoiled, back)) << spoiled;
    }
    EXPECT_EQ(formatPartRecord(PartRecord{"https://h/f", "ab", "\"v\"\r\nX: 1", 1}), "");
    EXPECT_EQ(formatPartRecord(PartRecord{"https://h/f", "ab", "", 1}), "");

    using Headers = std::map<std::string, std::string>;
    EXPECT_EQ(replyValidator({{"etag", "\"a\""}, {"last-modified", "Mon"}}), "\"a\"");
    EXPECT_EQ(replyValidator({{"etag", "W/\"a\""}}), "");
    EXPECT_EQ(replyValidator({{"last-modified", "Mon, 01 Jun 2025 12:00:00 GMT"}}), "Mon, 01 Jun 2025 12:00:00 GMT");
    struct Range {
        const char* name;
        Headers headers;
        bool continues;
    };
    const Range ranges[] = {
        {"the rest", {{"etag", "\"v1\""}, {"content-range", "bytes 4096-9999/10000"}}, true},
        {"another version", {{"etag", "\"v2\""}, {"content-range", "bytes 4096-9999/10000"}}, false},
        {"no validator", {{"content-range", "bytes 4096-9999/10000"}}, false},
        {"from another byte", {{"etag", "\"v1\""}, {"content-range", "bytes 0-9999/10000"}}, false},
        {"not to the end", {{"etag", "\"v1\""}, {"content-range", "bytes 4096-5000/10000"}}, false},
        {"another size", {{"etag", "\"v1\""}, {"content-range", "bytes 4096-10999/11000"}}, false},
        {"unknown size", {{"etag", "\"v1\""}, {"content-range", "bytes 4096-9999/*"}}, false},
        {"no range", {{"etag", "\"v1\""}}, false},
    };
    for (const Range& r : ranges) {
        EXPECT_EQ(partialReplyError(r.headers, 4096, 10000, "\"v1\"").empty(), r.continues) << r.name;
    }

    struct End {
        const char* name;
        bool writeFailed;
        int32_t status;
        std::string error;
        bool kept;
    };
    const End ends[] = {
        {"cancelled", false, 200, kCancelled, true},
        {"cut short", false, 206, kReplyCutShort, true},
        {"timed out", false, 200, "timed out", true},
        {"no answer at all", false, 0, "cannot connect", true},
        {"disk full", true, 200, kCancelled, false},
        {"wrong length", false, 200, std::string(kWrongLength) + "5 bytes, want 9)", false},
        {"range refused", false, 206, kRangeRefused, false},
        {"not found", false, 404, "", false},
        {"finished", false, 200, "", false},
    };
    for (const End& e : ends) {
        Response reply;
        reply.status = e.status;
        reply.error = e.error;
        EXPECT_EQ(keepsPart(e.writeFailed, reply), e.kept) << e.name;
    }
}

}  // namespace

// A 128 kbit/s line (16 KB/s) shared by six transfers gives each about
// 2.7 KB/s, below the 4 KB/s a lone transfer needs: judged alone, every one
// of them would time out at the first window and the install could never
// finish. Judged on the line, they go on; a transfer that stalls still ends.
TEST(HttpDownload, MinimumRateIsJudgedOnTheSharedLine) {
    constexpr uint32_t kMin = 4096;
    constexpr uint32_t kWindow = 30000;
    struct Row {
        const char* what;
        int sharing;        // transfers on the line, this one included (0: no line)
        uint64_t ownRate;   // bytes a second this transfer gets
        uint64_t lineRate;  // bytes a second the whole line carries
        bool slow;
    } rows[] = {
        {"alone, fast enough", 0, 5000, 0, false},
        {"alone, too slow", 0, 3000, 0, true},
        {"alone, stalled", 0, 0, 0, true},
        {"six on a 16 KB/s line", 6, 16000 / 6, 16000, false},
        {"six on a line at the minimum", 6, kMin / 6 + 1, kMin + 6, false},
        {"six on a line below the minimum", 6, 3000 / 6, 3000, true},
        {"one of six stalled while the rest move", 6, 0, 16000, true},
        {"one of six far below its share", 6, 100, 16000, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SharedLine line(6);
        SharedLine* shared = row.sharing > 0 ? &line : nullptr;
        for (int i = 0; i < row.sharing; ++i) line.join();
        RateRule rule(kMin, kWindow, shared);
        rule.bodyStarted(1000);
        // The checks every 50 ms judge nothing before the window ends.
        for (int64_t t = 1050; t < 1000 + kWindow; t += 50) EXPECT_FALSE(rule.tooSlow(t));
        for (int second = 0; second < 30; ++second) {
            rule.received(row.ownRate);
            line.received(row.sharing > 0 ? row.lineRate : 0);
        }
        EXPECT_EQ(rule.tooSlow(1000 + kWindow), row.slow);
    }

    // The whole-file deadline allows for a share of the slowest line: a
    // 10 MB file at a sixth of 16 KB/s takes about an hour.
    const uint64_t tenMb = 10000000;
    const uint64_t takesMs = tenMb * 1000 / (16000 / 6);
    EXPECT_LT(downloadDeadlineMs(tenMb, kMin, 1), takesMs);
    EXPECT_GT(downloadDeadlineMs(tenMb, kMin, 6), takesMs);
    EXPECT_EQ(downloadDeadlineMs(-1, kMin, 6), 120000u);
    EXPECT_EQ(downloadDeadlineMs(INT64_MAX, kMin, 6), UINT32_MAX);
    EXPECT_EQ(downloadDeadlineMs(4096 * 10, kMin, 1), 130000u);
}
