// The proleptic Gregorian calendar in UTC, as bar times use it: seconds since
// 1970-01-01 00:00 and back.
#ifndef TIDEMARK_READER_CALENDAR_H
#define TIDEMARK_READER_CALENDAR_H

#include <cstdint>

namespace tidemark::reader {

// Calendar fields of seconds since 1970 (UTC), proleptic Gregorian.
struct Civil {
    int year, month, day, hour, minute, second;
};
Civil civil_from_seconds(int64_t seconds);

// Seconds since 1970 for a proleptic Gregorian UTC date and time.
int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second);

bool leap_year(int year);
int days_in_month(int year, int month);

}  // namespace tidemark::reader

#endif
