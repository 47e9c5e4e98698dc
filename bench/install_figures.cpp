// Figures for the install module, in both builds (natively and under Wine):
//
//   install_figures plan <dir> <files>     an up-to-date client of <files>
//                                           small files: the fast-path plan
//   install_figures check <dir> <sums>     full check of the files listed in
//                                           a sha256sum output file (paths
//                                           relative to <dir>): MB/s
//   install_figures preflight <dir> <files>  the launcher's check before
//                                           Play for that client, up to
//                                           date, from a fetched manifest
//                                           to the result applied
//   install_figures apply <manifest-url> <dir> [<in flight>]   (Windows)
//                                           applyClient of every file of a
//                                           manifest into an empty folder:
//                                           MB/s
//   install_figures resume <manifest-url> <dir>   (Windows) applyClient
//                                           cancelled once half the bytes
//                                           are in, then planned and applied
//                                           again to the end; the stand-in's
//                                           request log tells how much of the
//                                           files it sent on the second try
//
// Each prints one line of figures; bench/install-figures runs them beside
// sha256sum and curl.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/formats/config.h"
#include "launcher/formats/json.h"
#include "launcher/install/apply.h"
#include "launcher/install/plan.h"
#include "launcher/net/http.h"
#include "launcher/net/sha256.h"

using namespace ember::launcher;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A client of <count> files of 100 bytes in folders of 500, made once.
Manifest makeClient(const std::string& dir, int count) {
    Manifest manifest;
    for (int i = 0; i < count; ++i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "Emberlane/bulk/d%03d/f%05d.dat", i / 500, i);
        std::string bytes(100, static_cast<char>('a' + i % 26));
        const std::string path = joinPath(dir, rel);
        if (fileSize(path) != 100) {
            createDirectories(parentDir(path));
            writeFileAtomic(path, bytes);
        }
        manifest.files.push_back(ManifestFile{rel, sha256Hex(bytes), 100});
    }
    return manifest;
}

int plan(const std::string& dir, int count) {
    Manifest manifest = makeClient(dir, count);
    // The first plan hashes and records; the timed ones must read nothing.
    Config config;
    Plan first = makePlan(manifest, dir, config, false, Reporter());
    if (!first.upToDate) {
        std::fprintf(stderr, "the client is not up to date after the first plan\n");
        return 1;
    }
    const uint64_t hashed = plannerFilesHashed();
    double best = 1e9, total = 0;
    const char* runsText = std::getenv("EMBER_FIGURES_RUNS");
    const int runs = runsText ? std::max(1, std::atoi(runsText)) : 5;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        Plan again = makePlan(manifest, dir, config, false, Reporter());
        double s = secondsSince(start);
        if (!again.upToDate) return 1;
        best = std::min(best, s);
        total += s;
    }
    std::printf("plan fast path: %d files, best %.1f ms, mean %.1f ms over %d runs, %llu files read\n", count,
                best * 1000, total / runs * 1000, runs, static_cast<unsigned long long>(plannerFilesHashed() - hashed));

    // For comparison: one size and one time query per file, as a plan
    // without folder listings would make.
    best = 1e9;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        int64_t sum = 0;
        for (const ManifestFile& file : manifest.files) {
            const std::string path = joinPath(dir, file.path);
            sum += fileSize(path) + static_cast<int64_t>(lastWriteTime(path) & 1);
        }
        best = std::min(best, secondsSince(start));
        if (sum < 0) return 1;
    }
    std::printf("per-file size and time queries instead: best %.1f ms\n", best * 1000);
    return 0;
}

int check(const std::string& dir, const std::string& sums) {
    // sha256sum's lines: 64 hex digits, two characters, the path.
    std::string text;
    if (!readWholeFile(sums, text)) return 1;
    Manifest manifest;
    uint64_t bytes = 0;
    size_t at = 0;
    while (at + 66 < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        ManifestFile file;
        file.sha256 = text.substr(at, 64);
        file.path = text.substr(at + 66, end - at - 66);
        file.size = fileSize(joinPath(dir, file.path));
        bytes += static_cast<uint64_t>(file.size);
        manifest.files.push_back(file);
        at = end + 1;
    }
    Config config;
    auto start = std::chrono::steady_clock::now();
    Plan full = makePlan(manifest, dir, config, true, Reporter());
    double s = secondsSince(start);
    std::printf("full check: %zu files, %.0f MiB in %.2f s = %.0f MB/s (%s)\n", manifest.files.size(),
                bytes / 1048576.0, s, bytes / 1e6 / s, full.upToDate ? "all right" : "MISMATCH");
    return full.upToDate ? 0 : 1;
}

