#include "base/dates.h"

#include <algorithm>
#include <cstdio>

namespace ember::launcher {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y = yoe + era * 400 + (m <= 2);
}

}  // namespace

int64_t parseIsoTime(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const int got = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s);
    if (got != 3 && got != 6) return -1;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 || s < 0) return -1;
    return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

std::string formatIsoTime(int64_t unix) {
    const int64_t days = unix >= 0 ? unix / 86400 : (unix - 86399) / 86400;
    const int64_t rest = unix - days * 86400;
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d), static_cast<int>(rest / 3600), static_cast<int>(rest % 3600 / 60),
                  static_cast<int>(rest % 60));
    return text;
}

std::string relativeDate(int64_t thenUnix, int64_t nowUnix) {
    // A date a little in the future (a clock running behind) reads as now.
    const int64_t ago = nowUnix > thenUnix ? nowUnix - thenUnix : 0;
    char text[48];
    const int64_t minutes = ago / 60, hours = ago / 3600, days = ago / 86400;
    if (hours < 1) {
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(std::max<int64_t>(1, minutes)), "min ago");
    } else if (days < 1) {
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(hours), hours == 1 ? "hour ago" : "hours ago");
    } else if (days < 2) {
        return "yesterday";
    } else if (days < 7) {
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(days), "days ago");
    } else if (days < 35) {
        const int weeks = static_cast<int>(days / 7);
        std::snprintf(text, sizeof text, "%d %s", weeks, weeks == 1 ? "week ago" : "weeks ago");
    } else {
        int64_t y = 0, m = 0, d = 0;
        civilFromDays(thenUnix >= 0 ? thenUnix / 86400 : (thenUnix - 86399) / 86400, y, m, d);
        std::snprintf(text, sizeof text, "%d %s %d", static_cast<int>(d), kMonths[m - 1], static_cast<int>(y));
    }
    return text;
}

}  // namespace ember::launcher
