// What the download speed limit costs and how closely it holds.
//   bucket   the token bucket alone: reserve and wait-check per 16 KiB read,
//            on a clock that moves as a limited download's would; CPU time
//            per MB let through (any build)
//   download a limited apply of the stand-in's channel "large" (20 x 10 MiB,
//            six at once) under the limit (EMBER_LIMIT_MBPS, 2): the
//            service's count of bytes sent per 10 s as a share of the limit
//            (min, median, max of the whole windows) and the process's CPU
//            time per MB (Windows build; the stand-in must run with
//            --count-sent --bench-channels, its state file in
//            EMBER_STANDIN_STATE)
// A plain program; bench/limit-figures runs it.
//
// Usage: limit_figures bucket | download <scratch folder>
#include <algorithm>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "launcher/formats/config.h"
#include "launcher/formats/json.h"
#include "launcher/formats/manifest.h"
#include "launcher/net/http.h"
#include "launcher/net/throttle.h"
#ifdef _WIN32
#include <windows.h>

#include "launcher/install/apply.h"
#include "launcher/install/plan.h"
#endif

using namespace ember::launcher;

namespace {

double cpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

int bucket() {
    // Six readers taking turns, as six transfers do, at 2 MB/s; the clock
    // jumps to each ticket's due time, so nothing sleeps.
    constexpr uint64_t kRate = 2 << 20;
    constexpr uint64_t kBytes = 64ull << 30;  // 64 GiB let through
    http::Throttle throttle;
    throttle.setRate(kRate, 0);
    uint64_t now = 0, through = 0, waits = 0;
    const double start = cpuSeconds();
    while (through < kBytes) {
        for (int reader = 0; reader < 6; ++reader) {
            const uint64_t want = throttle.readSize(65536);
            const uint64_t ticket = throttle.reserve(want, now);
            for (uint64_t wait; (wait = throttle.waitMs(ticket, now)) > 0; ++waits) now += wait;
            through += want;
        }
    }
    const double cpu = cpuSeconds() - start;
    const double mb = static_cast<double>(through) / 1048576.0;
    std::printf("bucket: %.0f MB through in %.1f s of bucket time (%.3f MB/s), %llu waits\n", mb, now / 1000.0,
                mb / (now / 1000.0), static_cast<unsigned long long>(waits));
    std::printf("bucket: %.1f ns of CPU per MB let through\n", cpu * 1e9 / mb);
    return 0;
}

#ifdef _WIN32
JsonValue getJson(const std::string& url, const std::string& method = "GET") {
    http::Request request;
    request.method = method;
    request.url = url;
    request.maxBytes = 64 << 20;
    JsonValue doc;
    std::string error;
    parseJson(http::request(request).body, doc, error);
    return doc;
}

int download(const std::string& folder) {
    const char* state = std::getenv("EMBER_STANDIN_STATE");
    std::string text, error;
    JsonValue standin;
    if (!state || !readWholeFile(state, text) || !parseJson(text, standin, error)) {
        std::fprintf(stderr, "no stand-in state in EMBER_STANDIN_STATE\n");
        return 2;
    }
    const std::string base = getString(standin, "https_base");
    const double mbps = std::getenv("EMBER_LIMIT_MBPS") ? std::atof(std::getenv("EMBER_LIMIT_MBPS")) : 2.0;
    http::Request get;
    get.url = base + "client/manifest-large.json";
    Manifest manifest;
    if (!parseManifest(http::request(get).body, manifest, error)) {
        std::fprintf(stderr, "no channel large: %s\n", error.c_str());
        return 2;
    }
    createDirectories(folder);
    Config config;
    const Plan plan = makePlan(manifest, folder, config, false, Reporter());
    getJson(base + "control/sent", "DELETE");
    const uint64_t limit = static_cast<uint64_t>(mbps * 1048576.0);
    http::setSpeedLimit(limit);
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    ApplyError failed;
    applyClientInFlight(manifest, folder, config, plan, Reporter(), failed, kParallelDownloads);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    if (failed.kind != ApplyFault::none) {
        std::fprintf(stderr, "the apply failed: %s\n", failed.text.c_str());
        return 1;
    }
    // The count in whole 10 s windows from the first byte.
    std::map<int64_t, double> buckets;
    const JsonValue sent = getJson(base + "control/sent");
    for (const JsonValue& pair : member(sent, "buckets").items) {
        if (pair.items.size() == 2) buckets[pair.items[0].asInt()] = pair.items[1].asNumber();
    }
    std::vector<double> shares;
    double total = 0;
    // From the first to the last bucket that held file bytes (the control
    // replies are a few hundred bytes).
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const auto& [at, bytes] : buckets) {
        if (bytes < 4096) continue;
        first = std::min(first, at);
        last = std::max(last, at);
    }
    if (first <= last) {
        std::printf("download: buckets %lld to %lld (%zu in all)\n", static_cast<long long>(first),
                    static_cast<long long>(last), buckets.size());
        for (int64_t from = first; from + 100 <= last + 1; from += 100) {
            double sum = 0;
            for (auto it = buckets.lower_bound(from); it != buckets.end() && it->first < from + 100; ++it) sum += it->second;
            shares.push_back(sum / 10.0 / static_cast<double>(limit));
        }
        for (const auto& entry : buckets) total += entry.second;
    }
    std::sort(shares.begin(), shares.end());
    const double mb = static_cast<double>(plan.downloadBytes) / 1048576.0;
    std::printf("download: %.0f MB in %zu files at %.1f MB/s: %.1f s (%.3f MB/s overall)\n", mb, plan.download.size(), mbps,
                wall, mb / wall);
    if (!shares.empty()) {
        std::printf("download: %zu whole 10 s windows, sent as a share of the limit: min %.3f median %.3f max %.3f\n",
                    shares.size(), shares.front(), shares[shares.size() / 2], shares.back());
    }
    std::printf("download: %.1f MB sent by the service for %.1f MB of files\n", total / 1048576.0, mb);
    std::printf("download: process CPU %.2f s, %.1f ms per MB\n", cpu, cpu * 1000.0 / mb);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "bucket") return bucket();
#ifdef _WIN32
    if (what == "download" && argc > 2) return download(argv[2]);
#endif
    std::fprintf(stderr, "usage: limit_figures bucket | download <scratch folder>\n");
    return 2;
}
