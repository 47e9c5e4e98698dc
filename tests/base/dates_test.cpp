#include "base/dates.h"

#include <gtest/gtest.h>

namespace ember::launcher {
namespace {

TEST(RelativeDates, ReadTheWayTheNewsSaysThem) {
    const int64_t now = 1773921600;  // 19 Mar 2026, 12:00 UTC
    const struct {
        int64_t ago;
        const char* text;
    } cases[] = {
        {0, "1 min ago"},          {-300, "1 min ago"},          {59 * 60, "59 min ago"},
        {3600, "1 hour ago"},      {5 * 3600 + 10, "5 hours ago"}, {86400 + 5, "yesterday"},
        {2 * 86400, "2 days ago"}, {7 * 86400, "1 week ago"},    {20 * 86400, "2 weeks ago"},
        {60 * 86400, "18 Jan 2026"}, {400 * 86400, "12 Feb 2025"},
    };
    for (const auto& c : cases) EXPECT_EQ(relativeDate(now - c.ago, now), c.text) << c.ago << " s ago";
    EXPECT_EQ(parseIsoTime(formatIsoTime(now - 3 * 86400 - 61)), now - 3 * 86400 - 61);
    EXPECT_EQ(parseIsoTime("2026-03-19"), now - 12 * 3600);
    EXPECT_EQ(parseIsoTime("yesterday"), -1);
    EXPECT_EQ(parseIsoTime("2026-13-01T00:00:00Z"), -1);
}

}  // namespace
}  // namespace ember::launcher
