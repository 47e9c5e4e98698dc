#include "launcher/account/signin.h"

#include <gtest/gtest.h>

#include "base/paths.h"
#include "tests/support/scratch.h"

namespace ember::launcher::account {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

TEST(Base64, EncodesAndDecodesTheStandardAlphabet) {
    const struct {
        std::string bytes;
        const char* text;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xff\xfe\x3e\x3f", 5), "AP/+Pj8="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64Encode(c.bytes), c.text);
        EXPECT_EQ(base64Decode(c.text), c.bytes) << c.text;
    }
    // Everything outside the alphabet is skipped; a lone trailing character
    // (6 bits) makes no byte.
    EXPECT_EQ(base64Decode("Zm9v\r\nYmFy\n"), "foobar");
    EXPECT_EQ(base64Decode(" Zm 9v\tY m F y == "), "foobar");
    EXPECT_EQ(base64Decode("Zm9vY"), "foo");
    EXPECT_EQ(base64Decode("*!?"), "");
}

// A file laid out by hand with a scheme other than "dpapi": the inner text
// is taken as it is, so every reading rule tests without the protection.
TEST(SavedSignIn, ReadsOnlyACurrentFileWithARefreshToken) {
    ScratchDir dir;
    ScopedEnv config("EMBERLANE_CONFIG_DIR", dir.path());
    const std::string full =
        R"({"refreshToken":"r-1","email":"a@b.c","displayName":"Ann","publicId":"p9","profileId":42})";
    auto outer = [](const std::string& v, const std::string& enc, const std::string& data) {
        return "{\"v\": " + v + ", \"enc\": \"" + enc + "\", \"data\": \"" + data + "\"}";
    };
    const struct {
        const char* name;
        std::string file;  // empty: no file at all
        bool loaded;
        const char* token;
    } cases[] = {
        {"no file", "", false, ""},
        {"plain scheme", outer("1", "plain", base64Encode(full)), true, "r-1"},
        {"no scheme", R"({"v":1,"data":")" + base64Encode(R"({"refreshToken":"r-2"})") + "\"}", true, "r-2"},
        {"line breaks in the data", outer("1", "plain", base64Encode(full).insert(20, "\\r\\n").insert(8, "\\n")),
         true, "r-1"},
        {"version 2", outer("2", "plain", base64Encode(full)), false, ""},
        {"version as text", outer("\"1\"", "plain", base64Encode(full)), false, ""},
        {"no version", R"({"enc":"plain","data":")" + base64Encode(full) + "\"}", false, ""},
        {"not JSON", "v=1", false, ""},
        {"inner not JSON", outer("1", "plain", base64Encode("refreshToken=r")), false, ""},
        {"no refresh token", outer("1", "plain", base64Encode(R"({"email":"a@b.c","displayName":"Ann"})")), false,
         ""},
        {"empty refresh token", outer("1", "plain", base64Encode(R"({"refreshToken":""})")), false, ""},
        {"no data", R"({"v":1,"enc":"plain"})", false, ""},
        {"dpapi with a blob nobody made", outer("1", "dpapi", base64Encode(full)), false, ""},
    };
    for (const auto& c : cases) {
        removeFile(signInPath());
        if (!c.file.empty()) {
            ASSERT_TRUE(writeFileAtomic(signInPath(), c.file));
        }
        SavedSignIn record;
        record.email = "stale";
        EXPECT_EQ(loadSignIn(record), c.loaded) << c.name;
        EXPECT_EQ(record.refreshToken, c.token) << c.name;
    }

    // Every field of a full record, and only the refresh token of a bare one.
    ASSERT_TRUE(writeFileAtomic(signInPath(), outer("1", "plain", base64Encode(full))));
    SavedSignIn record;
    ASSERT_TRUE(loadSignIn(record));
    EXPECT_EQ(record.email, "a@b.c");
    EXPECT_EQ(record.displayName, "Ann");
    EXPECT_EQ(record.publicId, "p9");
    EXPECT_EQ(record.profileId, 42);
    ASSERT_TRUE(writeFileAtomic(signInPath(), outer("1", "plain", base64Encode(R"({"refreshToken":"r-3"})"))));
    ASSERT_TRUE(loadSignIn(record));
    EXPECT_EQ(record.email, "");
    EXPECT_EQ(record.profileId, 0);

    EXPECT_EQ(signInPath(), joinPath(dir.path(), "account.json"));
    forgetSignIn();
    EXPECT_FALSE(fileExists(signInPath()));
    forgetSignIn();  // a missing file is fine
}

// A save that cannot finish leaves the previous file byte for byte. Here
// the temporary file's name is taken by a folder, so the write fails under
// Windows; the native build has no protection and fails before that.
TEST(SavedSignIn, AFailedSaveLeavesTheOldFileAlone) {
    ScratchDir dir;
    ScopedEnv config("EMBERLANE_CONFIG_DIR", dir.path());
    const std::string before = "{\"v\": 1, \"enc\": \"plain\", \"data\": \"e30=\"}";
    ASSERT_TRUE(writeFileAtomic(signInPath(), before));
    ASSERT_TRUE(createDirectories(signInPath() + ".tmp"));

    SavedSignIn record;
    record.refreshToken = "new-token";
    EXPECT_FALSE(saveSignIn(record));
    std::string after;
    ASSERT_TRUE(readWholeFile(signInPath(), after));
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace ember::launcher::account
