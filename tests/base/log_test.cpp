// launcher.log and the trace's pure parts.
#include "base/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScopedEnv;
using testing::ScratchDir;

TEST(LogLine, AppendsTheTextAndOneLineFeed) {
    ScratchDir scratch;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", scratch.path());
    logLine("launcher 2.1.0 started");
    logLine("");
    logLine("signed in as R\xC3\xA9my");
    EXPECT_EQ(fileText(scratch.file("launcher.log")), "launcher 2.1.0 started\n\nsigned in as R\xC3\xA9my\n");
}

TEST(LogLine, ALineThatCannotBeWrittenIsDroppedQuietly) {
    ScratchDir scratch;
    ASSERT_TRUE(putFile(scratch.file("file"), "x"));
    // The configuration folder cannot exist below a file.
    ScopedEnv env("EMBERLANE_CONFIG_DIR", scratch.file("file/config"));
    logLine("lost");
    EXPECT_EQ(fileText(scratch.file("file")), "x");
}

TEST(LogLine, LinesFromSeveralThreadsStayWhole) {
    ScratchDir scratch;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", scratch.path());
    const int threads = 4;
    const int perThread = 100;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) logLine("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    for (std::thread& worker : workers) worker.join();

    std::string text = fileText(scratch.file("launcher.log"));
    std::vector<int> seen(threads, 0);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "last line has no line feed";
        std::string line = text.substr(start, end - start);
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << "mangled line: " << line;
        ASSERT_TRUE(t >= 0 && t < threads) << line;
        EXPECT_EQ(i, seen[t]++) << "lines of one thread out of order";
        start = end + 1;
    }
    for (int t = 0; t < threads; ++t) EXPECT_EQ(seen[t], perThread) << "thread " << t;
}

TEST(Trace, TheSwitchIsOnForAnyValueNotStartingWithZero) {
    struct Case {
        const char* value;
        bool on;
    };
    const Case cases[] = {
        {nullptr, false}, {"", false}, {"0", false}, {"0yes", false},
        {"yes", true},    {"1", true}, {" 0", true}, {"false", true},
    };
    for (const Case& c : cases) EXPECT_EQ(traceSwitchOn(c.value), c.on) << (c.value ? c.value : "(unset)");
}

TEST(Trace, LinesCarryTheTickInTenColumns) {
    struct Case {
        uint64_t tick;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {1234, "frame 3 (owed 1)", "      1234 frame 3 (owed 1)\n"},
        {0, "WM_CHAR 65", "         0 WM_CHAR 65\n"},
        {4294967296ULL, "", "4294967296 \n"},
        {12345678901ULL, "wide", "12345678901 wide\n"},  // wider than ten: never cut
        {18446744073709551615ULL, "max", "18446744073709551615 max\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatTraceLine(c.tick, c.text), c.expected);
}

TEST(Trace, TheClockCountsMillisecondsWhateverTheLoad) {
    // The tick is read inside a steady-clock bracket around a sleep, so a slow
    // machine only widens the bracket: the tick must advance by at least the
    // sleep and at most the bracket, give or take the 16 ms granularity
    // GetTickCount64 has on Windows. A clock in seconds or microseconds fails.
    using namespace std::chrono;
    constexpr int64_t kGranularity = 16;
    auto outerStart = steady_clock::now();
    uint64_t before = tickCount();
    std::this_thread::sleep_for(milliseconds(60));
    uint64_t after = tickCount();
    int64_t outer = duration_cast<milliseconds>(steady_clock::now() - outerStart).count();
    int64_t elapsed = static_cast<int64_t>(after - before);
    EXPECT_GE(elapsed, 60 - kGranularity);
    EXPECT_LE(elapsed, outer + kGranularity);
}

}  // namespace
}  // namespace ember::launcher
