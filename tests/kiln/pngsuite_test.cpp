// Every PngSuite image, against tests/kiln/data/pngsuite.golden (made with
// libpng by tools/make-png-golden): 8-bit non-interlaced images must give
// the same RGBA pixels as libpng, every other image the pinned refusal.
#include "ui/kiln/png.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/net/sha256.h"

namespace {

const std::string kSuite = EMBER_SOURCE_DIR "/tests/data/testsuites/pngsuite";
const std::string kGolden = EMBER_SOURCE_DIR "/tests/kiln/data/pngsuite.golden";

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What the golden file expects of one image.
struct Expected {
    bool decodes = false;
    int width = 0;
    int height = 0;
    std::string digest;   // SHA-256 of the RGBA bytes, when it decodes
    std::string message;  // the refusal, when it does not
};

std::map<std::string, Expected> readGolden() {
    std::map<std::string, Expected> golden;
    std::ifstream in(kGolden);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, second;
        fields >> name >> second;
        Expected e;
        if (second == "!") {
            std::getline(fields, e.message);
            e.message.erase(0, 1);  // the space after "!"
        } else {
            e.decodes = true;
            e.width = std::stoi(second);
            fields >> e.height >> e.digest;
        }
        golden[name] = e;
    }
    return golden;
}

TEST(PngSuite, EveryImageDecodesAsLibpngDoesOrIsRefusedWithItsMessage) {
    const std::map<std::string, Expected> golden = readGolden();
    ASSERT_EQ(golden.size(), 175u) << "cannot read " << kGolden;

    // Every image in the suite is in the golden file, and the other way round.
    size_t images = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png") continue;
        ++images;
        EXPECT_EQ(golden.count(name), 1u) << name << " is not in the golden file";
    }
    ASSERT_FALSE(ec) << "cannot list " << kSuite;
    EXPECT_EQ(images, golden.size());

    size_t decoded = 0;
    for (const auto& [name, expected] : golden) {
        const std::vector<uint8_t> bytes = readFile(kSuite + "/" + name);
        ASSERT_FALSE(bytes.empty()) << "cannot read " << name;
        int width = -1, height = -1;
        std::vector<uint8_t> pixels;
        std::string error;
        const bool ok = kiln::decodePng(bytes.data(), bytes.size(), width, height, pixels, error);
        if (!expected.decodes) {
            EXPECT_FALSE(ok) << name << " should be refused";
            EXPECT_EQ(error, expected.message) << name;
            EXPECT_TRUE(pixels.empty()) << name;
            continue;
        }
        ++decoded;
        ASSERT_TRUE(ok) << name << ": " << error;
        EXPECT_EQ(width, expected.width) << name;
        EXPECT_EQ(height, expected.height) << name;
        ASSERT_EQ(pixels.size(), size_t(width) * height * 4) << name;
        const std::string digest = ember::launcher::toHex(ember::launcher::sha256(pixels.data(), pixels.size()));
        EXPECT_EQ(digest, expected.digest) << name << " gives other pixels than libpng";
    }
    EXPECT_EQ(decoded, 53u);
}

}  // namespace
