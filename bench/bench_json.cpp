// Parse and write throughput of the launcher's JSON on a manifest-sized
// document (30,000 file records, about 5 MiB), beside RapidJSON and
// nlohmann::json for scale. Throughput is bytes of JSON text per second: the
// input for parsing, the produced text for writing.
#include "launcher/formats/json.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// A client manifest as the web service publishes it, indented by 2: a few
// header fields and one record per client file.
std::string makeManifest() {
    const int fileCount = 30000;
    std::string text;
    text.reserve(6 << 20);
    text += "{\n  \"schema\": 1,\n  \"channel\": \"live\",\n  \"version\": \"1.4.2\",\n  \"files\": [\n";
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* const folders[] = {"bin/plugins", "data/textures/ui", "data/sound/voice/en", "lua/scripts",
                                          "data/meshes/architecture/ayleid"};
    char line[512];
    for (int i = 0; i < fileCount; ++i) {
        std::string digest;
        for (int k = 0; k < 4; ++k) {
            char part[17];
            std::snprintf(part, sizeof part, "%016llx", static_cast<unsigned long long>(next()));
            digest += part;
        }
        std::snprintf(line, sizeof line,
                      "    {\n      \"path\": \"%s/file_%05d_%llx.dat\",\n      \"sha256\": \"%s\",\n"
                      "      \"size\": %llu\n    }%s\n",
                      folders[i % 5], i, static_cast<unsigned long long>(next() % 0xFFFFFF), digest.c_str(),
                      static_cast<unsigned long long>(next() % 400000000), i + 1 < fileCount ? "," : "");
        text += line;
    }
    text += "  ]\n}";
    return text;
}

const std::string& manifest() {
    static const std::string text = makeManifest();
    return text;
}

void BM_ParseEmber(benchmark::State& state) {
    const std::string& text = manifest();
    for (auto _ : state) {
        ember::launcher::JsonValue value;
        std::string error;
        if (!ember::launcher::parseJson(text, value, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_ParseRapidJson(benchmark::State& state) {
    const std::string& text = manifest();
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        if (document.HasParseError()) state.SkipWithError("RapidJSON parse failed");
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_ParseNlohmann(benchmark::State& state) {
    const std::string& text = manifest();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_WriteEmber(benchmark::State& state) {
    ember::launcher::JsonValue value;
    std::string error;
    ember::launcher::parseJson(manifest(), value, error);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = ember::launcher::writeJson(value, 2);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_WriteRapidJson(benchmark::State& state) {
    rapidjson::Document document;
    document.Parse(manifest().c_str(), manifest().size());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        document.Accept(writer);
        bytes = buffer.GetSize();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_WriteNlohmann(benchmark::State& state) {
    nlohmann::json document = nlohmann::json::parse(manifest());
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = document.dump(2);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

}  // namespace

BENCHMARK(BM_ParseEmber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseRapidJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseNlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteEmber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRapidJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteNlohmann)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
