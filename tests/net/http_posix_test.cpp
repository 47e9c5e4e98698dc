// The part file of a download when a link stands in its place, natively:
// symbolic links to files are links here (Wine shows them as the file).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/paths.h"
#include "launcher/net/http.h"
#include "launcher/net/http_internal.h"
#include "tests/support/scratch.h"

namespace ember::launcher::http {
namespace {

using testing::fileText;
using testing::makeHostLink;
using testing::putFile;
using testing::ScratchDir;

// The link goes with its record, what it names keeps its bytes (or, naming
// nothing, stays nothing), and the bytes go to a part file of our own.
TEST(HttpPartFile, ALinkInItsPlaceIsReplacedNeverWrittenThrough) {
    struct Row {
        const char* name;
        bool hard;
        bool victimThere;
        bool append;
    };
    const Row rows[] = {
        {"a symbolic link, from the start", false, true, false},
        {"a symbolic link, going on from kept bytes", false, true, true},
        {"a symbolic link naming nothing", false, false, false},
        {"a hard link, from the start", true, true, false},
        {"a hard link, going on from kept bytes", true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir scratch;
        ScratchDir elsewhere;
        const std::string victim = elsewhere.file("letter.txt");
        if (row.victimThere) {
            ASSERT_TRUE(putFile(victim, "mine"));
        }
        const std::string part = scratch.file("f.part");
        ASSERT_TRUE(makeHostLink(part, victim, row.hard));
        ASSERT_TRUE(putFile(part + kPartRecordSuffix, "record"));
        bool fresh = false;
        std::FILE* file = openPartFile(part, row.append, fresh);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fwrite("download", 1, 8, file), 8u);
        EXPECT_EQ(std::fclose(file), 0);
        EXPECT_TRUE(fresh);
        EXPECT_EQ(fileText(part), "download");
        EXPECT_FALSE(isLinkedFile(part));
        EXPECT_FALSE(fileExists(part + kPartRecordSuffix));
        if (row.victimThere) {
            EXPECT_EQ(fileText(victim), "mine");
        } else {
            EXPECT_FALSE(fileExists(victim));
        }
    }
    // A part of our own keeps its bytes and its record.
    ScratchDir scratch;
    const std::string part = scratch.file("f.part");
    ASSERT_TRUE(putFile(part, "kept "));
    ASSERT_TRUE(putFile(part + kPartRecordSuffix, "record"));
    bool fresh = true;
    std::FILE* file = openPartFile(part, true, fresh);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("rest", 1, 4, file), 4u);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(fileText(part), "kept rest");
    EXPECT_TRUE(fileExists(part + kPartRecordSuffix));
}

}  // namespace
}  // namespace ember::launcher::http
