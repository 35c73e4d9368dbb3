// Field -> timestamp: a bar's date, and date and time, as seconds since 1970.
#ifndef TIDEMARK_READER_TIMESTAMP_H
#define TIDEMARK_READER_TIMESTAMP_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tidemark::reader {

// A bar record's time is an int32: these are the moments it can hold.
constexpr int64_t kEarliestTime = INT32_MIN;
constexpr int64_t kLatestTime = INT32_MAX;

// One timestamp in any of the forms bars.h lists. has_time tells whether a
// time of day was written. False when the text is not a timestamp.
bool parse_timestamp(std::string_view s, int64_t& seconds, bool& has_time);

// 'date "FIELD" is not a date (the accepted forms)'.
std::string not_a_date(std::string_view field);

// 'date SHOWN is outside ... (int32 seconds since 1970)', with a hint at
// epoch milliseconds when digits say so.
std::string outside_time_range(const std::string& shown_date, bool looks_like_milliseconds);

// A bar's time from its field: a timestamp a bar record can hold. Else false
// with why set to the message (without file and line).
bool bar_time(std::string_view stamp, int64_t& seconds, std::string& why);

}  // namespace tidemark::reader

#endif
