// For install tests under Wine: the stand-in web service's addresses (from
// the ctest fixture's state file), its manifests and its fault control.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "base/paths.h"
#include "launcher/formats/json.h"
#include "launcher/formats/manifest.h"
#include "launcher/net/http.h"

namespace ember::launcher::testing {

inline const JsonValue& standinState() {
    static const JsonValue state = [] {
        const char* env = std::getenv("EMBER_STANDIN_STATE");
        std::string path = env && *env ? env : EMBER_STANDIN_STATE;
        std::string text, error;
        JsonValue out;
        if (!readWholeFile(path, text) || !parseJson(text, out, error)) {
            ADD_FAILURE() << "no stand-in service state at " << path << " (run through ctest: fixture standin_service)";
        }
        return out;
    }();
    return state;
}

// "https://127.0.0.1:<port>/"
inline std::string standinHttps() { return getString(standinState(), "https_base"); }

// The manifest of client release `release`, pinned by its URL so parallel
// tests never see another release.
inline Manifest standinManifest(int release, const std::string& channel = "") {
    http::Request request;
    request.url = standinHttps() + "client/r" + std::to_string(release) + "/manifest" +
                  (channel.empty() ? "" : "-" + channel) + ".json";
    http::Response reply = http::request(request);
    Manifest manifest;
    std::string error;
    EXPECT_EQ(reply.error, "");
    EXPECT_TRUE(parseManifest(reply.body, manifest, error)) << error;
    return manifest;
}

// A fault on every request below `path` (the next `times` ones).
inline void standinFault(const std::string& path, const std::string& fault, int times) {
    http::Request request;
    request.method = "POST";
    request.url = standinHttps() + "control/fault";
    request.body = "{\"path\": \"" + path + "\", \"fault\": \"" + fault + "\", \"times\": " + std::to_string(times) + "}";
    http::Response reply = http::request(request);
    ASSERT_EQ(reply.status, 200) << reply.error << reply.body;
}

// One request in the service's log, as far as the download tests care.
struct StandinRequest {
    std::string path;
    std::string range;  // its Range header, "" for none
    int64_t status = 0;
    int64_t bytesSent = 0;
};

// The service's log: the requests for paths starting with `prefix` after
// the mark `since` (0: all it keeps), oldest first. The service is shared by
// tests that run side by side, so a test marks where its own requests begin
// instead of emptying the log.
inline std::vector<StandinRequest> standinRequests(const std::string& prefix, int64_t since = 0,
                                                   int64_t* last = nullptr) {
    http::Request get;
    get.url = standinHttps() + "control/requests?since=" + std::to_string(since);
    JsonValue log;
    std::string error;
    EXPECT_TRUE(parseJson(http::request(get).body, log, error)) << error;
    std::vector<StandinRequest> out;
    for (const JsonValue& entry : member(log, "requests").items) {
        StandinRequest seen;
        seen.path = getString(entry, "path");
        if (seen.path.compare(0, prefix.size(), prefix) != 0) continue;
        for (const JsonValue& h : member(entry, "headers").items) {
            if (h.items.size() == 2 && h.items[0].asString() == "Range") seen.range = h.items[1].asString();
        }
        seen.status = member(entry, "status").asInt();
        seen.bytesSent = member(entry, "bytesSent").asInt();
        out.push_back(seen);
    }
    if (last) *last = member(log, "last").asInt();
    return out;
}

// A mark for standinRequests: what the service logs from now on is after it.
inline int64_t standinMark() {
    int64_t last = 0;
    standinRequests("", std::numeric_limits<int64_t>::max(), &last);
    return last;
}

}  // namespace ember::launcher::testing
