// The rule for relative paths joined onto the game folder.
#include <gtest/gtest.h>

#include "base/safe_path.h"

namespace ember::launcher {
namespace {

TEST(SafeGamePath, RefusesEveryFormThatLeavesOrAliasesTheFolder) {
    struct Case {
        const char* path;
        bool safe;
    };
    const Case cases[] = {
        {"Emberlane/Emberlane.dll", true},
        {"OblivionRemastered/Content/Paks/~mods/a.pak", true},
        {"Emberlane\\loader.exe", true},  // blocked mods may use backslashes
        {"a..b/c.txt", true},
        {".hidden", true},
        {"console.log", true},
        {"com10.txt", true},
        {"lpt.txt", true},
        {"nullable/x", true},
        {"", false},
        {"/etc/passwd", false},
        {"\\Windows\\x.dll", false},
        {"\\\\server\\share\\x", false},
        {"\\\\?\\C:\\x", false},
        {"//server/share", false},
        {"a//b", false},
        {"a/", false},
        {"..", false},
        {"../x", false},
        {"a/../../x", false},
        {"a/./b", false},
        {"C:x", false},
        {"C:/Windows/x", false},
        {"a/C:x", false},
        {"file.dll:stream", false},
        {"file.dll::$DATA", false},
        {"a.dll.", false},
        {"a.dll ", false},
        {"folder./x", false},
        {"...", false},
        {"CON", false},
        {"con", false},
        {"a/nul.txt", false},
        {"NUL .txt", false},
        {"Aux.tar.gz", false},
        {"PRN", false},
        {"COM1", false},
        {"lpt9.log", false},
        {"COM0", false},
        {"COM\xC2\xB9", false},
        {"LPT\xC2\xB3.txt", false},
        {"CONIN$", false},
        {"conout$.x", false},
        {"a*b", false},
        {"a?b", false},
        {"a<b", false},
        {"a>b", false},
        {"a|b", false},
        {"a\"b", false},
        {"a\tb", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isSafeGamePath(c.path), c.safe) << "'" << c.path << "'";
    EXPECT_FALSE(isSafeGamePath(std::string("a\0b", 3)));
}

TEST(SafeGamePath, ClientBuildPathsAllowOnlyForwardSlashes) {
    EXPECT_TRUE(isSafeClientBuildPath("Emberlane/EmberlaneLoader.exe"));
    EXPECT_FALSE(isSafeClientBuildPath("Emberlane\\EmberlaneLoader.exe"));
    EXPECT_FALSE(isSafeClientBuildPath(""));
}

}  // namespace
}  // namespace ember::launcher
