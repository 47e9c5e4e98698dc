// Dates and times as the launcher reads and writes them: ISO 8601 in UTC
// ("2026-03-19T10:00:00Z") and the relative form people read ("5 min ago").
#pragma once

#include <cstdint>
#include <string>

namespace ember::launcher {

// "2026-03-19T10:00:00Z" (a date alone is midnight) as Unix seconds; -1
// when it is not such a time.
int64_t parseIsoTime(const std::string& text);
// The other way: "2026-03-19T10:00:00Z".
std::string formatIsoTime(int64_t unix);
// How long ago: "5 min ago", "1 hour ago", "yesterday", "3 weeks ago", then
// the date, "12 Mar 2026". A time a little in the future reads as now.
std::string relativeDate(int64_t thenUnix, int64_t nowUnix);

}  // namespace ember::launcher