// What one config.json save costs with <records> installed records.
int save(int records) {
    Config config;
    for (int i = 0; i < records; ++i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "Emberlane/bulk/d%03d/f%05d.dat", i / 500, i);
        config.installed[rel] = InstalledFile{std::string(64, 'a'), 10240, 133801234567891234};
    }
    auto start = std::chrono::steady_clock::now();
    std::string text;
    for (int i = 0; i < 20; ++i) text = configToText(config);
    const double serialise = secondsSince(start) / 20;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) saveConfig(config);
    const double whole = secondsSince(start) / 20;
    std::printf("config.json with %d records (%zu bytes): serialise %.2f ms, save %.2f ms\n", records, text.size(),
                serialise * 1000, whole * 1000);
    return 0;
}

// The file side of a download without the network: <count> files of 10 KiB
// written to "<name>.part" and renamed into place, <perFolder> per folder.
int create(const std::string& dir, int count, int perFolder) {
    const std::string bytes(10240, 'x');
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "d%04d/f%05d.bin", i / perFolder, i);
        const std::string path = joinPath(dir, rel);
        createDirectories(parentDir(path));
        std::FILE* file = openFile(path + ".part", "wb");
        if (!file) return 1;
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        if (!renameReplace(path + ".part", path)) return 1;
    }
    std::printf("create: %d files of 10 KiB, %d per folder, in %.2f s\n", count, perFolder, secondsSince(start));
    return 0;
}

#ifdef _WIN32
bool fetchManifest(const std::string& url, Manifest& manifest) {
    http::Request request;
    request.url = url;
    request.maxBytes = 64 << 20;
    http::Response reply = http::request(request);
    std::string error;
    if (!reply.error.empty() || !parseManifest(reply.body, manifest, error)) {
        std::fprintf(stderr, "manifest: %s%s\n", reply.error.c_str(), error.c_str());
        return false;
    }
    return true;
}

int apply(const std::string& url, const std::string& dir, int inFlight) {
    Manifest manifest;
    if (!fetchManifest(url, manifest)) return 1;
    ApplyError error;
    Config config;
    Plan plan = makePlan(manifest, dir, config, false, Reporter());
    if (std::getenv("EMBER_FIGURES_FETCH_ONLY")) {
        // The HTTP exchanges alone, bodies kept in memory.
        auto start = std::chrono::steady_clock::now();
        for (const ManifestFile& file : plan.download) {
            http::Request get;
            get.url = manifest.baseUrl + file.path;
            get.maxBytes = 64 << 20;
            if (!http::request(get).error.empty()) return 1;
        }
        std::printf("requests only: %zu in %.2f s\n", plan.download.size(), secondsSince(start));
        return 0;
    }
    auto start = std::chrono::steady_clock::now();
    int done = applyClientInFlight(manifest, dir, config, plan, Reporter(), error, inFlight);
    double s = secondsSince(start);
    std::printf("applyClient (%d at once): %d files, %.1f MiB in %.2f s = %.1f MB/s%s%s\n", inFlight, done,
                plan.downloadBytes / 1048576.0,
                s, plan.downloadBytes / 1e6 / s, error.text.empty() ? "" : ", error: ", error.text.c_str());
    return error.kind == ApplyFault::none ? 0 : 1;
}

// "scheme://host:port" of a URL.
std::string originOf(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t slash = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    return slash == std::string::npos ? url : url.substr(0, slash);
}

