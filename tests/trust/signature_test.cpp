// Manifest signatures: the strict reader, the checks against the pinned
// keys, the trusted comment's grammar, rollback, forks and expiry.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "launcher/trust/signature.h"
#include "tests/support/signing.h"

namespace ember::launcher::trust {
namespace {

using testing::manifestTerms;
using testing::TestSigner;

const std::string kData = std::string(EMBER_SOURCE_DIR) + "/tests/data/signing/";

std::string dataFile(const std::string& name) {
    std::string text;
    EXPECT_TRUE(readWholeFile(kData + name, text)) << name;
    return text;
}

TEST(PinnedKeys, EveryLineReadsAndTheTestKeyIsMarked) {
    // current, next, and the stand-in's test key in the builds the tests use.
    ASSERT_EQ(pinnedKeys().size(), 3u);
    EXPECT_EQ(pinnedKeys()[0].role, KeyRole::current);
    EXPECT_EQ(pinnedKeys()[1].role, KeyRole::next);
    EXPECT_EQ(pinnedKeys()[2].role, KeyRole::test);
    EXPECT_TRUE(trustsTestKey());
    EXPECT_EQ(keyIdText(pinnedKeys()[2].id), "AAF801633C66F4C4");  // as minisign -G printed it
}

// Signature files made by minisign itself, both algorithms.
TEST(VerifyManifest, AcceptsMinisignsOwnSignatures) {
    const std::string manifest = dataFile("manifest.json");
    std::vector<std::string> digests;
    for (const char* name : {"manifest.json.minisig", "legacy.json.minisig"}) {
        Verified v;
        Failure f = verifyManifest(manifest, dataFile(name), pinnedKeys(), v);
        EXPECT_FALSE(f.failed()) << name << ": " << f.message;
        EXPECT_EQ(v.terms.sequence, 7u) << name;
        EXPECT_EQ(v.terms.expiresText, "2099-01-01T00:00:00Z");
        EXPECT_EQ(v.key.role, KeyRole::test);
        EXPECT_EQ(v.digest.size(), 64u);
        digests.push_back(v.digest);
    }
    // The fork check compares digests: the bytes decide them, not the form
    // of the signature; other bytes give another.
    EXPECT_EQ(digests[0], digests[1]);
    const TestSigner standin = TestSigner::standinKey();
    const std::string changed = manifest + " ";
    Verified v;
    ASSERT_FALSE(verifyManifest(changed, standin.sign(changed, manifestTerms(7)), pinnedKeys(), v).failed());
    EXPECT_NE(v.digest, digests[0]);
}

TEST(VerifyManifest, RefusesEachAttack) {
    const TestSigner standin = TestSigner::standinKey();
    ASSERT_TRUE(standin.ok());
    const std::string body = dataFile("manifest.json");
    const std::string good = standin.sign(body, manifestTerms(9));
    // The trusted comment replaced in a good file (the global signature stays).
    std::string recommented = good;
    recommented.replace(recommented.find("sequence=9"), 10, "sequence=99");
    // The signature line of another manifest with this one's comment lines.
    const std::string other = standin.sign("{\"another\": true}", manifestTerms(9));
    std::string mixed = good;
    const size_t line2 = good.find('\n') + 1, end2 = good.find('\n', line2);
    mixed.replace(line2, end2 - line2, other.substr(line2, end2 - line2));
    std::string flippedSig = good;
    flippedSig[line2 + 40] = flippedSig[line2 + 40] == 'A' ? 'B' : 'A';

    struct Row {
        const char* name;
        std::string body;
        std::string signature;
        FailureKind kind;
    } rows[] = {
        {"good, prehashed", body, good, FailureKind::none},
        {"good, legacy", body, standin.sign(body, manifestTerms(9), false), FailureKind::none},
        {"body changed after signing", body + " ", good, FailureKind::badSignature},
        {"body truncated", body.substr(0, body.size() - 1), good, FailureKind::badSignature},
        {"trusted comment changed", body, recommented, FailureKind::badTrustedComment},
        {"another manifest's signature", body, mixed, FailureKind::badSignature},
        {"a bit of the signature changed", body, flippedSig, FailureKind::badSignature},
        {"an unknown key", body, TestSigner::freshKey().sign(body, manifestTerms(9)), FailureKind::unknownKey},
        {"signed, but not the launcher's terms", body, standin.sign(body, "timestamp:1700000000\tfile:m.json"),
         FailureKind::badTerms},
        {"unsigned", body, "", FailureKind::missing},
    };
    for (const Row& row : rows) {
        Verified v;
        Failure f = verifyManifest(row.body, row.signature, pinnedKeys(), v);
        EXPECT_EQ(f.kind, row.kind) << row.name << ": " << f.message;
        EXPECT_EQ(f.message.empty(), row.kind == FailureKind::none) << row.name;
    }
}

TEST(ReadSignatureFile, ReadsStrictly) {
    const std::string good = dataFile("manifest.json.minisig");
    auto withLine = [&](int index, const std::string& text) {
        std::string out, rest = good;
        for (int i = 0; i < 4; ++i) {
            size_t end = rest.find('\n');
            out += (i == index ? text : rest.substr(0, end)) + "\n";
            rest = rest.substr(end + 1);
        }
        return out;
    };
    std::string sigLine = good.substr(good.find('\n') + 1);
    sigLine = sigLine.substr(0, sigLine.find('\n'));
    std::string crlf;
    for (char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    struct Row {
        const char* name;
        std::string text;
        FailureKind kind;
    } rows[] = {
        {"minisign's file", good, FailureKind::none},
        {"with CRLF line ends", crlf, FailureKind::none},
        {"without the last line end", good.substr(0, good.size() - 1), FailureKind::none},
        {"empty", "", FailureKind::missing},
        {"huge", good + std::string(kMaxSignatureBytes, 'A'), FailureKind::tooLarge},
        {"an HTML error page", "<html><body>Not Found</body></html>\n", FailureKind::malformed},
        {"three lines", good.substr(0, good.rfind('\n', good.size() - 2) + 1), FailureKind::malformed},
        {"five lines", good + "extra\n", FailureKind::malformed},
        {"no untrusted comment prefix", withLine(0, "comment: x"), FailureKind::malformed},
        {"signature line with a space", withLine(1, " " + sigLine), FailureKind::malformed},
        {"signature line without padding", withLine(1, sigLine.substr(0, sigLine.size() - 1)), FailureKind::malformed},
        {"signature line too short", withLine(1, sigLine.substr(0, 96)), FailureKind::malformed},
        {"signature line not base64", withLine(1, std::string(sigLine.size() - 1, '*') + "="), FailureKind::malformed},
        {"an unknown algorithm",
         withLine(1, "RX" + sigLine.substr(2)), FailureKind::malformed},
        {"no trusted comment prefix", withLine(2, "trusted: emberlane-manifest"), FailureKind::malformed},
        {"global signature too long", withLine(3, std::string(88, 'A')), FailureKind::malformed},
        {"a stray carriage return", withLine(2, "trusted comment: a\rb"), FailureKind::malformed},
        {"a NUL", withLine(2, std::string("trusted comment: a\0b", 20)), FailureKind::malformed},
    };
    for (const Row& row : rows) {
        SignatureFile sig;
        Failure f = readSignatureFile(row.text, sig);
        EXPECT_EQ(f.kind, row.kind) << row.name << ": " << f.message;
    }
    SignatureFile sig;
    ASSERT_FALSE(readSignatureFile(good, sig).failed());
    EXPECT_TRUE(sig.prehashed);
    EXPECT_EQ(sig.trustedComment, "emberlane-manifest sequence=7 expires=2099-01-01T00:00:00Z");
}

TEST(ParseTerms, TheGrammarExactly) {
    struct Row {
        const char* comment;
        bool ok;
        uint64_t sequence;
        int64_t expires;
    } rows[] = {
        {"emberlane-manifest sequence=1042 expires=2027-01-15T00:00:00Z", true, 1042, 1799971200},
        {"emberlane-manifest sequence=0 expires=1970-01-01T00:00:00Z", true, 0, 0},
        {"emberlane-manifest sequence=1 expires=2028-02-29T23:59:59Z", true, 1, 1835481599},
        {"emberlane-manifest sequence=999999999999999999 expires=2099-12-31T23:59:59Z", true, 999999999999999999ULL,
         4102444799},
        {"emberlane-manifest sequence=1000000000000000000 expires=2099-12-31T23:59:59Z", false, 0, 0},
        {"emberlane-manifest sequence=01 expires=2027-01-15T00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=-1 expires=2027-01-15T00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence= expires=2027-01-15T00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=5  expires=2027-01-15T00:00:00Z", false, 0, 0},
        {"emberlane-manifest expires=2027-01-15T00:00:00Z sequence=5", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-01-15T00:00:00Z ", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-01-15T00:00:00", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-01-15 00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-02-29T00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-13-01T00:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-01-15T24:00:00Z", false, 0, 0},
        {"emberlane-manifest sequence=5 expires=2027-01-15T00:00:60Z", false, 0, 0},
        {"Emberlane-manifest sequence=5 expires=2027-01-15T00:00:00Z", false, 0, 0},
        {"timestamp:1700000000\tfile:manifest.json", false, 0, 0},
    };
    for (const Row& row : rows) {
        Terms terms;
        Failure f = parseTerms(row.comment, terms);
        EXPECT_EQ(!f.failed(), row.ok) << row.comment;
        if (row.ok) {
            EXPECT_EQ(terms.sequence, row.sequence) << row.comment;
            EXPECT_EQ(terms.expires, row.expires) << row.comment;
        } else {
            EXPECT_EQ(f.kind, FailureKind::badTerms) << row.comment;
        }
    }
}

TEST(CheckTerms, RollbackForkAndFreeze) {
    const int64_t now = 1800000000;
    Verified v;
    v.terms.sequence = 10;
    v.terms.expires = now + 3600;
    v.digest = std::string(64, 'a');
    auto with = [](Verified base, uint64_t sequence, int64_t expires, char digest) {
        base.terms.sequence = sequence;
        base.terms.expires = expires;
        base.digest = std::string(64, digest);
        return base;
    };
    AcceptedRecord none;
    AcceptedRecord ten{10, std::string(64, 'a')};
    struct Row {
        const char* name;
        Verified verified;
        AcceptedRecord record;
        bool checkExpiry;
        FailureKind kind;
    } rows[] = {
        {"first ever", v, none, true, FailureKind::none},
        {"the same manifest again", v, ten, true, FailureKind::none},
        {"a newer one", with(v, 11, now + 3600, 'b'), ten, true, FailureKind::none},
        {"an older one", with(v, 9, now + 3600, 'b'), ten, true, FailureKind::rollback},
        {"an older one, even the first ever", with(v, 0, now + 3600, 'b'), ten, false, FailureKind::rollback},
        {"the same sequence, other bytes", with(v, 10, now + 3600, 'b'), ten, true, FailureKind::fork},
        {"expired an hour ago", with(v, 11, now - 3600, 'b'), ten, true, FailureKind::expired},
        {"expired within the clock skew", with(v, 11, now - kExpirySkewSeconds + 1, 'b'), ten, true,
         FailureKind::none},
        {"expired, but only playing what is there", with(v, 10, now - 3600, 'a'), ten, false, FailureKind::none},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(checkTerms(row.verified, row.record, now, row.checkExpiry).kind, row.kind) << row.name;
    }
}

TEST(SignatureUrl, BesideTheManifestWithItsQuery) {
    EXPECT_EQ(signatureUrlFor("https://h/client/manifest.json"), "https://h/client/manifest.json.minisig");
    EXPECT_EQ(signatureUrlFor("https://h/client/manifest.json?x=1"), "https://h/client/manifest.json.minisig?x=1");
}

}  // namespace
}  // namespace ember::launcher::trust
