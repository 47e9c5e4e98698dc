// What checking a manifest's signature costs beside reading the manifest:
//
//   verify_figures <manifest> <manifest.minisig> <key.pub> [<runs>]
//
// times, over <runs> rounds (15), the signature check the launcher makes
// before its parser sees a byte (the signature file read, the key id, the
// prehashed signature over every byte, the global signature, the terms) and
// the parse of the same bytes into the launcher's manifest, and prints the
// medians and their ratio. bench/verify-figures runs it natively and under
// Wine against the stand-in's 20,000-file manifest.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/paths.h"
#include "launcher/formats/manifest.h"
#include "launcher/trust/signature.h"

using namespace ember::launcher;

namespace {

template <typename Work>
double medianMs(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (!work()) return -1;
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: verify_figures <manifest> <manifest.minisig> <key.pub> [<runs>]\n");
        return 2;
    }
    std::string text, signature, keyText, error;
    if (!readWholeFile(argv[1], text) || !readWholeFile(argv[2], signature) || !readWholeFile(argv[3], keyText)) {
        std::fprintf(stderr, "verify_figures: cannot read the files given\n");
        return 1;
    }
    trust::PublicKey key;
    if (!trust::parsePublicKey(keyText, key, error)) {
        std::fprintf(stderr, "verify_figures: %s\n", error.c_str());
        return 1;
    }
    const std::vector<trust::PublicKey> keys{key};
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 15;

    size_t files = 0;
    trust::Failure failure;
    const double verify = medianMs(runs, [&] {
        trust::Verified verified;
        failure = trust::verifyManifest(text, signature, keys, verified);
        return !failure.failed();
    });
    const double parse = medianMs(runs, [&] {
        Manifest manifest;
        if (!parseManifest(text, manifest, error)) return false;
        files = manifest.files.size();
        return true;
    });
    if (verify < 0) {
        std::fprintf(stderr, "verify_figures: the signature does not verify: %s\n", failure.message.c_str());
        return 1;
    }
    if (parse < 0) {
        std::fprintf(stderr, "verify_figures: the manifest does not read: %s\n", error.c_str());
        return 1;
    }
    std::printf("manifest %zu bytes, %zu files, %d runs: verify %.2f ms, parse %.2f ms, verify/parse %.3f\n",
                text.size(), files, runs, verify, parse, verify / parse);
    return 0;
}