// Body bytes the stand-in logged as sent for each file of the manifest
// since its log was last cleared, and how many requests asked for them.
bool bytesServed(const std::string& origin, const Manifest& manifest, uint64_t& bytes, int& requests,
                 std::string& ranges) {
    http::Request get;
    get.url = origin + "/control/requests";
    get.maxBytes = 64 << 20;
    http::Response reply = http::request(get);
    JsonValue log;
    std::string error;
    if (!reply.error.empty() || reply.status != 200 || !parseJson(reply.body, log, error)) {
        std::fprintf(stderr, "request log: %s%s (HTTP %d)\n", reply.error.c_str(), error.c_str(), reply.status);
        return false;
    }
    // Paths as the launcher puts them in its URLs, below the baseUrl's path.
    const std::string filesPath = manifest.baseUrl.substr(originOf(manifest.baseUrl).size());
    std::vector<std::string> paths;
    for (const ManifestFile& file : manifest.files) paths.push_back(filesPath + http::encodePath(file.path));
    bytes = 0;
    requests = 0;
    for (const JsonValue& entry : member(log, "requests").items) {
        const std::string path = getString(entry, "path");
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) continue;
        bytes += static_cast<uint64_t>(getInt(entry, "bytesSent"));
        ++requests;
        // The Range each one asked for ("-" for the whole file).
        std::string range = "-";
        for (const JsonValue& header : member(entry, "headers").items) {
            if (header.items.size() == 2 && equalsIgnoreCase(header.items[0].asString(), "Range")) {
                range = header.items[1].asString();
            }
        }
        ranges += (ranges.empty() ? "" : ", ") + range;
    }
    return true;
}

// A download cancelled at half and finished on the next try: how much the
// second try had to fetch again.
int resume(const std::string& url, const std::string& dir) {
    Manifest manifest;
    if (!fetchManifest(url, manifest)) return 1;
    const std::string origin = originOf(url);
    Config config;
    ApplyError error;

    // 1. Cancelled once the progress passes half of the bytes.
    Plan plan = makePlan(manifest, dir, config, false, Reporter());
    const uint64_t total = plan.downloadBytes;
    std::atomic<uint64_t> reported{0};
    Reporter halfway;
    halfway.progress = [&reported](int, int, uint64_t done, uint64_t) {
        if (done > reported) reported = done;
    };
    halfway.cancelled = [&reported, total] { return reported >= total / 2; };
    auto start = std::chrono::steady_clock::now();
    applyClient(manifest, dir, config, plan, halfway, error);
    const double first = secondsSince(start);
    // A cancel between files, or one that ended a transfer in flight.
    const bool wasCancelled = error.kind == ApplyFault::cancelled || error.kind == ApplyFault::interrupted;
    if (!wasCancelled) {
        std::fprintf(stderr, "the first try was not cancelled: %s\n",
                     error.text.empty() ? "it finished" : error.text.c_str());
        return 1;
    }

    // 2. The stand-in's log from here on is the second try's.
    http::Request clear;
    clear.method = "DELETE";
    clear.url = origin + "/control/requests";
    http::Response cleared = http::request(clear);
    if (!cleared.error.empty() || cleared.status != 200) {
        std::fprintf(stderr, "cannot clear the request log: %s (HTTP %d)\n", cleared.error.c_str(), cleared.status);
        return 1;
    }

    // 3. Planned and applied again, to the end.
    start = std::chrono::steady_clock::now();
    Plan again = makePlan(manifest, dir, config, false, Reporter());
    const int done = applyClient(manifest, dir, config, again, Reporter(), error);
    const double second = secondsSince(start);
    if (error.kind != ApplyFault::none || done != static_cast<int>(again.download.size())) {
        std::fprintf(stderr, "the second try failed: %s\n", error.text.c_str());
        return 1;
    }
    Plan after = makePlan(manifest, dir, config, true, Reporter());
    if (!after.upToDate) {
        std::fprintf(stderr, "the client is not up to date after the second try\n");
        return 1;
    }

    uint64_t sent = 0;
    int requests = 0;
    std::string ranges;
    if (!bytesServed(origin, manifest, sent, requests, ranges)) return 1;
    std::printf("resume: %.1f MiB, cancelled at %.1f MiB after %.2f s; resumed try %.2f s, %d request(s) "
                "(Range: %s), %.1f MiB sent = %.1f%% of the download\n",
                total / 1048576.0, reported.load() / 1048576.0, first, second, requests, ranges.c_str(),
                sent / 1048576.0,
                total ? 100.0 * static_cast<double>(sent) / static_cast<double>(total) : 0.0);
    return 0;
}
#endif

}  // namespace

