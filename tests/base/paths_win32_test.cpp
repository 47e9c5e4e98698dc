// Win32-only behaviour of the file layer under Wine: the environment as the
// C runtime and the wide API change it, UTF-16 names on disk, files held
// open by another handle.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScratchDir;

TEST(ConfigDirWin32, SeesVariablesSetThroughTheCRuntimeAndTheWideApi) {
    ScratchDir scratch;
    std::wstring viaCrt = L"EMBERLANE_CONFIG_DIR=" + toWide(scratch.file("crt"));
    ASSERT_EQ(_wputenv(viaCrt.c_str()), 0);
    EXPECT_EQ(configDir(), scratch.file("crt"));

    ASSERT_TRUE(SetEnvironmentVariableW(L"EMBERLANE_CONFIG_DIR", toWide(scratch.file("api")).c_str()));
    EXPECT_EQ(configDir(), scratch.file("api"));

    // An empty value is ignored in favour of Local AppData.
    ASSERT_TRUE(SetEnvironmentVariableW(L"EMBERLANE_CONFIG_DIR", L""));
    EXPECT_EQ(configDir(), joinPath(platformLocalAppData(), "Emberlane"));
    SetEnvironmentVariableW(L"EMBERLANE_CONFIG_DIR", nullptr);
}

TEST(ConfigDirWin32, ANonAsciiFolderInTheVariableArrivesAsUtf8) {
    ScratchDir scratch;
    std::wstring folder = toWide(scratch.path()) + L"\\Konfiguration \u00FC\u65E5";
    ASSERT_TRUE(SetEnvironmentVariableW(L"EMBERLANE_CONFIG_DIR", folder.c_str()));
    EXPECT_EQ(configDir(), scratch.path() + "\\Konfiguration \xC3\xBC\xE6\x97\xA5");
    SetEnvironmentVariableW(L"EMBERLANE_CONFIG_DIR", nullptr);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(PathsWin32, Utf8NamesReachTheDiskAsUtf16) {
    ScratchDir scratch;
    ASSERT_TRUE(writeFileAtomic(scratch.file("\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.txt"), "x"));
    // Looked up with the wide API directly: no code-page detour on the way.
    std::wstring wide = toWide(scratch.path()) + L"\\\u00E9t\u00E9 \U0001F600.txt";
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(toWide("\xF0\x9F\x98\x80").size(), 2u);  // a surrogate pair
}

TEST(PathsWin32, AFileHeldOpenWithoutSharingKeepsItsContent) {
    ScratchDir scratch;
    std::string path = scratch.file("config.json");
    ASSERT_TRUE(putFile(path, "previous"));
    // Another program holding the file without delete sharing blocks the
    // rename; the write must fail and change nothing.
    HANDLE held = CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(writeFileAtomic(path, "replacement"));
    CloseHandle(held);
    EXPECT_EQ(fileText(path), "previous");
    // Once released, the next write goes through over the left-over .tmp.
    EXPECT_TRUE(writeFileAtomic(path, "replacement"));
    EXPECT_EQ(fileText(path), "replacement");
}

}  // namespace
}  // namespace ember::launcher
