#include "launcher/net/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/paths.h"
#include "launcher/net/sha256_internal.h"

namespace ember::launcher {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using sha256_detail::Engine;

// --- Vectors made by tools/make-sha256-vectors with openssl -------------

struct Vector {
    std::string line;  // as written in the file, to name a failure
    Bytes message;
    std::string digest;
};

// Same generator as tools/make-sha256-vectors.
Bytes lcgBytes(size_t length, uint32_t seed) {
    Bytes out(length);
    uint32_t x = seed;
    for (auto& byte : out) {
        x = x * 1664525u + 1013904223u;
        byte = uint8_t(x >> 24);
    }
    return out;
}

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<Vector> loadVectors() {
    std::vector<Vector> vectors;
    std::ifstream in(std::string(EMBER_SOURCE_DIR) + "/tests/net/data/sha256-vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string kind, a, b, digest;
        fields >> kind >> a;
        Vector v{line.substr(0, 80), {}, {}};
        if (kind == "hex") {
            fields >> digest;
            v.message = a == "-" ? Bytes() : fromHex(a);
        } else if (kind == "lcg") {
            fields >> b >> digest;
            v.message = lcgBytes(std::stoul(a), uint32_t(std::stoul(b)));
        } else if (kind == "repeat") {
            fields >> b >> digest;
            Bytes pattern = fromHex(b);
            for (size_t n = std::stoul(a); v.message.size() < n;) {
                v.message.push_back(pattern[v.message.size() % pattern.size()]);
            }
        } else {
            ADD_FAILURE() << "unknown vector line: " << line;
            continue;
        }
        v.digest = digest;
        vectors.push_back(std::move(v));
    }
    return vectors;
}

// Every engine this processor has; the test switches between them.
std::vector<Engine> availableEngines() {
    std::vector<Engine> engines{Engine::portable};
    if (sha256_detail::cpuHasShaExtensions()) {
        engines.push_back(Engine::shaExtensions);
    }
    return engines;
}

const char* engineName(Engine engine) { return engine == Engine::portable ? "portable" : "SHA extensions"; }

struct EngineGuard {
    ~EngineGuard() { sha256_detail::useBestEngine(); }
};

std::string hashInPieces(const Bytes& message, size_t piece) {
    Sha256 hasher;
    for (size_t at = 0; at < message.size(); at += piece) {
        hasher.update(message.data() + at, std::min(piece, message.size() - at));
    }
    return toHex(hasher.final());
}

TEST(Sha256, EveryVectorMatchesOpensslOnEveryEngineWholeAndInPieces) {
    const std::vector<Vector> vectors = loadVectors();
    ASSERT_GE(vectors.size(), 100u) << "tests/net/data/sha256-vectors.txt missing or short";
    EngineGuard guard;
    for (Engine engine : availableEngines()) {
        ASSERT_TRUE(sha256_detail::useEngine(engine));
        ASSERT_EQ(sha256_detail::currentEngine(), engine);
        for (const Vector& v : vectors) {
            SCOPED_TRACE(std::string(engineName(engine)) + ": " + v.line);
            EXPECT_EQ(toHex(sha256(v.message.data(), v.message.size())), v.digest);
            for (size_t piece : {1, 63, 64, 65}) {
                EXPECT_EQ(hashInPieces(v.message, piece), v.digest) << "pieces of " << piece;
            }
        }
    }
}

TEST(Sha256, EnginesAgreeOnUnalignedInputAndEverySplitPoint) {
    // Three blocks plus a tail, starting at an odd address.
    const Bytes storage = lcgBytes(1 + 200, 99);
    const uint8_t* message = storage.data() + 1;
    const size_t length = 200;
    EngineGuard guard;
    std::vector<std::string> results;
    for (Engine engine : availableEngines()) {
        ASSERT_TRUE(sha256_detail::useEngine(engine));
        const std::string whole = toHex(sha256(message, length));
        for (size_t split = 0; split <= length; ++split) {
            Sha256 hasher;
            hasher.update(message, split);
            hasher.update(nullptr, 0);
            hasher.update(message + split, length - split);
            ASSERT_EQ(toHex(hasher.final()), whole) << engineName(engine) << ", split at " << split;
        }
        results.push_back(whole);
    }
    for (const std::string& r : results) {
        EXPECT_EQ(r, results.front());
    }
}

TEST(Sha256, KnownAnswersInLowerCase) {
    struct Case {
        std::string text;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toHex(sha256(c.text.data(), c.text.size())), c.digest) << '"' << c.text << '"';
    }
}

TEST(Sha256, ResetStartsOverAfterFinal) {
    Sha256 hasher;
    hasher.update("some earlier data", 17);
    hasher.final();
    hasher.reset();
    hasher.update("abc", 3);
    EXPECT_EQ(toHex(hasher.final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, HexIsHighNibbleFirst) {
    Sha256Digest digest{};
    digest[0] = 0x0f;
    digest[1] = 0xa0;
    digest[31] = 0xff;
    EXPECT_EQ(toHex(digest), "0fa0" + std::string(58, '0') + "ff");
}

// --- Hex digest text ------------------------------------------------------

// --- Whole files -----------------------------------------------------------

class Sha256File : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ember-sha256-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // Writes `bytes` to a file in the test folder and returns its UTF-8 path.
    std::string write(const std::string& utf8Name, const Bytes& bytes) {
        fs::path path = dir_ / fs::u8path(utf8Name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        EXPECT_TRUE(out.good()) << "could not write " << path;
        return path.u8string();
    }
    fs::path dir_;
};

TEST_F(Sha256File, HashesFilesOfAnySizeLikeOpenssl) {
    // Digests from tests/net/data/sha256-vectors.txt; the last two files span
    // several 64 KiB chunks and end in a partial one.
    struct Case {
        const char* name;
        Bytes bytes;
        const char* digest;
    };
    const Case cases[] = {
        {"empty.bin", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"lcg.bin", lcgBytes(65601, 19), "579ecc3851dbec2f737e1757370c603b23e73065039e84be7d6d6e9301557277"},
        {"million-a.bin", Bytes(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // A name outside ASCII must open too (UTF-16 on Windows).
        {"\xc3\x9c" "bung-\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.bin", {'a', 'b', 'c'},
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        EXPECT_TRUE(sha256File(write(c.name, c.bytes), out)) << c.name;
        EXPECT_EQ(out, c.digest) << c.name;
    }
}

TEST_F(Sha256File, OpensPathsBuiltWithJoinPathLikeTheRestOfTheFileLayer) {
    // joinPath writes '\\'; hashing must open the same paths that reading does.
    fs::create_directories(dir_ / "sub");
    write("sub/abc.bin", {'a', 'b', 'c'});
    const std::string joined = joinPath(joinPath(dir_.u8string(), "sub"), "abc.bin");
    std::string bytes, out;
    ASSERT_TRUE(readWholeFile(joined, bytes)) << joined;
    EXPECT_TRUE(sha256File(joined, out)) << joined;
    EXPECT_EQ(out, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(Sha256File, WhatCannotBeReadIsFalseAndLeavesOutAlone) {
    const std::string cases[] = {
        (dir_ / "missing.bin").u8string(),
        dir_.u8string(),  // a folder is not a file
        "",
    };
    for (const std::string& path : cases) {
        std::string out = "untouched";
        EXPECT_FALSE(sha256File(path, out)) << '"' << path << '"';
        EXPECT_EQ(out, "untouched") << '"' << path << '"';
    }
}

}  // namespace
}  // namespace ember::launcher