int preflight(const std::string& dir, int count) {
    Manifest client = makeClient(dir, count);
    std::string text =
        "{\"schema\": 1, \"clientVersion\": \"1.0.0\", \"baseUrl\": \"https://cdn.test/c/\","
        "\"server\": {\"name\": \"R\", \"host\": \"play.test\", \"port\": 7777},"
        "\"game\": {\"supportedVersions\": [\"0.411.140.0\"]},"
        "\"client\": {\"0.411.140.0\": {\"version\": \"1.0.0\", \"dll\": \"Emberlane/bulk/d000/f00000.dat\","
        " \"loader\": \"Emberlane/bulk/d000/f00001.dat\"}}, \"files\": [";
    for (size_t i = 0; i < client.files.size(); ++i) {
        const ManifestFile& f = client.files[i];
        text += (i ? ",{\"path\": \"" : "{\"path\": \"") + f.path + "\", \"sha256\": \"" + f.sha256 +
                "\", \"size\": 100}";
    }
    text += "]}";

    app::init(app::UiHooks(), false);
    app::PipelineSteps steps = app::defaultPipelineSteps();
    steps.fetch = [&text](const http::Request&) {
        http::Response r;
        r.status = 200;
        r.body = text;
        return r;
    };
    steps.findCandidates = [dir](const std::string&) {
        return std::vector<GameCandidate>{GameCandidate{dir, "0.411.140.0", "config"}};
    };
    app::setPipelineSteps(steps);
    // The records a first install leaves.
    Config config;
    Manifest parsed;
    std::string error;
    if (!parseManifest(text, parsed, error) || !makePlan(parsed, dir, config, false, Reporter()).upToDate) {
        std::fprintf(stderr, "the client is not up to date after the first plan: %s\n", error.c_str());
        return 1;
    }
    config.gamePath = dir;
    config.lastManifest = text;
    app::state().config = config;
    saveConfig(config);

    const uint64_t hashed = plannerFilesHashed();
    const char* runsText = std::getenv("EMBER_FIGURES_RUNS");
    const int runs = runsText ? std::max(1, std::atoi(runsText)) : 5;
    std::vector<double> worker, applying;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        app::PreflightResult result = app::runPreflight("https://cdn.test/manifest.json", app::state().config, steps);
        worker.push_back(secondsSince(start) * 1000);
        start = std::chrono::steady_clock::now();
        app::applyPreflightResult(result);
        applying.push_back(secondsSince(start) * 1000);
        if (!app::state().plan.upToDate) {
            std::fprintf(stderr, "preflight did not find the client up to date\n");
            return 1;
        }
    }
    // Where the time goes: the parts timed on their own.
    std::vector<double> parsing, planning, saving;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        Manifest again;
        parseManifest(text, again, error);
        parsing.push_back(secondsSince(start) * 1000);
        start = std::chrono::steady_clock::now();
        Config copy = app::state().config;
        makePlan(again, dir, copy, false, Reporter());
        planning.push_back(secondsSince(start) * 1000);
        start = std::chrono::steady_clock::now();
        saveConfig(copy);
        saving.push_back(secondsSince(start) * 1000);
    }
    app::shutdownWorkers();
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("preflight, up to date, %d files: median %.1f ms (worker %.1f, applying %.1f) over %d runs, "
                "%llu files read\n",
                count, median(worker) + median(applying), median(worker), median(applying), runs,
                static_cast<unsigned long long>(plannerFilesHashed() - hashed));
    std::printf("  of which: manifest parse %.1f ms, plan %.1f ms, config.json save %.1f ms\n", median(parsing),
                median(planning), median(saving));
    return 0;
}

int main(int argc, char** argv) {
    // applyClient saves config.json after every file: the script points
    // EMBERLANE_CONFIG_DIR at a scratch folder.
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "plan" && argc == 4) return plan(argv[2], std::atoi(argv[3]));
    if (mode == "check" && argc == 4) return check(argv[2], argv[3]);
    if (mode == "preflight" && argc == 4) return preflight(argv[2], std::atoi(argv[3]));
    if (mode == "save" && argc == 3) return save(std::atoi(argv[2]));
    if (mode == "create" && argc == 5) return create(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
#ifdef _WIN32
    if (mode == "apply" && (argc == 4 || argc == 5)) {
        return apply(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : kParallelDownloads);
    }
    if (mode == "resume" && argc == 4) return resume(argv[2], argv[3]);
#endif
    std::fprintf(stderr,
                 "usage: install_figures plan|preflight <dir> <files> | check <dir> <sums> | "
                 "apply <url> <dir> [<in flight>] | resume <url> <dir>\n");
    return 2;
}
